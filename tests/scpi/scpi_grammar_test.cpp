// The remote-control grammar: framing, splitting, parsing, header matching, parameter values,
// answer formats and the error queue.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "scpi/ScpiErrors.h"
#include "scpi/ScpiGrammar.h"

namespace tq::scpi::testing {
namespace {

enum Id { kVolt = 1, kIdn, kRst, kSystErr, kData, kOutput, kDigital };

CommandTable MakeTable() {
    CommandTable table;
    table.Add(kVolt, "SOURce#:VOLTage[:LEVel][:IMMediate][:AMPLitude]", Forms::kSetAndQuery);
    table.Add(kIdn, "*IDN", Forms::kQuery);
    table.Add(kRst, "*RST", Forms::kSet);
    table.Add(kSystErr, "SYSTem:ERRor[:NEXT]", Forms::kQuery);
    table.Add(kData, "SOURce#:DATA", Forms::kSetAndQuery);
    table.Add(kOutput, "[:SOURce#]:OUTPut[:STATe]", Forms::kSetAndQuery);
    table.Add(kDigital, "DIGital#:LEVel", Forms::kSetAndQuery, 2);  // two lines, not four
    return table;
}

// The error code a callable throws as ScpiError, or 0.
template <typename F>
int ErrorOf(F&& f) {
    try {
        f();
    } catch (const ScpiError& e) {
        return e.code;
    }
    return 0;
}

TEST(Header, ParsesAndMatchesOrFailsWithItsCode) {
    struct Row {
        std::string command;
        int error;  // 0: matches
        int id = 0;
        bool query = false;
        int suffix = 1;
    };
    const std::vector<Row> rows{
        {"SOUR:VOLT 1", 0, kVolt, false, 1},
        {"source2:voltage:level:immediate:amplitude 1", 0, kVolt, false, 2},
        {"SOURce4:VOLT?", 0, kVolt, true, 4},
        {":SOUR3:VOLT:IMM?", 0, kVolt, true, 3},
        {"Sour1:Volt:Ampl 2", 0, kVolt, false, 1},
        {"  SOUR:VOLT\t1  ", 0, kVolt, false, 1},
        {"*IDN?", 0, kIdn, true, 1},
        {"*idn?", 0, kIdn, true, 1},
        {"*RST", 0, kRst, false, 1},
        {"SYST:ERR?", 0, kSystErr, true, 1},
        {"system:error:next?", 0, kSystErr, true, 1},
        {"OUTP ON", 0, kOutput, false, 1},
        {"SOUR2:OUTP:STAT?", 0, kOutput, true, 2},
        {"DIG2:LEV?", 0, kDigital, true, 2},
        {"DIG3:LEV 1", kHeaderSuffixOutOfRange},
        {"SOU:VOLT 1", kUndefinedHeader},
        {"SOURC:VOLT 1", kUndefinedHeader},
        {"SOUR:VOLT:LEV:LEV 1", kUndefinedHeader},
        {"DATA?", kUndefinedHeader},
        {"*IDN", kUndefinedHeader},
        {"*RST?", kUndefinedHeader},
        {"SYST:ERR", kUndefinedHeader},
        {"SOUR0:VOLT 1", kHeaderSuffixOutOfRange},
        {"SOUR5:VOLT 1", kHeaderSuffixOutOfRange},
        {"SOUR:VOLT2 1", kHeaderSuffixOutOfRange},
        {"SOUR99999999999:VOLT 1", kHeaderSuffixOutOfRange},
        {"*IDN2?", kHeaderSuffixOutOfRange},
        {"*IDN0?", kHeaderSuffixOutOfRange},
        // No header by that mnemonic, whatever digits end it.
        {"NOPE0 1", kUndefinedHeader},
        {"NOPE99999999999?", kUndefinedHeader},
        {"SOUR1:NOPE0 1", kUndefinedHeader},
        {"SOUR::VOLT 1", kSyntaxError},
        {"SOUR:VOLT: 1", kSyntaxError},
        {"SO$UR:VOLT 1", kSyntaxError},
        {"*IDN?x", kSyntaxError},
        {":*IDN?", kSyntaxError},
        {"*IDN:X?", kSyntaxError},
        {"SOUR:VOLT 1 2", kSyntaxError},
        {"", kSyntaxError},
    };
    const CommandTable table = MakeTable();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        MatchResult match;
        EXPECT_EQ(ErrorOf([&] { match = table.Match(ParseCommand(row.command)); }), row.error);
        if (row.error == 0) {
            EXPECT_EQ(match.id, row.id);
            EXPECT_EQ(match.query, row.query);
            EXPECT_EQ(match.suffix, row.suffix);
        }
    }
}

TEST(Header, KeepsPartsAsTypedWithSuffixesApart) {
    const ParsedCommand c = ParseCommand(":sour2:Volt?");
    EXPECT_EQ(c.headerParts, (std::vector<std::string>{"sour", "Volt"}));
    EXPECT_EQ(c.suffixes, (std::vector<int>{2, 0}));
    EXPECT_TRUE(c.query);
    EXPECT_FALSE(c.common);
    const ParsedCommand idn = ParseCommand("*IDN?");
    EXPECT_EQ(idn.headerParts, (std::vector<std::string>{"IDN"}));
    EXPECT_TRUE(idn.common);
}

TEST(CommandTable, RejectsMalformedPatterns) {
    for (const char* pattern : {"", "[:LEVel]", "SOUR#:VOLT#", "SOURce:", "SOURce[:LEVel", "*IDN:X",
                                "sour", "SOURce VOLTage", "[SOURce#:]"}) {
        SCOPED_TRACE(pattern);
        CommandTable table;
        EXPECT_THROW(table.Add(1, pattern, Forms::kSet), std::invalid_argument);
    }
}

TEST(Parameters, AreClassifiedOrRejected) {
    struct Row {
        std::string params;
        int error;
        std::vector<Parameter> expected;  // kind, text, value, unit
    };
    using K = ParamKind;
    const std::vector<Row> rows{
        {"1", 0, {{K::kNumber, "1", "1", ""}}},
        {"-2.5e-3mV", 0, {{K::kNumber, "-2.5e-3mV", "-2.5e-3", "mV"}}},
        {"+.5 V", 0, {{K::kNumber, "+.5 V", "+.5", "V"}}},
        {"5.", 0, {{K::kNumber, "5.", "5.", ""}}},
        {"1E", 0, {{K::kNumber, "1E", "1", "E"}}},
        {"ON , 'it''s',\"a;b\"",
         0,
         {{K::kCharacter, "ON", "ON", ""},
          {K::kString, "'it''s'", "it's", ""},
          {K::kString, "\"a;b\"", "a;b", ""}}},
        {"-INF", 0, {{K::kCharacter, "-INF", "-INF", ""}}},
        {"1,", kSyntaxError, {}},
        {",1", kSyntaxError, {}},
        {"1,,2", kSyntaxError, {}},
        {"'abc", kSyntaxError, {}},
        {"'abc'x", kSyntaxError, {}},
        {"#H1F", 0, {{K::kNumber, "#H1F", "31", ""}}},
        {"#hff,#B101,#q17",
         0,
         {{K::kNumber, "#hff", "255", ""},
          {K::kNumber, "#B101", "5", ""},
          {K::kNumber, "#q17", "15", ""}}},
        {"#H", kSyntaxError, {}},
        {"#H1G", kSyntaxError, {}},
        {"#B102", kSyntaxError, {}},
        {"#Q8", kSyntaxError, {}},
        {"#X1", kSyntaxError, {}},
        {"#H1F V", kSyntaxError, {}},
        {"#0a,b;c ", 0, {{K::kBlock, "#0a,b;c ", "a,b;c ", ""}}},
        {"#213{\"format\":1} ", 0, {{K::kBlock, "#213{\"format\":1} ", "{\"format\":1} ", ""}}},
        {"#12\n\n, ON", 0, {{K::kBlock, "#12\n\n", "\n\n", ""}, {K::kCharacter, "ON", "ON", ""}}},
        {"#15abc", kSyntaxError, {}},
        {"#12abc", kSyntaxError, {}},
        {"1.2.3", kSyntaxError, {}},
        {".", kSyntaxError, {}},
        {"-", kSyntaxError, {}},
        {"ON OFF", kSyntaxError, {}},
        {std::string("1\0V", 3), 0, {{K::kNumber, std::string("1\0V", 3), "1", "V"}}},
        {"1\x7f", kSyntaxError, {}},
        {"\xff", kSyntaxError, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.params);
        ParsedCommand c;
        EXPECT_EQ(ErrorOf([&] { c = ParseCommand("SOUR:VOLT " + row.params); }), row.error);
        ASSERT_EQ(c.params.size(), row.expected.size());
        for (std::size_t i = 0; i < row.expected.size(); ++i) {
            EXPECT_EQ(c.params[i].kind, row.expected[i].kind);
            EXPECT_EQ(c.params[i].text, row.expected[i].text);
            EXPECT_EQ(c.params[i].value, row.expected[i].value);
            EXPECT_EQ(c.params[i].unit, row.expected[i].unit);
        }
    }
}

TEST(Parameters, CountIsChecked) {
    const ParsedCommand none = ParseCommand("*RST");
    const ParsedCommand two = ParseCommand("X 1,2");
    EXPECT_EQ(ErrorOf([&] { CheckParamCount(none, 1, 1); }), kMissingParameter);
    EXPECT_EQ(ErrorOf([&] { CheckParamCount(two, 0, 1); }), kParameterNotAllowed);
    EXPECT_EQ(ErrorOf([&] { CheckParamCount(two, 2, 2); }), 0);
    // No command takes more than a list's points: more are refused before they are read.
    std::string most = "X 1";
    for (std::size_t i = 1; i < kMaxParameters; ++i)
        most += ",1";
    EXPECT_EQ(ParseCommand(most).params.size(), kMaxParameters);
    EXPECT_EQ(ErrorOf([&] { ParseCommand(most + ",1"); }), kTooMuchData);
}

TEST(Parameters, ValuesReadOrFailWithTheirCode) {
    enum Reader { kVoltage, kInteger, kBoolean, kSeconds };
    struct Row {
        std::string text;
        Reader reader;
        double expected;
        int error = 0;
    };
    const std::string digits400(400, '9');
    const std::vector<Row> rows{
        {"5", kVoltage, 5.0},
        {"1500 mV", kVoltage, 1.5},
        {"1500MV", kVoltage, 1.5},
        {"-2v", kVoltage, -2.0},
        {"2.5E+0 V", kVoltage, 2.5},
        {"1e-3", kVoltage, 0.001},
        {"MIN", kVoltage, -10.0},
        {"maximum", kVoltage, 10.0},
        {"1e-999", kVoltage, 0.0},
        {"2 A", kVoltage, 0, kInvalidSuffix},
        {"NaN", kVoltage, 0, kDataTypeError},
        {"INF", kVoltage, 0, kDataTypeError},
        {"NINF", kVoltage, 0, kDataTypeError},
        {"-INF", kVoltage, 0, kDataTypeError},
        {"1e999", kVoltage, 0, kDataTypeError},
        {digits400, kVoltage, 0, kDataTypeError},
        {"-0." + std::string(400, '0') + "1", kVoltage, 0.0},
        {"'5'", kVoltage, 0, kDataTypeError},
        {"ON", kVoltage, 0, kDataTypeError},
        {"MINI", kVoltage, 0, kDataTypeError},
        {"10.001", kVoltage, 0, kDataOutOfRange},
        {"-1500 uV", kVoltage, -0.0015},
        {"0.005KV", kVoltage, 5.0},
        {"1 kV", kVoltage, 0, kDataOutOfRange},
        {"DEF", kVoltage, 0.5},
        {"default", kVoltage, 0.5},
        {"#H5", kVoltage, 5.0},
        {"20 ms", kSeconds, 0.02},
        {"5US", kSeconds, 5e-6},
        {"1 ks", kSeconds, 1000.0},
        {"4 KS", kSeconds, 0, kDataOutOfRange},
        {"MAX", kSeconds, 3600.0},
        {"DEF", kSeconds, 0, kIllegalParameterValue},
        {"1 V", kSeconds, 0, kInvalidSuffix},
        {"1 MV", kSeconds, 0, kInvalidSuffix},
        {"12", kInteger, 12},
        {"1e3", kInteger, 1000},
        {"7.0", kInteger, 7},
        {"MAX", kInteger, 65535},
        {"1.5", kInteger, 0, kIllegalParameterValue},
        {"65536", kInteger, 0, kDataOutOfRange},
        {"1e30", kInteger, 0, kDataOutOfRange},
        {"-1", kInteger, 0, kDataOutOfRange},
        {"3 V", kInteger, 0, kInvalidSuffix},
        {"#HFFFF", kInteger, 65535},
        {"#B11111111", kInteger, 255},
        {"#Q177777", kInteger, 65535},
        {"#H10000", kInteger, 0, kDataOutOfRange},
        {"#H" + std::string(40, 'F'), kInteger, 0, kDataOutOfRange},
        {"DEF", kInteger, 32768},
        {"ON", kBoolean, 1},
        {"off", kBoolean, 0},
        {"1", kBoolean, 1},
        {"0", kBoolean, 0},
        {"2", kBoolean, 0, kIllegalParameterValue},
        {"0.5", kBoolean, 0, kIllegalParameterValue},
        {"TRUE", kBoolean, 0, kIllegalParameterValue},
        {"1e999", kBoolean, 0, kIllegalParameterValue},
        {"'ON'", kBoolean, 0, kDataTypeError},
        {"1V", kBoolean, 0, kInvalidSuffix},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 40));
        const Parameter p = ParseCommand("X " + row.text).params.at(0);
        double value = -1;
        const int error = ErrorOf([&] {
            switch (row.reader) {
                case kVoltage:
                    value = ReadVoltage(p, -10.0, 10.0, 0.5);
                    break;
                case kInteger:
                    value = static_cast<double>(ReadInteger(p, 0, 65535, 32768));
                    break;
                case kSeconds:
                    value = ReadNumber(p, 0.0, 3600.0, kSecondUnits);
                    break;
                case kBoolean:
                    value = ReadBoolean(p) ? 1 : 0;
                    break;
            }
        });
        EXPECT_EQ(error, row.error);
        if (row.error == 0) {
            EXPECT_EQ(value, row.expected);
        }
    }
}

