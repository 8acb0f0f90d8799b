#pragma once
// An instrument over the recording adapter, for tests of the exact requests: start defaults
// applied and, as the program starts, "Pulse After Data Write" on. The windows' tests start with
// it off (their own switch turns it on). A test board unless another identity is given.

#include <utility>

#include "adapter/fake/RecordingAdapter.h"
#include "board/BoardRequests.h"
#include "core/DeviceState.h"
#include "instrument/Instrument.h"

namespace tq::testing {

struct RecordedInstrument {
    DeviceState state;
    RecordingAdapter adapter;
    BoardRequests requests{state, adapter};
    Instrument instrument;

    explicit RecordedInstrument(bool pulseAfterDataWrite = true,
                                BoardIdentity identity = {"Test board", "TEST"})
        : instrument(state, requests, std::move(identity)) {
        ApplyStartDefaults(state);
        if (pulseAfterDataWrite)
            instrument.SetPulseAfterDataWrite(true);
    }
};

}  // namespace tq::testing
