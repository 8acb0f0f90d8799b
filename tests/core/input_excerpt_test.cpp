// Quoting input in error messages: bounded to 80 characters and printable whatever was given.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/InputExcerpt.h"

namespace tq::testing {
namespace {

using namespace std::string_literals;

TEST(InputExcerpt, EscapesWhatCannotBePrintedAndKeepsText) {
    struct Row {
        std::string input;
        std::string shown;
    };
    for (const Row& r : std::vector<Row>{
             {"reg 1 0 0x10", "reg 1 0 0x10"},
             {"", ""},
             {"a\0b"s, "a\\0b"},
             {"tab\there\r\n", "tab\\there\\r\\n"},
             {"bell\x07 del\x7F", "bell\\x07 del\\x7F"},
             {"back\\slash", "back\\\\slash"},
             {"22.5 \xC2\xB0"
              "C \xE2\x80\x94 ok",
              "22.5 \xC2\xB0"
              "C \xE2\x80\x94 ok"},
             {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
             {"\xFF\xFE", "\\xFF\\xFE"},
             {"\xC0\xAF", "\\xC0\\xAF"},           // an overlong '/'
             {"\xED\xA0\x80", "\\xED\\xA0\\x80"},  // a surrogate
             {"\xE2\x80", "\\xE2\\x80"},           // cut short
             {"\xC2\x85", "\\xC2\\x85"},           // a C1 control (next line)
         }) {
        EXPECT_EQ(InputExcerpt(r.input), r.shown) << r.input;
    }
}

TEST(InputExcerpt, QuotesAtMostEightyCharactersOfAnyLength) {
    const std::string huge(100'000'000, 'x');
    EXPECT_EQ(QuotedInput(huge), "'" + std::string(80, 'x') + "...'");
    EXPECT_EQ(InputExcerpt(std::string(80, 'y')), std::string(80, 'y'));
    // Characters, not bytes: 81 two-byte letters keep 80 of them.
    std::string letters;
    for (int i = 0; i < 81; ++i)
        letters += "\xC3\xA9";
    EXPECT_EQ(InputExcerpt(letters).size(), 160u + 3u);
    // An escaped byte counts once, however long its escape.
    EXPECT_EQ(InputExcerpt(std::string(200, '\0')), [] {
        std::string s;
        for (int i = 0; i < 80; ++i)
            s += "\\0";
        return s + "...";
    }());
}

}  // namespace
}  // namespace tq::testing
