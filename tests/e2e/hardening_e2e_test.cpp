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

namespace tq::testing {
namespace {

const std::string kSilent = "text: Simulated board \u2014 Board not responding\n";
const std::string kAnswering = "text: Simulated board\n";
const std::string kStatus = "get MainForm.StatusBar\n";
const std::string kBack =
    "text: The board answered again: its pins and function register were sent again\n";

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
    std::string during;  // the action the board drops out of, unplugged part way
    std::string next;    // the action after plugging back in
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
    const auto back = run.output.find(kBack);
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
            "wait 2001\n" + kReadBack},
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
                         ::testing::Values(-1, -2, -3, -4, -5, -6, -7, -8, -9, -10, 3, 0x10000));

}  // namespace
}  // namespace tq::testing
