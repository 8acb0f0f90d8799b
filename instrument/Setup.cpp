#include "instrument/Setup.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/ConverterCoding.h"
#include "core/Fields.h"
#include "core/Tables.h"
#include "core/Version.h"
#include "instrument/Description.h"
#include "instrument/JsonText.h"

namespace tq {
namespace {

constexpr std::array<const char*, kChannelCount> kChannelKeys{"A", "B", "C", "D"};

// The board's on/off settings as a setup holds them: the description's key and group (and its
// words, for the coding), and the Setup's member. In the description's order, which is the
// order of the file.
struct BoolEntry {
    const BoardSwitch& setting;
    std::optional<bool> Setup::*member;
};
const BoolEntry kBoolEntries[] = {
    {settings::kLdac, &Setup::ldac},
    {settings::kClr, &Setup::clr},
    {settings::kRstin, &Setup::rstin},
    {settings::kCoding, &Setup::binaryCoding},
    {settings::kDriveD0, &Setup::driveD0},
    {settings::kDriveD1, &Setup::driveD1},
    {settings::kPulse, &Setup::pulseAfterDataWrite},
    {settings::kLocalGroundOffset, &Setup::localGroundOffset},
    {settings::kD1Output, &Setup::d1Output},
    {settings::kD1High, &Setup::d1High},
    {settings::kD0Output, &Setup::d0Output},
    {settings::kD0High, &Setup::d0High},
    {settings::kSerialOutputDisabled, &Setup::serialOutputDisabled},
};

// Each channel's registers as a setup holds them: the description's setting (its key and
// bounds) and the ChannelSetup's member.
struct ChannelField {
    const ChannelSetting& setting;
    std::optional<int32_t> ChannelSetup::*member;
};
const ChannelField kChannelFields[] = {
    {settings::kData, &ChannelSetup::data},
    {settings::kCoarseGain, &ChannelSetup::coarseGain},
    {settings::kFineGain, &ChannelSetup::fineGain},
    {settings::kOffset, &ChannelSetup::offset},
};

std::string Key(std::string_view key) {
    return std::string(key);
}

// The keys of a group, as the file may hold them.
std::vector<std::string> KeysOf(std::string_view group) {
    std::vector<std::string> keys;
    for (const BoolEntry& e : kBoolEntries)
        if (e.setting.group == group)
            keys.push_back(Key(e.setting.name));
    return keys;
}

// A register's bounds as whole numbers, as a setup's message writes them.
struct Limits {
    int64_t low;
    int64_t high;
};

Limits LimitsOf(const SettingBounds& bounds) {
    return {static_cast<int64_t>(bounds.min), static_cast<int64_t>(bounds.max)};
}

[[noreturn]] void Refuse(const std::string& key, const std::string& why) {
    throw SetupError(key + ": " + why);
}

// The member with this key, or null when there is none.
const JsonDocument* Find(const JsonDocument& object, std::string_view key) {
    if (!object.is_object())
        return nullptr;
    for (auto it = object.begin(); it != object.end(); ++it)
        if (it.key() == key)
            return &it.value();
    return nullptr;
}

// Every key of `object` must be one of `known`; the first in the file that is not is named.
void OnlyKnownKeys(const JsonDocument& object, const std::string& where,
                   const std::vector<std::string>& known) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool found = false;
        for (const auto& k : known)
            found = found || k == it.key();
        if (!found)
            Refuse(where + it.key(), "not a key of a setup");
    }
}

const JsonDocument* Group(const JsonDocument& root, const std::string& name) {
    const JsonDocument* group = Find(root, name);
    if (group && !group->is_object())
        Refuse(name, "an object { ... } expected");
    return group;
}

// Each channel object A..D that `group` (named `name`, ending in '.') holds, checked to be an
// object: each(channel index, the object, its key in the file).
template <typename Each>
void ForEachChannel(const JsonDocument& group, const std::string& name, Each&& each) {
    OnlyKnownKeys(group, name, {"A", "B", "C", "D"});
    for (std::size_t ch = 0; ch < kChannelKeys.size(); ++ch) {
        const JsonDocument* channel = Find(group, kChannelKeys[ch]);
        if (!channel)
            continue;
        const std::string where = name + kChannelKeys[ch];
        if (!channel->is_object())
            Refuse(where, "an object { ... } expected");
        each(ch, *channel, where);
    }
}

