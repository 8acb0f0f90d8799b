// The outputs: each channel's voltage and registers (SOURce<n>:...), all four at once
// (SOURce:ALL:..., set only), the pulse after a data write, the coding, CLEAR and LOAD.

#include <cmath>

#include "core/CheckedInt.h"
#include "core/Tables.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

using args::Only;
using scpi::ScpiError;

// MINimum and MAXimum are the ends of the range the channel has; beyond it is refused against the
// range read back with the write. `address` is a channel or kAllChannels.
void SetVoltage(Call& c, int16_t address) {
    const scpi::Parameter& p = Only(c.command);
    double volts = 0;
    if (args::IsWord(p, "MAXimum"))
        volts = c.in.ChannelRangeVolts(address);
    else if (args::IsWord(p, "MINimum"))
        volts = -c.in.ChannelRangeVolts(address);
    else
        volts = scpi::ReadVoltage(p, -1e30, 1e30);
    c.in.SetChannelVoltage(address, ToSingle(volts), 10.0f, true);
}

// A range by its full-scale volts, within 0.001 of one of the three ranges.
void SetRange(Call& c, int16_t address) {
    const double volts = scpi::ReadNumber(Only(c.command), 0.0, 1e6, scpi::kVoltUnits);
    for (const auto& range : kRanges)
        if (std::fabs(volts - range.volts) <= 0.001)
            return c.in.SetRangeCode(address, range.code);
    throw ScpiError(scpi::kIllegalParameterValue);
}

void SetData(Call& c, int16_t address) {
    c.in.SetDataCode(address, args::Int(Only(c.command), 0, args::TopCode(c.in)));
}

void SetGain(Call& c, int16_t address) {
    c.in.SetFineGain(address, args::Int(Only(c.command), -32, 31));
}

// Eighths of an LSB; the 14-bit device's register holds whole LSBs' worth in fewer bits.
void SetOffset(Call& c, int16_t address) {
    const bool narrow = c.in.Resolution() == 14;
    c.in.SetOffset(address, args::Int(Only(c.command), narrow ? -4 : -128, narrow ? 3 : 127));
}

// A register's read-back, with the serial output enabled for it.
template <typename Read>
auto ReadBack(Call& c, Read read) {
    return c.in.WithSerialOutput([&] { return read(c.in, c.Channel()); });
}

}  // namespace

const CommandRows& OutputCommands() {
    static const CommandRows rows = {
        Setting(
            "[SOURce#:]VOLTage[:LEVel][:IMMediate][:AMPLitude]",
            [](Call& c) {
                return scpi::FormatFloat(
                    ReadBack(c, [](Instrument& in, int16_t ch) { return in.ChannelVoltage(ch); }));
            },
            [](Call& c) { SetVoltage(c, c.Channel()); }),
        Setting(
            "[SOURce#:]VOLTage:RANGe",
            [](Call& c) {
                const int32_t code =
                    ReadBack(c, [](Instrument& in, int16_t ch) { return in.RangeCode(ch); });
                return scpi::FormatFloat(RangeVoltsForCode(code).value_or(10.0f));
            },
            [](Call& c) { SetRange(c, c.Channel()); }),
        Setting(
            "SOURce#:DATA",
            [](Call& c) {
                return scpi::FormatInt(
                    ReadBack(c, [](Instrument& in, int16_t ch) { return in.DataCode(ch); }));
            },
            [](Call& c) { SetData(c, c.Channel()); }),
        Setting(
            "SOURce#:GAIN",
            [](Call& c) {
                return scpi::FormatInt(
                    ReadBack(c, [](Instrument& in, int16_t ch) { return in.FineGain(ch); }));
            },
            [](Call& c) { SetGain(c, c.Channel()); }),
        Setting(
            "SOURce#:OFFSet",
            [](Call& c) {
                return scpi::FormatInt(
                    ReadBack(c, [](Instrument& in, int16_t ch) { return in.Offset(ch); }));
            },
            [](Call& c) { SetOffset(c, c.Channel()); }),
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