// Every value out of range says the range, in the unit the reader takes.
TEST(Parameters, OutOfRangeSaysTheRange) {
    const std::vector<std::pair<std::function<void()>, std::string>> rows{
        {[] { ReadVoltage(ParseCommand("X 10.5").params[0], -10, 10); },
         "10.5 V is outside -10 V to 10 V"},
        {[] { ReadVoltage(ParseCommand("X -12000 mV").params[0], -10, 10.5263); },
         "-12 V is outside -10 V to 10.5263 V"},
        {[] { ReadNumber(ParseCommand("X 3601").params[0], 0, 3600, kSecondUnits); },
         "3601 s is outside 0 s to 3600 s"},
        {[] { ReadInteger(ParseCommand("X 70000").params[0], 0, 65535); },
         "70000 is outside 0 to 65535"},
        {[] { ReadInteger(ParseCommand("X 1e30").params[0], -32, 31); },
         "1e+30 is outside -32 to 31"},
        {[] { ReadNumber(ParseCommand("X 0.25").params[0], 0.5, 1); }, "0.25 is outside 0.5 to 1"},
    };
    for (const auto& [read, detail] : rows) {
        SCOPED_TRACE(detail);
        try {
            read();
            ADD_FAILURE() << "read";
        } catch (const ScpiError& e) {
            EXPECT_EQ(e.code, kDataOutOfRange);
            EXPECT_EQ(e.detail, detail);
        }
    }
}

