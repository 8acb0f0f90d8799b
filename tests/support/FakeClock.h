#pragma once
// A clock whose time moves only when the test moves it, behind both timer interfaces, so that an
// activity's steps happen exactly when the test says and no test waits for real time. As a
// RunTimer, `now` is the time and `wake` the wake-up the activity asked for; as a StepTimer,
// `pending` is the call it asked for (made by Fire) and `delays` every delay it gave.

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "instrument/Meter.h"
#include "instrument/RunTimer.h"

namespace tq::testing {

class FakeClock : public RunTimer, public StepTimer {
public:
    explicit FakeClock(double start = 0.0) : now(start) {}

    double Now() const override { return now; }
    void WakeAt(double when) override { wake = when; }
    void Start(int milliseconds, std::function<void()> due) override {
        delays.push_back(milliseconds);
        pending = std::move(due);
    }
    // Either interface's: the wake-up and the pending call are forgotten.
    void Cancel() override {
        wake.reset();
        pending = nullptr;
    }

    // Makes the pending call; false when none was asked for.
    bool Fire() {
        if (!pending)
            return false;
        auto due = std::move(pending);
        pending = nullptr;
        due();
        return true;
    }

    double now;
    std::optional<double> wake;
    std::vector<int> delays;
    std::function<void()> pending;
};

}  // namespace tq::testing
