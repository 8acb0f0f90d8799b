#pragma once
// A ramp: a change of the outputs cut into steps no larger than each channel's ramp step, with
// the channel's wait between two steps. The instrument runs it as a timer-driven activity on
// behalf of whoever made the change; this is its plan, its position and how it ended.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "instrument/Activities.h"
#include "instrument/OutputGuard.h"

namespace tq {

class Instrument;

inline constexpr ActivityKind kRampKind{.name = "a ramp",
                                        .subject = "ramp",
                                        .operationBit = kOperationRamping,
                                        .hasOwnIndicator = true};

class Ramp : public Activity {
public:
    // From the outputs `before` to `target` under `limits`.
    Ramp(Instrument& instrument, const ConverterModel& before, const ConverterModel& target,
         const OutputGuard& limits);

    // The channels that move.
    std::vector<int16_t> MovingChannels() const;
    // The next step's data codes (N-bit codes for `resolution`), to be written together and
    // loaded; the last step writes the target's input registers. StepSent() once it is out.
    std::vector<std::pair<int16_t, int32_t>> NextStep(int16_t resolution);
    void StepSent() { ++sent_; }
    bool Finished() const { return sent_ >= steps_; }
    int Steps() const { return steps_; }
    int StepsDone() const { return sent_; }
    double WaitSeconds() const { return waitSeconds_; }
    // Where the steps sent left the moving outputs, of where they were going: "2.001 V of 9 V".
    std::string Reached() const;

    void Stop(const StopReason& reason) override;
    // The output stopped where the last step left it, whatever ended the ramp: "DAC A ramp
    // stopped at 2.001 V of 9 V: the board does not answer".
    std::string OutcomeText() const override;
    std::string Subject() const override;  // "DAC A ramp", "DAC A, C ramp"

private:
    int32_t FrameAt(std::size_t channel, int step) const;

    Instrument& instrument_;
    ConverterModel target_;
    std::array<int32_t, 4> from_{}, to_{};  // ordinals of the DAC registers
    std::array<bool, 4> moving_{};
    std::array<int32_t, 4> finalInput_{};
    bool binaryCoding_ = true;
    bool narrow_ = false;  // the 14-bit device: steps in codes of 4
    int steps_ = 1;
    int sent_ = 0;
    double waitSeconds_ = 0.0;
};

}  // namespace tq
