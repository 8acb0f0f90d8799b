// The output protection: each channel's limits and ramp, the ramp in progress, the safe state
// and when the program goes there by itself.

#include <cstdio>
#include <optional>

#include "instrument/SafeState.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

// SCPI's +/- infinity: what a limit that is not set answers.
constexpr double kScpiInfinity = 9.9e37;

std::string LimitText(const std::optional<double>& volts, double none) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9G", volts.value_or(none));
    return text;
}

// One of a channel's bounds: volts, or NONE for none; the query answers `none` for none.
CommandRow Bound(std::string_view pattern, std::optional<double> ChannelLimits::*bound,
                 double none) {
    return Setting(
        pattern, [=](Call& c) { return LimitText(c.in.Limits(c.Channel()).*bound, none); },
        [=](Call& c) {
            ChannelLimits limits = c.in.Limits(c.Channel());
            const scpi::Parameter& p = args::Only(c.command);
            limits.*bound = args::IsWord(p, "NONE")
                                ? std::nullopt
                                : std::optional<double>(scpi::ReadVoltage(p, -1e6, 1e6));
            // A ramp step of 0 is no ramp.
            if (bound == &ChannelLimits::rampStep && limits.rampStep == 0.0)
                limits.rampStep.reset();
            c.in.SetLimits(c.Channel(), limits);
        });
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
        Bound("[SOURce#:]VOLTage:LIMit:HIGH", &ChannelLimits::high, kScpiInfinity),
        Bound("[SOURce#:]VOLTage:LIMit:LOW", &ChannelLimits::low, -kScpiInfinity),
        Bound("[SOURce#:]VOLTage:RAMP:STEP", &ChannelLimits::rampStep, 0.0),
        Setting(
            "[SOURce#:]VOLTage:RAMP:WAIT",
            [](Call& c) { return LimitText(c.in.Limits(c.Channel()).rampWaitSeconds, 0.0); },
            [](Call& c) {
                ChannelLimits limits = c.in.Limits(c.Channel());
                limits.rampWaitSeconds = scpi::ReadNumber(args::Only(c.command), 0.0,
                                                          kMaxRampWaitSeconds, scpi::kSecondUnits);
                c.in.SetLimits(c.Channel(), limits);
            }),
        Query("OUTPut:RAMP[:STATe]", [](Call& c) { return args::Bool(c.in.Ramping()); }),
        Action("OUTPut:SAFE[:IMMediate]",
               [](Call& c) { EnterSafeState(c.in, c.targets.run, c.targets.meter); }),
        SafeOption("OUTPut:SAFE:EXIT", &ProtectionOptions::safeOnExit),
        SafeOption("OUTPut:SAFE:DISConnect", &ProtectionOptions::safeOnLastClient),
        SafeOption("OUTPut:SAFE:RETurn", &ProtectionOptions::safeOnBoardBack),
    };
    return rows;
}

}  // namespace tq
