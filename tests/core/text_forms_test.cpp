// The texts in which codes and typed values are shown back.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Encoding.h"
#include "core/Printed.h"

namespace tq::testing {
namespace {

TEST(HexText, PaddedAndPlainForms) {
    struct Row {
        int32_t value;
        std::string padded;
        std::string plain;
    };
    const std::vector<Row> rows{
        {0, "0000", "0"},
        {31, "001F", "1F"},
        {26, "001A", "1A"},
        {4095, "0FFF", "FFF"},
        {0x8000, "8000", "8000"},
        {65535, "FFFF", "FFFF"},
        {65536, "10000", "10000"},
        {-5, "FFFFFFFB", "FFFFFFFB"},
        {-1, "FFFFFFFF", "FFFFFFFF"},
        {0x7FFFFFFF, "7FFFFFFF", "7FFFFFFF"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(HexText4(row.value), row.padded);
        EXPECT_EQ(HexText(row.value), row.plain);
    }
}

// Texts of any length come out whole, also past the formatter's own buffer of 64 characters.
TEST(PrintedText, WholeAtAnyLength) {
    const std::string wide(200, 'x');
    struct Row {
        std::string made;
        std::string expected;
    };
    const std::vector<Row> rows{
        {Printed("%g", 1.5), "1.5"},
        {Printed("%s", ""), ""},
        {Printed("%s", wide.substr(0, 63).c_str()), wide.substr(0, 63)},
        {Printed("%s", wide.substr(0, 64).c_str()), wide.substr(0, 64)},
        {Printed("%s|%04X", wide.c_str(), 0xBEEFu), wide + "|BEEF"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.made, row.expected);
    }
}

TEST(DecimalText, NoPaddingNoPlusSign) {
    EXPECT_EQ(DecimalText(0), "0");
    EXPECT_EQ(DecimalText(65535), "65535");
    EXPECT_EQ(DecimalText(-7), "-7");
}

TEST(ShortText, AtMostSevenSignificantDigitsWithoutTrailingZeros) {
    struct Row {
        float value;
        std::string text;
    };
    const std::vector<Row> rows{
        {31.0f, "31"},
        {-32.0f, "-32"},
        {-0.5f, "-0.5"},
        {7.75f, "7.75"},
        {15.875f, "15.875"},
        {1.1f, "1.1"},
        {0.1f, "0.1"},
        {0.0f, "0"},
        {-0.0f, "0"},
        {1.0f / 3.0f, "0.3333333"},
        {-15.8751f, "-15.8751"},
        {2.5e-5f, "2.5E-05"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ShortText(row.value), row.text);
    }
}

// The echo of a typed value must read back as the same single, or pressing Enter again on the
// echoed box would write a different code.
TEST(ShortText, EchoOfATypedValueReadsBackAsTheSameSingle) {
    for (const float value : {1.1f, -0.3f, 31.4f, 0.125f, 2.5e-5f, 7.777778f, -15.9999f, 1e-7f}) {
        EXPECT_EQ(static_cast<float>(ParseNumber(ShortText(value))), value) << ShortText(value);
    }
}

struct VoltRow {
    double value;
    std::string text;
};

TEST(VoltageText, FourDecimalsRoundedNeverMinusZero) {
    const std::vector<VoltRow> rows{
        {-10.0, "-10.0000"},
        {0.0, "0.0000"},
        {2.5, "2.5000"},
        {10.2564f, "10.2564"},
        {10.5263f, "10.5263"},
        {9.99969482421875, "9.9997"},
        {9.998779296875, "9.9988"},
        {-0.0001f, "-0.0001"},
        {-0.00004, "0.0000"},
        {-0.0, "0.0000"},
        {0.00005, "0.0001"},
        {-9.53125, "-9.5313"},  // an exact tie rounds away from zero
        {9.99996, "10.0000"},
        {123.45678, "123.4568"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(VoltageText(row.value), row.text);
    }
}

TEST(VoltageText3, ThreeDecimalsWithoutALeadingZero) {
    const std::vector<VoltRow> rows{
        {1.40162, "1.402"}, {0.8, ".800"},   {-0.5, "-.500"},   {0.0, ".000"},
        {-0.0002, ".000"},  {3.29, "3.290"}, {0.9996, "1.000"}, {12.3456, "12.346"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(VoltageText3(row.value), row.text);
    }
}

TEST(WholeText, NearestWholeNumberAndZeroShown) {
    const std::vector<VoltRow> rows{
        {25.0, "25"}, {24.6, "25"}, {-256.0, "-256"}, {0.0, "0"},
        {0.4, "0"},   {-0.4, "0"},  {-3.7, "-4"},     {99.5, "100"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(WholeText(row.value), row.text);
    }
}

}  // namespace
}  // namespace tq::testing
