// Volts, gain and offset values to register codes and back, for both codings and both devices.

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/ConverterCoding.h"
#include "core/Encoding.h"

namespace tq::testing {
namespace {

constexpr float kRange10 = 10.0f;
constexpr float kRange10_2564 = 10.2564f;
constexpr float kRange10_5263 = 10.5263f;

struct VoltsRow {
    float typed;
    float shown;
    int32_t offsetBinary;
    int32_t twosComplement;
};

TEST(VoltsToCode, SixteenBitsAtTenVoltsInBothCodings) {
    const std::vector<VoltsRow> rows{
        {-12.0f, -10.0f, 0x0000, 0x8000}, {-10.0f, -10.0f, 0x0000, 0x8000},
        {-5.0f, -5.0f, 0x4000, 0xC000},   {-0.0001f, -0.0001f, 0x8000, 0xFFFF},
        {0.0f, 0.0f, 0x8000, 0x0000},     {2.5f, 2.5f, 0xA000, 0x2000},
        {5.0f, 5.0f, 0xC000, 0x4000},     {10.0f, 10.0f, 0xFFFF, 0x7FFF},
        {12.0f, 10.0f, 0xFFFF, 0x7FFF},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed);
        const auto binary = VoltsToCode(row.typed, 16, 1, kRange10);
        EXPECT_EQ(binary.volts, row.shown);
        EXPECT_EQ(binary.code, row.offsetBinary);
        const auto twos = VoltsToCode(row.typed, 16, 0, kRange10);
        EXPECT_EQ(twos.volts, row.shown);
        EXPECT_EQ(twos.code, row.twosComplement);
    }
}

struct RangeRow {
    float fullScale;
    int16_t resolution;
    int16_t binaryCoding;
    float typed;
    int32_t code;
    int32_t written;
};

TEST(VoltsToCode, OtherRangesAndTheFourteenBitDevice) {
    const std::vector<RangeRow> rows{
        {kRange10_2564, 16, 1, 10.0f, 0xFCCD, 0xFCCD},
        {kRange10_2564, 16, 1, 5.0f, 0xBE66, 0xBE66},
        {kRange10_2564, 16, 1, -10.0f, 0x0333, 0x0333},
        {kRange10_5263, 16, 1, 10.0f, 0xF99A, 0xF99A},
        {kRange10_5263, 16, 1, -10.2564f, 0x0348, 0x0348},
        {kRange10, 14, 1, 5.0f, 0x3000, 0xC000},
        {kRange10, 14, 1, 10.0f, 0x3FFF, 0xFFFC},
        {kRange10, 14, 1, 0.0f, 0x2000, 0x8000},
        {kRange10, 14, 0, -10.0f, 0x2000, 0x8000},
        {kRange10, 14, 0, -0.0001f, 0x3FFF, 0xFFFC},
        {kRange10, 14, 0, 10.0f, 0x1FFF, 0x7FFC},
        {kRange10, 14, 0, 0.0f, 0x0000, 0x0000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.fullScale) + " V, " + std::to_string(row.resolution) +
                     " bits, typed " + std::to_string(row.typed));
        const auto result = VoltsToCode(row.typed, row.resolution, row.binaryCoding, row.fullScale);
        EXPECT_EQ(result.code, row.code);
        EXPECT_EQ(result.code * (row.resolution == 14 ? 4 : 1), row.written);
    }
}

TEST(VoltsToCode, LimitsToTheRangeInUseAndKeepsValuesOnTheBound) {
    const auto above = VoltsToCode(11.0f, 16, 1, kRange10_5263);
    EXPECT_EQ(above.volts, kRange10_5263);
    EXPECT_EQ(above.code, 0xFFFF);
    const auto below = VoltsToCode(-11.0f, 16, 0, kRange10_2564);
    EXPECT_EQ(below.volts, -kRange10_2564);
    EXPECT_EQ(below.code, 0x8000);
    const auto infinite = VoltsToCode(-std::numeric_limits<float>::infinity(), 16, 1, kRange10);
    EXPECT_EQ(infinite.volts, -10.0f);
    EXPECT_EQ(infinite.code, 0);
}

