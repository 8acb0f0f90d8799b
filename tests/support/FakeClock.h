#pragma once
// A clock whose time moves only when the test moves it, behind the runs' timer interface, so that
// an activity's steps happen exactly when the test says and no test waits for real time. `now` is
// the time, `wake` the wake-up the activity asked for, `pending` the step it asked for (made by
// Fire) and `delays` every wait it asked for, in milliseconds from `now`.

#include <cmath>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "instrument/RunTimer.h"

namespace tq::testing {

class FakeClock : public RunTimer {
public:
    explicit FakeClock(double start = 0.0) : now(start) {}

    double Now() const override { return now; }
    void WakeAt(double when, std::function<void()> step) override {
        wake = when;
        delays.push_back(static_cast<int>(std::lround((when - now) * 1000.0)));
        pending = std::move(step);
    }
    // The wake-up and the pending step are forgotten.
    void Cancel() override {
        wake.reset();
        pending = nullptr;
    }

    // Makes the pending step; false when none was asked for.
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
