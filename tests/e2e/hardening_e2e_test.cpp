// Board faults on the simulated board, end to end through the console: the board drops out in
// the middle of an action, replies arrive garbled, the firmware download fails with each code.
// Nothing crashes, the status bar tells while requests fail, and plugging back in lets the next
// action work.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/ConsoleRunner.h"
#include "tests/support/RowNames.h"

namespace tq::testing {
namespace {

const std::string kSilent = "text: Simulated board \u2014 Board not responding\n";
const std::string kAnswering = "text: Simulated board\n";
const std::string kStatus = "get MainForm.StatusBar\n";
// Nothing the program knew differed from the power-on state: it cannot tell a glitch from a
// power loss, and sends its pins and function word again.
const std::string kBack =
    "text: The board answered again: its pins and function register were sent again\n";
// It knew a register that a power loss would have reset: a glitch, and nothing is sent.
const std::string kKept = "text: The board answered again and kept its registers and pins\n";

std::vector<std::string> ErrorLines(const std::string& output) {
    std::vector<std::string> errors;
    std::size_t start = 0;
    for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1)
        if (output.compare(start, 6, "error:") == 0)
            errors.push_back(output.substr(start, end - start));
    return errors;
}

struct FaultCase {
    const char* name;
    std::string during;        // the action the board drops out of, unplugged part way
    std::string next;          // the action after plugging back in
    std::string back = kBack;  // what the status bar says then
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class FaultDuringAction : public ::testing::TestWithParam<FaultCase> {};

// The action after plugging back finds the board answering: the status bar says what was sent
// to it again, until the action after that.
TEST_P(FaultDuringAction, StatusBarTellsAndTheNextActionWorks) {
    const FaultCase& c = GetParam();
    const ConsoleRun run =
        RunConsole(kStatus + c.during + kStatus + "sim plug\n" + c.next + kStatus +
                   "wait 20\nclick MainForm.Command1\n" + kStatus + "quit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(ErrorLines(run.output), std::vector<std::string>{}) << run.output;
    const auto first = run.output.find(kAnswering);
    const auto silent = run.output.find(kSilent);
    const auto back = run.output.find(c.back);
    const auto again = run.output.rfind(kAnswering);
    ASSERT_NE(first, std::string::npos) << run.output;
    ASSERT_NE(silent, std::string::npos) << run.output;
    EXPECT_LT(first, silent);
    EXPECT_LT(silent, back) << run.output;
    EXPECT_LT(back, again) << run.output;
}

const std::string kReadBack = "click MainForm.Command1\n";
const std::string kMeasure = "click MainForm.Command7\n";

INSTANTIATE_TEST_SUITE_P(
    Unplugged, FaultDuringAction,
    ::testing::Values(
        // Between the two Done steps; the completion notice then blocks the window for 2 s, and
        // a wait of a millisecond more always outlasts it.
        FaultCase{
            "calibration",
            "click MainForm.Command8\ntype MainForm.TextOff 0.001\nclick MainForm.CommandOff\n"
            "sim unplug\ntype MainForm.TextFS -10\nclick MainForm.CommandFS\n",
            "wait 2001\n" + kReadBack, kKept},
        FaultCase{"measure", "sim unplug\n" + kMeasure, kMeasure},
        FaultCase{"composer read-back", "sim unplug\n" + kReadBack, kReadBack},
        FaultCase{"voltage entry",
                  "sim unplug\ntype MainForm.TextVolts 5\nkey MainForm.TextVolts enter\n",
                  "type MainForm.TextVolts 5\nkey MainForm.TextVolts enter\n"}),
    [](const auto& info) {
        std::string name;
        for (const char ch : std::string(info.param.name))
            if (std::isalnum(static_cast<unsigned char>(ch)))
                name += ch;
        return name;
    });

class PowerLoss : public ::testing::TestWithParam<bool> {};

// The board loses power with 5 V on DAC A: the program finds it back at once, the status bar says
// what it restored, every output is at 0 V in either coding, and the next 5 V lands as before.
TEST_P(PowerLoss, TheStatusBarTellsAndEveryOutputIsAtZero) {
    const bool twos = GetParam();
    const std::string five = Enter("MainForm.TextVolts", "5");
    const ConsoleRun run =
        RunConsole(std::string(twos ? "click MainForm.Toggle2\n" : "wait 0\n") + five +
                   "sim output 0\nsim power-cycle\n" + kStatus +
                   "sim output 0\nsim output 1\nsim get 0 2\n" + five + "sim output 0\nquit\n");
    std::vector<std::string> a;
    ASSERT_TRUE(AnsweredAll(run, 13, a));
    EXPECT_NEAR(Volts(a[3]), 5.0, 0.002) << a[3];
    EXPECT_EQ(a[5].rfind("text: The board lost power: outputs at 0 V, ranges and calibration "
                         "restored\n",
                         0),
              0u)
        << a[5];
    EXPECT_NEAR(Volts(a[6]), 0.0, 0.001) << a[6];
    EXPECT_NEAR(Volts(a[7]), 0.0, 0.001) << a[7];
    EXPECT_EQ(a[8], twos ? "0x0\nok\n" : "0x8000\nok\n");
    EXPECT_EQ(Volts(a[11]), Volts(a[3]));
}

INSTANTIATE_TEST_SUITE_P(Codings, PowerLoss, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Twos" : "Binary"; });

// The first read-back takes both garbled replies and shows nonsense; the next shows the register.
TEST(GarbledReplies, OnlyTheGarbledReadBackIsWrong) {
    const std::string show = kReadBack + "get MainForm.TextData\n";
    const ConsoleRun run =
        RunConsole("sim reg 0 2 0x1234\nsim garble 2\n" + show + show + kStatus + "quit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(ErrorLines(run.output), std::vector<std::string>{}) << run.output;
    const auto garbled = run.output.find("text: ");
    const auto shown = run.output.find("text: 1234\n");
    ASSERT_NE(shown, std::string::npos) << run.output;
    EXPECT_LT(garbled, shown) << run.output;
    EXPECT_EQ(run.output.find(kSilent), std::string::npos) << run.output;
}

class FailedDownload : public ::testing::TestWithParam<int> {};

// A failed download is told in a message and ends the program with status 1, whatever the code.
TEST_P(FailedDownload, IsToldAndEndsTheProgram) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString setup = dir.filePath(QStringLiteral("setup.txt"));
    QFile file(setup);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(("fail-download " + std::to_string(GetParam()) + "\n").c_str());
    file.close();

    const ConsoleRun run = RunConsole("trace\nquit\n", {QStringLiteral("--sim-setup"), setup});
    EXPECT_EQ(run.exitCode, 1) << run.output << run.errors;
    EXPECT_NE(run.output.find("message: "), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Vendor_Request"), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(EveryCode, FailedDownload,
                         ::testing::Values(-1, -2, -3, -4, -5, -6, -7, -8, -9, -10, 3, 0x10000),
                         tq::testing::ByValue{});

}  // namespace
}  // namespace tq::testing