TEST(VoltsToCode, NoRangeIsANumericFailure) {
    EXPECT_THROW(VoltsToCode(1.0f, 16, 1, 0.0f), NumericError);
    EXPECT_THROW(VoltsToCode(std::numeric_limits<float>::quiet_NaN(), 16, 1, kRange10),
                 NumericError);
}

struct CodeRow {
    int64_t code;
    int16_t resolution;
    int16_t binaryCoding;
    float volts;
};

TEST(CodeToVolts, OffsetBinaryAndSignedTwosComplementCodes) {
    const std::vector<CodeRow> rows{
        {0, 16, 1, -10.0f},
        {16384, 16, 1, -5.0f},
        {32768, 16, 1, 0.0f},
        {65535, 16, 1, 9.99969482421875f},
        {16383, 14, 1, 9.998779296875f},
        // Two's complement: code 0 is 0 V and the top half is negative.
        {0, 16, 0, 0.0f},
        {0x4000, 16, 0, 5.0f},
        {0x7FFF, 16, 0, 9.99969482421875f},
        {0x8000, 16, 0, -10.0f},
        {0xC000, 16, 0, -5.0f},
        {0xFFFF, 16, 0, -0.00030517578125f},
        {0x1FFF, 14, 0, 9.998779296875f},
        {0x2000, 14, 0, -10.0f},
        {0x3FFF, 14, 0, -0.001220703125f},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.code) + " coding " + std::to_string(row.binaryCoding));
        EXPECT_EQ(CodeToVolts(row.code, row.resolution, kRange10, row.binaryCoding), row.volts);
    }
}

// Showing a code as volts and typing those volts again must give the same code: otherwise the
// voltage box would disagree with what the register holds.
TEST(CodeToVolts, EveryCodeSurvivesTheWayBackThroughVoltsToCode) {
    for (const float range : {kRange10, kRange10_2564, kRange10_5263}) {
        for (const int16_t resolution : {int16_t{16}, int16_t{14}}) {
            for (const int16_t coding : {int16_t{1}, int16_t{0}}) {
                const int32_t codes = 1 << resolution;
                int mismatches = 0;
                for (int32_t c = 0; c < codes; ++c) {
                    const float volts = CodeToVolts(c, resolution, range, coding);
                    if (VoltsToCode(volts, resolution, coding, range).code != c)
                        ++mismatches;
                }
                EXPECT_EQ(mismatches, 0)
                    << range << " V, " << resolution << " bits, coding " << coding;
            }
        }
    }
}

TEST(RangeFromCode, KnownCodesSetTheRangeOthersKeepIt) {
    struct Row {
        int64_t code;
        float before;
        float after;
    };
    const std::vector<Row> rows{
        {0, kRange10_5263, 10.0f},
        {1, 10.0f, 10.25640010833740234375f},
        {2, 10.0f, 10.5263004302978515625f},
        {3, kRange10_2564, kRange10_2564},
        {-1, 10.0f, 10.0f},
        {65536, kRange10_5263, kRange10_5263},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        DeviceState state;
        state.RangeVolts = row.before;
        RangeFromCode(state, row.code);
        EXPECT_EQ(state.RangeVolts, row.after);
    }
}

struct ValueRow {
    int16_t resolution;
    float typed;
    float limited;
    int32_t code;
};

TEST(FineGainToCode, WholeStepsOnSixteenBitsQuarterStepsOnFourteen) {
    const std::vector<ValueRow> rows{
        {16, 31.4f, 31.0f, 31},   {16, 40.0f, 31.0f, 31},  {16, -32.0f, -32.0f, 32},
        {16, -40.0f, -32.0f, 32}, {16, -1.0f, -1.0f, 63},  {16, 1.5f, 1.5f, 2},
        {16, 2.5f, 2.5f, 2},      {16, -0.3f, -0.3f, 64},  {16, -0.5f, -0.5f, 64},
        {16, 0.0f, 0.0f, 0},      {14, 7.75f, 7.75f, 31},  {14, 9.0f, 7.75f, 31},
        {14, -8.0f, -8.0f, 32},   {14, -8.5f, -8.0f, 32},  {14, -0.25f, -0.25f, 63},
        {14, 0.375f, 0.375f, 2},  {14, 0.125f, 0.125f, 0}, {14, -0.125f, -0.125f, 64},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.resolution) + " bits, " + std::to_string(row.typed));
        const auto result = FineGainToCode(row.typed, row.resolution);
        EXPECT_EQ(result.value, row.limited);
        EXPECT_EQ(result.code, row.code);
    }
}

