#include "instrument/Ramp.h"

#include <algorithm>
#include <cmath>

#include "core/CheckedInt.h"

namespace tq {

Ramp::Ramp(const ConverterModel& before, const ConverterModel& target, const OutputGuard& limits)
    : binaryCoding_(target.binaryCoding) {
    for (int16_t ch = 0; ch < 4; ++ch) {
        const auto index = static_cast<std::size_t>(ch);
        const ChannelRegisters& from = before.channels[index];
        const ChannelRegisters& to = target.channels[index];
        from_[index] = ConverterCoding(16, binaryCoding_).OrdinalOfCode(from.dac);
        to_[index] = ConverterCoding(16, binaryCoding_).OrdinalOfCode(to.dac);
        finalInput_[index] = to.input;
        moving_[index] = from_[index] != to_[index] || from.input != to.input;
        const ChannelLimits& channel = limits.LimitsOf(ch);
        if (!moving_[index] || !channel.rampStep)
            continue;
        // A code's rounding does not make a step of its own.
        const double swing =
            std::fabs(target.Output(ch) - before.Output(ch)) - 0.5 * target.LsbVolts(ch);
        const double steps = std::max(1.0, std::ceil(swing / *channel.rampStep));
        steps_ = std::max(steps_, static_cast<int>(std::min(steps, 65536.0)));
        waitSeconds_ = std::max(waitSeconds_, channel.rampWaitSeconds);
    }
}

std::vector<int16_t> Ramp::Channels() const {
    std::vector<int16_t> channels;
    for (int16_t ch = 0; ch < 4; ++ch)
        if (moving_[static_cast<std::size_t>(ch)])
            channels.push_back(ch);
    return channels;
}

std::vector<std::pair<int16_t, int32_t>> Ramp::NextStep(int16_t resolution) {
    ++done_;
    std::vector<std::pair<int16_t, int32_t>> codes;
    const ConverterCoding frames(16, binaryCoding_);
    const bool narrow = ConverterCoding(resolution).Narrow();
    for (const int16_t ch : Channels()) {
        const auto index = static_cast<std::size_t>(ch);
        int32_t frame = finalInput_[index];
        if (done_ < steps_) {
            const double share = static_cast<double>(done_) / steps_;
            int32_t ordinal = RoundToInt32(from_[index] + (to_[index] - from_[index]) * share);
            if (narrow)
                ordinal &= ~3;  // the 14-bit device takes codes in steps of 4 here
            frame = frames.CodeOfOrdinal(ordinal);
        }
        // The steps' frames are multiples of 4 on the 14-bit device; the last one is the input
        // register as planned.
        codes.emplace_back(ch, narrow ? frame / 4 : frame);
    }
    return codes;
}

}  // namespace tq
