// The main window's switches and start-up on the simulated board, driven through the console.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <string>

#include "tests/e2e/ConsoleRunner.h"

namespace tq::testing {
namespace {

ConsoleRun RunWithSetup(const std::string& setup, const std::string& script) {
    QTemporaryDir dir;
    return RunConsole(script, {QStringLiteral("--sim-setup"), WriteSetup(dir, setup)});
}

bool Has(const ConsoleRun& run, const std::string& text) {
    return run.output.find(text) != std::string::npos;
}

TEST(MainFormConsole, ASilentSerialOutputAtStartupCountsAsAClearFunctionRegister) {
    // SDO disabled: the function register reads FFFF.
    const ConsoleRun run = RunWithSetup("reg 1 0 0x1\n",
                                        "get MainForm.Toggle3\nget MainForm.Toggle4\n"
                                        "get MainForm.Toggle1\nstate FnD1Output\n"
                                        "sim get 1 0\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_TRUE(Has(run, "text: D1 - Input\n")) << run.output;
    EXPECT_TRUE(Has(run, "text: D0 - Input\n")) << run.output;
    EXPECT_TRUE(Has(run, "text: Disabled\n")) << run.output;
    EXPECT_TRUE(Has(run, "ok\n0\nok\n0x0\nok\n")) << run.output;
}

TEST(MainFormConsole, TheFirstFunctionWriteKeepsWhatTheConverterHad) {
    const ConsoleRun run = RunWithSetup("reg 1 0 0x14\n",
                                        "click MainForm.Toggle1\nsim get 1 0\n"
                                        "get MainForm.Toggle1\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_TRUE(Has(run, "ok\n0x34\nok\ntext: Enabled\n")) << run.output;
}

TEST(MainFormConsole, ReadWithSdoDisabledEnablesItAndTouchesNoOtherBit) {
    const ConsoleRun run = RunConsole(
        "click MainForm.Toggle7\nsim get 1 0\ntrace\nclick MainForm.Command6\ntrace\n"
        "sim get 1 0\nget MainForm.Toggle7\nstate FnSdoDisable\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_TRUE(Has(run, "ok\n0x1\nok\n")) << run.output;
    const std::string read =
        "Vendor_Request req=0xDD value=0x81 index=0x0 dir=1 len=3 reply=FF FF FF result=3\n";
    const std::string readAgain =
        "Vendor_Request req=0xDD value=0x81 index=0x0 dir=1 len=3 reply=00 00 00 result=3\n";
    EXPECT_TRUE(Has(run, "ok\n" + read + read +
                             "Vendor_Request req=0xDD value=0x1 index=0x0 dir=0 len=0 result=0\n" +
                             readAgain + readAgain + "ok\n0x0\nok\ntext: Enabled\n"))
        << run.output;
    EXPECT_TRUE(Has(run, "state: 0\nok\n0\nok\n")) << run.output;
}

TEST(MainFormConsole, ReadTakesTheLevelTheBoardDrivesOntoAnInput) {
    const ConsoleRun run = RunConsole(
        "click MainForm.Toggle11\nclick MainForm.Command6\nstate DriveD0\nstate DriveD1\n"
        "get MainForm.Toggle6\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_TRUE(Has(run, "ok\nok\n1\nok\n0\nok\ntext: D0 - High\n")) << run.output;
}

TEST(MainFormConsole, DirectionSwitchesKeepReadAndTheDriveSwitchesConsistent) {
    const ConsoleRun run = RunConsole(
        "click MainForm.Toggle3\nclick MainForm.Toggle4\nget MainForm.Command6\n"
        "click MainForm.Toggle12\nget MainForm.Toggle5\nsim get 1 0\n"
        "click MainForm.Toggle4\nget MainForm.Command6\nget MainForm.Toggle11\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_TRUE(Has(run, "ok\nok\ntext: READ\nvisible: 0\n")) << run.output;
    // The drive switch of an output cannot be reached.
    EXPECT_TRUE(Has(run, "error: ")) << run.output;
    EXPECT_TRUE(Has(run, "text: D1 - Low\nvisible: 1\nenabled: 1\n")) << run.output;
    EXPECT_TRUE(Has(run, "0x14\nok\n")) << run.output;
    EXPECT_TRUE(Has(run,
                    "ok\ntext: READ\nvisible: 1\nenabled: 1\nok\n"
                    "text: Low\nvisible: 1\nenabled: 1\n"))
        << run.output;
}

// When the board answers again the status bar says what the program sent it, until the next
// action.
TEST(MainFormConsole, TheStatusBarReportsASilentBoardUntilItAnswersAgain) {
    const ConsoleRun run = RunConsole(
        "get MainForm.StatusBar\nsim unplug\nclick MainForm.Command4\nget MainForm.StatusBar\n"
        "sim plug\nclick MainForm.Command5\nget MainForm.StatusBar\nwait 20\n"
        "click MainForm.Command5\nget MainForm.StatusBar\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const auto first = run.output.find("text: Simulated board\n");
    const auto silent = run.output.find("Board not responding");
    const auto back = run.output.find(
        "text: The board answered again: its pins and function register were sent again\n");
    const auto again = run.output.rfind("text: Simulated board\n");
    ASSERT_NE(first, std::string::npos) << run.output;
    ASSERT_NE(silent, std::string::npos) << run.output;
    EXPECT_LT(first, silent);
    EXPECT_LT(silent, back) << run.output;
    EXPECT_LT(back, again) << run.output;
}

TEST(MainFormConsole, ExitEndsTheProgramWithStatusZero) {
    const ConsoleRun run = RunConsole("menu MainForm.MnuExit\n");
    EXPECT_EQ(run.exitCode, 0) << run.errors;
}

}  // namespace
}  // namespace tq::testing