TEST(OffsetToCode, EighthStepsOnSixteenBitsWholeStepsShiftedOnFourteen) {
    const std::vector<ValueRow> rows{
        {16, 15.875f, 15.875f, 127},
        {16, 20.0f, 15.875f, 127},
        {16, 1.0f, 1.0f, 8},
        {16, 0.125f, 0.125f, 1},
        {16, 0.0625f, 0.0625f, 0},
        {16, 0.1875f, 0.1875f, 2},
        {16, -0.125f, -0.125f, 255},
        {16, -15.875f, -15.875f, 129},
        {16, -16.0f, -16.0f, 128},
        {16, -17.0f, -16.0f, 128},
        {16, -0.0625f, -0.0625f, 256},
        {16, 0.0f, 0.0f, 0},
        // Fourteen bits: the value to write is the 3-bit code x 32.
        {14, 3.0f, 3.0f, 96},
        {14, 4.0f, 3.0f, 96},
        {14, 2.5f, 2.5f, 64},
        {14, 1.0f, 1.0f, 32},
        {14, -1.0f, -1.0f, 224},
        {14, -4.0f, -4.0f, 128},
        {14, -5.0f, -4.0f, 128},
        {14, -0.5f, -0.5f, 256},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.resolution) + " bits, " + std::to_string(row.typed));
        const auto result = OffsetToCode(row.typed, row.resolution);
        EXPECT_EQ(result.value, row.limited);
        EXPECT_EQ(result.code, row.code);
    }
}

TEST(GainAndOffset, NotANumberIsANumericFailure) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const int16_t resolution : {int16_t{16}, int16_t{14}}) {
        EXPECT_THROW(FineGainToCode(nan, resolution), NumericError);
        EXPECT_THROW(OffsetToCode(nan, resolution), NumericError);
    }
}

struct EntryRow {
    std::string text;
    std::string mode;
    int16_t resolution;
    int32_t code;
    std::string textAfter;
};

TEST(DataCodeEntry, ReadsLimitsAndEchoes) {
    const std::vector<EntryRow> rows{
        {"7fff", "Hex", 16, 32767, "7fff"},
        {"FFFF", "Hex", 16, 65535, "FFFF"},
        {"10000", "Hex", 16, 65535, "10000"},
        {"10000", "Hex", 14, 16383, "10000"},
        {"", "Hex", 16, 0, "0"},
        {"1FFF", "Hex", 14, 8191, "1FFF"},
        {"2.5", "Dec", 16, 2, "2.5"},
        {"3.5", "Dec", 16, 4, "3.5"},
        {"-3", "Dec", 16, 0, "-3"},
        {"70000", "Dec", 16, 65535, "70000"},
        {"70000", "Dec", 14, 16383, "70000"},
        {"", "Dec", 16, 0, ""},
        {"&H8000", "Dec", 16, 0, "&H8000"},
        {"32768.5", "Dec", 16, 32768, "32768.5"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode + " '" + row.text + "'");
        std::string text = row.text;
        EXPECT_EQ(DataCodeEntry(text, row.mode, row.resolution), row.code);
        EXPECT_EQ(text, row.textAfter);
    }
}

TEST(DataCodeEntry, UnreadableOrUnroundableTextFails) {
    for (const std::string hex : {"-1", "12G", "80000000", " 1"}) {
        std::string text = hex;
        EXPECT_THROW(DataCodeEntry(text, "Hex", 16), InputError) << hex;
    }
    std::string huge = "1e12";
    EXPECT_THROW(DataCodeEntry(huge, "Dec", 16), NumericError);
}

