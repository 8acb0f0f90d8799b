#include <gtest/gtest.h>

#include <string>

#include "core/Json.h"

namespace tq {
namespace {

TEST(Json, WritesAndReadsBackTheSameDocument) {
    const JsonValue doc(JsonValue::Object{
        {"format", 1},
        {"name", "a \"quoted\" \\ name\twith\nlines \xc3\xa9"},
        {"flags", JsonValue::Array{true, false, JsonValue()}},
        {"nested", JsonValue::Object{{"low", -128}, {"big", int64_t{9007199254740993}}}},
        {"empty", JsonValue::Object{}}});
    for (const int indent : {0, 2}) {
        const std::string text = WriteJson(doc, indent);
        // One line for the protocol; otherwise a line per member, ending in a line feed.
        if (indent == 0) {
            EXPECT_EQ(text.find('\n'), std::string::npos);
        } else {
            EXPECT_EQ(text.back(), '\n');
        }
        EXPECT_EQ(WriteJson(ParseJson(text), indent), text);
    }
    const JsonValue back = ParseJson(WriteJson(doc));
    EXPECT_EQ(back.Find("nested")->Find("big")->Int(), 9007199254740993);
    EXPECT_EQ(back.Find("name")->String(), "a \"quoted\" \\ name\twith\nlines \xc3\xa9");
    EXPECT_EQ(ParseJson(R"("\u00e9\ud83d\ude00")").String(), "\xc3\xa9\xf0\x9f\x98\x80");
}

struct BadCase {
    const char* text;
    const char* error;  // the start of the message
};

class JsonRefuses : public ::testing::TestWithParam<BadCase> {};

TEST_P(JsonRefuses, SaysWhereAndWhy) {
    try {
        ParseJson(GetParam().text);
        FAIL() << "accepted";
    } catch (const JsonError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(GetParam().error, 0), 0u) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonRefuses,
    ::testing::Values(
        BadCase{"", "line 1, column 1: a value expected"},
        BadCase{"{\"a\": 1,\n \"a\": 2}", "line 2, column 5: the key \"a\" appears"},
        BadCase{"{\"a\": 1.5}", "line 1, column 8: a whole number expected"},
        BadCase{"{\"a\": 1e3}", "line 1, column 8: a whole number expected"},
        BadCase{"[01]", "line 1, column 4: a number with a leading zero"},
        BadCase{"99999999999999999999", "line 1, column 1: a number too large"},
        BadCase{"\"open", "line 1, column 6: the string has no closing quote"},
        BadCase{"\"a\tb\"", "line 1, column 4: a control character"},
        BadCase{"\"\\x\"", "line 1, column 3: an unknown escape"},
        BadCase{"\"\\ud800\"", "line 1, column 8: a broken surrogate pair"},
        BadCase{"{} {}", "line 1, column 4: text after the end"},
        BadCase{"{\"a\" 1}", "line 1, column 6: ':' expected"},
        BadCase{"[1,]", "line 1, column 4: a value expected"},
        BadCase{"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]",
                "line 1, column 34: nested more than 32 deep"},
        BadCase{"tru", "line 1, column 1: a value expected"}));

}  // namespace
}  // namespace tq
