#pragma once
// The output protection's safe-state options carried out, for the windows and the headless server
// alike: the runs stop and every output goes to 0 V (ramped where a ramp is set) when the program
// ends, when the last remote client disconnects and when the board answers again after it
// stopped answering, each only with its option on. And, whatever the options, a board that stops
// answering ends every activity that drives an output (as failed): none goes on writing to a
// board that may have lost power.

#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace tq {

class Instrument;
struct InstrumentChange;
class RunTimer;

class SafeStatePolicy {
public:
    // Tells the user that a safe state the options asked for failed (a whole sentence).
    using Report = std::function<void(const std::string& why)>;

    // `later` wakes Step() up from the event loop, so that the safe state never runs inside the
    // instrument call that noticed its reason.
    SafeStatePolicy(Instrument& instrument, RunTimer& later, Report report);
    ~SafeStatePolicy();
    SafeStatePolicy(const SafeStatePolicy&) = delete;
    SafeStatePolicy& operator=(const SafeStatePolicy&) = delete;

    // The protocol server's client count changed.
    void ClientCountChanged(int count);

    // The program is ending. With the option on, and a board that has answered, the runs stop and
    // the outputs reach 0 V before this returns (a ramp's waits are waited out). Returns why that
    // failed, or nothing.
    std::optional<std::string> ProgramEnding();

    // The wake-up of `later`: the activities a lost board ends, then the safe state for each
    // reason noticed since, in order.
    void Step();

private:
    void Take(const InstrumentChange& change);
    void EnterLater(const std::string& when);

    Instrument& instrument_;
    RunTimer& later_;
    Report report_;
    int listener_ = 0;
    bool answered_ = false;  // a board request has succeeded since start
    bool failing_ = false;   // the last board request failed
    // Reasons waiting for the wake-up; one of each kind at most, however often it recurs.
    std::deque<std::string> pending_;
    std::string lost_;  // why the board stopped answering, for the activities it ends; or ""
};

}  // namespace tq
