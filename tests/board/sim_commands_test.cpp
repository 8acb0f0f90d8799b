#include "board/SimCommands.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/FakeSimulator.h"
#include "tests/support/RowNames.h"

namespace tq::testing {
namespace {

struct SimCase {
    std::string args;
    std::vector<std::string> calls;
    std::string output;
};

class SimCommandRuns : public ::testing::TestWithParam<SimCase> {};

TEST_P(SimCommandRuns, ReachesTheBenchAndPrints) {
    FakeSimulator sim;
    sim.registerValue = 0xABC;
    sim.volts = -4.99999951;
    std::string output, error;
    EXPECT_TRUE(RunSimCommand(sim, GetParam().args, output, error)) << error;
    EXPECT_EQ(sim.calls, GetParam().calls);
    EXPECT_EQ(output, GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SimCommandRuns,
    ::testing::Values(SimCase{"reg 1 0 0x10", {"SetRegister 1 0 16"}, ""},
                      SimCase{"reg 4 2 0xffff", {"SetRegister 4 2 65535"}, ""},
                      SimCase{"  reg\t7   3 65535  ", {"SetRegister 7 3 65535"}, ""},
                      SimCase{"get 0 2", {"GetRegister 0 2"}, "0xABC\n"},
                      SimCase{"output 3", {"OutputVolts 3"}, "-5.000000\n"},
                      SimCase{"unplug", {"Unplug"}, ""}, SimCase{"plug", {"Plug"}, ""},
                      SimCase{"power-cycle", {"PowerCycle"}, ""},
                      SimCase{"fail-download -1", {"FailNextDownload -1"}, ""},
                      SimCase{"fail-download -0x9", {"FailNextDownload -9"}, ""},
                      SimCase{"fail-download -2147483648", {"FailNextDownload -2147483648"}, ""},
                      SimCase{"garble 0x3", {"GarbleReplies 3"}, ""},
                      SimCase{"latency 250", {"SetLatency 250"}, ""},
                      SimCase{"latency 1000000", {"SetLatency 1000000"}, ""},
                      SimCase{"nonlinear on", {"SetNonLinearity on"}, ""},
                      SimCase{"nonlinear off", {"SetNonLinearity off"}, ""}),
    tq::testing::NamedBy<&SimCase::args>{});

struct SimErrorCase {
    std::string args;
    std::string error;
};

class SimCommandRefusals : public ::testing::TestWithParam<SimErrorCase> {};

TEST_P(SimCommandRefusals, ChangeNothing) {
    FakeSimulator sim;
    std::string output, error;
    EXPECT_FALSE(RunSimCommand(sim, GetParam().args, output, error));
    EXPECT_EQ(error, GetParam().error);
    EXPECT_TRUE(sim.calls.empty());
    EXPECT_EQ(output, "");
}

INSTANTIATE_TEST_SUITE_P(
    Errors, SimCommandRefusals,
    ::testing::Values(
        SimErrorCase{"", "missing sim command"}, SimErrorCase{"  ", "missing sim command"},
        SimErrorCase{"fly 1", "unknown sim command 'fly'"},
        SimErrorCase{"REG 1 0 0", "unknown sim command 'REG'"},
        SimErrorCase{"reg 1 0", "missing argument"},
        SimErrorCase{"reg 1 0 1 2", "too many arguments"},
        SimErrorCase{"plug now", "too many arguments"},
        SimErrorCase{"power-cycle 1", "too many arguments"},
        SimErrorCase{"reg 8 0 0", "bad address '8' (expected 0 to 7)"},
        SimErrorCase{"reg 1 -1 0", "bad register '-1' (expected 0 to 7)"},
        SimErrorCase{"reg 1 0 0x10000", "bad value '0x10000' (expected 0 to 65535)"},
        SimErrorCase{"reg 1 0 -1", "bad value '-1' (expected 0 to 65535)"},
        SimErrorCase{"reg 1 0 1.5", "bad value '1.5' (expected 0 to 65535)"},
        SimErrorCase{"get 1", "missing argument"}, SimErrorCase{"nonlinear", "missing argument"},
        SimErrorCase{"nonlinear ON", "bad setting 'ON' (expected on or off)"},
        SimErrorCase{"output 4", "bad channel '4' (expected 0 to 3)"},
        SimErrorCase{"temp abc", "bad temperature 'abc'"},
        SimErrorCase{"temp inf", "bad temperature 'inf'"},
        SimErrorCase{"temp nan", "bad temperature 'nan'"},
        SimErrorCase{"temp 1e999", "bad temperature '1e999'"},
        SimErrorCase{"fail-download 2147483648",
                     "bad result '2147483648' (expected -2147483648 to 2147483647)"},
        SimErrorCase{"garble -1", "bad count '-1' (expected 0 to 2147483647)"},
        SimErrorCase{"latency -1", "bad latency in microseconds '-1' (expected 0 to 1000000)"},
        SimErrorCase{"latency 1000001",
                     "bad latency in microseconds '1000001' "
                     "(expected 0 to 1000000)"},
        SimErrorCase{"latency", "missing argument"}),
    tq::testing::NamedBy<&SimErrorCase::args>{});

struct TemperatureCase {
    std::string text;
    double celsius;
};

class SimTemperature : public ::testing::TestWithParam<TemperatureCase> {};

TEST_P(SimTemperature, SetsTheDie) {
    FakeSimulator sim;
    std::string output, error;
    ASSERT_TRUE(RunSimCommand(sim, "temp " + GetParam().text, output, error)) << error;
    EXPECT_DOUBLE_EQ(sim.temperature, GetParam().celsius);
}

INSTANTIATE_TEST_SUITE_P(Values, SimTemperature,
                         ::testing::Values(TemperatureCase{"22.5", 22.5},
                                           TemperatureCase{"-40", -40}, TemperatureCase{"+.5", 0.5},
                                           TemperatureCase{"1e2", 100},
                                           TemperatureCase{"0x19", 25}),
                         tq::testing::NamedBy<&TemperatureCase::text>{});

struct VoltsCase {
    double volts;
    std::string text;
};

class SimOutputText : public ::testing::TestWithParam<VoltsCase> {};

TEST_P(SimOutputText, SixDecimals) {
    FakeSimulator sim;
    sim.volts = GetParam().volts;
    std::string output, error;
    ASSERT_TRUE(RunSimCommand(sim, "output 0", output, error));
    EXPECT_EQ(output, GetParam().text + "\n");
}

INSTANTIATE_TEST_SUITE_P(Values, SimOutputText,
                         ::testing::Values(VoltsCase{0, "0.000000"}, VoltsCase{-1e-9, "0.000000"},
                                           VoltsCase{5.0001234, "5.000123"},
                                           VoltsCase{9.99969482, "9.999695"},
                                           VoltsCase{-10, "-10.000000"}),
                         tq::testing::NamedBy<&VoltsCase::volts>{});

struct IntegerCase {
    std::string text;
    bool valid;
    int64_t value;
};

class CommandIntegers : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(CommandIntegers, ReadDecimalAndHexOnly) {
    int64_t value = 12345;
    bool valid = ParseCommandInteger(GetParam().text, -1000, 0x10000, value);
    EXPECT_EQ(valid, GetParam().valid);
    EXPECT_EQ(value, GetParam().valid ? GetParam().value : 12345);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CommandIntegers,
    ::testing::Values(IntegerCase{"0", true, 0}, IntegerCase{"+7", true, 7},
                      IntegerCase{"-1000", true, -1000}, IntegerCase{"0x10000", true, 0x10000},
                      IntegerCase{"0XfF", true, 255}, IntegerCase{"-0x10", true, -16},
                      IntegerCase{"-1001", false, 0}, IntegerCase{"0x10001", false, 0},
                      IntegerCase{"", false, 0}, IntegerCase{"-", false, 0},
                      IntegerCase{"0x", false, 0}, IntegerCase{"0x1G", false, 0},
                      IntegerCase{"1.0", false, 0}, IntegerCase{" 1", false, 0},
                      IntegerCase{"--1", false, 0}, IntegerCase{"&H10", false, 0},
                      IntegerCase{"99999999999999999999", false, 0}),
    tq::testing::NamedBy<&IntegerCase::text>{});

TEST(CommandIntegerLimits, WholeSignedRange) {
    int64_t value = 0;
    EXPECT_TRUE(ParseCommandInteger("-9223372036854775808", INT64_MIN, INT64_MAX, value));
    EXPECT_EQ(value, INT64_MIN);
    EXPECT_FALSE(ParseCommandInteger("9223372036854775808", INT64_MIN, INT64_MAX, value));
}

TEST(SimSetup, SkipsBlankAndCommentLines) {
    FakeSimulator sim;
    std::istringstream file(
        "# prepared bench\r\nreg 1 0 0x10\r\n\n   \n  # indented note\ntemp 40\n"
        "fail-download 1");
    std::string error;
    EXPECT_TRUE(RunSimSetup(sim, file, error)) << error;
    EXPECT_EQ(sim.calls, (std::vector<std::string>{"SetRegister 1 0 16", "SetDieTemperature",
                                                   "FailNextDownload 1"}));
    EXPECT_DOUBLE_EQ(sim.temperature, 40);
}

TEST(SimSetup, StopsAtTheFirstBadLineAndNamesIt) {
    FakeSimulator sim;
    std::istringstream file("unplug\n\nsim plug\nplug\n");
    std::string error;
    EXPECT_FALSE(RunSimSetup(sim, file, error));
    EXPECT_EQ(error, "line 3: unknown sim command 'sim'");
    EXPECT_EQ(sim.calls, std::vector<std::string>{"Unplug"});
}

}  // namespace
}  // namespace tq::testing
