// Each window acts on the channel it shows, whatever another window did before; the voltage
// shown and the calibration use the channel's own range; a measurement without a board says so.

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/ConsoleRunner.h"

namespace tq::testing {
namespace {

struct ScriptCase {
    const char* name;
    std::string script;
    std::string expected;  // what the script's last command prints before its "ok"
};

void PrintTo(const ScriptCase& c, std::ostream* os) {
    *os << c.name;
}

std::string Enter(const std::string& control, const std::string& text) {
    return "type " + control + " " + text + "\nkey " + control + " enter\n";
}

const std::string kWideRangeOnDacA =
    "select MainForm.ComboReg Coarse Gain Register\n"
    "select MainForm.ComboCoarse Output Range = \u00b1 10.5263 V\n"
    "select MainForm.ComboReg Data Register\n";

class WindowsOnTheirOwnChannel : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(WindowsOnTheirOwnChannel, LastLineIsAsExpected) {
    const ScriptCase& c = GetParam();
    const ConsoleRun run = RunConsole(c.script + "quit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\n" + c.expected + "\nok\nok\n"), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WindowsOnTheirOwnChannel,
    ::testing::Values(
        // The Output Voltages window wrote DAC C; the main window still shows DAC A and writes it.
        ScriptCase{"VoltageEntryAfterOutputVoltages",
                   "menu MainForm.MnuVout\n" + Enter("VoutForm.Text3", "5") +
                       Enter("MainForm.TextVolts", "-7") + "sim output 0\n",
                   "-7.001242"},
        ScriptCase{"OutputVoltagesKeepsItsChannel",
                   "menu MainForm.MnuVout\n" + Enter("VoutForm.Text3", "5") +
                       Enter("MainForm.TextVolts", "-7") + "sim output 2\n",
                   "5.001780"},
        // A read of DAC B's coarse gain in Direct Read/Write; the data entry still writes DAC
        // A's data register, and DAC B stays on +-10 V.
        ScriptCase{"DataEntryAfterDirectRead",
                   "menu MainForm.MnuTest\n" + Enter("TestForm.Text1", "19") +
                       "click TestForm.Command1\n" + Enter("MainForm.TextData", "C000") +
                       "sim get 1 3\n",
                   "0x0"}),
    [](const auto& info) { return std::string(info.param.name); });

// The calibration corrects with the channel's own range: after Read Register on +-10.5263 V, a
// 1 mV offset error gives the code of 1 mV in that range's LSBs (231), not +-10 V's (230).
TEST(CalibrationRange, UsesTheChannelsOwnRangeAfterReadRegister) {
    const ConsoleRun run =
        RunConsole(kWideRangeOnDacA +
                   "click MainForm.Command1\nclick MainForm.Command8\ntype MainForm.TextOff "
                   "0.001\nclick MainForm.CommandOff\nsim get 0 5\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.output.find("0xE7\nok\n"), std::string::npos) << run.output;
}

// DAC A on +-10.5263 V set to 9.998 V: Read Register shows the code's 9.9979 V in that range,
// not 9.5001 in +-10 V.
TEST(VoltageShown, ReadRegisterOnTheWideRangeShowsTheOutput) {
    const ConsoleRun run = RunConsole(kWideRangeOnDacA + Enter("MainForm.TextVolts", "9.998") +
                                      "click MainForm.Command1\nget MainForm.TextVolts\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.output.find("text: 9.9979\n"), std::string::npos) << run.output;
}

TEST(Measure, WithoutABoardSaysNoReply) {
    const ConsoleRun run = RunConsole(
        "sim unplug\nclick MainForm.Command7\nget MainForm.Label23\nget MainForm.Label25\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.output.find("text: no reply\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("text: .103"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace tq::testing
