#pragma once
// The time and wake-ups of an activity that runs in steps (a waveform run, a temperature log, a
// ramp), so that tests drive it with a fake clock and the program with a timer on the
// user-interface thread.

namespace tq {

class RunTimer {
public:
    virtual ~RunTimer() = default;
    virtual double Now() const = 0;  // seconds, monotonic
    // Call the run's Step() once at `when` or soon after (at once when it is past), replacing
    // any earlier wake-up.
    virtual void WakeAt(double when) = 0;
    virtual void Cancel() = 0;
};

}  // namespace tq
