#pragma once
// The board's settings, each described once: the numbers of every channel (its voltage and
// range, the data code, fine gain and offset, its limits and ramp) and the on/off settings of the
// board (its pins, the coding, the pulse, the function register's bits), with the name, unit,
// present bounds (from the device's profile and, for a voltage, the channel's range) and how
// each is read and set. The protocol's rows, the setup file's keys and checks and the published
// description (DescriptionJson, which clients read to make their own checks) are made from it,
// so no bound is written twice.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/ConverterCoding.h"

namespace tq {

class Instrument;

// What a setting's bounds are worked out from.
struct BoundsBasis {
    ConverterCoding coding;  // the device in use and the board's coding
    float fullScale = 0;     // the channel's range, for the settings that follow it
};

// The ends a setting takes, and what DEFault stands for (none: it has no default). MINimum and
// MAXimum stand for `min` and `max`.
struct SettingBounds {
    double min = 0;
    double max = 0;
    std::optional<double> def;
};

// What a setting's bounds change with: a client that keeps a copy asks again after one of these
// changed (another client may change them).
enum SettingFollows : unsigned {
    kFollowsResolution = 1u << 0,
    kFollowsCoding = 1u << 1,
    kFollowsRange = 1u << 2,
};

// A number of each channel: volts, seconds, a data code or register steps. A value of nothing
// is "none", for the settings that may be unset (a limit, the ramp step; DEFault is none there).
struct ChannelSetting {
    std::string_view name;  // in the description and, where setups carry it, a setup's key
    std::string_view unit;  // "V", "s", or "" for codes and register steps
    bool whole;             // whole numbers only
    bool mayBeNone;
    unsigned follows;  // SettingFollows
    std::string_view about;
    SettingBounds (*bounds)(const BoundsBasis& basis);
    // The value: read back (with the serial output enabled for the read) or as the program keeps
    // it. Throws the instrument's errors.
    std::optional<double> (*read)(Instrument& in, int16_t channel);
    // Sets it on a channel, or on ALL DACs where the setting is a register. A value beyond its
    // bounds is a ValueRangeError and nothing is sent.
    void (*set)(Instrument& in, int16_t address, std::optional<double> value);
};

// An on/off setting of the board.
struct BoardSwitch {
    std::string_view name;   // in the description and as a setup's key
    std::string_view group;  // where a setup keeps it: "pins", "function", or "" at the top
    // How setups name on and off when they are words rather than true and false.
    std::array<std::string_view, 2> words;
    std::string_view about;
    bool (*read)(const Instrument& in);
    void (*set)(Instrument& in, bool on);
};

namespace settings {

extern const ChannelSetting kVoltage;
extern const ChannelSetting kRange;       // the full scale; 0.001 V from one of the ranges counts
extern const ChannelSetting kCoarseGain;  // the register code behind the range (setups)
extern const ChannelSetting kData;
extern const ChannelSetting kFineGain;
extern const ChannelSetting kOffset;
extern const ChannelSetting kLimitLow;
extern const ChannelSetting kLimitHigh;
extern const ChannelSetting kRampStep;  // 0 is no ramp
extern const ChannelSetting kRampWait;

extern const BoardSwitch kLdac;
extern const BoardSwitch kClr;
extern const BoardSwitch kRstin;
extern const BoardSwitch kCoding;  // on: offset binary
extern const BoardSwitch kDriveD0;
extern const BoardSwitch kDriveD1;
extern const BoardSwitch kPulse;
extern const BoardSwitch kLocalGroundOffset;
extern const BoardSwitch kD1Output;
extern const BoardSwitch kD1High;
extern const BoardSwitch kD0Output;
extern const BoardSwitch kD0High;
extern const BoardSwitch kSerialOutputDisabled;

// Every board switch, in the order setups write them.
std::span<const BoardSwitch* const> BoardSwitches();

}  // namespace settings

// The bounds `setting` has now on `channel` (ALL DACs: DAC A's).
SettingBounds PresentBounds(Instrument& in, const ChannelSetting& setting, int16_t channel);
// The bounds it has on the device of `resolution` (a setting that follows the range: its widest).
SettingBounds BoundsOn(const ChannelSetting& setting, int16_t resolution);
// The widest bounds it has on any device: what a setup file may hold before it is checked
// against the device in use.
SettingBounds WidestBounds(const ChannelSetting& setting);

// The coarse gain code of the range whose full scale lies within 0.001 V of `volts`, or nothing.
std::optional<int32_t> RangeCodeNear(double volts);

// A setting as a client reaches it: the header of the protocol's row (or of another surface) and,
// where the surface names on and off by words, those words.
struct PublishedSetting {
    const ChannelSetting* number = nullptr;
    const BoardSwitch* board = nullptr;
    std::string header{};
    std::array<std::string_view, 2> words{};  // the answers for on and off, or none
    bool inverted = false;                    // on is the switch off ("ON: the output enabled")
};

// The description as one line of JSON: the device in use, the devices the program knows, and
// for each published setting its name, header, type, unit and present bounds (per channel for a
// channel's setting). docs/scpi.md describes it (SYSTem:DESCription?).
std::string DescriptionJson(Instrument& in, std::span<const PublishedSetting> published);

}  // namespace tq
