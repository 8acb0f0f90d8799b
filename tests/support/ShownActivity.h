#pragma once
// An activity of a real kind for the views' tests: it runs from BeginActivity until ended.

#include <vector>

#include "instrument/Instrument.h"

namespace tq::testing {

struct ShownActivity : Activity {
    explicit ShownActivity(const ActivityKind& kind, std::vector<int16_t> channels = {})
        : Activity(kind) {
        channels_ = std::move(channels);
    }
    void Stop(const StopReason&) override {}
};

}  // namespace tq::testing
