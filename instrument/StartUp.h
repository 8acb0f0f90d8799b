#pragma once
// The program's start-up, one sequence for the windows and the headless server: connect the board
// (its firmware goes down), take the converter's function register as the program's flags, then
// let data writes pulse LDAC. The caller fills in its own steps between (the main window builds
// its lists there, which sends the composer's first words), so each keeps its exact traffic.

#include <optional>
#include <string>
#include <vector>

namespace tq {

class Instrument;

// What the caller of StartUp does between its steps; all but NotConnected are optional.
class StartUpSteps {
public:
    virtual ~StartUpSteps() = default;
    // The board did not connect; nothing more is sent. `reasons` are shown in this order (the
    // adapter's explanation when it has one, then kDownloadFailedText).
    virtual void NotConnected(const std::vector<std::string>& reasons) = 0;
    // The board is connected and runs its firmware; nothing else has been sent yet.
    virtual void Connected() {}
    // The function register has been read into the flags, or `error` says why it was not (the
    // flags then hold what the failed read left).
    virtual void FunctionRegisterTaken(const std::optional<std::string>& error) { (void)error; }
    // The start-up is done: data writes pulse LDAC.
    virtual void Started() {}
};

inline constexpr const char* kDownloadFailedText =
    "Error Downloading Firmware - Check USB connections";

// Runs the start-up with the firmware file in `programFolder`. False when the board did not
// connect (after steps.NotConnected).
bool StartUp(Instrument& instrument, const std::string& programFolder, StartUpSteps& steps);

}  // namespace tq
