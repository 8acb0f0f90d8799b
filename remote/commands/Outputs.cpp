// The outputs: each channel's voltage and registers (SOURce<n>:...), all four at once
// (SOURce:ALL:..., set only), the pulse after a data write, the coding, CLEAR and LOAD.

#include <cmath>
#include <limits>

#include "core/Tables.h"
#include "instrument/Description.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

using args::Only;
using scpi::ScpiError;

// The ends of the channel's range and 0 V. `address` is a channel or kAllChannels (DAC A's).
NumberBounds VoltageBounds(Call& c, int16_t address) {
    return PresentBounds(c.in, settings::kVoltage, address);
}

// MINimum and MAXimum are the ends of the range the channel has, DEFault 0 V; beyond the range
// is refused against the range read back with the write.
void SetVoltage(Call& c, int16_t address) {
    const scpi::Parameter& p = Only(c.command);
    double volts = 0;
    if (scpi::IsMinimum(p) || scpi::IsMaximum(p)) {
        const NumberBounds range = VoltageBounds(c, address);
        volts = scpi::ReadVoltage(p, range.min, range.max);
    } else {
        constexpr double kAny = std::numeric_limits<double>::max();
        volts = scpi::ReadVoltage(p, -kAny, kAny, settings::kVoltage.bounds({c.in.Coding()}).def);
    }
    // Far beyond any range, and beyond what the write takes: refused here in the write's words.
    if (std::fabs(volts) > 1e6) {
        const std::string range = scpi::FormatFloat(c.in.ChannelRangeVolts(address));
        throw ScpiError(scpi::kDataOutOfRange, scpi::NumberText(volts) +
                                                   " V is outside the channel's range, -" + range +
                                                   " V to " + range + " V");
    }
    settings::kVoltage.set(c.in, address, volts);
}

// MINimum the narrowest range, MAXimum the widest, DEFault the start's.
NumberBounds RangeBounds(const Call& c) {
    return settings::kRange.bounds({c.in.Coding()});
}

// A range by its full-scale volts, within 0.001 of one of the ranges; another value is not out
// of a range but none of them.
void SetRange(Call& c, int16_t address) {
    constexpr double kAny = std::numeric_limits<double>::max();
    const scpi::Parameter& p = Only(c.command);
    const bool word = scpi::IsMinimum(p) || scpi::IsMaximum(p) || scpi::IsDefault(p);
    const NumberBounds bounds = RangeBounds(c);
    const double volts = scpi::ReadNumber(p, word ? bounds.min : -kAny, word ? bounds.max : kAny,
                                          scpi::kVoltUnits, bounds.def);
    if (!RangeCodeNear(volts)) {
        std::string ranges;
        const auto& all = c.in.Profile().ranges;
        for (std::size_t i = 0; i < all.size(); ++i)
            ranges += std::string(i == 0                ? ""
                                  : i + 1 == all.size() ? " and "
                                                        : ", ") +
                      scpi::FormatFloat(all[i].volts) + " V";
        throw ScpiError(scpi::kIllegalParameterValue, "the ranges are " + ranges);
    }
    settings::kRange.set(c.in, address, volts);
}

}  // namespace

const CommandRows& OutputCommands() {
    static const CommandRows rows = {
        ForChannelLists(Describing(Numeric(
                                       "[SOURce#:]VOLTage[:LEVel][:IMMediate][:AMPLitude]",
                                       [](Call& c) { return VoltageBounds(c, c.Channel()); },
                                       [](Call& c) {
                                           return scpi::FormatFloat(static_cast<float>(
                                               *settings::kVoltage.read(c.in, c.Channel())));
                                       },
                                       [](Call& c) { SetVoltage(c, c.Channel()); }),
                                   {.number = &settings::kVoltage})),
        ForChannelLists(Describing(Numeric(
                                       "[SOURce#:]VOLTage:RANGe", RangeBounds,
                                       [](Call& c) {
                                           return scpi::FormatFloat(static_cast<float>(
                                               *settings::kRange.read(c.in, c.Channel())));
                                       },
                                       [](Call& c) { SetRange(c, c.Channel()); }),
                                   {.number = &settings::kRange})),
        WholeSetting("SOURce#:DATA", settings::kData),
        WholeSetting("SOURce#:GAIN", settings::kFineGain),
        WholeSetting("SOURce#:OFFSet", settings::kOffset),
        SetOnly("SOURce:ALL:VOLTage[:LEVel][:IMMediate][:AMPLitude]",
                [](Call& c) { SetVoltage(c, kAllChannels); }),
        SetOnly("SOURce:ALL:VOLTage:RANGe", [](Call& c) { SetRange(c, kAllChannels); }),
        WholeSettingOfAll("SOURce:ALL:DATA", settings::kData),
        WholeSettingOfAll("SOURce:ALL:GAIN", settings::kFineGain),
        WholeSettingOfAll("SOURce:ALL:OFFSet", settings::kOffset),
        // The instrument raises a low LDAC when writes start to pulse it.
        OnOff("SOURce:PULSe[:STATe]", settings::kPulse),
        Choice("SOURce:CODing", settings::kCoding, "BINary", "TWOScomplement"),
        // The CLR pin is the outputs' switch: OFF holds every output at 0 V and keeps the
        // registers, ON lets the outputs follow them again, judged as PIN:CLR is (the row that
        // describes the pin).
        OnOff(
            "OUTPut[:STATe]", [](Call& c) { return settings::kClr.read(c.in); },
            [](Call& c, bool on) { settings::kClr.set(c.in, on); }),
        Action("OUTPut:CLEar", [](Call& c) { c.in.ClearAllChannels(); }),
        Action("OUTPut:LOAD", [](Call& c) { c.in.LoadAllChannels(); }),
    };
    return rows;
}

}  // namespace tq