TEST(SplitCommands, SplitsOutsideQuotesAndDropsEmptyCommands) {
    using V = std::vector<std::string_view>;
    const std::vector<std::pair<std::string, V>> rows{
        {"A;B", {"A", "B"}},
        {" A 'x;y' ; B ", {"A 'x;y'", "B"}},
        {"A \"x'\";B", {"A \"x'\"", "B"}},
        {"A 'it''s;';B", {"A 'it''s;'", "B"}},
        {";;A;;", {"A"}},
        {"", {}},
        {" \t", {}},
        {"A 'x;B", {"A 'x;B"}},
        // A block's bytes are its own: separators, quotes, white space at its end.
        {"A #15a;'b;;B", {"A #15a;'b;", "B"}},
        {"A #13ab ; B", {"A #13ab ", "B"}},
        {"A #12ab ; B", {"A #12ab", "B"}},
        {"A #0x;'y ", {"A #0x;'y "}},
        {"A 'x#13;;;';B", {"A 'x#13;;;'", "B"}},
        {"A #9;B", {"A #9", "B"}},
        {"A #19;B", {"A #19;B"}},
    };
    for (const auto& [line, expected] : rows) {
        SCOPED_TRACE(line);
        EXPECT_EQ(SplitCommands(line), expected);
    }
}

