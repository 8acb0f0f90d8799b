// The main window's switches and start-up on the simulated board, driven through the console.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/ConsoleRunner.h"

namespace tq::testing {
namespace {

// A run of the console on the simulated board, started from `setup` (--sim-setup) when there is
// one, and texts its output must hold, each somewhere in it.
struct SwitchCase {
    const char* name;
    std::string setup;
    std::string script;
    std::vector<std::string> shown;
};

const std::string kReadFunctionSilent =
    "Vendor_Request req=0xDD value=0x81 index=0x0 dir=1 len=3 reply=FF FF FF result=3\n";
const std::string kReadFunction =
    "Vendor_Request req=0xDD value=0x81 index=0x0 dir=1 len=3 reply=00 00 00 result=3\n";

void PrintTo(const SwitchCase& c, std::ostream* os) {
    *os << c.name;
}

class MainFormSwitches : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(MainFormSwitches, ShowAndSendWhatTheConverterHas) {
    const SwitchCase& c = GetParam();
    QTemporaryDir dir;
    const ConsoleRun run =
        c.setup.empty()
            ? RunConsole(c.script)
            : RunConsole(c.script, {QStringLiteral("--sim-setup"), WriteSetup(dir, c.setup)});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    for (const std::string& text : c.shown) {
        EXPECT_NE(run.output.find(text), std::string::npos) << text << "\nnot in:\n" << run.output;
    }
}

INSTANTIATE_TEST_SUITE_P(
    MainFormConsole, MainFormSwitches,
    ::testing::Values(
        // SDO disabled: the function register reads FFFF, which counts as a clear register.
        SwitchCase{"ASilentSerialOutputAtStartupCountsAsAClearFunctionRegister",
                   "reg 1 0 0x1\n",
                   "get MainForm.Toggle3\nget MainForm.Toggle4\nget MainForm.Toggle1\n"
                   "state FnD1Output\nsim get 1 0\nquit\n",
                   {"text: D1 - Input\n", "text: D0 - Input\n", "text: Disabled\n",
                    "ok\n0\nok\n0x0\nok\n"}},
        SwitchCase{"TheFirstFunctionWriteKeepsWhatTheConverterHad",
                   "reg 1 0 0x14\n",
                   "click MainForm.Toggle1\nsim get 1 0\nget MainForm.Toggle1\nquit\n",
                   {"ok\n0x34\nok\ntext: Enabled\n"}},
        SwitchCase{"ReadWithSdoDisabledEnablesItAndTouchesNoOtherBit",
                   "",
                   "click MainForm.Toggle7\nsim get 1 0\ntrace\nclick MainForm.Command6\ntrace\n"
                   "sim get 1 0\nget MainForm.Toggle7\nstate FnSdoDisable\nquit\n",
                   {"ok\n0x1\nok\n",
                    "ok\n" + kReadFunctionSilent + kReadFunctionSilent +
                        "Vendor_Request req=0xDD value=0x1 index=0x0 dir=0 len=0 result=0\n" +
                        kReadFunction + kReadFunction + "ok\n0x0\nok\ntext: Enabled\n",
                    "state: 0\nok\n0\nok\n"}},
        SwitchCase{"ReadTakesTheLevelTheBoardDrivesOntoAnInput",
                   "",
                   "click MainForm.Toggle11\nclick MainForm.Command6\nstate DriveD0\n"
                   "state DriveD1\nget MainForm.Toggle6\nquit\n",
                   {"ok\nok\n1\nok\n0\nok\ntext: D0 - High\n"}},
        // The drive switch of an output cannot be reached ("error: ").
        SwitchCase{
            "DirectionSwitchesKeepReadAndTheDriveSwitchesConsistent",
            "",
            "click MainForm.Toggle3\nclick MainForm.Toggle4\nget MainForm.Command6\n"
            "click MainForm.Toggle12\nget MainForm.Toggle5\nsim get 1 0\n"
            "click MainForm.Toggle4\nget MainForm.Command6\nget MainForm.Toggle11\nquit\n",
            {"ok\nok\ntext: READ\nvisible: 0\n",
             "error: ", "text: D1 - Low\nvisible: 1\nenabled: 1\n", "0x14\nok\n",
             "ok\ntext: READ\nvisible: 1\nenabled: 1\nok\ntext: Low\nvisible: 1\nenabled: 1\n"}}),
    [](const ::testing::TestParamInfo<SwitchCase>& info) { return std::string(info.param.name); });

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
