#include "instrument/Description.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "core/CheckedInt.h"
#include "core/ConverterProfile.h"
#include "core/Printed.h"
#include "core/Tables.h"
#include "instrument/Instrument.h"
#include "instrument/JsonText.h"

namespace tq {
namespace {

// A register read back with the serial output enabled for it, as every query of a value does.
template <typename Read>
std::optional<double> ReadBack(Instrument& in, Read read) {
    return static_cast<double>(in.WithSerialOutput(read));
}

// A whole value within the 32-bit range, or a ValueRangeError: nothing is sent.
int32_t Whole(const ChannelSetting& setting, const std::optional<double>& value) {
    if (!value || !(std::fabs(*value) <= std::numeric_limits<int32_t>::max()) ||
        std::trunc(*value) != *value)
        throw ValueRangeError(std::string(setting.name) + " takes a whole number");
    return static_cast<int32_t>(*value);
}

double Value(const ChannelSetting& setting, const std::optional<double>& value) {
    if (!value)
        throw ValueRangeError(std::string(setting.name) + " takes a number");
    return *value;
}

// One of a channel's limits, kept by the instrument (nothing is sent).
template <std::optional<double> ChannelLimits::*Bound>
std::optional<double> ReadLimit(Instrument& in, int16_t channel) {
    return in.Limits(channel).*Bound;
}

template <std::optional<double> ChannelLimits::*Bound>
void SetLimit(Instrument& in, int16_t channel, std::optional<double> value) {
    ChannelLimits limits = in.Limits(channel);
    limits.*Bound = value;
    in.SetLimits(channel, limits);
}

}  // namespace

namespace settings {

const ChannelSetting kVoltage{
    "voltage",
    "V",
    false,
    false,
    kFollowsRange,
    "the output: the code in the data register, in the channel's range",
    [](const BoundsBasis& b) {
        return SettingBounds{-static_cast<double>(b.fullScale), b.fullScale, 0.0};
    },
    [](Instrument& in, int16_t ch) { return ReadBack(in, [&] { return in.ChannelVoltage(ch); }); },
    [](Instrument& in, int16_t address, std::optional<double> volts) {
        // The write reads the channel's range back first: with the serial output disabled it is
        // enabled for that read, as for every read-back of a setting.
        ReadBack(in, [&] {
            return in
                .SetChannelVoltage(address, ToSingle(Value(kVoltage, volts)), FullScaleOfCode(3),
                                   true)
                .volts;
        });
    }};

const ChannelSetting kRange{
    "range",
    "V",
    false,
    false,
    0,
    "the full scale of the output, -range to +range (the coarse gain register)",
    [](const BoundsBasis& b) {
        const ConverterProfile& p = b.coding.Profile();
        return SettingBounds{p.NarrowestFullScale(), p.WidestFullScale(),
                             static_cast<double>(FullScaleOfCode(0))};
    },
    [](Instrument& in, int16_t ch) {
        return std::optional<double>(
            FullScaleOfCode(in.WithSerialOutput([&] { return in.RangeCode(ch); })));
    },
    [](Instrument& in, int16_t address, std::optional<double> volts) {
        const std::optional<int32_t> code = RangeCodeNear(Value(kRange, volts));
        if (!code)
            throw ValueRangeError("no range has a full scale of " + Printed("%g", *volts) + " V");
        in.SetRangeCode(address, *code);
    }};

const ChannelSetting kCoarseGain{
    "coarseGain",
    "",
    true,
    false,
    0,
    "the coarse gain register's code (3 acts as 0)",
    [](const BoundsBasis&) {
        return SettingBounds{0, (1 << kCoarseGainBits) - 1, 0.0};
    },
    [](Instrument& in, int16_t ch) {
        return ReadBack(
            in, [&] { return in.ReadRegister(ch, kRegCoarseGain) & ((1 << kCoarseGainBits) - 1); });
    },
    [](Instrument& in, int16_t address, std::optional<double> code) {
        const int32_t c = Whole(kCoarseGain, code);
        if (c < 0 || c >= (1 << kCoarseGainBits))
            throw ValueRangeError("coarse gain code " + std::to_string(c) + " is outside 0 to " +
                                  std::to_string((1 << kCoarseGainBits) - 1));
        in.WriteRegister(address, kRegCoarseGain, c);
    }};

const ChannelSetting kData{
    "data",
    "",
    true,
    false,
    kFollowsResolution | kFollowsCoding,
    "the data (input) register's code; DEFault is the code of 0 V",
    [](const BoundsBasis& b) {
        return SettingBounds{0, static_cast<double>(b.coding.TopCode()),
                             static_cast<double>(b.coding.ZeroCode())};
    },
    [](Instrument& in, int16_t ch) { return ReadBack(in, [&] { return in.DataCode(ch); }); },
    [](Instrument& in, int16_t address, std::optional<double> code) {
        in.SetDataCode(address, Whole(kData, code));
    }};

const ChannelSetting kFineGain{
    "fineGain",
    "",
    true,
    false,
    0,
    "the fine gain register as signed steps",
    [](const BoundsBasis& b) {
        const SignedSteps& f = b.coding.Profile().fineGain;
        return SettingBounds{static_cast<double>(f.Lowest()), static_cast<double>(f.Highest()),
                             0.0};
    },
    [](Instrument& in, int16_t ch) { return ReadBack(in, [&] { return in.FineGain(ch); }); },
    [](Instrument& in, int16_t address, std::optional<double> steps) {
        in.SetFineGain(address, Whole(kFineGain, steps));
    }};

const ChannelSetting kOffset{
    "offset",
    "",
    true,
    false,
    kFollowsResolution,
    "the offset register as signed steps (eighths of an LSB on the 16-bit device)",
    [](const BoundsBasis& b) {
        return SettingBounds{static_cast<double>(b.coding.LowestOffsetSteps()),
                             static_cast<double>(b.coding.HighestOffsetSteps()), 0.0};
    },
    [](Instrument& in, int16_t ch) { return ReadBack(in, [&] { return in.Offset(ch); }); },
    [](Instrument& in, int16_t address, std::optional<double> steps) {
        in.SetOffset(address, Whole(kOffset, steps));
    }};

const ChannelSetting kLimitLow{"limitLow",
                               "V",
                               false,
                               true,
                               0,
                               "the lowest output allowed (at most 0 V); none: no limit",
                               [](const BoundsBasis&) {
                                   return SettingBounds{-WidestOutput(), 0.0, {}};
                               },
                               ReadLimit<&ChannelLimits::low>,
                               SetLimit<&ChannelLimits::low>};

const ChannelSetting kLimitHigh{"limitHigh",
                                "V",
                                false,
                                true,
                                0,
                                "the highest output allowed (at least 0 V); none: no limit",
                                [](const BoundsBasis&) {
                                    return SettingBounds{0.0, WidestOutput(), {}};
                                },
                                ReadLimit<&ChannelLimits::high>,
                                SetLimit<&ChannelLimits::high>};

const ChannelSetting kRampStep{
    "rampStep",
    "V",
    false,
    true,
    0,
    "the largest single change of the output; a larger one goes out in steps; none or 0: no ramp",
    [](const BoundsBasis&) {
        return SettingBounds{0.0, 2 * WidestOutput(), {}};
    },
    ReadLimit<&ChannelLimits::rampStep>,
    [](Instrument& in, int16_t channel, std::optional<double> volts) {
        // A ramp step of 0 is no ramp.
        SetLimit<&ChannelLimits::rampStep>(in, channel, volts == 0.0 ? std::nullopt : volts);
    }};

const ChannelSetting kRampWait{"rampWait",
                               "s",
                               false,
                               false,
                               0,
                               "the wait between two steps of a ramp",
                               [](const BoundsBasis&) {
                                   return SettingBounds{0.0, kMaxRampWaitSeconds, 0.0};
                               },
                               [](Instrument& in, int16_t channel) {
                                   return std::optional<double>(in.Limits(channel).rampWaitSeconds);
                               },
                               [](Instrument& in, int16_t channel, std::optional<double> seconds) {
                                   ChannelLimits limits = in.Limits(channel);
                                   limits.rampWaitSeconds = Value(kRampWait, seconds);
                                   in.SetLimits(channel, limits);
                               }};

namespace {

template <Pin P>
bool ReadPin(const Instrument& in) {
    return in.PinValue(P);
}
template <Pin P>
void SetPin(Instrument& in, bool high) {
    in.SetPin(P, high);
}
template <FunctionFlag F>
bool ReadFlag(const Instrument& in) {
    return in.FunctionFlagValue(F);
}
template <FunctionFlag F>
void SetFlag(Instrument& in, bool on) {
    in.SetFunctionFlag(F, on);
}

}  // namespace

const BoardSwitch kLdac{
    "ldac",           "pins", {}, "the LDAC pin (high while writes pulse it)", ReadPin<Pin::Ldac>,
    SetPin<Pin::Ldac>};
const BoardSwitch kClr{
    "clr",           "pins", {}, "the CLR pin (low holds every output at 0 V)", ReadPin<Pin::Clr>,
    SetPin<Pin::Clr>};
const BoardSwitch kRstin{"rstin",           "pins", {}, "the RSTIN pin", ReadPin<Pin::Rstin>,
                         SetPin<Pin::Rstin>};
const BoardSwitch kCoding{"coding",
                          "pins",
                          {"binary", "twos-complement"},
                          "the coding pin: offset binary or two's complement",
                          ReadPin<Pin::BinaryCoding>,
                          SetPin<Pin::BinaryCoding>};
const BoardSwitch kDriveD0{"driveD0",
                           "pins",
                           {},
                           "the level the board drives onto D0 while it is an input",
                           ReadPin<Pin::DriveD0>,
                           SetPin<Pin::DriveD0>};
const BoardSwitch kDriveD1{"driveD1",
                           "pins",
                           {},
                           "the level the board drives onto D1 while it is an input",
                           ReadPin<Pin::DriveD1>,
                           SetPin<Pin::DriveD1>};
const BoardSwitch kPulse{"pulseAfterDataWrite",
                         "",
                         {},
                         "each data write pulses LDAC (and holds the pin high)",
                         [](const Instrument& in) { return in.PulseAfterDataWrite(); },
                         [](Instrument& in, bool on) { in.SetPulseAfterDataWrite(on); }};
const BoardSwitch kLocalGroundOffset{"localGroundOffset",
                                     "function",
                                     {},
                                     "the local ground offset adjust bit",
                                     ReadFlag<FunctionFlag::LocalGndOffset>,
                                     SetFlag<FunctionFlag::LocalGndOffset>};
// The board's side of the line first, then the converter's direction bit.
const BoardSwitch kD1Output{"d1Output",
                            "function",
                            {},
                            "D1 is an output of the converter",
                            ReadFlag<FunctionFlag::D1Output>,
                            [](Instrument& in, bool output) { in.SetD1Output(output); }};
const BoardSwitch kD1High{"d1High",
                          "function",
                          {},
                          "the level the converter drives onto D1",
                          ReadFlag<FunctionFlag::D1High>,
                          SetFlag<FunctionFlag::D1High>};
const BoardSwitch kD0Output{"d0Output",
                            "function",
                            {},
                            "D0 is an output of the converter",
                            ReadFlag<FunctionFlag::D0Output>,
                            [](Instrument& in, bool output) { in.SetD0Output(output); }};
const BoardSwitch kD0High{"d0High",
                          "function",
                          {},
                          "the level the converter drives onto D0",
                          ReadFlag<FunctionFlag::D0High>,
                          SetFlag<FunctionFlag::D0High>};
const BoardSwitch kSerialOutputDisabled{"serialOutputDisabled",
                                        "function",
                                        {},
                                        "the converter's serial data output is disabled",
                                        ReadFlag<FunctionFlag::SdoDisable>,
                                        SetFlag<FunctionFlag::SdoDisable>};

std::span<const BoardSwitch* const> BoardSwitches() {
    static constexpr std::array<const BoardSwitch*, 13> kAll{&kLdac,
                                                             &kClr,
                                                             &kRstin,
                                                             &kCoding,
                                                             &kDriveD0,
                                                             &kDriveD1,
                                                             &kPulse,
                                                             &kLocalGroundOffset,
                                                             &kD1Output,
                                                             &kD1High,
                                                             &kD0Output,
                                                             &kD0High,
                                                             &kSerialOutputDisabled};
    return kAll;
}

}  // namespace settings

SettingBounds PresentBounds(Instrument& in, const ChannelSetting& setting, int16_t channel) {
    BoundsBasis basis{in.Coding()};
    if (setting.follows & kFollowsRange)
        basis.fullScale = in.ChannelRangeVolts(channel);
    return setting.bounds(basis);
}

SettingBounds BoundsOn(const ChannelSetting& setting, int16_t resolution) {
    const ConverterCoding coding(resolution, true);
    return setting.bounds({coding, coding.Profile().WidestFullScale()});
}

SettingBounds WidestBounds(const ChannelSetting& setting) {
    SettingBounds widest = BoundsOn(setting, kProfiles.front().resolution);
    for (const ConverterProfile& p : kProfiles) {
        const SettingBounds b = BoundsOn(setting, p.resolution);
        widest.min = std::min(widest.min, b.min);
        widest.max = std::max(widest.max, b.max);
    }
    return widest;
}

std::optional<int32_t> RangeCodeNear(double volts) {
    for (const RangeEntry& range : kRanges)
        if (std::fabs(volts - range.volts) <= 0.001)
            return range.code;
    return std::nullopt;
}

namespace {

// A number as the description writes it: whole numbers as integers, a single-precision value as
// the decimal it stands for (10.2564, not 10.256400108...).
JsonDocument Number(double value) {
    if (std::trunc(value) == value && std::fabs(value) < 1e15)
        return static_cast<int64_t>(value);
    if (static_cast<double>(static_cast<float>(value)) == value)
        return Nominal(static_cast<float>(value));
    return value;
}

JsonDocument Follows(unsigned follows) {
    JsonDocument list = JsonDocument::array();
    if (follows & kFollowsResolution)
        list.push_back("resolution");
    if (follows & kFollowsCoding)
        list.push_back("coding");
    if (follows & kFollowsRange)
        list.push_back("range");
    return list;
}

JsonDocument Describe(Instrument& in, const PublishedSetting& p) {
    JsonDocument entry = JsonDocument::object();
    if (p.board) {
        entry["name"] = std::string(p.board->name);
        entry["header"] = p.header;
        if (p.words[0].empty()) {
            entry["type"] = "switch";
        } else {
            entry["type"] = "choice";
            entry["values"] = {std::string(p.words[0]), std::string(p.words[1])};
        }
        if (p.inverted)
            entry["inverted"] = true;
        entry["about"] = std::string(p.board->about);
        return entry;
    }
    const ChannelSetting& s = *p.number;
    entry["name"] = std::string(s.name);
    entry["header"] = p.header;
    entry["type"] = s.whole ? "whole" : "number";
    entry["unit"] = std::string(s.unit);
    if (&s == &settings::kRange) {
        JsonDocument values = JsonDocument::array();
        for (const RangeEntry& range : in.Profile().ranges)
            values.push_back(Number(range.volts));
        entry["values"] = std::move(values);
    }
    JsonDocument mins = JsonDocument::array();
    JsonDocument maxes = JsonDocument::array();
    std::optional<double> def;
    for (int16_t ch = 0; ch < in.Profile().channels; ++ch) {
        const SettingBounds b = PresentBounds(in, s, ch);
        mins.push_back(Number(b.min));
        maxes.push_back(Number(b.max));
        def = b.def;
    }
    entry["min"] = std::move(mins);
    entry["max"] = std::move(maxes);
    if (def)
        entry["default"] = Number(*def);
    if (s.mayBeNone)
        entry["none"] = true;
    if (s.follows)
        entry["follows"] = Follows(s.follows);
    entry["about"] = std::string(s.about);
    return entry;
}

}  // namespace

std::string DescriptionJson(Instrument& in, std::span<const PublishedSetting> published) {
    const ConverterProfile& profile = in.Profile();
    JsonDocument root = JsonDocument::object();
    root["model"] = std::string(profile.model);
    root["resolution"] = profile.resolution;
    root["channels"] = profile.channels;
    JsonDocument devices = JsonDocument::array();
    for (const ConverterProfile& p : kProfiles)
        devices.push_back({{"model", std::string(p.model)}, {"resolution", p.resolution}});
    root["devices"] = std::move(devices);
    JsonDocument list = JsonDocument::array();
    for (const PublishedSetting& p : published)
        list.push_back(Describe(in, p));
    root["settings"] = std::move(list);
    return WriteJsonText(root, 0);
}

}  // namespace tq
