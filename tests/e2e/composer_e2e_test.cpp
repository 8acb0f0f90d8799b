// Voltages typed into the register composer reach the simulated converter's outputs.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/ConsoleRunner.h"

namespace tq::testing {
namespace {

// The simulated board's fixed amplifier errors per channel (gain, offset in volts).
struct ChannelError {
    double gain;
    double offset;
};
constexpr ChannelError kChannelErrors[4] = {
    {2.1e-4, 350e-6}, {-1.4e-4, -220e-6}, {3.2e-4, 180e-6}, {-2.6e-4, -410e-6}};

struct Range {
    const char* item;
    double fullScale;
};
const Range kRanges[3] = {{"Output Range = \u00b1 10 V", 10.0},
                          {"Output Range = \u00b1 10.2564 V", 10.2564},
                          {"Output Range = \u00b1 10.5263 V", 10.5263}};
const char* const kChannelItems[4] = {"DAC A", "DAC B", "DAC C", "DAC D"};

// The lines the script printed other than "ok"; a failed command fails the test.
std::vector<std::string> Values(const ConsoleRun& run) {
    std::vector<std::string> values;
    std::istringstream in(run.output);
    for (std::string line; std::getline(in, line);) {
        EXPECT_EQ(line.rfind("error", 0), std::string::npos) << line;
        if (line != "ok")
            values.push_back(line);
    }
    return values;
}

// Put a channel on a range, then type a voltage for it in the data register view.
std::string TypeVoltage(int channel, const Range& range, const std::string& volts) {
    std::ostringstream s;
    s << "select MainForm.ComboAddr " << kChannelItems[channel] << "\n"
      << "select MainForm.ComboReg Coarse Gain Register\n"
      << "select MainForm.ComboCoarse " << range.item << "\n"
      << "select MainForm.ComboReg Data Register\n"
      << "type MainForm.TextVolts " << volts << "\n"
      << "key MainForm.TextVolts enter\n";
    return s.str();
}

TEST(ComposerEndToEnd, TypedVoltageAppearsOnEveryChannelInEveryRange) {
    const char* const typed[] = {"7.25", "-3.3", "9.99", "-9.875"};
    struct Expected {
        int channel;
        double volts;
        double fullScale;
    };
    std::string script;
    std::vector<Expected> expected;
    for (int channel = 0; channel < 4; ++channel) {
        for (const Range& range : kRanges) {
            const char* volts = typed[(channel + expected.size()) % 4];
            script += TypeVoltage(channel, range, volts);
            script += "sim output " + std::to_string(channel) + "\n";
            expected.push_back({channel, std::stod(volts), range.fullScale});
        }
    }
    const ConsoleRun run = RunConsole(script + "quit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const auto values = Values(run);
    ASSERT_EQ(values.size(), expected.size()) << run.output;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Expected& e = expected[i];
        SCOPED_TRACE("channel " + std::to_string(e.channel) + " at " + std::to_string(e.volts) +
                     " V, range " + std::to_string(e.fullScale));
        const ChannelError& err = kChannelErrors[e.channel];
        const double oneCode = 2 * e.fullScale / 65536;
        const double tolerance =
            oneCode + std::fabs(e.volts * err.gain) + std::fabs(err.offset) + 1e-6;
        EXPECT_NEAR(std::stod(values[i]), e.volts, tolerance);
    }
}

// A write for one channel never moves another, also when the function register view has just
// moved the address to 1 (DAC B) while the channel list shows another channel.
TEST(ComposerEndToEnd, WritesReachOnlyTheChannelShown) {
    const std::string viaFunctionView =
        "select MainForm.ComboReg Function Register\n"
        "select MainForm.ComboReg Data Register\n";
    std::string script = TypeVoltage(0, kRanges[0], "4.5") + "sim output 0\n";
    script += TypeVoltage(1, kRanges[2], "-8") + "sim output 0\nsim output 1\n";
    script += viaFunctionView + Enter("MainForm.TextData", "1234") + "sim output 0\nsim output 1\n";
    script += "select MainForm.ComboAddr DAC A\n" + viaFunctionView +
              Enter("MainForm.TextVolts", "6") + "sim output 0\nsim output 1\n";
    const ConsoleRun run = RunConsole(script + "quit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const auto values = Values(run);
    ASSERT_EQ(values.size(), 7u) << run.output;
    const std::string dacA = values[0];
    EXPECT_NEAR(std::stod(dacA), 4.5, 0.002);
    EXPECT_EQ(values[1], dacA);
    EXPECT_NEAR(std::stod(values[2]), -8.0, 0.003);
    // Code 1234 hexadecimal on DAC B's +-10.5263 V range.
    EXPECT_EQ(values[3], dacA);
    EXPECT_NEAR(std::stod(values[4]), -10.5263 + 2 * 10.5263 * 0x1234 / 65536, 0.003);
    EXPECT_NEAR(std::stod(values[5]), 6.0, 0.002);
    EXPECT_EQ(values[6], values[4]);
}

// Through the console: a decimal comma or a text without a number writes nothing and empties the
// box (the output stays), "12V" keeps its reading; the word display shows the voltage entry's
// word; a refused entry (DAC A held by limits) shows what the channel holds.
TEST(ComposerEndToEnd, TheEntryMendsHoldThroughTheConsole) {
    const std::string script =
        "type MainForm.TextVolts 2.5\nkey MainForm.TextVolts enter\n"             // 1, 2
        "trace\n"                                                                 // 3
        "type MainForm.TextVolts 1,5\nkey MainForm.TextVolts enter\n"             // 4, 5
        "trace\nget MainForm.TextVolts\nsim output 0\n"                           // 6, 7, 8
        "type MainForm.TextVolts x\nkey MainForm.TextVolts enter\n"               // 9, 10
        "trace\n"                                                                 // 11
        "type MainForm.TextVolts 12V\nkey MainForm.TextVolts enter\n"             // 12, 13
        "get MainForm.TextVolts\nget MainForm.LabelData\nget MainForm.Label27\n"  // 14-16
        "get MainForm.LabelRW\n"                                                  // 17
        "menu MainForm.MnuProtection\ntype ProtectionForm.TextHigh0 3\n"          // 18, 19
        "click ProtectionForm.CmdApply\n"                                         // 20
        "type MainForm.TextVolts 1\nkey MainForm.TextVolts enter\n"               // 21, 22
        "type MainForm.TextVolts 4\nkey MainForm.TextVolts enter\n"               // 23, 24
        "get MainForm.TextVolts\nsim output 0\nmessages\nquit\n";                 // 25-27
    const ConsoleRun run = RunConsole(script);
    std::vector<std::string> answers;
    ASSERT_TRUE(AnsweredAll(run, 28, answers));
    EXPECT_NE(answers[2].find("req=0xD9 value=0x10 index=0xA000"), std::string::npos) << answers[2];
    // Refused before anything is sent: no traffic, the box emptied and focused, 2.5 V stays.
    EXPECT_EQ(answers[5], "ok\n");
    EXPECT_EQ(answers[6], "text: \nvisible: 1\nenabled: 1\nfocus: 1\nok\n");
    EXPECT_NEAR(std::stod(answers[7]), 2.5, 0.002) << answers[7];
    EXPECT_EQ(answers[10], "ok\n");
    EXPECT_EQ(answers[13], "text: 10.0000\nvisible: 1\nenabled: 1\nfocus: 1\nok\n");
    // The word display shows the word the voltage entry sent: R/W 0, data register, DAC A.
    EXPECT_EQ(answers[14], "text: 10FFFF\nvisible: 1\nenabled: 1\nok\n");
    EXPECT_EQ(answers[15], "text: FFFF\nvisible: 1\nenabled: 1\nok\n");
    EXPECT_EQ(answers[16], "text: 0\nvisible: 1\nenabled: 1\nok\n");
    // 4 V is above DAC A's limit of 3 V: refused, and the box shows what DAC A holds: the code
    // of 1 V, 0x8CCD, which is 1.00006 V.
    EXPECT_EQ(answers[24], "text: 1.0001\nvisible: 1\nenabled: 1\nfocus: 1\nok\n");
    EXPECT_NEAR(std::stod(answers[25]), 1.0, 0.002) << answers[25];
    // The refusal in the box's words, once: what was typed and what it became.
    EXPECT_EQ(answers[26],
              "message: warning DAC A voltage: 4 V typed, 4 V to send, is above DAC A's limit of "
              "3 V; nothing was sent\nok\n");
}

}  // namespace
}  // namespace tq::testing