TEST(ExecuteLine, AnswersOnceQueuesErrorsAndRunsOn) {
    struct Row {
        std::string line;
        std::optional<std::string> response;
        std::vector<int> errors;
    };
    const std::vector<Row> rows{
        {"*RST", std::nullopt, {}},
        {"", std::nullopt, {}},
        {"*IDN?", "TQ", {}},
        {"SOUR2:VOLT 1.5;SOUR2:VOLT?;SOUR:VOLT?", "1.5;0", {}},
        // The path the previous command left is looked in first, then the root.
        {"SOUR2:VOLT 1;DATA?", "9.91E+37", {kHardwareError}},
        {"SOUR2:VOLT 1.5;VOLT?;SOUR:VOLT?", "1.5;0", {}},
        {"SOUR2:VOLT 1;*IDN?;VOLT?", "TQ;1", {}},
        {"SOUR2:VOLT 1;:VOLT?", "9.91E+37", {kUndefinedHeader}},
        {"SOUR2:VOLT 1;SYST:ERR?;ERR?", "0,\"No error\";0,\"No error\"", {}},
        {"SOUR5:VOLT 1;VOLT 2;SOUR:VOLT?", "0", {kHeaderSuffixOutOfRange, kHeaderSuffixOutOfRange}},
        {"SOUR2:VOLT 1;@@;VOLT?", "9.91E+37", {kSyntaxError, kUndefinedHeader}},
        {":SOUR3:VOLT 2;VOLT?;:SOUR3:VOLT?", "2;2", {}},
        {"FOO;SOUR:VOLT 2;SOUR:VOLT?", "2", {kUndefinedHeader}},
        {"FOO?;*IDN?", "9.91E+37;TQ", {kUndefinedHeader}},
        {"*IDN? 1;*RST", "9.91E+37", {kParameterNotAllowed}},
        {"SOUR:VOLT;SOUR:VOLT 2 A;SOUR:VOLT 20",
         std::nullopt,
         {kMissingParameter, kInvalidSuffix, kDataOutOfRange}},
        {"SOUR:VOLT 'x;SOUR:VOLT?", std::nullopt, {kSyntaxError}},
        {"SOUR3:DATA 1", std::nullopt, {kHardwareError}},
        {"BAD;SYST:ERR?;SYST:ERR?", "-113,\"Undefined header\";0,\"No error\"", {}},
    };
    const CommandTable table = MakeTable();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        ErrorQueue errors;
        float volts[5] = {};
        const CommandHandler handler = [&](const MatchResult& m, const ParsedCommand& c) {
            const std::size_t count = (m.id == kVolt || m.id == kData) && !m.query ? 1 : 0;
            CheckParamCount(c, count, count);
            switch (m.id) {
                case kIdn:
                    return std::string("TQ");
                case kVolt:
                    if (m.query) {
                        return FormatFloat(volts[m.suffix]);
                    }
                    volts[m.suffix] = static_cast<float>(ReadVoltage(c.params[0], -10, 10));
                    return std::string();
                case kSystErr:
                    return errors.Next();
                case kData:
                    throw ScpiError(kHardwareError, "board not answering");
            }
            return std::string();
        };
        EXPECT_EQ(ExecuteLine(row.line, table, handler, errors), row.response);
        std::vector<int> queued;
        for (std::string e = errors.Next(); e != "0,\"No error\""; e = errors.Next()) {
            queued.push_back(std::atoi(e.c_str()));
        }
        EXPECT_EQ(queued, row.errors);
    }
}