TEST(FunctionWordEntry, LimitsToSixBits) {
    const std::vector<EntryRow> rows{
        {"21", "Hex", 16, 0x21, "21"}, {"3F", "Hex", 16, 63, "3F"},  {"40", "Hex", 16, 63, "40"},
        {"", "Hex", 16, 0, "0"},       {"64", "Dec", 16, 63, "64"},  {"-1", "Dec", 16, 0, "-1"},
        {"33", "Dec", 16, 33, "33"},   {"0.5", "Dec", 16, 0, "0.5"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode + " '" + row.text + "'");
        std::string text = row.text;
        EXPECT_EQ(FunctionWordEntry(text, row.mode), row.code);
        EXPECT_EQ(text, row.textAfter);
    }
}

struct CodingRow {
    int resolution;
    bool binary;
    int bits;
    int32_t top;
    int32_t mid;
    int32_t zeroCode;
    int32_t zeroFrame;
};

TEST(ConverterCoding, TopMidAndZeroOfEachDeviceAndCoding) {
    const std::vector<CodingRow> rows{
        {16, true, 16, 65535, 32768, 32768, 0x8000},
        {16, false, 16, 65535, 32768, 0, 0},
        {14, true, 14, 16383, 8192, 8192, 0x8000},
        {14, false, 14, 16383, 8192, 0, 0},
        // Any other resolution is the 16-bit device, as the program has always taken it.
        {0, true, 16, 65535, 32768, 32768, 0x8000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.resolution) + (row.binary ? " bits, binary" : " bits"));
        const ConverterCoding coding(row.resolution, row.binary);
        EXPECT_EQ(coding.Bits(), row.bits);
        EXPECT_EQ(coding.TopCode(), row.top);
        EXPECT_EQ(coding.MidCode(), row.mid);
        EXPECT_EQ(coding.ZeroCode(), row.zeroCode);
        EXPECT_EQ(coding.ZeroFrame(), row.zeroFrame);
        EXPECT_EQ(coding.FrameOfCode(coding.ZeroCode()), row.zeroFrame);
        EXPECT_EQ(CodeToVolts(coding.ZeroCode(), static_cast<int16_t>(coding.Bits()), kRange10,
                              row.binary ? 1 : 0),
                  0.0f);
    }
}

// Every code of every device and coding: frames and ordinals lead back to it, and ordinals order
// the codes as the voltages they give.
TEST(ConverterCoding, EveryCodeThroughItsFrameAndOrdinal) {
    for (const int resolution : {16, 14}) {
        for (const bool binary : {true, false}) {
            SCOPED_TRACE(std::to_string(resolution) + (binary ? " bits, binary" : " bits"));
            const ConverterCoding coding(resolution, binary);
            const int32_t scale = coding.Narrow() ? 4 : 1;
            float below = -std::numeric_limits<float>::infinity();
            for (int32_t ordinal = 0; ordinal <= coding.TopCode(); ++ordinal) {
                const int32_t code = coding.CodeOfOrdinal(ordinal);
                ASSERT_EQ(coding.OrdinalOfCode(code), ordinal);
                const int32_t frame = coding.FrameOfCode(code);
                ASSERT_EQ(coding.CodeOfFrame(frame), code);
                ASSERT_EQ(coding.FrameCoding().OrdinalOfCode(frame), ordinal * scale);
                const float volts =
                    CodeToVolts(code, static_cast<int16_t>(resolution), kRange10, binary ? 1 : 0);
                ASSERT_GT(volts, below) << "ordinal " << ordinal;
                below = volts;
            }
        }
    }
}

TEST(ConverterCoding, ReadBackFramesRoundToTheNearestCodeTiesToEven) {
    const std::vector<std::tuple<int, int32_t, int32_t>> rows{
        {14, 32764, 8191}, {14, 32766, 8192},  {14, 32762, 8190},  {14, 1, 0},
        {14, 3, 1},        {14, 65532, 16383}, {16, 32766, 32766}, {16, 65535, 65535},
    };
    for (const auto& [resolution, frame, code] : rows) {
        SCOPED_TRACE(std::to_string(resolution) + " bits, frame " + std::to_string(frame));
        EXPECT_EQ(ConverterCoding(resolution).CodeOfFrame(frame), code);
    }
    EXPECT_THROW(ConverterCoding(14).FrameOfCode(std::numeric_limits<int32_t>::max()),
                 NumericError);
}

struct ShownRow {
    int resolution;
    int32_t registerCode;
    double shown;
};

