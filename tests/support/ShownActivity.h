#pragma once
// An activity of a real kind for the views' tests: it runs from BeginActivity until the test
// ends it, and a stop ends it as asked.

#include <utility>
#include <vector>

#include "instrument/Instrument.h"

namespace tq::testing {

struct ShownActivity : Activity {
    ShownActivity(Instrument& in, const ActivityKind& kind, std::vector<int16_t> channels = {})
        : Activity(kind), instrument(in) {
        channels_ = std::move(channels);
    }
    void Stop(const StopReason& reason) override {
        instrument.EndActivity(*this, OutcomeOf(reason, {}));
    }
    Instrument& instrument;
};

}  // namespace tq::testing