TEST(Errors, FormatWithStandardTextAndDoubledQuotes) {
    const std::vector<std::tuple<int, std::string, std::string>> rows{
        {0, "", "0,\"No error\""},
        {kCommandError, "", "-100,\"Command error\""},
        {kSyntaxError, "", "-102,\"Syntax error\""},
        {kDataTypeError, "", "-104,\"Data type error\""},
        {kParameterNotAllowed, "", "-108,\"Parameter not allowed\""},
        {kMissingParameter, "", "-109,\"Missing parameter\""},
        {kUndefinedHeader, "", "-113,\"Undefined header\""},
        {kHeaderSuffixOutOfRange, "", "-114,\"Header suffix out of range\""},
        {kInvalidSuffix, "", "-131,\"Invalid suffix\""},
        {kSettingsConflict, "channel 2 \"busy\"",
         "-221,\"Settings conflict; channel 2 \"\"busy\"\"\""},
        {kDataOutOfRange, "", "-222,\"Data out of range\""},
        {kIllegalParameterValue, "", "-224,\"Illegal parameter value\""},
        {kHardwareError, "USB timeout", "-240,\"Hardware error; USB timeout\""},
        {kQueueOverflow, "", "-350,\"Queue overflow\""},
        {kInputBufferOverrun, "", "-363,\"Input buffer overrun\""},
        {kTooMuchData, "a list holds at most 65536 points",
         "-223,\"Too much data; a list holds at most 65536 points\""},
        // Texts are cut to 255 bytes, whole characters, the cut marked; quotes doubled after.
        {kExecutionError, std::string(238, 'x'),
         "-200,\"Execution error; " + std::string(238, 'x') + "\""},
        {kExecutionError, std::string(234, 'x') + "\xC3\xA9" + std::string(50, 'y'),
         "-200,\"Execution error; " + std::string(234, 'x') + "...\""},
        {kExecutionError, std::string(233, 'x') + "\xC3\xA9" + std::string(50, 'y'),
         "-200,\"Execution error; " + std::string(233, 'x') + "\xC3\xA9...\""},
        {kSettingsConflict, std::string(300, '"'),
         "-221,\"Settings conflict; " + std::string(2 * 233, '"') + "...\""},
    };
    for (const auto& [code, detail, expected] : rows) {
        SCOPED_TRACE(code);
        EXPECT_EQ(FormatError(code, detail), expected);
    }
    EXPECT_STREQ(ScpiError(kHardwareError, "USB timeout").what(), "Hardware error; USB timeout");
    EXPECT_THROW(ScpiError{kSettingsConflict}, std::invalid_argument);
    EXPECT_THROW(ScpiError{kHardwareError}, std::invalid_argument);
    EXPECT_THROW(FormatError(-999), std::invalid_argument);
}

