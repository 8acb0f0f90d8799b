#pragma once
// A run timer whose time moves only when the test moves it: `now` is the clock, `wake` the
// wake-up the run asked for.

#include <optional>

#include "instrument/Waveform.h"

namespace tq::testing {

class FakeRunTimer : public RunTimer {
public:
    explicit FakeRunTimer(double start = 0.0) : now(start) {}
    double Now() const override { return now; }
    void WakeAt(double when) override { wake = when; }
    void Cancel() override { wake.reset(); }

    double now;
    std::optional<double> wake;
};

}  // namespace tq::testing
