#pragma once
// An instrument on a connected simulated board, as the program starts it: "Pulse After Data
// Write" on. For layer tests without windows. TQ_FIRMWARE_FOLDER is set by CMake.

#include <gtest/gtest.h>

#include "adapter/simulated/SimulatedBoard.h"
#include "board/BoardRequests.h"
#include "core/DeviceState.h"
#include "instrument/Instrument.h"

namespace tq::testing {

struct SimulatedInstrument {
    DeviceState state;
    SimulatedBoard board;
    BoardRequests requests{state, board};
    Instrument instrument{state, requests, {"Simulated board", "SIMULATED"}};

    SimulatedInstrument() {
        ApplyStartDefaults(state);
        instrument.SetPulseAfterDataWrite(true);
        EXPECT_EQ(instrument.ConnectBoard(TQ_FIRMWARE_FOLDER), 0);
    }
};

}  // namespace tq::testing