TEST(ErrorQueue, KeepsOldestFifteenAndMarksOverflowOnce) {
    ErrorQueue queue;
    EXPECT_TRUE(queue.Empty());
    for (int i = 0; i < 20; ++i) {
        queue.Push(i % 2 == 0 ? kSyntaxError : kUndefinedHeader);
    }
    EXPECT_EQ(queue.Size(), ErrorQueue::kCapacity);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(queue.Next(), FormatError(i % 2 == 0 ? kSyntaxError : kUndefinedHeader));
    }
    EXPECT_EQ(queue.Next(), "-350,\"Queue overflow\"");
    EXPECT_EQ(queue.Next(), "0,\"No error\"");
    for (int i = 0; i < 17; ++i) {
        queue.Push(kSyntaxError);
    }
    queue.Next();
    queue.Push(ScpiError(kHardwareError, "x"));  // room again after a read: appended
    EXPECT_EQ(queue.Size(), 16u);
    queue.Clear();
    EXPECT_TRUE(queue.Empty());
    EXPECT_EQ(queue.Next(), "0,\"No error\"");
}

TEST(FormatFloat, ShortestTextThatReadsBack) {
    const std::vector<std::pair<float, std::string>> rows{
        {5.0f, "5"},
        {-2.0001f, "-2.0001"},
        {10.5263f, "10.5263"},
        {0.0f, "0"},
        {-0.0f, "0"},
        {0.001f, "0.001"},
        {1e-6f, "1e-06"},
        {3.3f, "3.3"},
        {100000.0f, "100000"},
        {1.5e8f, "150000000"},
        {1e10f, "1e+10"},
        {std::numeric_limits<float>::quiet_NaN(), "9.91E+37"},
        {std::numeric_limits<float>::infinity(), "9.9E+37"},
        {-std::numeric_limits<float>::infinity(), "-9.9E+37"},
    };
    for (const auto& [value, expected] : rows) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(FormatFloat(value), expected);
    }
    std::mt19937 random(7);
    std::uniform_real_distribution<float> volts(-20.0f, 20.0f);
    for (int i = 0; i < 10000; ++i) {
        const float v = volts(random);
        const std::string text = FormatFloat(v);
        ASSERT_EQ(std::strtof(text.c_str(), nullptr), v) << text;
        ASSERT_EQ(text.find('e'), std::string::npos) << text;
    }
    EXPECT_EQ(FormatInt(0), "0");
    EXPECT_EQ(FormatInt(-7), "-7");
    EXPECT_EQ(FormatInt(INT64_MIN), "-9223372036854775808");
}

std::vector<Line> Drain(LineAssembler& assembler) {
    std::vector<Line> lines;
    while (std::optional<Line> line = assembler.Next()) {
        lines.push_back(std::move(*line));
    }
    return lines;
}

