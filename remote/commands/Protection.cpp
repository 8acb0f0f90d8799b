// The output protection: each channel's limits and ramp, the ramp in progress, the safe state
// and when the program goes there by itself.

#include <limits>
#include <optional>

#include "core/Printed.h"
#include "instrument/Description.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

// SCPI's +/- infinity: what a limit that is not set answers.
constexpr double kScpiInfinity = 9.9e37;

std::string LimitText(double volts) {
    return Printed("%.9G", volts);
}

// One of a channel's bounds, a setting that may be none: volts, or NONE (also its DEFault) for
// none; the query answers `none` for none. MINimum and MAXimum are the setting's ends; a value
// beyond them is refused by the instrument, which says why.
CommandRow Bound(std::string_view pattern, const ChannelSetting& setting, double none) {
    const auto bounds = [&setting, none](Call& c) {
        NumberBounds b = PresentBounds(c.in, setting, c.Channel());
        b.def = none;
        return b;
    };
    return Describing(Numeric(
                          pattern, bounds,
                          [&setting, none](Call& c) {
                              return LimitText(setting.read(c.in, c.Channel()).value_or(none));
                          },
                          [&setting, bounds](Call& c) {
                              const scpi::Parameter& p = args::Only(c.command);
                              constexpr double kAny = std::numeric_limits<double>::max();
                              std::optional<double> volts;
                              if (scpi::IsMinimum(p) || scpi::IsMaximum(p)) {
                                  const NumberBounds b = bounds(c);
                                  volts = scpi::ReadVoltage(p, b.min, b.max);
                              } else if (!args::IsWord(p, "NONE") && !scpi::IsDefault(p)) {
                                  volts = scpi::ReadVoltage(p, -kAny, kAny);
                              }
                              setting.set(c.in, c.Channel(), volts);
                          },
                          [](double volts) { return LimitText(volts); }),
                      {.number = &setting});
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
        ForChannelLists(Bound("[SOURce#:]VOLTage:LIMit:HIGH", settings::kLimitHigh, kScpiInfinity)),
        ForChannelLists(Bound("[SOURce#:]VOLTage:LIMit:LOW", settings::kLimitLow, -kScpiInfinity)),
        // MINimum is 0: no ramp.
        ForChannelLists(Bound("[SOURce#:]VOLTage:RAMP:STEP", settings::kRampStep, 0.0)),
        ForChannelLists(Describing(
            Numeric(
                "[SOURce#:]VOLTage:RAMP:WAIT",
                [](Call& c) { return PresentBounds(c.in, settings::kRampWait, c.Channel()); },
                [](Call& c) { return LimitText(*settings::kRampWait.read(c.in, c.Channel())); },
                [](Call& c) {
                    const NumberBounds b = PresentBounds(c.in, settings::kRampWait, c.Channel());
                    settings::kRampWait.set(c.in, c.Channel(),
                                            scpi::ReadNumber(args::Only(c.command), b.min, b.max,
                                                             scpi::kSecondUnits, b.def));
                },
                [](double seconds) { return LimitText(seconds); }),
            {.number = &settings::kRampWait})),
        Query("OUTPut:RAMP[:STATe]", [](Call& c) { return args::Bool(c.in.Ramping()); }),
        PassingLock(Action("OUTPut:SAFE[:IMMediate]",
                           [](Call& c) { c.in.GoToSafeState(StopBy(c, "OUTPut:SAFE")); })),
        SafeOption("OUTPut:SAFE:EXIT", &ProtectionOptions::safeOnExit),
        SafeOption("OUTPut:SAFE:DISConnect", &ProtectionOptions::safeOnLastClient),
        SafeOption("OUTPut:SAFE:RETurn", &ProtectionOptions::safeOnBoardBack),
    };
    return rows;
}

}  // namespace tq