bool BoolOf(const JsonDocument* value, const std::string& key) {
    if (!value->is_boolean())
        Refuse(key, "true or false expected");
    return value->get<bool>();
}

// The whole number a value holds (the reader keeps every number as int64).
bool IsInt(const JsonDocument* value) {
    return value->is_number_integer();
}
int64_t Int(const JsonDocument* value) {
    return value->get<int64_t>();
}

}  // namespace

namespace {

// The protection's keys: whole microvolts and milliseconds, as the format has no fractions.
struct LimitField {
    const char* key;
    double scale;  // the key's unit in volts or seconds
};
constexpr LimitField kLimitFields[] = {
    {"lowMicrovolts", 1e-6},
    {"highMicrovolts", 1e-6},
    {"rampStepMicrovolts", 1e-6},
    {"rampWaitMilliseconds", 1e-3},
};

struct OptionField {
    const char* key;
    bool ProtectionOptions::*member;
};
constexpr OptionField kOptionFields[] = {
    {"safeOnExit", &ProtectionOptions::safeOnExit},
    {"safeOnLastClient", &ProtectionOptions::safeOnLastClient},
    {"safeOnBoardBack", &ProtectionOptions::safeOnBoardBack},
};

std::optional<double>* LimitMember(ChannelLimits& limits, std::size_t field) {
    switch (field) {
        case 0:
            return &limits.low;
        case 1:
            return &limits.high;
        case 2:
            return &limits.rampStep;
        default:
            return nullptr;
    }
}

int64_t WholeUnits(double value, double scale) {
    return static_cast<int64_t>(std::llround(value / scale));
}

JsonDocument ProtectionToJson(const SetupProtection& protection) {
    JsonDocument object = JsonDocument::object();
    for (const OptionField& e : kOptionFields)
        object[e.key] = protection.options.*e.member;
    JsonDocument limits = JsonDocument::object();
    for (std::size_t ch = 0; ch < protection.limits.size(); ++ch) {
        ChannelLimits channel = protection.limits[ch];
        if (!channel.Active())
            continue;
        JsonDocument fields = JsonDocument::object();
        for (std::size_t f = 0; f < std::size(kLimitFields); ++f) {
            const LimitField& e = kLimitFields[f];
            if (std::optional<double>* member = LimitMember(channel, f)) {
                if (*member)
                    fields[e.key] = WholeUnits(**member, e.scale);
            } else if (channel.rampStep) {
                fields[e.key] = WholeUnits(channel.rampWaitSeconds, e.scale);
            }
        }
        limits[kChannelKeys[ch]] = std::move(fields);
    }
    object["limits"] = std::move(limits);
    return object;
}

SetupProtection ProtectionFromJson(const JsonDocument& object) {
    OnlyKnownKeys(object, "protection.",
                  {"safeOnExit", "safeOnLastClient", "safeOnBoardBack", "limits"});
    SetupProtection protection;
    for (const OptionField& e : kOptionFields)
        if (const JsonDocument* value = Find(object, e.key))
            protection.options.*e.member = BoolOf(value, std::string("protection.") + e.key);
    const JsonDocument* limits = Find(object, "limits");
    if (!limits)
        return protection;
    if (!limits->is_object())
        Refuse("protection.limits", "an object { ... } expected");
    ForEachChannel(
        *limits, "protection.limits.",
        [&](std::size_t ch, const JsonDocument& channel, const std::string& where) {
            OnlyKnownKeys(
                channel, where + ".",
                {"lowMicrovolts", "highMicrovolts", "rampStepMicrovolts", "rampWaitMilliseconds"});
            ChannelLimits& c = protection.limits[ch];
            for (std::size_t f = 0; f < std::size(kLimitFields); ++f) {
                const LimitField& e = kLimitFields[f];
                const JsonDocument* value = Find(channel, e.key);
                if (!value)
                    continue;
                // Beyond any output or wait: CheckChannelLimits says what the bounds are.
                if (!IsInt(value) || Int(value) < -100'000'000 || Int(value) > 100'000'000)
                    Refuse(where + "." + e.key, "a whole number expected");
                const double amount = static_cast<double>(Int(value)) * e.scale;
                if (std::optional<double>* member = LimitMember(c, f))
                    *member = amount;
                else
                    c.rampWaitSeconds = amount;
            }
            try {
                CheckChannelLimits(static_cast<int16_t>(ch), c);
            } catch (const ValueRangeError& e) {
                Refuse(where, e.what());
            }
        });
    return protection;
}

// --- the Waveform Generator's definition ---
// Whole numbers only, as everywhere in a setup: volts in microvolts, codes as codes, the dwell in
// microseconds.

constexpr int64_t kMostMicrovolts = 100'000'000;  // beyond any range: the run checks the range
constexpr int64_t kMostCodes = 1'000'000;
constexpr int64_t kMostDwellMicroseconds = 3'600'000'000;

const char* ShapeName(WaveShape shape) {
    for (const WaveShapeEntry& entry : kWaveShapes)
        if (entry.shape == shape)
            return entry.name;
    return "Staircase";
}

int64_t WholeOf(const JsonDocument* value, const std::string& key, int64_t low, int64_t high) {
    if (!IsInt(value) || Int(value) < low || Int(value) > high)
        Refuse(key, "a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                        " expected");
    return Int(value);
}

JsonDocument WaveformToJson(const WaveformDefinition& d) {
    JsonDocument object = JsonDocument::object();
    if (d.dwellMilliseconds)
        object["dwellMicroseconds"] = std::clamp<int64_t>(
            std::llround(*d.dwellMilliseconds * 1000.0), 0, kMostDwellMicroseconds);
    object["asFastAsTheLinkAllows"] = d.asFastAsTheLinkAllows;
    if (d.periods)
        object["periods"] = *d.periods;
    object["continuous"] = d.continuous;
    JsonDocument channels = JsonDocument::object();
    for (std::size_t ch = 0; ch < d.channels.size(); ++ch) {
        const WaveformChannelDefinition& c = d.channels[ch];
        const double scale = c.codes ? 1.0 : 1e6;
        const int64_t most = c.codes ? kMostCodes : kMostMicrovolts;
        const std::string unit = c.codes ? "Codes" : "Microvolts";
        const auto whole = [&](double value) {
            return std::clamp<int64_t>(std::llround(value * scale), -most, most);
        };
        JsonDocument channel = JsonDocument::object();
        channel["on"] = c.on;
        channel["shape"] = ShapeName(c.shape);
        channel["units"] = c.codes ? "codes" : "volts";
        if (c.amplitude)
            channel["amplitude" + unit] = whole(*c.amplitude);
        if (c.offset)
            channel["offset" + unit] = whole(*c.offset);
        if (c.points)
            channel["points"] = *c.points;
        if (c.list) {
            JsonDocument list = JsonDocument::array();
            for (const double value : *c.list)
                list.push_back(whole(value));
            channel["list" + unit] = std::move(list);
        }
        channels[kChannelKeys[ch]] = std::move(channel);
    }
    object["channels"] = std::move(channels);
    return object;
}

WaveformDefinition WaveformFromJson(const JsonDocument& object) {
    OnlyKnownKeys(
        object, "waveform.",
        {"dwellMicroseconds", "asFastAsTheLinkAllows", "periods", "continuous", "channels"});
    WaveformDefinition d;
    if (const JsonDocument* dwell = Find(object, "dwellMicroseconds"))
        d.dwellMilliseconds = static_cast<double>(WholeOf(dwell, "waveform.dwellMicroseconds", 0,
                                                          kMostDwellMicroseconds)) /
                              1000.0;
    if (const JsonDocument* fast = Find(object, "asFastAsTheLinkAllows"))
        d.asFastAsTheLinkAllows = BoolOf(fast, "waveform.asFastAsTheLinkAllows");
    if (const JsonDocument* periods = Find(object, "periods"))
        d.periods = WholeOf(periods, "waveform.periods", 1, 1'000'000'000);
    if (const JsonDocument* continuous = Find(object, "continuous"))
        d.continuous = BoolOf(continuous, "waveform.continuous");
    const JsonDocument* channels = Find(object, "channels");
    if (!channels)
        return d;
    if (!channels->is_object())
        Refuse("waveform.channels", "an object { ... } expected");
    ForEachChannel(
        *channels, "waveform.channels.",
        [&](std::size_t ch, const JsonDocument& object, const std::string& where) {
            const JsonDocument* channel = &object;
            WaveformChannelDefinition& c = d.channels[ch];
            if (const JsonDocument* units = Find(*channel, "units")) {
                if (!units->is_string() || (units->get_ref<const std::string&>() != "volts" &&
                                            units->get_ref<const std::string&>() != "codes"))
                    Refuse(where + ".units", "\"volts\" or \"codes\" expected");
                c.codes = units->get_ref<const std::string&>() == "codes";
            }
            const std::string unit = c.codes ? "Codes" : "Microvolts";
            // Divided, so that 10526300 microvolts read back as the 10.5263 V that was written.
            const double perUnit = c.codes ? 1.0 : 1e6;
            const int64_t most = c.codes ? kMostCodes : kMostMicrovolts;
            OnlyKnownKeys(*channel, where + ".",
                          {"on", "shape", "units", "amplitude" + unit, "offset" + unit, "points",
                           "list" + unit});
            if (const JsonDocument* on = Find(*channel, "on"))
                c.on = BoolOf(on, where + ".on");
            if (const JsonDocument* shape = Find(*channel, "shape")) {
                bool known = false;
                for (const WaveShapeEntry& entry : kWaveShapes)
                    if (shape->is_string() && shape->get_ref<const std::string&>() == entry.name) {
                        c.shape = entry.shape;
                        known = true;
                    }
                if (!known)
                    Refuse(where + ".shape",
                           "\"List\", \"Staircase\", \"Ramp\", \"Triangle\", \"Sine\" or "
                           "\"Square\" expected");
            }
            const auto value = [&](const std::string& key) -> std::optional<double> {
                if (const JsonDocument* v = Find(*channel, key))
                    return static_cast<double>(WholeOf(v, where + "." + key, -most, most)) /
                           perUnit;
                return std::nullopt;
            };
            c.amplitude = value("amplitude" + unit);
            c.offset = value("offset" + unit);
            if (const JsonDocument* points = Find(*channel, "points"))
                c.points =
                    static_cast<int32_t>(WholeOf(points, where + ".points", 1, kMaxWavePoints));
            if (const JsonDocument* list = Find(*channel, "list" + unit)) {
                const std::string key = where + ".list" + unit;
                if (!list->is_array() || list->empty() || list->size() > kMaxWavePoints)
                    Refuse(key, "a list [ ... ] of 1 to " + std::to_string(kMaxWavePoints) +
                                    " whole numbers expected");
                c.list.emplace();
                for (const JsonDocument& v : *list)
                    c.list->push_back(static_cast<double>(WholeOf(&v, key, -most, most)) / perUnit);
            }
        });
    return d;
}

// The converter as the setup will leave it, from what the program knows of it now.
ConverterModel PlannedModel(Instrument& in, const Setup& setup, bool anyData) {
    ConverterModel m = in.KnownModel(true);
    const bool ldacFalls = setup.ldac && !*setup.ldac && m.ldacHigh;
    m.ldacHigh = setup.ldac.value_or(m.ldacHigh);
    m.rstinHigh = setup.rstin.value_or(m.rstinHigh);
    m.binaryCoding = setup.binaryCoding.value_or(m.binaryCoding);
    m.clrHigh = setup.clr.value_or(m.clrHigh);
    const ConverterCoding coding(in.Resolution());
    for (std::size_t ch = 0; ch < setup.channels.size(); ++ch) {
        const ChannelSetup& c = setup.channels[ch];
        ChannelRegisters& r = m.channels[ch];
        if (c.coarseGain)
            r.coarse = *c.coarseGain & 3;
        if (c.fineGain)
            r.fine = FieldCode(*c.fineGain, coding.Profile().fineGain.bits);
        if (c.offset)
            r.offset = coding.OffsetRegisterOfSteps(*c.offset);
        if (c.data)
            r.input = coding.FrameOfCode(*c.data);
    }
    if (anyData || ldacFalls)
        m.Load();
    return m;
}

}  // namespace

Setup CaptureSetup(Instrument& instrument) {
    Setup setup;
    setup.program = std::string("tq2604x-eval ") + kProgramVersion;
    setup.device = instrument.Resolution();
    setup.board = instrument.Identity().serial;
    for (const BoolEntry& e : kBoolEntries)
        setup.*e.member = e.setting.read(instrument);
    // The protection travels when it is used; a setup without it leaves the limits as they are.
    SetupProtection protection;
    for (int16_t ch = 0; ch < kChannelCount; ++ch)
        protection.limits[static_cast<std::size_t>(ch)] = instrument.Limits(ch);
    protection.options = instrument.ProtectionOptionsInEffect();
    if (instrument.LimitsActive() || protection.options != ProtectionOptions{})
        setup.protection = protection;
    instrument.WithSerialOutput([&] {
        for (int16_t ch = 0; ch < kChannelCount; ++ch) {
            ChannelSetup& c = setup.channels[static_cast<std::size_t>(ch)];
            for (const ChannelField& e : kChannelFields)
                c.*e.member = static_cast<int32_t>(*e.setting.read(instrument, ch));
        }
        return 0;
    });
    return setup;
}

Setup CalibrationPart(const Setup& setup) {
    Setup part;
    part.program = setup.program;
    part.device = setup.device;
    part.board = setup.board;
    for (std::size_t ch = 0; ch < part.channels.size(); ++ch) {
        part.channels[ch].fineGain = setup.channels[ch].fineGain;
        part.channels[ch].offset = setup.channels[ch].offset;
    }
    return part;
}

std::string SetupToJson(const Setup& setup, int indent) {
    JsonDocument root = JsonDocument::object();
    root["format"] = kSetupFormat;
    if (!setup.program.empty())
        root["program"] = setup.program;
    if (setup.device)
        root["device"] = static_cast<int>(*setup.device);
    if (!setup.board.empty())
        root["board"] = setup.board;
    JsonDocument pins = JsonDocument::object();
    JsonDocument function = JsonDocument::object();
    for (const BoolEntry& e : kBoolEntries) {
        const std::optional<bool>& value = setup.*e.member;
        if (!value)
            continue;
        const std::string_view group = e.setting.group;
        JsonDocument& holder = group == "pins" ? pins : group == "function" ? function : root;
        // The coding is a word rather than a flag.
        const auto& words = e.setting.words;
        if (words[0].empty())
            holder[Key(e.setting.name)] = *value;
        else
            holder[Key(e.setting.name)] = Key(words[*value ? 0 : 1]);
    }
    if (!pins.empty())
        root["pins"] = std::move(pins);
    if (!function.empty())
        root["function"] = std::move(function);
    JsonDocument channels = JsonDocument::object();
    for (std::size_t ch = 0; ch < setup.channels.size(); ++ch) {
        JsonDocument channel = JsonDocument::object();
        for (const ChannelField& e : kChannelFields)
            if (const auto& value = setup.channels[ch].*e.member)
                channel[Key(e.setting.name)] = static_cast<int64_t>(*value);
        if (!channel.empty())
            channels[kChannelKeys[ch]] = std::move(channel);
    }
    if (!channels.empty())
        root["channels"] = std::move(channels);
    if (setup.protection)
        root["protection"] = ProtectionToJson(*setup.protection);
    if (setup.waveform)
        root["waveform"] = WaveformToJson(*setup.waveform);
    return WriteJsonText(root, indent);
}

std::string WaveformDefinitionToJson(const WaveformDefinition& definition) {
    return WriteJsonText(WaveformToJson(definition), 0);
}

WaveformDefinition WaveformDefinitionFromJson(std::string_view text) {
    JsonDocument root;
    try {
        root = ReadJsonText(text);
    } catch (const JsonTextError& e) {
        throw SetupError(std::string("not a waveform definition (JSON): ") + e.what());
    }
    if (!root.is_object())
        Refuse("waveform", "an object { ... } expected");
    return WaveformFromJson(root);
}

namespace {

// The document of a setup, of a format this program reads, holding no key it does not know.
JsonDocument ReadSetupDocument(std::string_view text) {
    JsonDocument root;
    try {
        root = ReadJsonText(text);
    } catch (const JsonTextError& e) {
        throw SetupError(std::string("not a setup (JSON): ") + e.what());
    }
    if (!root.is_object())
        throw SetupError("not a setup: the file must hold one JSON object { ... }");
    std::vector<std::string> topKeys{"format",   "program",  "device",     "board",   "pins",
                                     "function", "channels", "protection", "waveform"};
    for (const std::string& key : KeysOf(""))
        topKeys.push_back(key);
    OnlyKnownKeys(root, "", topKeys);
    const JsonDocument* format = Find(root, "format");
    if (!format || !IsInt(format))
        Refuse("format", "missing: a setup says \"format\": 1");
    if (Int(format) > kSetupFormat)
        Refuse("format", std::to_string(Int(format)) +
                             " is newer than this program reads (1): open it with a newer "
                             "tq2604x-eval");
    if (Int(format) < 1)
        Refuse("format", std::to_string(Int(format)) + " is not a setup format");
    return root;
}

// Which program wrote the setup, for which device and board.
void ReadSetupOrigin(const JsonDocument& root, Setup& setup) {
    if (const JsonDocument* program = Find(root, "program")) {
        if (!program->is_string())
            Refuse("program", "a string expected");
        setup.program = program->get_ref<const std::string&>();
    }
    if (const JsonDocument* device = Find(root, "device")) {
        if (!IsInt(device) ||
            !FindProfile(static_cast<int>(std::clamp<int64_t>(
                Int(device), std::numeric_limits<int>::min(), std::numeric_limits<int>::max()))))
            Refuse("device", ResolutionsText() + " expected");
        setup.device = static_cast<int16_t>(Int(device));
    }
    if (const JsonDocument* board = Find(root, "board")) {
        if (!board->is_string())
            Refuse("board", "a string expected");
        setup.board = board->get_ref<const std::string&>();
    }
}

// The pins, the function register's flags and the program's own switches.
void ReadSetupFlags(const JsonDocument& root, Setup& setup) {
    const JsonDocument* pins = Group(root, "pins");
    const JsonDocument* function = Group(root, "function");
    if (pins)
        OnlyKnownKeys(*pins, "pins.", KeysOf("pins"));
    if (function)
        OnlyKnownKeys(*function, "function.", KeysOf("function"));
    for (const BoolEntry& e : kBoolEntries) {
        const std::string group = Key(e.setting.group);
        const JsonDocument* holder = group == "pins"       ? pins
                                     : group == "function" ? function
                                                           : &root;
        const JsonDocument* value = holder ? Find(*holder, e.setting.name) : nullptr;
        if (!value)
            continue;
        const std::string where = (group.empty() ? "" : group + ".") + Key(e.setting.name);
        const auto& words = e.setting.words;
        if (words[0].empty()) {
            if (!value->is_boolean())
                Refuse(where, "true or false expected");
            setup.*e.member = value->get<bool>();
            continue;
        }
        const std::string* word =
            value->is_string() ? &value->get_ref<const std::string&>() : nullptr;
        if (!word || (*word != words[0] && *word != words[1]))
            Refuse(where, "\"" + Key(words[0]) + "\" or \"" + Key(words[1]) + "\" expected");
        setup.*e.member = *word == words[0];
    }
}

// Each channel's registers, within the widest range of any device (CheckSetup narrows it to the
// device).
void ReadSetupChannels(const JsonDocument& channels, Setup& setup) {
    std::vector<std::string> fields;
    for (const ChannelField& e : kChannelFields)
        fields.push_back(Key(e.setting.name));
    ForEachChannel(channels, "channels.",
                   [&](std::size_t ch, const JsonDocument& channel, const std::string& where) {
                       OnlyKnownKeys(channel, where + ".", fields);
                       for (const ChannelField& e : kChannelFields) {
                           const JsonDocument* value = Find(channel, e.setting.name);
                           if (!value)
                               continue;
                           const Limits widest = LimitsOf(WidestBounds(e.setting));
                           if (!IsInt(value) || Int(value) < widest.low || Int(value) > widest.high)
                               Refuse(where + "." + Key(e.setting.name),
                                      "a whole number from " + std::to_string(widest.low) + " to " +
                                          std::to_string(widest.high) + " expected");
                           setup.channels[ch].*e.member = static_cast<int32_t>(Int(value));
                       }
                   });
}

}  // namespace

Setup SetupFromJson(std::string_view text) {
    const JsonDocument root = ReadSetupDocument(text);
    Setup setup;
    ReadSetupOrigin(root, setup);
    ReadSetupFlags(root, setup);
    if (const JsonDocument* channels = Group(root, "channels"))
        ReadSetupChannels(*channels, setup);
    if (const JsonDocument* protection = Group(root, "protection"))
        setup.protection = ProtectionFromJson(*protection);
    if (const JsonDocument* waveform = Group(root, "waveform"))
        setup.waveform = WaveformFromJson(*waveform);
    return setup;
}

void CheckSetup(const Setup& setup, const Instrument& instrument) {
    const int16_t resolution = instrument.Resolution();
    if (setup.device && *setup.device != resolution)
        Refuse("device", "the setup is for the " + std::to_string(*setup.device) +
                             "-bit device; this is the " + std::to_string(resolution) + "-bit one");
    for (std::size_t ch = 0; ch < setup.channels.size(); ++ch)
        for (const ChannelField& e : kChannelFields)
            if (const auto& value = setup.channels[ch].*e.member) {
                const Limits limits = LimitsOf(BoundsOn(e.setting, resolution));
                if (*value < limits.low || *value > limits.high)
                    Refuse(std::string("channels.") + kChannelKeys[ch] + "." + Key(e.setting.name),
                           std::to_string(*value) + " is outside " + std::to_string(limits.low) +
                               " to " + std::to_string(limits.high) + " on the " +
                               std::to_string(resolution) + "-bit device");
            }
}

bool FromAnotherBoard(const Setup& setup, const Instrument& instrument) {
    return !setup.board.empty() && setup.board != instrument.Identity().serial;
}

namespace {

// The setup's pins, function bits and registers, between the CLR hold and its release.
void WriteHeld(Instrument& in, const Setup& setup, bool anyData, bool rampAfterHold,
               bool pulseBefore) {
    // What the setup holds is written, also where the program believes the board has it already.
    const auto pin = [&](const std::optional<bool>& value, Pin p) {
        if (value)
            in.SetPin(p, *value);
    };
    // A setup's low LDAC goes out with the pulse off; the setup's own pulse setting comes last.
    if (setup.ldac && !*setup.ldac)
        in.SetPulseAfterDataWrite(false);
    pin(setup.ldac, Pin::Ldac);
    pin(setup.rstin, Pin::Rstin);
    pin(setup.binaryCoding, Pin::BinaryCoding);
    if (setup.d0Output)
        in.SetD0Output(*setup.d0Output);
    if (setup.d1Output)
        in.SetD1Output(*setup.d1Output);
    pin(setup.driveD0, Pin::DriveD0);
    pin(setup.driveD1, Pin::DriveD1);
    const std::pair<const std::optional<bool>&, FunctionFlag> flags[] = {
        {setup.localGroundOffset, FunctionFlag::LocalGndOffset},
        {setup.d1High, FunctionFlag::D1High},
        {setup.d0High, FunctionFlag::D0High},
        {setup.serialOutputDisabled, FunctionFlag::SdoDisable},
    };
    for (const auto& [value, flag] : flags)
        if (value)
            in.SetFunctionFlag(flag, *value);

    for (int16_t ch = 0; ch < kChannelCount; ++ch) {
        const ChannelSetup& c = setup.channels[static_cast<std::size_t>(ch)];
        if (c.coarseGain)
            in.WriteRegister(ch, kRegCoarseGain, *c.coarseGain);
        if (c.fineGain)
            in.SetFineGain(ch, *c.fineGain);
        if (c.offset)
            in.SetOffset(ch, *c.offset);
    }
    if (anyData) {
        // The data go to the input registers only; one LOAD moves all four outputs together.
        in.SetPulseAfterDataWrite(false);
        const ConverterCoding coding(in.Resolution(), in.PinValue(Pin::BinaryCoding));
        for (int16_t ch = 0; ch < kChannelCount; ++ch)
            if (const auto& code = setup.channels[static_cast<std::size_t>(ch)].data)
                in.WriteRegister(ch, kRegData,
                                 rampAfterHold ? coding.ZeroFrame() : coding.FrameOfCode(*code));
        in.LoadAllChannels();
    }
    in.SetPulseAfterDataWrite(setup.pulseAfterDataWrite.value_or(pulseBefore));
}

}  // namespace

void ApplySetup(Instrument& in, const Setup& setup) {
    bool anyData = false;
    bool holdsOutputs = setup.binaryCoding || setup.ldac || setup.rstin;
    for (const ChannelSetup& c : setup.channels) {
        anyData = anyData || c.data;
        holdsOutputs = holdsOutputs || c.data || c.coarseGain;
    }
    const auto anyActive = [](const std::array<ChannelLimits, kChannelCount>& limits) {
        return std::any_of(limits.begin(), limits.end(),
                           [](const ChannelLimits& l) { return l.Active(); });
    };
    if (in.LimitsActive() || (setup.protection && anyActive(setup.protection->limits)))
        in.CheckPlannedOutputs(PlannedModel(in, setup, anyData),
                               setup.protection ? &setup.protection->limits : nullptr);
    if (setup.protection) {
        for (int16_t ch = 0; ch < kChannelCount; ++ch)
            in.SetLimits(ch, setup.protection->limits[static_cast<std::size_t>(ch)]);
        in.SetProtectionOptions(setup.protection->options);
    }
    bool ramps = false;
    for (int16_t ch = 0; ch < kChannelCount; ++ch)
        ramps = ramps || in.Limits(ch).rampStep.has_value();
    // Under a ramp the outputs leave the hold at 0 V and ramp to the setup's codes.
    const bool rampAfterHold = ramps && anyData && holdsOutputs;

    // Holding CLR moves every output: a channel an activity drives refuses the whole setup first.
    for (int16_t ch = 0; ch < kChannelCount; ++ch) {
        const ChannelSetup& c = setup.channels[static_cast<std::size_t>(ch)];
        if (holdsOutputs || c.fineGain || c.offset)
            in.CheckMayWrite(ch, kRegData);
    }

    const bool clrBefore = in.PinValue(Pin::Clr);
    const bool pulseBefore = in.PulseAfterDataWrite();
    if (holdsOutputs)
        in.SetPin(Pin::Clr, false);
    try {
        WriteHeld(in, setup, anyData, rampAfterHold, pulseBefore);
    } catch (const InstrumentError&) {
        // The outputs are not left held at 0 V by a setup that stopped half-way.
        if (holdsOutputs)
            try {
                in.SetPin(Pin::Clr, clrBefore);
            } catch (const InstrumentError&) {
                // The first failure is the one to report.
            }
        throw;
    }

    if (holdsOutputs)
        in.SetPin(Pin::Clr, setup.clr.value_or(clrBefore));
    else if (setup.clr)
        in.SetPin(Pin::Clr, *setup.clr);
    if (rampAfterHold) {
        std::vector<std::pair<int16_t, int32_t>> codes;
        for (int16_t ch = 0; ch < kChannelCount; ++ch)
            if (const auto& code = setup.channels[static_cast<std::size_t>(ch)].data)
                codes.emplace_back(ch, *code);
        in.MoveChannelsTogether(codes);
    }
}

}  // namespace tq