// "!" stands for an overrun marker.
std::vector<std::string> Texts(const std::vector<Line>& lines) {
    std::vector<std::string> texts;
    for (const Line& line : lines) {
        texts.push_back(line.overrun ? "!" : line.text);
    }
    return texts;
}

TEST(LineAssembler, FramesLinesAndDiscardsOverlongOnes) {
    const std::size_t max = LineAssembler::kMaxLineLength;
    const std::string kEnd = "(END)";  // a feed that stands for the end of a message
    const std::string full(max, 'x');
    using S = std::vector<std::string>;
    const std::vector<std::pair<S, S>> rows{
        {{"*IDN?\r\n"}, {"*IDN?"}},
        {{"*ID", "N?\r", "\nA\n"}, {"*IDN?", "A"}},
        {{"A\rB\n\n"}, {"A\rB", ""}},
        {{"partial"}, {}},
        {{full + "\n"}, {full}},
        {{full, "\r", "\n"}, {full}},
        {{full + "y\nOK\n"}, {"!", "OK"}},
        {{full + "y", "\r\nOK\n"}, {"!", "OK"}},
        {{full, "yy", "zz", "\n", "OK\n"}, {"!", "OK"}},
        {{full + "\r\r\n"}, {"!"}},
        // A block's bytes are taken as they come, line feeds, CRs and NULs included.
        {{"SYST:SET #15a\nb\nc;*OPC?\n"}, {"SYST:SET #15a\nb\nc;*OPC?"}},
        {{"A #", "2", "1", "0", std::string(10, '\n'), "\n"}, {"A #210" + std::string(10, '\n')}},
        {{std::string("A #14\0\n\r\0\r\n", 11)}, {std::string("A #14\0\n\r\0", 9)}},
        {{"A #11\r\r\n"}, {"A #11\r"}},
        {{"A #11\r\n"}, {"A #11\r"}},
        {{"A #0ab#11\nB\n"}, {"A #0ab#11", "B"}},
        {{"A #0a'b\r\nB\n"}, {"A #0a'b", "B"}},
        {{"M 'x#15'\nB\n"}, {"M 'x#15'", "B"}},
        {{"M \"x#1\n\nB#H1F\n#3x\n"}, {"M \"x#1", "", "B#H1F", "#3x"}},
        {{"A #10\nB\n"}, {"A #10", "B"}},
        // A block announced longer than a line may be is skipped whole, never read as commands.
        {{"A #72000000", std::string(2000000, '\n'), "\nOK\n"}, {"!", "OK"}},
        {{full + "y#15", "\n\n\n\n\n\nOK\n"}, {"!", "OK"}},
        // The end of a message that the transport marks (VXI-11's END) ends a line left open,
        // inside a block or a string too; after a line feed it adds nothing.
        {{"*IDN?", kEnd, "*OPC?", kEnd}, {"*IDN?", "*OPC?"}},
        {{"*IDN?\r\n", kEnd, kEnd}, {"*IDN?"}},
        {{"A #15ab", kEnd, "B\n"}, {"A #15ab", "B"}},
        {{"M \"x;", kEnd, "B", kEnd}, {"M \"x;", "B"}},
        {{"A #", kEnd, "#0", kEnd}, {"A #", "#0"}},
        {{full + "y", kEnd, "OK", kEnd}, {"!", "OK"}},
    };
    for (const auto& [feeds, expected] : rows) {
        SCOPED_TRACE(expected.size());
        LineAssembler assembler;
        for (const std::string& feed : feeds) {
            if (feed == kEnd)
                assembler.EndMessage();
            else
                assembler.Feed(feed.data(), feed.size());
        }
        std::size_t queued = 0;
        for (const std::string& text : expected)
            queued += text == "!" ? 0 : text.size();
        EXPECT_EQ(assembler.HeldSize(), queued + assembler.PartialSize());
        EXPECT_EQ(Texts(Drain(assembler)), expected);
        EXPECT_EQ(assembler.HeldSize(), assembler.PartialSize());
    }
}

TEST(LineAssembler, TenMegabyteLineKeepsMemoryBounded) {
    LineAssembler assembler;
    const std::string chunk(4096, 'A');
    std::size_t overruns = 0;
    for (int i = 0; i < 10 * 256; ++i) {
        assembler.Feed(chunk.data(), chunk.size());
        ASSERT_LE(assembler.PartialSize(), LineAssembler::kMaxLineLength + 1);
        overruns += Drain(assembler).size();
    }
    const std::string tail = "\n*IDN?\n";
    assembler.Feed(tail.data(), tail.size());
    EXPECT_EQ(overruns, 1u);
    EXPECT_EQ(Texts(Drain(assembler)), (std::vector<std::string>{"*IDN?"}));
    EXPECT_EQ(assembler.PartialSize(), 0u);
}

