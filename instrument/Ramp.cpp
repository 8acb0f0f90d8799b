#include "instrument/Ramp.h"

#include <algorithm>
#include <cmath>

#include "core/CheckedInt.h"
#include "instrument/Instrument.h"

namespace tq {
namespace {

// To the millivolt: "9", not the 8.99994 V of the code nearest to 9 V.
std::string Millivolts(double volts) {
    return LimitVoltsText(std::nearbyint(volts * 1000.0) / 1000.0);
}

}  // namespace

Ramp::Ramp(Instrument& instrument, const ConverterModel& before, const ConverterModel& target,
           const OutputGuard& limits)
    : Activity(kRampKind),
      instrument_(instrument),
      target_(target),
      binaryCoding_(target.binaryCoding) {
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
    channels_ = MovingChannels();
}

std::vector<int16_t> Ramp::MovingChannels() const {
    std::vector<int16_t> channels;
    for (int16_t ch = 0; ch < 4; ++ch)
        if (moving_[static_cast<std::size_t>(ch)])
            channels.push_back(ch);
    return channels;
}

int32_t Ramp::FrameAt(std::size_t index, int step) const {
    if (step >= steps_)
        return finalInput_[index];
    const double share = static_cast<double>(step) / steps_;
    int32_t ordinal = RoundToInt32(from_[index] + (to_[index] - from_[index]) * share);
    if (narrow_)
        ordinal &= ~3;  // the 14-bit device takes codes in steps of 4 here
    return ConverterCoding(16, binaryCoding_).CodeOfOrdinal(ordinal);
}

std::vector<std::pair<int16_t, int32_t>> Ramp::NextStep(int16_t resolution) {
    narrow_ = ConverterCoding(resolution).Narrow();
    std::vector<std::pair<int16_t, int32_t>> codes;
    for (const int16_t ch : channels_) {
        // The steps' frames are multiples of 4 on the 14-bit device; the last one is the input
        // register as planned.
        const int32_t frame = FrameAt(static_cast<std::size_t>(ch), sent_ + 1);
        codes.emplace_back(ch, narrow_ ? frame / 4 : frame);
    }
    return codes;
}

std::string Ramp::Reached() const {
    std::string text;
    for (const int16_t ch : channels_) {
        ConverterModel now = target_;
        now.channels[static_cast<std::size_t>(ch)].dac =
            FrameAt(static_cast<std::size_t>(ch), sent_);
        text += (text.empty() ? "" : ", ") + Millivolts(now.Output(ch)) + " V of " +
                Millivolts(target_.Output(ch)) + " V";
    }
    return text;
}

void Ramp::Stop(const StopReason& reason) {
    instrument_.StopRamp(reason);
}

std::string Ramp::OutcomeText() const {
    if (Outcome().ending == ActivityOutcome::Ending::Finished)
        return {};
    return Subject() + " stopped at " + Outcome().where + ": " + Outcome().why;
}

std::string Ramp::Subject() const {
    std::string letters;
    for (const int16_t ch : channels_)
        letters += std::string(letters.empty() ? "" : ", ") + static_cast<char>('A' + ch);
    return "DAC " + letters + " ramp";
}

}  // namespace tq
