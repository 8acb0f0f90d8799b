// The INL/DNL arithmetic against small data sets whose answers are worked out by hand.

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "instrument/Linearity.h"

#include "tests/support/RowNames.h"

namespace tq {
namespace {

constexpr double kLsb = 1e-3;

// Readings of an ideal converter plus `errorsLsb` at codes 0, 1, 2, ...
std::vector<LinearityPoint> Points(const std::vector<double>& errorsLsb, double offsetLsb = 0,
                                   double gain = 1.0) {
    std::vector<LinearityPoint> points;
    for (std::size_t i = 0; i < errorsLsb.size(); ++i) {
        const double set = -1.0 + kLsb * static_cast<double>(i);
        points.push_back({static_cast<int32_t>(i), set,
                          (set + errorsLsb[i] * kLsb) * gain + offsetLsb * kLsb, 0});
    }
    return points;
}

TEST(Linearity, AStraightLineHasNoInlOrDnlWhateverItsOffsetAndGain) {
    const auto report = AnalyseLinearity(Points({0, 0, 0, 0, 0}, 2.5, 1.001), kLsb);
    for (const auto& r : report.results) {
        EXPECT_NEAR(r.inlEndPoint, 0, 1e-9);
        EXPECT_NEAR(r.inlBestFit, 0, 1e-9);
        EXPECT_NEAR(r.dnl, 0, 1e-9);
    }
    // First point -1 V read as -1.001 V + 2.5 mV: offset +1.5 LSB; span 4 mV read 1.001 times.
    EXPECT_NEAR(report.offsetErrorLsb, 1.5, 1e-6);
    EXPECT_NEAR(report.gainErrorLsb, 0.004, 1e-6);
}

TEST(Linearity, OneRaisedCodeGivesItsInlAndTwoDnlSteps) {
    // Readings 0, 2, 2 LSB at codes 0, 1, 2: the end-point line has slope 1 LSB, the middle sits
    // 1 LSB above it; the best-fit line (slope 1, through the mean 4/3) leaves -1/3, 2/3, -1/3.
    const auto report = AnalyseLinearity(Points({0, 1, 0}), kLsb);
    ASSERT_EQ(report.results.size(), 3u);
    EXPECT_NEAR(report.results[1].inlEndPoint, 1.0, 1e-9);
    EXPECT_NEAR(report.results[0].inlBestFit, -1.0 / 3, 1e-9);
    EXPECT_NEAR(report.results[1].inlBestFit, 2.0 / 3, 1e-9);
    EXPECT_NEAR(report.results[2].inlBestFit, -1.0 / 3, 1e-9);
    EXPECT_NEAR(report.results[1].dnl, 1.0, 1e-9);
    EXPECT_NEAR(report.results[2].dnl, -1.0, 1e-9);
    EXPECT_NEAR(report.maxInlEndPoint, 1.0, 1e-9);
    EXPECT_EQ(report.maxInlEndPointCode, 1);
    EXPECT_NEAR(report.maxDnl, 1.0, 1e-9);
    EXPECT_EQ(report.maxDnlCode, 1);
}

TEST(Linearity, AStepAtACarryIsOneDnlAndAnInlRampAroundIt) {
    // A +0.5 LSB step at code 4 of 0..7: the end-point line rises 1 + 0.5/7 LSB a code, so code 3
    // sits 1.5/7 below it and the step is 1.5 - slope beyond its size.
    const auto report = AnalyseLinearity(Points({0, 0, 0, 0, 0.5, 0.5, 0.5, 0.5}), kLsb);
    const double slope = 1 + 0.5 / 7;
    EXPECT_NEAR(report.results[4].dnl, (1.5 / slope) - 1, 1e-9);
    EXPECT_NEAR(report.results[3].inlEndPoint, -(1.5 / 7) / slope, 1e-9);
    EXPECT_EQ(report.maxDnlCode, 4);
}

TEST(Linearity, NoiseIsThePooledSpread) {
    auto points = Points({0, 0, 0, 0});
    for (auto& p : points)
        p.spread = 2e-5;
    points[0].spread = 4e-5;  // pooled: sqrt((16 + 4 + 4 + 4) / 4) x 1e-5
    EXPECT_NEAR(AnalyseLinearity(points, kLsb).noiseVolts, std::sqrt(7.0) * 1e-5, 1e-12);
}

TEST(Linearity, RefusesWhatHasNoLine) {
    EXPECT_THROW(AnalyseLinearity(Points({0}), kLsb), std::invalid_argument);
    EXPECT_THROW(AnalyseLinearity(Points({0, 0}), 0.0), std::invalid_argument);
    auto falling = Points({0, 0, 0});
    falling[2].code = 1;
    EXPECT_THROW(AnalyseLinearity(falling, kLsb), std::invalid_argument);
}

struct SpreadCase {
    int32_t first, last, count;
    std::vector<int32_t> codes;
};

class SpreadCodesTest : public ::testing::TestWithParam<SpreadCase> {};

TEST_P(SpreadCodesTest, CoverTheEndsEvenly) {
    EXPECT_EQ(SpreadCodes(GetParam().first, GetParam().last, GetParam().count), GetParam().codes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpreadCodesTest,
    ::testing::Values(SpreadCase{0, 65535, 2, {0, 65535}},
                      SpreadCase{0, 65535, 5, {0, 16384, 32768, 49151, 65535}},
                      SpreadCase{10, 13, 9, {10, 11, 12, 13}}, SpreadCase{5, 5, 3, {}},
                      SpreadCase{0, 9, 1, {}}),
    (tq::testing::NamedBy<&SpreadCase::first, &SpreadCase::last, &SpreadCase::count>{}));

TEST(Linearity, CsvHasOneLinePerCode) {
    const auto points = Points({0, 1, 0});
    const std::string csv = LinearityCsv(points, AnalyseLinearity(points, kLsb));
    EXPECT_EQ(csv,
              "code,set_volts,reading_volts,inl_lsb,dnl_lsb\n"
              "0,-1.0000000,-1.0000000,0.0000,\n"
              "1,-0.9990000,-0.9980000,1.0000,1.0000\n"
              "2,-0.9980000,-0.9980000,0.0000,-1.0000\n");
}

// Codes spread over the range measure steps of many codes: no DNL in the CSV or the report, the
// step error named with its size instead; numbers never read "-0.000".
TEST(Linearity, SpreadCodesGiveAStepErrorNotDnl) {
    std::vector<LinearityPoint> points;
    const std::vector<int32_t> codes{0, 256, 512, 768, 769};
    const std::vector<double> errorsLsb{0, 0.1, 0.6, 0.5, 0};
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const double set = -1.0 + kLsb * codes[i];
        points.push_back({codes[i], set, set + errorsLsb[i] * kLsb, 0});
    }
    const LinearityReport report = AnalyseLinearity(points, kLsb);
    EXPECT_EQ(report.maxDnlCode, 769);
    const std::string csv = LinearityCsv(points, report);
    EXPECT_NE(csv.find("\n256,-0.7440000,-0.7439000,0.1000,\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\n769,-0.2310000,-0.2310000,0.0000,-0.5000\n"), std::string::npos) << csv;
    const std::string summary = LinearitySummary(report, "DAC A");
    EXPECT_NE(summary.find("DNL: -0.500 LSB at code 769 (1 step between adjacent codes)\nstep "
                           "error over 256-code steps: 0.500 LSB at code 512 (not DNL, which "
                           "needs adjacent codes)"),
              std::string::npos)
        << summary;
}

}  // namespace
}  // namespace tq
