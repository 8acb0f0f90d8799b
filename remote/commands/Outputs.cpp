// The outputs: each channel's voltage and registers (SOURce<n>:...), all four at once
// (SOURce:ALL:..., set only), the pulse after a data write, the coding, CLEAR and LOAD.

#include <cmath>
#include <limits>

#include "core/CheckedInt.h"
#include "core/ConverterCoding.h"
#include "core/Tables.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

using args::Only;
using scpi::ScpiError;

// The ends of the channel's range and 0 V. `address` is a channel or kAllChannels (DAC A's).
NumberBounds VoltageBounds(Call& c, int16_t address) {
    const double range = c.in.ChannelRangeVolts(address);
    return {-range, range, 0.0};
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
        volts = scpi::ReadVoltage(p, -kAny, kAny, 0.0);
    }
    // Far beyond any range, and beyond what the write takes: refused here in the write's words.
    if (std::fabs(volts) > 1e6) {
        const std::string range = scpi::FormatFloat(c.in.ChannelRangeVolts(address));
        throw ScpiError(scpi::kDataOutOfRange, scpi::NumberText(volts) +
                                                   " V is outside the channel's range, -" + range +
                                                   " V to " + range + " V");
    }
    c.in.SetChannelVoltage(address, ToSingle(volts), 10.0f, true);
}

// The three ranges by their full-scale volts: MINimum the narrowest, MAXimum the widest, DEFault
// the start's.
constexpr NumberBounds kRangeBounds{kRanges.front().volts, kRanges.back().volts,
                                    kRanges.front().volts};

// A range by its full-scale volts, within 0.001 of one of the three ranges; another value is not
// out of a range but none of the three.
void SetRange(Call& c, int16_t address) {
    constexpr double kAny = std::numeric_limits<double>::max();
    const scpi::Parameter& p = Only(c.command);
    const bool word = scpi::IsMinimum(p) || scpi::IsMaximum(p) || scpi::IsDefault(p);
    const double volts =
        scpi::ReadNumber(p, word ? kRangeBounds.min : -kAny, word ? kRangeBounds.max : kAny,
                         scpi::kVoltUnits, kRangeBounds.def);
    for (const auto& range : kRanges)
        if (std::fabs(volts - range.volts) <= 0.001)
            return c.in.SetRangeCode(address, range.code);
    throw ScpiError(scpi::kIllegalParameterValue, "the ranges are 10 V, 10.2564 V and 10.5263 V");
}

// The device's codes; DEFault the code of 0 V in the coding in use.
NumberBounds DataBounds(const Call& c) {
    const ConverterCoding coding(c.in.Resolution(), c.in.PinValue(Pin::BinaryCoding));
    return {0.0, static_cast<double>(coding.TopCode()), static_cast<double>(coding.ZeroCode())};
}

constexpr NumberBounds kGainBounds{-32, 31, 0};

// Eighths of an LSB; the 14-bit device's register holds whole LSBs' worth in fewer bits.
NumberBounds OffsetBounds(const Call& c) {
    return c.in.Resolution() == 14 ? NumberBounds{-4, 3, 0} : NumberBounds{-128, 127, 0};
}

void SetData(Call& c, int16_t address) {
    c.in.SetDataCode(address, args::Int(Only(c.command), DataBounds(c)));
}

void SetGain(Call& c, int16_t address) {
    c.in.SetFineGain(address, args::Int(Only(c.command), kGainBounds));
}

void SetOffset(Call& c, int16_t address) {
    c.in.SetOffset(address, args::Int(Only(c.command), OffsetBounds(c)));
}

std::string IntegerAnswer(double value) {
    return scpi::FormatInt(static_cast<int64_t>(value));
}

// A register's read-back, with the serial output enabled for it.
template <typename Read>
auto ReadBack(Call& c, Read read) {
    return c.in.WithSerialOutput([&] { return read(c.in, c.Channel()); });
}

}  // namespace

const CommandRows& OutputCommands() {
    static const CommandRows rows = {
        Numeric(
            "[SOURce#:]VOLTage[:LEVel][:IMMediate][:AMPLitude]",
            [](Call& c) { return VoltageBounds(c, c.Channel()); },
            [](Call& c) {
                return scpi::FormatFloat(
                    ReadBack(c, [](Instrument& in, int16_t ch) { return in.ChannelVoltage(ch); }));
            },
            [](Call& c) { SetVoltage(c, c.Channel()); }),
        Numeric(
            "[SOURce#:]VOLTage:RANGe", [](Call&) { return kRangeBounds; },
            [](Call& c) {
                const int32_t code =
                    ReadBack(c, [](Instrument& in, int16_t ch) { return in.RangeCode(ch); });
                return scpi::FormatFloat(RangeVoltsForCode(code).value_or(10.0f));
            },
            [](Call& c) { SetRange(c, c.Channel()); }),
        Numeric(
            "SOURce#:DATA", DataBounds,
            [](Call& c) {
                return scpi::FormatInt(
                    ReadBack(c, [](Instrument& in, int16_t ch) { return in.DataCode(ch); }));
            },
            [](Call& c) { SetData(c, c.Channel()); }, IntegerAnswer),
        Numeric(
            "SOURce#:GAIN", [](Call&) { return kGainBounds; },
            [](Call& c) {
                return scpi::FormatInt(
                    ReadBack(c, [](Instrument& in, int16_t ch) { return in.FineGain(ch); }));
            },
            [](Call& c) { SetGain(c, c.Channel()); }, IntegerAnswer),
        Numeric(
            "SOURce#:OFFSet", OffsetBounds,
            [](Call& c) {
                return scpi::FormatInt(
                    ReadBack(c, [](Instrument& in, int16_t ch) { return in.Offset(ch); }));
            },
            [](Call& c) { SetOffset(c, c.Channel()); }, IntegerAnswer),
        SetOnly("SOURce:ALL:VOLTage[:LEVel][:IMMediate][:AMPLitude]",
                [](Call& c) { SetVoltage(c, kAllChannels); }),
        SetOnly("SOURce:ALL:VOLTage:RANGe", [](Call& c) { SetRange(c, kAllChannels); }),
        SetOnly("SOURce:ALL:DATA", [](Call& c) { SetData(c, kAllChannels); }),
        SetOnly("SOURce:ALL:GAIN", [](Call& c) { SetGain(c, kAllChannels); }),
        SetOnly("SOURce:ALL:OFFSet", [](Call& c) { SetOffset(c, kAllChannels); }),
        OnOff(
            "SOURce:PULSe[:STATe]", [](Call& c) { return c.in.PulseAfterDataWrite(); },
            // The instrument raises a low LDAC when writes start to pulse it.
            [](Call& c, bool on) { c.in.SetPulseAfterDataWrite(on); }),
        Setting(
            "SOURce:CODing",
            [](Call& c) { return c.in.PinValue(Pin::BinaryCoding) ? "BIN" : "TWOS"; },
            [](Call& c) {
                c.in.SetPin(Pin::BinaryCoding, args::Choice(c.command, "BINary", "TWOScomplement"));
            }),
        Action("OUTPut:CLEar", [](Call& c) { c.in.ClearAllChannels(); }),
        Action("OUTPut:LOAD", [](Call& c) { c.in.LoadAllChannels(); }),
    };
    return rows;
}

}  // namespace tq
