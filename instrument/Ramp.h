#pragma once
// A ramp: a change of the outputs cut into steps no larger than each channel's ramp step, with
// the channel's wait between two steps. The instrument runs it as a timer-driven activity; this
// is its plan and its position.

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "instrument/OutputGuard.h"

namespace tq {

class Ramp {
public:
    // From the outputs `before` to `target` under `limits`.
    Ramp(const ConverterModel& before, const ConverterModel& target, const OutputGuard& limits);

    // The channels that move.
    std::vector<int16_t> Channels() const;
    // The next step's data codes (N-bit codes for `resolution`), to be written together and
    // loaded; the last step writes the target's input registers.
    std::vector<std::pair<int16_t, int32_t>> NextStep(int16_t resolution);
    bool Done() const { return done_ >= steps_; }
    int Steps() const { return steps_; }
    int StepsDone() const { return done_; }
    double WaitSeconds() const { return waitSeconds_; }

private:
    std::array<int32_t, 4> from_{}, to_{};  // ordinals of the DAC registers
    std::array<bool, 4> moving_{};
    std::array<int32_t, 4> finalInput_{};
    bool binaryCoding_ = true;
    int steps_ = 1;
    int done_ = 0;
    double waitSeconds_ = 0.0;
};

}  // namespace tq
