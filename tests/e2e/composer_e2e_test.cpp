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
    script += viaFunctionView +
              "type MainForm.TextData 1234\n"
              "key MainForm.TextData enter\n"
              "sim output 0\nsim output 1\n";
    script += "select MainForm.ComboAddr DAC A\n" + viaFunctionView +
              "type MainForm.TextVolts 6\n"
              "key MainForm.TextVolts enter\n"
              "sim output 0\nsim output 1\n";
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

}  // namespace
}  // namespace tq::testing