TEST(ConverterCoding, FineGainShownForRegisterCodes) {
    const std::vector<ShownRow> rows{
        {16, 63, -1.0},  {16, 32, -32.0}, {16, 31, 31.0}, {16, 0, 0.0},
        {14, 63, -0.25}, {14, 32, -8.0},  {14, 31, 7.75}, {14, 2, 0.5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.resolution) + " bits, " + std::to_string(row.registerCode));
        EXPECT_EQ(ConverterCoding(row.resolution).FineGainShown(row.registerCode), row.shown);
    }
}

struct OffsetRow {
    int resolution;
    int32_t registerCode;
    int32_t field;
    double shown;
};

TEST(ConverterCoding, OffsetShownForRegisterCodes) {
    const std::vector<OffsetRow> rows{
        {16, 255, 255, -0.125},
        {16, 127, 127, 15.875},
        {16, 128, 128, -16.0},
        {16, 8, 8, 1.0},
        {14, 96, 3, 3.0},
        {14, 224, 7, -1.0},
        {14, 128, 4, -4.0},
        {14, 0, 0, 0.0},
        // A field not aligned to D7..D5 rounds to the nearest, ties to even.
        {14, 48, 2, 2.0},
        {14, 80, 2, 2.0},
        {14, 40, 1, 1.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.resolution) + " bits, " + std::to_string(row.registerCode));
        const ConverterCoding coding(row.resolution);
        EXPECT_EQ(coding.OffsetFieldOfRegister(row.registerCode), row.field);
        EXPECT_EQ(coding.OffsetShown(row.field), row.shown);
    }
}

// What a user types comes back as the same value once written and shown.
TEST(ConverterCoding, TypedGainAndOffsetValuesAreShownAsTyped) {
    const std::vector<std::pair<int16_t, float>> fine{{16, -32.0f}, {16, -1.0f}, {16, 0.0f},
                                                      {16, 31.0f},  {14, -8.0f}, {14, -0.25f},
                                                      {14, 0.25f},  {14, 7.75f}};
    for (const auto& [resolution, typed] : fine) {
        SCOPED_TRACE(std::to_string(resolution) + " bits, fine gain " + std::to_string(typed));
        EXPECT_EQ(ConverterCoding(resolution).FineGainShown(FineGainToCode(typed, resolution).code),
                  typed);
    }
    const std::vector<std::pair<int16_t, float>> offset{{16, -16.0f},  {16, -0.125f}, {16, 0.125f},
                                                        {16, 15.875f}, {14, -4.0f},   {14, -1.0f},
                                                        {14, 0.0f},    {14, 3.0f}};
    for (const auto& [resolution, typed] : offset) {
        SCOPED_TRACE(std::to_string(resolution) + " bits, offset " + std::to_string(typed));
        const ConverterCoding coding(resolution);
        const int32_t written = OffsetToCode(typed, resolution).code;
        EXPECT_EQ(coding.OffsetShown(coding.OffsetFieldOfRegister(written)), typed);
    }
}

TEST(ConverterCoding, EveryOffsetStepCountThroughItsRegister) {
    const std::vector<std::tuple<int, int32_t, int32_t>> ranges{{16, -128, 127}, {14, -4, 3}};
    for (const auto& [resolution, lowest, highest] : ranges) {
        SCOPED_TRACE(std::to_string(resolution) + " bits");
        const ConverterCoding coding(resolution);
        EXPECT_EQ(coding.LowestOffsetSteps(), lowest);
        EXPECT_EQ(coding.HighestOffsetSteps(), highest);
        for (int32_t steps = lowest; steps <= highest; ++steps) {
            const int32_t reg = coding.OffsetRegisterOfSteps(steps);
            ASSERT_GE(reg, 0);
            ASSERT_LE(reg, 255);
            ASSERT_EQ(coding.OffsetSteps(coding.OffsetFieldOfRegister(reg)), steps);
        }
    }
    EXPECT_EQ(ConverterCoding(14).OffsetRegisterOfSteps(-1), 224);
    EXPECT_EQ(ConverterCoding(16).OffsetRegisterOfSteps(-1), 255);
}

}  // namespace
}  // namespace tq::testing
