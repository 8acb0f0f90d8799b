#include "instrument/OutputProtection.h"

#include "core/ConverterCoding.h"
#include "core/ConverterProfile.h"

#include <cmath>

#include "core/Fields.h"
#include "core/Printed.h"
#include "core/Tables.h"
#include "instrument/InstrumentErrors.h"

namespace tq {

std::string ChannelName(int16_t channel) {
    return "DAC " + std::string(1, static_cast<char>('A' + channel));
}

std::string LimitVoltsText(double volts) {
    // Six significant digits show a code's voltage; a typed limit shows as typed.
    return Printed("%.6g", volts == 0.0 ? 0.0 : volts);
}

void CheckChannelLimits(int16_t channel, const ChannelLimits& limits) {
    if (channel < 0 || channel >= kChannelCount)
        throw ValueRangeError("no such channel: " + std::to_string(channel) +
                              " (DAC A to D are 0 to 3)");
    const std::string name = ChannelName(channel);
    const double widest = WidestOutput();
    const auto bound = [&](const std::optional<double>& value, const char* what) {
        if (value && !(std::fabs(*value) <= widest))
            throw ValueRangeError(name + ": the " + what + " limit must lie within -" +
                                  LimitVoltsText(widest) + " V to " + LimitVoltsText(widest) +
                                  " V");
    };
    bound(limits.low, "low");
    bound(limits.high, "high");
    if (limits.low && *limits.low > 0.0)
        throw ValueRangeError(name + ": the low limit " + LimitVoltsText(*limits.low) +
                              " V is above 0 V; the window must hold 0 V, the safe state");
    if (limits.high && *limits.high < 0.0)
        throw ValueRangeError(name + ": the high limit " + LimitVoltsText(*limits.high) +
                              " V is below 0 V; the window must hold 0 V, the safe state");
    if (limits.rampStep && !(*limits.rampStep > 0.0 && *limits.rampStep <= 2 * widest))
        throw ValueRangeError(name + ": the ramp step must be above 0 V and at most " +
                              LimitVoltsText(2 * widest) + " V");
    if (!(limits.rampWaitSeconds >= 0.0 && limits.rampWaitSeconds <= kMaxRampWaitSeconds))
        throw ValueRangeError(name + ": the wait between ramp steps must lie within 0 s to " +
                              LimitVoltsText(kMaxRampWaitSeconds) + " s");
}

std::string DescribeLimits(const ChannelLimits& limits) {
    if (!limits.Active())
        return "no limits";
    std::string text;
    if (limits.low || limits.high)
        text = (limits.low ? LimitVoltsText(*limits.low) + " V" : std::string("no low limit")) +
               " to " +
               (limits.high ? LimitVoltsText(*limits.high) + " V" : std::string("no high limit"));
    if (limits.rampStep) {
        if (!text.empty())
            text += ", ";
        text += "ramp " + LimitVoltsText(*limits.rampStep) + " V every " +
                LimitVoltsText(limits.rampWaitSeconds) + " s";
    }
    return text;
}

std::optional<std::string> LimitViolation(int16_t channel, double volts,
                                          const ChannelLimits& limits, double slack) {
    if (limits.high && !(volts <= *limits.high + slack))
        return ChannelName(channel) + ": " + LimitVoltsText(volts) + " V is above its limit of " +
               LimitVoltsText(*limits.high) + " V";
    if (limits.low && !(volts >= *limits.low - slack))
        return ChannelName(channel) + ": " + LimitVoltsText(volts) + " V is below its limit of " +
               LimitVoltsText(*limits.low) + " V";
    return std::nullopt;
}

std::optional<std::string> LimitBreach(int16_t channel, double volts, const ChannelLimits& limits) {
    if (limits.high && !(volts <= *limits.high))
        return "above " + ChannelName(channel) + "'s limit of " + LimitVoltsText(*limits.high) +
               " V";
    if (limits.low && !(volts >= *limits.low))
        return "below " + ChannelName(channel) + "'s limit of " + LimitVoltsText(*limits.low) +
               " V";
    return std::nullopt;
}

double ConverterModel::LsbVolts(int16_t channel) const {
    const ChannelRegisters& c = channels[static_cast<std::size_t>(channel)];
    // Code 3 acts as code 0.
    return 2.0 * FullScaleOfCode(c.coarse & 3) / 65536.0;
}

double ConverterModel::Output(int16_t channel) const {
    if (!clrHigh || !rstinHigh)
        return 0.0;
    const ChannelRegisters& c = channels[static_cast<std::size_t>(channel)];
    const double lsb = LsbVolts(channel);
    const double ideal = lsb * (ConverterCoding(16, binaryCoding).OrdinalOfCode(c.dac) - 32768);
    const int32_t fine = SignedField(c.fine & 0x3F, kFineGainBits);
    const int32_t offset = SignedField(c.offset & 0xFF, kOffsetBits);
    return ideal * (1.0 + fine / 65536.0) + offset / 8.0 * lsb;
}

void ConverterModel::Load() {
    for (ChannelRegisters& c : channels)
        c.dac = c.input;
    dacAssumed.fill(false);
}

void ConverterModel::Write(int16_t address, int16_t reg, int32_t value, bool pulse) {
    if (reg == kRegFunction) {
        if (address == kFnClearAll) {
            for (ChannelRegisters& c : channels)
                c.dac = ZeroCode();
            dacAssumed.fill(false);
        } else if (address == kFnLoadAll)
            Load();
        return;
    }
    if (address < 0 || address > kAllChannels)
        return;  // addresses 5 to 7 reach no channel
    const int16_t first = address == kAllChannels ? 0 : address;
    const int16_t last = address == kAllChannels ? 3 : address;
    for (int16_t ch = first; ch <= last; ++ch) {
        ChannelRegisters& c = channels[static_cast<std::size_t>(ch)];
        const int32_t v = value & 0xFFFF;
        switch (reg) {
            case kRegData:
                c.input = v;
                if (!ldacHigh) {
                    c.dac = v;
                    dacAssumed[static_cast<std::size_t>(ch)] = false;
                }
                break;
            case kRegCoarseGain:
                c.coarse = v & 3;
                break;
            case kRegFineGain:
                c.fine = v & 0x3F;
                break;
            case kRegOffset:
                c.offset = v & 0xFF;
                break;
            default:
                break;
        }
    }
    if (pulse && reg != kRegFunction)
        Load();
}

}  // namespace tq
