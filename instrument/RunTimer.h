#pragma once
// The time and wake-ups of an activity that runs in steps (a waveform run, a temperature log, a
// ramp, a meter run's settling, the safe state's later entry), so that tests drive it with a fake
// clock and the program with a timer on the event loop.

#include <functional>

namespace tq {

class RunTimer {
public:
    virtual ~RunTimer() = default;
    virtual double Now() const = 0;  // seconds, monotonic
    // Calls `step` once at `when` or soon after (at once when it is past), from the event loop;
    // replaces any earlier wake-up and its step.
    virtual void WakeAt(double when, std::function<void()> step) = 0;
    // Forgets the wake-up and its step.
    virtual void Cancel() = 0;
};

}  // namespace tq
