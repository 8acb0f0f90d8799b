// The output protection: each channel's limits and ramp, the ramp in progress, the safe state
// and when the program goes there by itself.

#include <limits>
#include <optional>

#include "core/Printed.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

// SCPI's +/- infinity: what a limit that is not set answers.
constexpr double kScpiInfinity = 9.9e37;
// The widest range's full scale: no limit lies beyond it.
constexpr double kWidest = 10.5263;

std::string LimitText(double volts) {
    return Printed("%.9G", volts);
}

std::string LimitText(const std::optional<double>& volts, double none) {
    return LimitText(volts.value_or(none));
}

// One of a channel's bounds: volts, or NONE (also its DEFault) for none; the query answers
// `none` for none. `min` and `max` are its ends for MINimum and MAXimum; a value beyond them
// is refused by the instrument, which says why.
CommandRow Bound(std::string_view pattern, std::optional<double> ChannelLimits::*bound, double none,
                 double min, double max) {
    const NumberBounds bounds{min, max, none};
    return Numeric(
        pattern, [=](Call&) { return bounds; },
        [=](Call& c) { return LimitText(c.in.Limits(c.Channel()).*bound, none); },
        [=](Call& c) {
            ChannelLimits limits = c.in.Limits(c.Channel());
            const scpi::Parameter& p = args::Only(c.command);
            constexpr double kAny = std::numeric_limits<double>::max();
            if (args::IsWord(p, "NONE") || scpi::IsDefault(p))
                limits.*bound = std::nullopt;
            else if (scpi::IsMinimum(p) || scpi::IsMaximum(p))
                limits.*bound = scpi::ReadVoltage(p, bounds.min, bounds.max);
            else
                limits.*bound = scpi::ReadVoltage(p, -kAny, kAny);
            // A ramp step of 0 is no ramp.
            if (bound == &ChannelLimits::rampStep && limits.rampStep == 0.0)
                limits.rampStep.reset();
            c.in.SetLimits(c.Channel(), limits);
        },
        [](double volts) { return LimitText(volts); });
}

// When the outputs go to the safe state by themselves.
CommandRow SafeOption(std::string_view pattern, bool ProtectionOptions::*option) {
    return OnOff(
        pattern, [=](Call& c) { return c.in.ProtectionOptionsInEffect().*option; },
        [=](Call& c, bool on) {
            ProtectionOptions options = c.in.ProtectionOptionsInEffect();
            options.*option = on;
            c.in.SetProtectionOptions(options);
        });
}

}  // namespace

const CommandRows& ProtectionCommands() {
    static const CommandRows rows = {
        Bound("[SOURce#:]VOLTage:LIMit:HIGH", &ChannelLimits::high, kScpiInfinity, 0, kWidest),
        Bound("[SOURce#:]VOLTage:LIMit:LOW", &ChannelLimits::low, -kScpiInfinity, -kWidest, 0),
        // MINimum is 0: no ramp.
        Bound("[SOURce#:]VOLTage:RAMP:STEP", &ChannelLimits::rampStep, 0.0, 0, 2 * kWidest),
        Numeric(
            "[SOURce#:]VOLTage:RAMP:WAIT",
            [](Call&) {
                return NumberBounds{0.0, kMaxRampWaitSeconds, 0.0};
            },
            [](Call& c) { return LimitText(c.in.Limits(c.Channel()).rampWaitSeconds); },
            [](Call& c) {
                ChannelLimits limits = c.in.Limits(c.Channel());
                limits.rampWaitSeconds = scpi::ReadNumber(
                    args::Only(c.command), 0.0, kMaxRampWaitSeconds, scpi::kSecondUnits, 0.0);
                c.in.SetLimits(c.Channel(), limits);
            },
            [](double seconds) { return LimitText(seconds); }),
        Query("OUTPut:RAMP[:STATe]", [](Call& c) { return args::Bool(c.in.Ramping()); }),
        Action("OUTPut:SAFE[:IMMediate]",
               [](Call& c) { c.in.GoToSafeState(StopBy(c, "OUTPut:SAFE")); }),
        SafeOption("OUTPut:SAFE:EXIT", &ProtectionOptions::safeOnExit),
        SafeOption("OUTPut:SAFE:DISConnect", &ProtectionOptions::safeOnLastClient),
        SafeOption("OUTPut:SAFE:RETurn", &ProtectionOptions::safeOnBoardBack),
    };
    return rows;
}

}  // namespace tq
