#include "instrument/OutputGuard.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "core/Tables.h"

namespace tq {
namespace {

GuardVerdict Refusal(int16_t channel, std::string why) {
    return {GuardVerdict::Answer::Refuse, channel, std::move(why)};
}

}  // namespace

void OutputGuard::SetLimits(int16_t channel, const ChannelLimits& limits) {
    CheckChannelLimits(channel, limits);
    limits_[static_cast<std::size_t>(channel)] = limits;
}

bool OutputGuard::Active() const {
    return std::any_of(limits_.begin(), limits_.end(),
                       [](const ChannelLimits& limits) { return limits.Active(); });
}

bool OutputGuard::Ramps() const {
    return std::any_of(limits_.begin(), limits_.end(),
                       [](const ChannelLimits& limits) { return limits.rampStep.has_value(); });
}

GuardVerdict OutputGuard::Judge(const ConverterModel& before, const ConverterModel& after,
                                ChangeKind kind) const {
    GuardVerdict verdict;
    // CLR or RSTIN released: the outputs leave 0 V for what their registers hold.
    const bool released = !(before.clrHigh && before.rstinHigh) && after.clrHigh && after.rstinHigh;
    for (int16_t ch = 0; ch < 4; ++ch) {
        const auto index = static_cast<std::size_t>(ch);
        const ChannelLimits& limits = limits_[index];
        const double from = before.Output(ch);
        const double to = after.Output(ch);
        // An output whose DAC register was only assumed is judged whenever the change sets it.
        const bool learnt = before.dacAssumed[index] && !after.dacAssumed[index];
        if (!limits.Active() || (to == from && !learnt))
            continue;
        // A code is the nearest to the voltage typed: half an LSB beyond a limit is the limit.
        const double halfLsb = 0.5 * after.LsbVolts(ch);
        if (auto why = LimitViolation(ch, to, limits, halfLsb))
            return Refusal(ch, std::move(*why));
        if (!limits.rampStep || std::fabs(to - from) <= *limits.rampStep + halfLsb)
            continue;
        if (kind == ChangeKind::Rampable)
            verdict.answer = GuardVerdict::Answer::Ramp;
        else if (kind == ChangeKind::AtOnce && released)
            return Refusal(ch, ChannelName(ch) + ": turning the outputs on moves the output from " +
                                   LimitVoltsText(from) + " V to " + LimitVoltsText(to) +
                                   " V at once, more than its ramp step of " +
                                   LimitVoltsText(*limits.rampStep) +
                                   " V; set it within its ramp step of 0 V first, turn the "
                                   "outputs on, then set it again (it ramps)");
        else if (kind == ChangeKind::AtOnce)
            return Refusal(ch, ChannelName(ch) + ": the change moves the output by " +
                                   LimitVoltsText(to - from) +
                                   " V at once, more than its ramp step of " +
                                   LimitVoltsText(*limits.rampStep) +
                                   " V; bring the output to 0 V first (Safe State) and change "
                                   "it there");
    }
    return verdict;
}

GuardVerdict OutputGuard::JudgePlanned(const ConverterModel& planned, const Limits* extra) const {
    for (int16_t ch = 0; ch < 4; ++ch) {
        const double volts = planned.Output(ch);
        const double halfLsb = 0.5 * planned.LsbVolts(ch);
        const auto index = static_cast<std::size_t>(ch);
        if (auto why = LimitViolation(ch, volts, limits_[index], halfLsb))
            return Refusal(ch, std::move(*why));
        if (extra)
            if (auto why = LimitViolation(ch, volts, (*extra)[index], halfLsb))
                return Refusal(ch, std::move(*why));
    }
    return {};
}

GuardVerdict OutputGuard::JudgeTyped(int16_t channel, double volts) const {
    for (int16_t ch = 0; ch < 4; ++ch)
        if (ch == channel || channel == kAllChannels)
            if (auto why = LimitViolation(ch, volts, limits_[static_cast<std::size_t>(ch)]))
                return Refusal(ch, std::move(*why));
    return {};
}

}  // namespace tq
