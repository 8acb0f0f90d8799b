// SYSTem:SETup: the board's whole configuration as a setup (docs/setup-format.md), saved and opened
// with the checks of a file.

#include "instrument/Setup.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

using scpi::Forms;
using scpi::ScpiError;

// SYSTem:SETup <block>[,ANYBoard]: every check of a file first, then the writes.
void OpenSetup(Call& c) {
    const scpi::ParsedCommand& command = c.command;
    scpi::CheckParamCount(command, 1, 2);
    if (command.params[0].kind != scpi::ParamKind::kBlock)
        throw ScpiError(scpi::kDataTypeError);
    const bool anyBoard = command.params.size() == 2;
    if (anyBoard && !args::IsWord(command.params[1], "ANYBoard"))
        throw ScpiError(scpi::kIllegalParameterValue);
    Setup setup;
    try {
        setup = SetupFromJson(command.params[0].value);
        CheckSetup(setup, c.in);
    } catch (const SetupError& e) {
        throw ScpiError(scpi::kIllegalParameterValue, e.what());
    }
    if (FromAnotherBoard(setup, c.in) && !anyBoard)
        throw ScpiError(scpi::kSettingsConflict, "the setup was saved from board " + setup.board +
                                                     ", this is " + c.in.Identity().serial +
                                                     "; add ,ANYBoard to open it anyway");
    ApplySetup(c.in, setup);
    // The Generator's definition goes to the Generator; without windows nobody takes it.
    if (setup.waveform && c.targets.run)
        c.targets.run->OfferDefinition(*setup.waveform);
}

}  // namespace

const CommandRows& SetupCommands() {
    static const CommandRows rows = {
        Setting(
            "SYSTem:SETup", [](Call& c) { return args::Block(SetupToJson(CaptureSetup(c.in), 0)); },
            OpenSetup),
        Query("SYSTem:SETup:CALibration",
              [](Call& c) {
                  return args::Block(SetupToJson(CalibrationPart(CaptureSetup(c.in)), 0));
              }),
    };
    return rows;
}

}  // namespace tq
