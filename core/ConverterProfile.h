#pragma once
// Each converter the program drives, as one row of data: its model name, resolution, channels,
// the fine gain's and the offset's register fields and the output ranges. Every rule that needs
// one of these facts (the instrument's checks, the setup reader, the protocol's bounds, the
// windows' entries and prompts, *IDN? and the LAN advertisement) reads it here, so that no bound
// is written twice and a new device is a new row.

#include <array>
#include <charconv>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/Fields.h"
#include "core/Tables.h"

namespace tq {

// Every device has four outputs, DAC A to D.
inline constexpr int16_t kChannelCount = 4;
// The coarse gain register holds a 2-bit code; 3 has no range of its own and acts as 0.
inline constexpr int kCoarseGainBits = 2;

// A register field of signed steps: its width in bits, how many steps make one unit that the
// windows show, and its place in the register (the value written is the field's code times
// `scale`: the 14-bit device's 3-bit offset sits in D7..D5).
struct SignedSteps {
    int bits;
    int stepsPerUnit;
    int32_t scale;

    constexpr int32_t Lowest() const { return -(int32_t{1} << (bits - 1)); }
    constexpr int32_t Highest() const { return (int32_t{1} << (bits - 1)) - 1; }
    // 2^bits: a negative step count's code is the count plus this.
    constexpr int32_t Span() const { return int32_t{1} << bits; }
    constexpr double LowestShown() const { return static_cast<double>(Lowest()) / stepsPerUnit; }
    constexpr double HighestShown() const { return static_cast<double>(Highest()) / stepsPerUnit; }
};

struct ConverterProfile {
    std::string_view model;  // as *IDN? and the LAN advertisement name it
    int16_t resolution;      // bits of a data code
    int16_t channels;
    SignedSteps fineGain;  // register steps of the gain trim
    SignedSteps offset;    // register steps of the offset trim
    std::span<const RangeEntry> ranges;

    // Codes 0 to TopCode().
    constexpr int32_t TopCode() const { return (int32_t{1} << resolution) - 1; }
    constexpr float NarrowestFullScale() const { return Extreme(false); }
    constexpr float WidestFullScale() const { return Extreme(true); }

private:
    constexpr float Extreme(bool widest) const {
        float found = ranges.front().volts;
        for (const RangeEntry& r : ranges)
            if (widest ? r.volts > found : r.volts < found)
                found = r.volts;
        return found;
    }
};

// The devices, the program's default first.
inline constexpr std::array<ConverterProfile, 2> kProfiles{{
    {"TQ2604X", 16, kChannelCount, {kFineGainBits, 1, 1}, {kOffsetBits, 8, 1}, kRanges},
    {"TQ2404", 14, kChannelCount, {kFineGainBits, 4, 1}, {3, 1, 32}, kRanges},
}};

// The device of this resolution, or null.
constexpr const ConverterProfile* FindProfile(int resolution) {
    for (const ConverterProfile& p : kProfiles)
        if (p.resolution == resolution)
            return &p;
    return nullptr;
}

// The device of this resolution; any other counts as the default device, as the program has
// always treated it.
// (No pointer is compared here: with the undefined-behaviour sanitizer GCC cannot evaluate a
// check of an element's address for null in a constant expression.)
constexpr const ConverterProfile& ProfileOf(int resolution) {
    for (const ConverterProfile& p : kProfiles)
        if (p.resolution == resolution)
            return p;
    return kProfiles.front();
}

// The decimal a single-precision value was written as, as a double: 10.2564f gives 10.2564. The
// ranges are decimals that their floats carry as closely as single precision can; a limit or an
// answer compares and prints the decimal.
inline double Nominal(float value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double nominal = value;
    std::from_chars(text, written.ptr, nominal);
    return nominal;
}

// The widest full scale of any device, as its decimal: no output lies beyond it.
inline double WidestOutput() {
    double widest = 0;
    for (const ConverterProfile& p : kProfiles)
        if (Nominal(p.WidestFullScale()) > widest)
            widest = Nominal(p.WidestFullScale());
    return widest;
}

// The resolutions as a person reads them: "16 or 14".
inline std::string ResolutionsText() {
    std::string text;
    for (std::size_t i = 0; i < kProfiles.size(); ++i)
        text += (i == 0                      ? ""
                 : i + 1 == kProfiles.size() ? " or "
                                             : ", ") +
                std::to_string(kProfiles[i].resolution);
    return text;
}

}  // namespace tq