// However the bytes arrive, in one piece, byte by byte or in pieces of any size, the lines are
// the same: the framing's state (a quote, a block's header, its bytes) carries across reads.
TEST(LineAssembler, LinesDoNotDependOnHowTheBytesArrive) {
    std::mt19937 random(29);
    const std::string alphabet = "AB;,#0123\n\r'\" H";
    for (int round = 0; round < 500; ++round) {
        std::string bytes(random() % 300, ' ');
        for (char& c : bytes)
            c = alphabet[random() % alphabet.size()];
        LineAssembler whole;
        whole.Feed(bytes.data(), bytes.size());
        LineAssembler single;
        for (const char c : bytes)
            single.Feed(&c, 1);
        LineAssembler pieces;
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t n = std::min<std::size_t>(1 + random() % 20, bytes.size() - at);
            pieces.Feed(bytes.data() + at, n);
            at += n;
        }
        const std::vector<std::string> expected = Texts(Drain(whole));
        ASSERT_EQ(Texts(Drain(single)), expected) << bytes;
        ASSERT_EQ(Texts(Drain(pieces)), expected) << bytes;
        ASSERT_EQ(single.PartialSize(), whole.PartialSize());
    }
}

// The bytes of a block may be read whole: the server asks how many are due.
TEST(LineAssembler, SaysTheBlockBytesDue) {
    LineAssembler assembler;
    const std::string head = "SOUR1:LIST:DATA #6131072";
    assembler.Feed(head.data(), head.size());
    EXPECT_EQ(assembler.BlockBytesDue(), 131072u);
    const std::string words(131071, '\n');
    assembler.Feed(words.data(), words.size());
    EXPECT_EQ(assembler.BlockBytesDue(), 1u);
    EXPECT_FALSE(assembler.Next());
    assembler.Feed("\n\n", 2);
    EXPECT_EQ(assembler.BlockBytesDue(), 0u);
    const std::optional<Line> line = assembler.Next();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->text, head + words + "\n");
}

TEST(LineAssembler, RecognisesHttpRequests) {
    const std::vector<std::pair<std::string, bool>> rows{
        {"GET / HTTP/1.1", true},
        {"POST /x", true},
        {"OPTIONS * HTTP/1.1", true},
        {"CONNECT host:443 HTTP/1.1", true},
        {"BREW /pot HTTP/1.0", true},
        {"*IDN?", false},
        {"GET", false},
        {"get / http/1.1", false},
        {"SYST:ERR?", false},
    };
    for (const auto& [line, http] : rows) {
        SCOPED_TRACE(line);
        EXPECT_EQ(LineAssembler::LooksLikeHttp(line), http);
    }
}

TEST(HostileInput, NeverCrashesAndOnlyQueuesKnownErrors) {
    const CommandTable table = MakeTable();
    const CommandHandler handler = [](const MatchResult&, const ParsedCommand& c) {
        for (const Parameter& p : c.params) {
            ReadVoltage(p, -10, 10);
        }
        return std::string("1");
    };
    std::vector<std::string> lines{std::string(60000, ';'), std::string(60000, ':'),
                                   std::string(60000, '\''), std::string(1000, '\0')};
    std::string header;
    for (int i = 0; i < 20000; ++i) {
        header += ":SOUR";
    }
    lines.push_back(header + "? 1");
    std::mt19937 random(11);
    const std::string alphabet = "SOURVLTIDN*?:;,'\" \t\r.+-eE0123456789#MINAX\x01\xff";
    for (int i = 0; i < 3000; ++i) {
        std::string line(random() % 40, ' ');
        for (char& c : line) {
            c = alphabet[random() % alphabet.size()];
        }
        lines.push_back(line);
    }
    for (const std::string& line : lines) {
        ErrorQueue errors;
        ExecuteLine(line, table, handler, errors);
        for (std::string e = errors.Next(); e != "0,\"No error\""; e = errors.Next()) {
            EXPECT_FALSE(StandardText(std::atoi(e.c_str())).empty()) << e;
        }
    }
}

}  // namespace
}  // namespace tq::scpi::testing
