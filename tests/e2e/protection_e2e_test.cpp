// The output protection driven through the console on the simulated board: limits set in their
// window hold DAC B in the other windows, each refusal explained in a box; Safe State from the
// menu; the safe state when the board comes back; the limits kept from one run to the next.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <string>
#include <vector>

#include "tests/e2e/ConsoleRunner.h"

namespace tq::testing {
namespace {

// The channels' own small errors in the volts printed by `sim output` are a few hundred µV.
constexpr double kNear = 0.002;

// DAC B limited to -2 V..2 V in the protection window.
const std::string kLimitB =
    "show ProtectionForm\n"
    "type ProtectionForm.TextLow1 -2\n"
    "type ProtectionForm.TextHigh1 2\n"
    "click ProtectionForm.CmdApply\n";

TEST(ProtectionConsole, LimitsHoldDacBInTheWindowsAndEachRefusalIsExplained) {
    const ConsoleRun run = RunConsole(kLimitB +
                                      "get MainForm.StatusLimits\n"  // 4
                                      "menu MainForm.MnuVout\n"      // 5
                                      "get VoutForm.LabelLimits2\n"  // 6
                                      "get VoutForm.LabelLimits1\n"  // 7
                                      "type VoutForm.Text2 5\n"      // 8
                                      "key VoutForm.Text2 enter\n"   // 9
                                      "messages\n"                   // 10
                                      "sim output 1\n"               // 11
                                      "type VoutForm.Text2 1.5\n"    // 12
                                      "key VoutForm.Text2 enter\n"   // 13
                                      "sim output 1\n"               // 14
                                      "menu MainForm.MnuTest\n"      // 15
                                      "type TestForm.Text1 11\n"     // 16: DAC B's data
                                      "type TestForm.Text2 FFFF\n"   // 17
                                      "click TestForm.Command2\n"    // 18
                                      "messages\n"                   // 19
                                      "sim output 1\n"               // 20
                                      "type VoutForm.Text1 8\n"      // 21: DAC A is free
                                      "key VoutForm.Text1 enter\n"   // 22
                                      "sim output 0\n"               // 23
                                      "messages\n"                   // 24
                                      "quit\n");
    std::vector<std::string> a;
    ASSERT_TRUE(AnsweredAll(run, 26, a));
    EXPECT_EQ(a[3], "ok\n");
    EXPECT_EQ(a[4].rfind("text: Limits: B -2 V to 2 V\nvisible: 1\n", 0), 0u) << a[4];
    EXPECT_EQ(a[6].rfind("text: Limits: -2 V to 2 V\nvisible: 1\n", 0), 0u) << a[6];
    EXPECT_EQ(a[7].rfind("text: Limits: no limits\nvisible: 0\n", 0), 0u) << a[7];
    // Output Voltages words its refusal as every window does: the value typed and what it became.
    EXPECT_EQ(a[10],
              "message: warning DAC B Voltage: 5 V typed, 5 V to send, is above DAC B's limit of "
              "2 V; nothing was sent\nok\n");
    EXPECT_NEAR(Volts(a[11]), 0.0, kNear) << a[11];
    EXPECT_NEAR(Volts(a[14]), 1.5, kNear) << a[14];
    // A raw write of the data register is judged by the output its code makes.
    EXPECT_EQ(a[19].rfind("message: warning DAC B: 9.99", 0), 0u) << a[19];
    EXPECT_NE(a[19].find(" V is above its limit of 2 V\nok\n"), std::string::npos) << a[19];
    EXPECT_NEAR(Volts(a[20]), 1.5, kNear) << a[20];
    EXPECT_NEAR(Volts(a[23]), 8.0, 0.01) << a[23];
    EXPECT_EQ(a[24], "ok\n");
}

TEST(ProtectionConsole, SafeStateFromTheMenuBringsEveryOutputToZeroRampedWhereARampIsSet) {
    const ConsoleRun run = RunConsole(
        "menu MainForm.MnuVout\n" + Enter("VoutForm.Text1", "5") + Enter("VoutForm.Text2", "1.5") +
        Enter("VoutForm.Text3", "-7") + Enter("VoutForm.Text4", "9") +  // 8
        // DAC B ramps 1 V at a time, two seconds apart: 1.5 V comes down in two steps.
        "show ProtectionForm\n"
        "type ProtectionForm.TextStep1 1\n"
        "type ProtectionForm.TextWait1 2\n"
        "click ProtectionForm.CmdApply\n"  // 12
        "menu MainForm.MnuSafeState\n"     // 13
        "sim output 1\n"
        "get MainForm.StatusRamping\n"  // 15
        "wait 2500\n"
        "sim output 0\n"
        "sim output 1\n"
        "sim output 2\n"
        "sim output 3\n"  // 20
        "get MainForm.StatusRamping\n"
        "messages\n"
        "quit\n");
    std::vector<std::string> a;
    ASSERT_TRUE(AnsweredAll(run, 24, a));
    EXPECT_EQ(a[13], "ok\n");
    EXPECT_NEAR(Volts(a[14]), 0.75, kNear) << "the ramp's first step goes at once: " << a[14];
    EXPECT_NE(a[15].find("visible: 1\n"), std::string::npos) << a[15];
    for (int channel = 0; channel < 4; ++channel)
        EXPECT_NEAR(Volts(a[17 + static_cast<std::size_t>(channel)]), 0.0, kNear) << channel;
    EXPECT_NE(a[21].find("visible: 0\n"), std::string::npos) << a[21];
    EXPECT_EQ(a[22], "ok\n");
}

TEST(ProtectionConsole, TheBoardComingBackBringsTheOutputsToZeroOnlyWithItsOption) {
    for (const bool option : {true, false}) {
        const ConsoleRun run =
            RunConsole(std::string("show ProtectionForm\n") +
                       (option ? "click ProtectionForm.CheckOnBoardBack\n" : "wait 0\n") +
                       "click ProtectionForm.CmdApply\n"
                       "menu MainForm.MnuVout\n"
                       "type VoutForm.Text2 4\n"
                       "key VoutForm.Text2 enter\n"  // 5
                       "sim unplug\n"
                       "type VoutForm.Text3 1\n"
                       "key VoutForm.Text3 enter\n"  // 8: fails
                       "sim plug\n"
                       "sim output 1\n"              // 10
                       "key VoutForm.Text3 enter\n"  // 11: the board answers again
                       "wait 50\n"
                       "sim output 1\n"  // 13
                       "sim output 2\n"
                       // Once per return: the next answer leaves the outputs alone.
                       + Enter("VoutForm.Text3", "1.5") +
                       "wait 50\n"
                       "sim output 2\n"  // 18
                       "messages\n"
                       "quit\n");
        std::vector<std::string> a;
        ASSERT_TRUE(AnsweredAll(run, 21, a));
        EXPECT_NEAR(Volts(a[10]), 4.0, kNear) << "unplugged, the output keeps its value";
        EXPECT_NEAR(Volts(a[13]), option ? 0.0 : 4.0, kNear) << option << " " << a[13];
        EXPECT_NEAR(Volts(a[14]), option ? 0.0 : 1.0, kNear) << option << " " << a[14];
        EXPECT_NEAR(Volts(a[18]), 1.5, kNear) << option << " " << a[18];
        EXPECT_EQ(a[19], "ok\n") << option;
    }
}

TEST(ProtectionConsole, LimitsAndOptionsAreKeptFromOneRunToTheNext) {
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    const ConsoleRun first = RunConsole(
        "show ProtectionForm\n"
        "type ProtectionForm.TextLow1 -2\n"
        "type ProtectionForm.TextHigh1 2\n"
        "type ProtectionForm.TextStep1 0.5\n"
        "type ProtectionForm.TextWait1 0.1\n"
        "click ProtectionForm.CheckOnLastClient\n"
        "click ProtectionForm.CmdApply\n"
        "messages\n"
        "quit\n",
        {}, 60000, config.path());
    ASSERT_EQ(first.exitCode, 0) << first.errors;
    EXPECT_EQ(Answers(first.output).at(7), "ok\n") << first.output;

    const ConsoleRun second = RunConsole(
        "get MainForm.StatusLimits\n"
        "show ProtectionForm\n"
        "get ProtectionForm.TextLow1\n"
        "get ProtectionForm.TextWait1\n"
        "get ProtectionForm.CheckOnLastClient\n"
        "get ProtectionForm.CheckOnExit\n"
        "menu MainForm.MnuVout\n" +
            Enter("VoutForm.Text2", "3") +
            "messages\n"
            "sim output 1\n"
            "quit\n",
        {}, 60000, config.path());
    std::vector<std::string> a;
    ASSERT_TRUE(AnsweredAll(second, 12, a));
    EXPECT_EQ(a[0].rfind("text: Limits: B -2 V to 2 V, ramp 0.5 V every 0.1 s\nvisible: 1\n", 0),
              0u)
        << a[0];
    EXPECT_EQ(a[2].rfind("text: -2\n", 0), 0u) << a[2];
    EXPECT_EQ(a[3].rfind("text: 0.1\n", 0), 0u) << a[3];
    EXPECT_NE(a[4].find("state: 1\n"), std::string::npos) << a[4];
    EXPECT_NE(a[5].find("state: 0\n"), std::string::npos) << a[5];
    EXPECT_EQ(a[9].rfind("message: warning DAC B Voltage: 3 V typed, 3 V to send, is above DAC "
                         "B's limit of 2 V",
                         0),
              0u)
        << a[9];
    EXPECT_NEAR(Volts(a[10]), 0.0, kNear) << a[10];

    // A run of its own starts with nothing kept.
    const ConsoleRun fresh = RunConsole("get MainForm.StatusLimits\nquit\n");
    EXPECT_EQ(Answers(fresh.output).at(0).find("visible: 0\n") != std::string::npos, true)
        << fresh.output;
}

}  // namespace
}  // namespace tq::testing
