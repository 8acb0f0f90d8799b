#pragma once
// The converter's codes and the texts the windows show for them, as tables the code reads.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tq {

// Register select codes (REG2..REG0) with the register list texts, in list order.
struct RegisterEntry {
    int16_t code;
    std::string_view text;
};
inline constexpr int16_t kRegFunction = 0;
inline constexpr int16_t kRegData = 2;
inline constexpr int16_t kRegCoarseGain = 3;
inline constexpr int16_t kRegFineGain = 4;
inline constexpr int16_t kRegOffset = 5;
inline constexpr std::array<RegisterEntry, 5> kRegisters{{
    {kRegFunction, "Function Register"},
    {kRegData, "Data Register"},
    {kRegCoarseGain, "Coarse Gain Register"},
    {kRegFineGain, "Fine Gain Register"},
    {kRegOffset, "Offset Register"},
}};

// Channel address codes (A2..A0) with the channel list texts, in list order.
struct ChannelEntry {
    int16_t code;
    std::string_view text;
};
inline constexpr int16_t kAllChannels = 4;
inline constexpr std::array<ChannelEntry, 5> kChannels{{
    {0, "DAC A"},
    {1, "DAC B"},
    {2, "DAC C"},
    {3, "DAC D"},
    {kAllChannels, "ALL DACs"},
}};

// Addresses that select a function when the register select is 0.
inline constexpr int16_t kFnNoOperation = 0;
inline constexpr int16_t kFnControlBits = 1;
inline constexpr int16_t kFnClearAll = 4;
inline constexpr int16_t kFnLoadAll = 5;

// Function register control bits.
inline constexpr int32_t kBitLocalGndOffset = 0x20;
inline constexpr int32_t kBitD1Output = 0x10;
inline constexpr int32_t kBitD1High = 0x08;
inline constexpr int32_t kBitD0Output = 0x04;
inline constexpr int32_t kBitD0High = 0x02;
inline constexpr int32_t kBitSdoDisable = 0x01;
inline constexpr int32_t kFunctionBitsMask = 0x3F;

// The twelve read-modify-write operations of the function list.
struct FunctionBitOperation {
    std::string_view text;
    bool set;  // true: OR the mask in; false: clear it
    int32_t mask;
};
inline constexpr std::array<FunctionBitOperation, 12> kFunctionBitOperations{{
    {"Local Ground Offset Adjust Enable", true, kBitLocalGndOffset},
    {"Local Ground Offset Adjust Disable", false, kBitLocalGndOffset},
    {"Set D1 as Output", true, kBitD1Output},
    {"Set D1 as Input", false, kBitD1Output},
    {"Set D1", true, kBitD1High},
    {"Clear D1", false, kBitD1High},
    {"Set D0 as Output", true, kBitD0Output},
    {"Set D0 as Input", false, kBitD0Output},
    {"Set D0", true, kBitD0High},
    {"Clear D0", false, kBitD0High},
    {"Disable SDO Output", true, kBitSdoDisable},
    {"Enable SDO Output", false, kBitSdoDisable},
}};

inline constexpr std::string_view kNoOperationText = "No Operation";
inline constexpr std::string_view kClearAllText = "CLEAR All DAC Channels";
inline constexpr std::string_view kLoadAllText = "LOAD All DAC Channels";

// The function list's six state-dependent choices: for each control bit (5 down to 0), the
// text offered when the bit reads 1 and when it reads 0.
struct FunctionChoice {
    int32_t mask;
    std::string_view whenSet;
    std::string_view whenClear;
};
inline constexpr std::array<FunctionChoice, 6> kFunctionChoices{{
    {kBitLocalGndOffset, "Local Ground Offset Adjust Disable", "Local Ground Offset Adjust Enable"},
    {kBitD1Output, "Set D1 as Input", "Set D1 as Output"},
    {kBitD1High, "Set D1", "Clear D1"},
    {kBitD0Output, "Set D0 as Input", "Set D0 as Output"},
    {kBitD0High, "Set D0", "Clear D0"},
    {kBitSdoDisable, "Enable SDO Output", "Disable SDO Output"},
}};

// Output ranges by coarse gain code. Code 3 has no range and leaves the current one.
struct RangeEntry {
    int32_t code;
    float volts;
    std::string_view text;
};
inline constexpr std::array<RangeEntry, 3> kRanges{{
    {0, 10.0f, "Output Range = \u00b1 10 V"},
    {1, 10.2564f, "Output Range = \u00b1 10.2564 V"},
    {2, 10.5263f, "Output Range = \u00b1 10.5263 V"},
}};

inline constexpr std::optional<float> RangeVoltsForCode(int64_t code) {
    for (const auto& r : kRanges)
        if (r.code == code)
            return r.volts;
    return std::nullopt;
}

// The full scale an output has with this coarse gain code: code 3 acts as code 0.
inline constexpr float FullScaleOfCode(int64_t code) {
    return RangeVoltsForCode(code).value_or(kRanges.front().volts);
}

}  // namespace tq
