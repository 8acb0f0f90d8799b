// The auxiliary windows driven through the console on the simulated board: each reachable by its
// entry point and its controls' object names, each moving the simulated converter.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/Version.h"
#include "tests/e2e/ConsoleRunner.h"

namespace tq::testing {
namespace {

TEST(AuxiliaryWindows, DirectReadWriteFromItsMenuItem) {
    const ConsoleRun run = RunConsole(
        "menu MainForm.MnuTest\n"
        "get TestForm\n"
        "type TestForm.Text1 10\n"
        "type TestForm.Text2 C000\n"
        "click TestForm.Command2\n"
        "sim get 0 2\n"
        "sim output 0\n"
        "sim reg 0 2 0x1234\n"
        "click TestForm.Command1\n"
        "get TestForm.Text2\n"
        "type TestForm.Text1 10000\n"
        "click TestForm.Command2\n"
        "messages\n"
        "quit\n");
    std::vector<std::string> a;
    ASSERT_TRUE(AnsweredAll(run, 14, a));
    EXPECT_EQ(a[0], "ok\n");
    EXPECT_EQ(a[1], "text: Direct Read / Write\nvisible: 1\nok\n");
    EXPECT_EQ(a[5], "0xC000\nok\n");
    EXPECT_NEAR(Volts(a[6]), 5.0, 0.01) << a[6];
    EXPECT_EQ(a[9].rfind("text: 1234\n", 0), 0u) << a[9];
    EXPECT_EQ(a[12], "message: warning The address is out of range (0 to FFFF).\nok\n");
}

TEST(AuxiliaryWindows, OutputVoltagesPerChannelInEitherCoding) {
    const ConsoleRun run = RunConsole("menu MainForm.MnuVout\n" + Enter("VoutForm.Text3", "-5") +
                                      "get VoutForm.Text3\n"
                                      "sim get 2 2\n"
                                      "sim output 2\n"
                                      "click MainForm.Toggle2\n"
                                      "state BinaryCoding\n" +
                                      Enter("VoutForm.Text1", "5") +
                                      "sim get 0 2\n"
                                      "sim output 0\n"
                                      "sim reg 1 3 2\n" +
                                      Enter("VoutForm.Text2", "20") +
                                      "get VoutForm.Text2\n"
                                      "sim output 1\n"
                                      "quit\n");
    std::vector<std::string> a;
    ASSERT_TRUE(AnsweredAll(run, 18, a));
    EXPECT_EQ(a[3].rfind("text: -5\n", 0), 0u) << a[3];
    EXPECT_EQ(a[4], "0x4000\nok\n");
    EXPECT_NEAR(Volts(a[5]), -5.0, 0.01) << a[5];
    EXPECT_EQ(a[7], "0\nok\n");
    EXPECT_EQ(a[10], "0x4000\nok\n") << "5 V in two's complement";
    EXPECT_NEAR(Volts(a[11]), 5.0, 0.01) << a[11];
    EXPECT_EQ(a[15].rfind("text: 10.5263\n", 0), 0u) << a[15];
    EXPECT_NEAR(Volts(a[16]), 10.5263, 0.01) << a[16];
}

// Output Voltages opens on what the program knows of each output (DAC A from the start-up's
// read-back, B and C as the main window set them, D not known: empty) and follows every change
// made elsewhere, Safe State included, also in the box that has the focus.
TEST(AuxiliaryWindows, OutputVoltagesShowWhatTheProgramKnows) {
    std::string script;
    for (const auto& [channel, volts] : {std::pair{"DAC B", "3.3"}, std::pair{"DAC C", "-7.5"}})
        script += std::string("select MainForm.ComboAddr ") + channel +
                  "\ntype MainForm.TextVolts " + volts + "\nkey MainForm.TextVolts enter\n";
    script +=
        "trace\nmenu MainForm.MnuVout\n"                                                    // 6, 7
        "get VoutForm.Text1\nget VoutForm.Text2\nget VoutForm.Text3\nget VoutForm.Text4\n"  // 8-11
        "trace\n"                                                                           // 12
        "type VoutForm.Text2 x\nkey VoutForm.Text2 enter\nget VoutForm.Text2\n"             // 13-15
        "menu MainForm.MnuSafeState\nwait 100\n"                               // 16, 17
        "get VoutForm.Text2\nget VoutForm.Text3\nget VoutForm.Text4\nquit\n";  // 18-21
    const ConsoleRun run = RunConsole(script);
    std::vector<std::string> a;
    ASSERT_TRUE(AnsweredAll(run, 22, a));
    EXPECT_EQ(a[8].rfind("text: 0\n", 0), 0u) << a[8];
    EXPECT_EQ(a[9].rfind("text: 3.29987\n", 0), 0u) << a[9];
    EXPECT_EQ(a[10].rfind("text: -7.5\n", 0), 0u) << a[10];
    EXPECT_EQ(a[11].rfind("text: \n", 0), 0u) << a[11];
    EXPECT_EQ(a[12], "ok\n") << "opening reads nothing from the board";
    // No number: refused before anything is sent, emptied and focused.
    EXPECT_EQ(a[15], "text: \nvisible: 1\nenabled: 1\nfocus: 1\nok\n");
    for (const std::size_t i : {18u, 19u, 20u})
        EXPECT_EQ(a[i].rfind("text: 0\n", 0), 0u) << a[i];
}

TEST(AuxiliaryWindows, DeviceSelectionOpensTheMainWindow) {
    const ConsoleRun run = RunConsole(
        "get Form2\n"
        "get MainForm\n"
        "click Form2.Option1\n"
        "click Form2.Command1\n"
        "state Resolution\n"
        "get MainForm\n"
        "get Form2\n"
        "quit\n",
        {QStringLiteral("--select-device")});
    std::vector<std::string> a;
    ASSERT_TRUE(AnsweredAll(run, 8, a));
    EXPECT_EQ(a[0], "text: Select Device\nvisible: 1\nok\n");
    EXPECT_EQ(a[1].rfind("error:", 0), 0u) << "no main window before OK: " << a[1];
    EXPECT_EQ(a[4], "14\nok\n");
    EXPECT_EQ(a[5], "text: TQ2604X Evaluation Software\nvisible: 1\nok\n");
    EXPECT_EQ(a[6], "text: Select Device\nvisible: 0\nok\n");
}

TEST(AuxiliaryWindows, AboutShowsVersionAndIsMadeAgainAfterOk) {
    const ConsoleRun run = RunConsole(
        "menu MainForm.MnuAbout\n"
        "get frmAbout\n"
        "get frmAbout.lblVersion\n"
        "click frmAbout.cmdSysInfo\n"
        "messages\n"
        "click frmAbout.cmdOK\n"
        "wait 50\n"
        "get frmAbout\n"
        "menu MainForm.MnuAbout\n"
        "get frmAbout\n"
        "quit\n");
    std::vector<std::string> a;
    ASSERT_TRUE(AnsweredAll(run, 11, a));
    EXPECT_EQ(a[1], "text: About TQ2604X Evaluation Software\nvisible: 1\nok\n");
    EXPECT_EQ(a[2].rfind(std::string("text: Version  ") + kProgramVersion + "\n", 0), 0u) << a[2];
    EXPECT_EQ(a[4], "message: none System Information Is Unavailable At This Time\nok\n");
    EXPECT_EQ(a[7].rfind("error:", 0), 0u) << "OK unloads the window: " << a[7];
    EXPECT_EQ(a[9], "text: About TQ2604X Evaluation Software\nvisible: 1\nok\n");
}

TEST(AuxiliaryWindows, LegacyPanelMovesChannelAAndExitEndsTheProgram) {
    const ConsoleRun run = RunConsole(
        "get Form1.Text1\n"
        "get MainForm\n" +
            Enter("Form1.Text1", "5") +
            "get Form1.Text1\n"
            "sim get 0 2\n"
            "sim output 0\n"
            "click Form1.CmdRead\n"
            "get Form1.Label5\n"
            "menu Form1.MnuExit\n"
            "get Form1\n",
        {QStringLiteral("--legacy-panel")});
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    const auto a = Answers(run.output);
    ASSERT_GE(a.size(), 9u) << run.output;
    EXPECT_EQ(a[0].rfind("text: 0.0000\n", 0), 0u) << a[0];
    EXPECT_EQ(a[1].rfind("error:", 0), 0u) << "the panel stands alone: " << a[1];
    EXPECT_EQ(a[4].rfind("text: 5\n", 0), 0u) << a[4];
    EXPECT_EQ(a[5], "0xBFF6\nok\n") << "49142 with the panel's corrections";
    EXPECT_NEAR(Volts(a[6]), 5.0, 0.01) << a[6];
    EXPECT_EQ(a[8].rfind("text: BFF6\n", 0), 0u) << a[8];
    EXPECT_LE(a.size(), 10u) << "nothing runs after Exit: " << run.output;
}

}  // namespace
}  // namespace tq::testing
