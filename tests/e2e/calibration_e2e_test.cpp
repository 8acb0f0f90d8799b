// A user without hardware calibrates a channel of the simulated board from its meter readings,
// and the channel's 0 V and zero-scale errors shrink. The board is deterministic, so each run
// replays the earlier runs' steps and adds the next reading.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/ConsoleRunner.h"

namespace tq::testing {
namespace {

const char* const kChannelItems[4] = {"DAC A", "DAC B", "DAC C", "DAC D"};
constexpr double kRangeVolts = 10.0;

// The meter readings (`sim output`, 6 decimals) in the order the script asked for them; any
// "error" line fails the test.
std::vector<double> Readings(const ConsoleRun& run) {
    std::vector<double> readings;
    const std::regex reading(R"(-?\d+\.\d{6})");
    std::istringstream in(run.output);
    for (std::string line; std::getline(in, line);) {
        EXPECT_EQ(line.rfind("error", 0), std::string::npos) << line;
        if (std::regex_match(line, reading))
            readings.push_back(std::stod(line));
    }
    return readings;
}

std::string Load(const std::string& volts) {
    return "type MainForm.TextVolts " + volts + "\nkey MainForm.TextVolts enter\n";
}

std::string Reading(double volts) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", volts);
    return text;
}

class CalibrationEndToEnd : public ::testing::TestWithParam<int> {
protected:
    std::string Select() const {
        return "select MainForm.ComboAddr " + std::string(kChannelItems[GetParam()]) + "\n";
    }
    std::string Meter() const { return "sim output " + std::to_string(GetParam()) + "\n"; }
    // Both errors of the channel as the meter shows them: at 0 V and at zero scale.
    std::string MeasureErrors() const { return Load("0") + Meter() + Load("-10") + Meter(); }
};

TEST_P(CalibrationEndToEnd, ZeroAndZeroScaleErrorsShrink) {
    const int channel = GetParam();

    const ConsoleRun before = RunConsole(Select() + MeasureErrors() + "quit\n");
    ASSERT_EQ(before.exitCode, 0) << before.errors;
    const std::vector<double> b = Readings(before);
    ASSERT_EQ(b.size(), 2u) << before.output;
    const double zeroBefore = b[0];
    const double zeroScaleBefore = b[1] + kRangeVolts;

    // The offset step from the 0 V reading, then the zero-scale reading it leaves. A temperature
    // measurement first must leave the registers readable for it.
    const std::string offsetStep = Select() + "click MainForm.Command7\n" + Load("0") +
                                   "click MainForm.Command8\n" + "type MainForm.TextOff " +
                                   Reading(b[0]) + "\n" + "click MainForm.CommandOff\n" +
                                   Load("-10") + Meter();
    const ConsoleRun afterOffset = RunConsole(offsetStep + "quit\n");
    ASSERT_EQ(afterOffset.exitCode, 0) << afterOffset.errors;
    const std::vector<double> o = Readings(afterOffset);
    ASSERT_EQ(o.size(), 1u) << afterOffset.output;

    const std::string gainStep = "type MainForm.TextFS " + Reading(o[0]) + "\n" +
                                 "click MainForm.CommandFS\n" + "get MainForm.LabelComplete\n" +
                                 "wait 2001\n" + "get MainForm.Command8\n";
    const ConsoleRun after =
        RunConsole(offsetStep + gainStep + MeasureErrors() + "messages\nquit\n");
    ASSERT_EQ(after.exitCode, 0) << after.errors;
    const std::vector<double> a = Readings(after);
    ASSERT_EQ(a.size(), 3u) << after.output;
    EXPECT_EQ(a[0], o[0]) << "the replay must reach the same zero-scale reading";
    const double zeroAfter = a[1];
    const double zeroScaleAfter = a[2] + kRangeVolts;

    std::printf("channel %d: 0 V error %+.6f V -> %+.6f V, zero-scale error %+.6f V -> %+.6f V\n",
                channel, zeroBefore, zeroAfter, zeroScaleBefore, zeroScaleAfter);

    EXPECT_NE(after.output.find("text: Calibration complete\nvisible: 1"), std::string::npos);
    EXPECT_NE(after.output.find("text: Perform Offset & Gain Calibration on Selected DAC\n"
                                "visible: 1\nenabled: 1"),
              std::string::npos);
    EXPECT_EQ(after.output.find("message:"), std::string::npos) << after.output;
    EXPECT_LT(std::fabs(zeroAfter), std::fabs(zeroBefore));
    EXPECT_LT(std::fabs(zeroScaleAfter), std::fabs(zeroScaleBefore));
    // What is left is below the registers' steps: an eighth of an LSB (38 uV) for the offset,
    // one fine gain unit (153 uV) at zero scale.
    EXPECT_LT(std::fabs(zeroAfter), 40e-6);
    EXPECT_LT(std::fabs(zeroScaleAfter), 160e-6);
}

INSTANTIATE_TEST_SUITE_P(Channels, CalibrationEndToEnd, ::testing::Values(0, 1, 2, 3),
                         [](const auto& info) {
                             return std::string("Dac") + static_cast<char>('A' + info.param);
                         });

}  // namespace
}  // namespace tq::testing
