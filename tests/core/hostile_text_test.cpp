// Number reading: every worked form, and texts a user (or the automation console) can throw at an
// entry box. Each reads as a number or fails with the program's own errors; none may crash.

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/Encoding.h"

namespace tq::testing {
namespace {

const double kInf = std::numeric_limits<double>::infinity();

std::string Digits(std::size_t count, char digit) {
    return std::string(count, digit);
}

struct NumberRow {
    std::string text;
    double value;
};

TEST(ParseNumber, DecimalForms) {
    const std::vector<NumberRow> rows{
        {"12", 12.0},
        {"12V", 12.0},
        {"1.5.7", 1.5},
        {"1 0", 10.0},
        {" -\t5\n", -5.0},
        {"1 e 2", 100.0},
        {"+3", 3.0},
        {"-.5", -0.5},
        {".25", 0.25},
        {"5.", 5.0},
        {"2.5E+1", 25.0},
        {"1D3", 1000.0},
        {"1d-2", 0.01},
        {"1e", 1.0},
        {"1e+", 1.0},
        {"1,5", 1.0},
        {"0.1", 0.1},
        {"-0.0001", -0.0001},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"4.9e-324", std::numeric_limits<double>::denorm_min()},
        {"000000000000000000000000000012.5", 12.5},
        {"0.000000000000000000000000000001e30", 1.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("'" + row.text + "'");
        EXPECT_EQ(ParseNumber(row.text), row.value);
    }
}

TEST(ParseNumber, PrefixedHexadecimalAndOctalAsSignedPatterns) {
    const std::vector<NumberRow> rows{
        {"&H7FFF", 32767.0},
        {"&H8000", -32768.0},
        {"&HFFFF", -1.0},
        {"&hffff", -1.0},
        {"&H10000", 65536.0},
        {"&H7FFFFFFF", 2147483647.0},
        {"&H80000000", -2147483648.0},
        {"&HFFFFFFFF", -1.0},
        {"&H 1F", 31.0},
        {"&H1G", 1.0},
        {"&H0000000000FF", 255.0},
        {"&O17", 15.0},
        {"&o177777", -1.0},
        {"&O18", 1.0},
        {"&H", 0.0},
        {"&O", 0.0},
        {"&", 0.0},
        {"&X1", 0.0},
        {"-&H10", 0.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("'" + row.text + "'");
        EXPECT_EQ(ParseNumber(row.text), row.value);
    }
}

TEST(ParseNumber, HostileTextNeverFails) {
    const std::vector<NumberRow> rows{
        {"", 0.0},
        {"   ", 0.0},
        {" \t\n ", 0.0},
        {Digits(10000, '9'), kInf},
        {"-" + Digits(10000, '7'), -kInf},
        {"0." + Digits(10000, '0') + "1", 0.0},
        {"1" + Digits(300, '0') + "e-300", 1.0},
        {"1e999", kInf},
        {"-1e999", -kInf},
        {"1e-999", 0.0},
        {"1e99999999999999999999999", kInf},
        {"0e99999999999", 0.0},
        {"&HFFFFFFFFF", kInf},
        {"&H" + Digits(10000, 'F'), kInf},
        {"&O" + Digits(1000, '7'), kInf},
        {"nan", 0.0},
        {"NaN", 0.0},
        {"inf", 0.0},
        {"-infinity", 0.0},
        {"\xC3\xA9", 0.0},
        {"12\xC3\xA9", 12.0},
        {"\xFF\xFE\x80", 0.0},
        {std::string("1\0"
                     "2",
                     3),
         1.0},
        {std::string("\0"
                     "5",
                     2),
         0.0},
        {".", 0.0},
        {"-", 0.0},
        {"e5", 0.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("'" + row.text.substr(0, 40) + "'");
        EXPECT_EQ(ParseNumber(row.text), row.value);
    }
}

TEST(ParseNumber, ZeroIsNeverNegative) {
    for (const std::string& text :
         std::vector<std::string>{"-0", "-0.000", "-0e5", "-" + Digits(500, '0')})
        EXPECT_FALSE(std::signbit(ParseNumber(text))) << text;
}

TEST(ParseNumber, FullStopIsTheDecimalPointInAnyLocale) {
    // The build compiles de_DE.UTF-8 into its own folder (tests/core/MakeLocale.cmake); glibc
    // looks there first, so the test runs whichever locales the machine has.
    ASSERT_EQ(setenv("LOCPATH", TQ_TEST_LOCALE_DIR, 1), 0);
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    const bool switched = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    const std::string point = switched ? std::localeconv()->decimal_point : "";
    const double full = ParseNumber("1.5");
    const double comma = ParseNumber("1,5");
    std::setlocale(LC_ALL, saved.c_str());
    unsetenv("LOCPATH");
    ASSERT_TRUE(switched) << "no de_DE.UTF-8 in " TQ_TEST_LOCALE_DIR;
    ASSERT_EQ(point, ",") << "the locale must have a decimal comma, or this tests nothing";
    EXPECT_EQ(full, 1.5);
    EXPECT_EQ(comma, 1.0);
}

struct HexRow {
    std::string text;
    std::optional<int32_t> value;  // empty: an input failure
};

TEST(ParseHex, OneToEightDigitsWithinTheSignedRange) {
    const std::vector<HexRow> rows{
        {"7fff", 32767},
        {"FFFF", 65535},
        {"10000", 65536},
        {"0", 0},
        {"00000001", 1},
        {"7FFFFFFF", 2147483647},
        {"aBcD", 0xABCD},
        {"80000000", std::nullopt},
        {"FFFFFFFF", std::nullopt},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {"12G", std::nullopt},
        {"123456789", std::nullopt},
        {"000000000", std::nullopt},
        {"", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1 2", std::nullopt},
        {"0x1", std::nullopt},
        {"&H1", std::nullopt},
        {"1.0", std::nullopt},
        {std::string("1\0", 2), std::nullopt},
        {std::string("\0", 1), std::nullopt},
        {"\xC3\xA9", std::nullopt},
        {Digits(10000, '0'), std::nullopt},
        {"nan", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("'" + row.text.substr(0, 40) + "'");
        if (row.value) {
            EXPECT_EQ(ParseHex(row.text), *row.value);
        } else {
            EXPECT_THROW(ParseHex(row.text), InputError);
        }
    }
}

enum class Outcome { Value, Input, Numeric };

struct EntryRow {
    std::string text;
    Outcome outcome;
    int32_t data = 0;      // data code at 16 bits, when read
    int32_t function = 0;  // function word, when read
};

void ExpectEntry(const EntryRow& row, std::string_view mode) {
    std::string dataText = row.text;
    std::string functionText = row.text;
    switch (row.outcome) {
        case Outcome::Value:
            EXPECT_EQ(DataCodeEntry(dataText, mode, 16), row.data);
            EXPECT_EQ(FunctionWordEntry(functionText, mode), row.function);
            break;
        case Outcome::Input:
            EXPECT_THROW(DataCodeEntry(dataText, mode, 16), InputError);
            EXPECT_THROW(FunctionWordEntry(functionText, mode), InputError);
            break;
        case Outcome::Numeric:
            EXPECT_THROW(DataCodeEntry(dataText, mode, 16), NumericError);
            EXPECT_THROW(FunctionWordEntry(functionText, mode), NumericError);
            break;
    }
}

TEST(Entries, HostileDecimalText) {
    const std::vector<EntryRow> rows{
        {"", Outcome::Value, 0, 0},
        {"   ", Outcome::Value, 0, 0},
        {Digits(10000, '9'), Outcome::Numeric},
        {"1e999", Outcome::Numeric},
        {"-1e999", Outcome::Numeric},
        {"&H", Outcome::Value, 0, 0},
        {"&HFFFFFFFFF", Outcome::Numeric},
        {"&HFFFFFFFF", Outcome::Value, 0, 0},
        {"nan", Outcome::Value, 0, 0},
        {"\xC3\xA9", Outcome::Value, 0, 0},
        {std::string("4\0"
                     "2",
                     3),
         Outcome::Value, 4, 4},
        {"2147483647.4", Outcome::Value, 65535, 63},
        {"2147483647.5", Outcome::Numeric},
        {"-2147483648.5", Outcome::Value, 0, 0},
        {"-2147483649", Outcome::Numeric},
        {"1 2", Outcome::Value, 12, 12},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("'" + row.text.substr(0, 40) + "'");
        ExpectEntry(row, "Dec");
    }
}

TEST(Entries, HostileHexadecimalText) {
    const std::vector<EntryRow> rows{
        {"", Outcome::Value, 0, 0},
        {"   ", Outcome::Input},
        {Digits(10000, '9'), Outcome::Input},
        {"1e999", Outcome::Value, 65535, 63},  // hexadecimal 1E999
        {"&H", Outcome::Input},
        {"&HFFFFFFFFF", Outcome::Input},
        {"FFFFFFFF", Outcome::Input},
        {"7FFFFFFF", Outcome::Value, 65535, 63},
        {"nan", Outcome::Input},
        {"\xC3\xA9", Outcome::Input},
        {std::string("4\0", 2), Outcome::Input},
        {"0001F", Outcome::Value, 31, 31},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("'" + row.text.substr(0, 40) + "'");
        ExpectEntry(row, "Hex");
    }
}

// Random texts built from the characters that steer the readers (digits, signs, exponents,
// prefixes, blanks, NUL, bytes above 127): only the readers' own errors may come out.
TEST(Entries, RandomTextOnlyEverFailsWithTheReadersErrors) {
    const std::string alphabet =
        std::string("0123456789+-.eEdD&HhOoFfxX \t\n\r,") + '\0' + "\x80\xFF";
    std::mt19937 random(2604);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int n = length(random); n > 0; --n)
            text += alphabet[pick(random)];
        SCOPED_TRACE(text);
        const double value = ParseNumber(text);
        EXPECT_FALSE(std::isnan(value));
        for (const std::string_view mode : {"Hex", "Dec"}) {
            std::string entry = text;
            try {
                const int32_t code = DataCodeEntry(entry, mode, 16);
                EXPECT_TRUE(code >= 0 && code <= 65535);
            } catch (const InputError&) {
            } catch (const NumericError&) {
            }
        }
    }
}

}  // namespace
}  // namespace tq::testing
