// What each plot is given: its scales, its curves, the reading under the cursor, its marks and the
// CSV it exports, from the windows' own figures. No display, no plotting library.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "instrument/Waveform.h"
#include "ui/plots/PlotData.h"
#include "ui/plots/PlotModel.h"
#include "ui/waveform/CsvList.h"

#include "tests/support/RowNames.h"

namespace tq {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A case's name as a test's: letters and digits kept, anything else an underscore.
std::string TestName(std::string what) {
    for (char& c : what)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return what;
}

struct ScaleCase {
    const char* what;
    double low, high, minSpan, margin;
    int intervals;
    double wantLow, wantHigh, wantStep;
    int wantTicks;
};

class Scales : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(Scales, CoverTheDataWithRoundTicks) {
    const ScaleCase& c = GetParam();
    const AxisScale s = NiceScale(c.low, c.high, c.intervals, c.minSpan, c.margin);
    EXPECT_NEAR(s.low, c.wantLow, 1e-12);
    EXPECT_NEAR(s.high, c.wantHigh, 1e-12);
    EXPECT_DOUBLE_EQ(s.step, c.wantStep);
    EXPECT_EQ(s.ticks, c.wantTicks);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Scales,
    ::testing::Values(
        // ±5 V: a margin so that the peaks do not lie on the frame; ticks -5, -2.5 .. 5.
        ScaleCase{"volts", -5, 5, 0, 0.05, 5, -5.5, 5.5, 2.5, 5},
        ScaleCase{"offset volts", -1, 3, 0, 0.05, 5, -1.2, 3.2, 1, 5},
        // Readings within a quarter degree still get a degree, about their middle.
        ScaleCase{"degrees", 25, 25.25, 1, 0.05, 5, 24.575, 25.675, 0.25, 4},
        ScaleCase{"one value", 2, 2, 0, 0, 5, 1.8, 2.2, 0.1, 5},
        ScaleCase{"zero alone", 0, 0, 0, 0, 5, -0.5, 0.5, 0.2, 5},
        ScaleCase{"time axis", 0, 0.16, 0, 0, 8, 0, 0.16, 0.02, 9},
        ScaleCase{"codes", 0, 65535, 0, 0, 8, 0, 65535, 10000, 7},
        ScaleCase{"not a number", kNaN, 1, 0, 0, 5, 0, 1, 0.2, 6},
        ScaleCase{"reversed", 3, 1, 0, 0, 5, 0, 1, 0.2, 6}),
    [](const auto& info) { return TestName(info.param.what); });

PlotModel TwoUnits() {
    // Two traces in volts and one in codes (its range not known yet).
    return WavePreviewPlot(
        {{"DAC A", false, {-5, 5}}, {"DAC B", true, {100, 200, 300}}, {"DAC C", false, {-1, 3}}},
        0.01, "");
}

TEST(PlotScales, OneScalePerUnitCoversEveryCurveOfIt) {
    const std::vector<UnitScale> scales = YScales(TwoUnits());
    ASSERT_EQ(scales.size(), 2u);
    EXPECT_EQ(scales[0].unit, "V");
    EXPECT_EQ(scales[0].title, "Voltage (V)");
    EXPECT_EQ(scales[0].series, (std::vector<std::size_t>{0, 2}));
    EXPECT_LE(scales[0].scale.low, -5);
    EXPECT_GE(scales[0].scale.high, 5);
    EXPECT_EQ(scales[1].unit, "code");
    EXPECT_EQ(scales[1].series, (std::vector<std::size_t>{1}));
    EXPECT_LE(scales[1].scale.low, 100);
    EXPECT_GE(scales[1].scale.high, 300);
    EXPECT_LT(scales[1].scale.high, 400);
}

TEST(PlotScales, TheXAxisEndsWithThePeriod) {
    const AxisScale x = XScale(TwoUnits());
    EXPECT_DOUBLE_EQ(x.low, 0);
    EXPECT_NEAR(x.high, 0.03, 1e-15);  // three steps of 10 ms, the last held to its end
}

TEST(WavePreview, EachStepHoldsForItsDwellAndTheTitleGivesTheFrequency) {
    const PlotModel m = WavePreviewPlot({{"DAC A", false, std::vector<double>(16, 1.0)}}, 0.01, "");
    EXPECT_EQ(m.title, "One period: 16 steps of 10 ms, 160 ms, 6.25 Hz");
    EXPECT_EQ(AxisTitle(m.xName, m.xUnit), "Time (s)");
    ASSERT_EQ(m.series.size(), 1u);
    EXPECT_EQ(m.series[0].style, SeriesStyle::Steps);
    EXPECT_NEAR(m.series[0].points[15].x, 0.15, 1e-15);
    EXPECT_NEAR(m.series[0].holdUntil, 0.16, 1e-15);

    const PlotModel fast = WavePreviewPlot({{"DAC A", false, {0, 1}}}, 0, "");
    EXPECT_EQ(fast.title, "One period: 2 steps, as fast as the link allows");
    EXPECT_EQ(AxisTitle(fast.xName, fast.xUnit), "Step");

    const PlotModel none = WavePreviewPlot({}, 0.01, "Tick a channel");
    EXPECT_FALSE(none.HasPoints());
    EXPECT_EQ(none.note, "Tick a channel");
}

TEST(WavePreview, FrequencyOfARate) {
    EXPECT_DOUBLE_EQ(PeriodFrequency(100, 16), 6.25);
    EXPECT_DOUBLE_EQ(PeriodFrequency(0, 16), 0);
    EXPECT_DOUBLE_EQ(PeriodFrequency(100, 0), 0);
    EXPECT_DOUBLE_EQ(PeriodFrequency(kNaN, 16), 0);
}

struct ReadingCase {
    double x;
    const char* text;
    double pixel = 0;  // what a pixel of the plot spans
};

class Readings : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(Readings, AreTheHeldStepOrTheNearestPoint) {
    PlotModel m = WavePreviewPlot({{"DAC A", false, {-5, 0, 5}}, {"DAC B", false, {1}}}, 0.01, "");
    // DAC B's one step holds to 10 ms; DAC A's three to 30 ms.
    EXPECT_EQ(ReadingText(m, GetParam().x, GetParam().pixel), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Readings,
    ::testing::Values(ReadingCase{0, "Time 0 s   DAC A -5 V   DAC B 1 V"},
                      ReadingCase{0.0149, "Time 0.0149 s   DAC A 0 V"},
                      ReadingCase{0.025, "Time 0.025 s   DAC A 5 V"},
                      ReadingCase{0.031, "Time 0.031 s"}, ReadingCase{-0.001, "Time -0.001 s"},
                      ReadingCase{0.0903844, "Time 0.0904 s", 0.0004},
                      ReadingCase{0.0249, "Time 0.02 s   DAC A 5 V", 0.02},
                      ReadingCase{-0.0004, "Time 0 s   DAC A -5 V   DAC B 1 V", 0.002}),
    tq::testing::NamedBy<&ReadingCase::x>{});

TEST(Readings, OfALineAreItsNearestPointAndAGapHasNone) {
    std::deque<LogPoint> log{{0, 25.0f}, {1, std::nullopt}, {2, 26.5f}};
    const PlotModel m = TemperaturePlot(log);
    EXPECT_EQ(ReadingText(m, 0.4), "Time since start 0.4 s   Die temperature 25 \u00b0C");
    EXPECT_EQ(ReadingText(m, 1.2), "Time since start 1.2 s");  // the failed reading
    EXPECT_EQ(ReadingText(m, 1.8), "Time since start 1.8 s   Die temperature 26.5 \u00b0C");
    EXPECT_EQ(ReadingText(m, 2.5), "Time since start 2.5 s");
}

TEST(TemperatureStrip, ShowsEveryKeptReadingAndBreaksAtAFailure) {
    std::deque<LogPoint> log;
    EXPECT_FALSE(TemperaturePlot(log).HasPoints());
    EXPECT_EQ(TemperaturePlot(log).note, "Start the log to see the temperature");
    log.push_back({0, std::nullopt});
    EXPECT_FALSE(TemperaturePlot(log).HasPoints());
    EXPECT_EQ(TemperaturePlot(log).note, "No reading has succeeded yet");
    for (int i = 1; i <= 600; ++i)
        log.push_back({static_cast<double>(i), 25.0f + static_cast<float>(i % 4) * 0.25f});
    const PlotModel m = TemperaturePlot(log);
    ASSERT_EQ(m.series.size(), 1u);
    EXPECT_EQ(m.series[0].points.size(), 601u);
    EXPECT_TRUE(std::isnan(m.series[0].points[0].y));
    EXPECT_EQ(m.series[0].unit, "\u00b0C");
    EXPECT_EQ(YScales(m)[0].title, "Temperature (\u00b0C)");
    EXPECT_GE(YScales(m)[0].scale.high - YScales(m)[0].scale.low, 1.0);
    EXPECT_EQ(m.title, "Last 25 \u00b0C");
}

struct TimeUnitCase {
    double seconds;
    const char* unit;
    double lastX;
};

class TimeUnits : public ::testing::TestWithParam<TimeUnitCase> {};

TEST_P(TimeUnits, FollowTheLengthOfTheLog) {
    const std::deque<LogPoint> log{{0, 25.0f}, {GetParam().seconds, 25.0f}};
    const PlotModel m = TemperaturePlot(log);
    EXPECT_EQ(m.xUnit, GetParam().unit);
    EXPECT_DOUBLE_EQ(m.series[0].points.back().x, GetParam().lastX);
}

INSTANTIATE_TEST_SUITE_P(Table, TimeUnits,
                         ::testing::Values(TimeUnitCase{1200, "s", 1200},
                                           TimeUnitCase{1260, "min", 21},
                                           TimeUnitCase{10800, "min", 180},
                                           TimeUnitCase{86400, "h", 24}),
                         tq::testing::NamedBy<&TimeUnitCase::seconds>{});

// INL worst at the third code (-1.5 LSB), the step into it worst (-1.7 LSB): codes `step` apart.
std::vector<LinearityResult> Results(int32_t step = 1000) {
    return {{0, 0, 0, 0}, {step, 0.2, 0, 0.2}, {2 * step, -1.5, 0, -1.7}, {3 * step, 0, 0, 1.5}};
}

// Over codes 1000 apart the second curve is the step error, named with its size (DNL is a step
// between adjacent codes); every value in LSB with three decimals, never "-0.000".
TEST(LinearityPlot, HasTheBandAndMarksEachCurvesWorstPointWithItsValue) {
    const PlotModel m = LinearityPlot(Results());
    EXPECT_EQ(m.title, "End-point INL, step error over 1000-code steps, 4 codes");
    ASSERT_EQ(m.series.size(), 2u);
    EXPECT_EQ(m.series[0].name, "INL");
    EXPECT_EQ(m.series[1].name, "Step error (1000 codes)");
    EXPECT_EQ(m.series[0].points.size(), 4u);
    // The first code has no step before it: the steps start at the second.
    EXPECT_EQ(m.series[1].points.size(), 3u);
    EXPECT_DOUBLE_EQ(m.series[1].points[0].x, 1000);
    ASSERT_EQ(m.bands.size(), 1u);
    EXPECT_EQ(m.bands[0].low, -1);
    EXPECT_EQ(m.bands[0].high, 1);
    EXPECT_EQ(m.bands[0].name, "\u00b11 LSB");
    ASSERT_EQ(m.marks.size(), 2u);
    EXPECT_EQ(m.marks[0].series, 0u);
    EXPECT_DOUBLE_EQ(m.marks[0].at.x, 2000);
    EXPECT_EQ(m.marks[0].text, "INL -1.500 LSB at code 2000");
    EXPECT_EQ(m.marks[1].series, 1u);
    EXPECT_EQ(m.marks[1].text, "Step error (1000 codes) -1.700 LSB at code 2000");
    // One scale for both curves and the band, with room for the marks' texts beyond them.
    const std::vector<UnitScale> y = YScales(m);
    ASSERT_EQ(y.size(), 1u);
    EXPECT_EQ(y[0].title, "Error (LSB)");
    EXPECT_LE(y[0].scale.low, -1.7 - 0.2 * 3.2);
    EXPECT_GE(y[0].scale.high, 1.5 + 0.2 * 3.2);
    const PlotModel adjacent = LinearityPlot(Results(1));
    EXPECT_EQ(adjacent.title, "End-point INL and DNL, 4 codes");
    EXPECT_EQ(adjacent.marks[1].text, "DNL -1.700 LSB at code 2");
    EXPECT_EQ(LinearityPlot({{0, 0, 0, 0}, {1, -2.42e-06, 0, -2.42e-06}}).marks[0].text,
              "INL 0.000 LSB at code 1");

    EXPECT_FALSE(LinearityPlot({{0, 0, 0, 0}}).HasPoints());
    EXPECT_TRUE(LinearityPlot({}).marks.empty());
}

TEST(LinearityPlot, ASmallErrorStillShowsTheBand) {
    const PlotModel m = LinearityPlot({{0, 0, 0, 0}, {100, 0.01, 0, 0.01}});
    const AxisScale y = YScales(m)[0].scale;
    EXPECT_LE(y.low, -1);
    EXPECT_GE(y.high, 1);
}

std::vector<std::vector<std::string>> Cells(const std::string& csv) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(csv);
    for (std::string line; std::getline(in, line);) {
        rows.emplace_back();
        std::string cell;
        std::istringstream fields(line);
        while (std::getline(fields, cell, ','))
            rows.back().push_back(cell);
        if (!line.empty() && line.back() == ',')
            rows.back().push_back("");
    }
    return rows;
}

TEST(PlotCsv, HasAColumnPerCurveWithItsUnitAndEveryNumberExactly) {
    const PlotModel m =
        WavePreviewPlot({{"DAC A", false, {0.1, 1.0 / 3}}, {"DAC B", true, {7}}}, 0.001, "");
    const auto rows = Cells(PlotCsv(m));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Time (s)", "DAC A (V)", "DAC B (code)"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"0", "0.1", "7"}));
    ASSERT_EQ(rows[2].size(), 3u);
    EXPECT_EQ(rows[2][0], "0.001");
    EXPECT_EQ(std::strtod(rows[2][1].c_str(), nullptr), 1.0 / 3);  // reads back as drawn
    EXPECT_EQ(rows[2][2], "");                                     // DAC B has one step
}

TEST(PlotCsv, LeavesAFailedReadingEmptyAndQuotesANameWithAComma) {
    const std::deque<LogPoint> log{{0, 25.5f}, {1, std::nullopt}};
    EXPECT_EQ(PlotCsv(TemperaturePlot(log)),
              "Time since start (s),Die temperature (\u00b0C)\n0,25.5\n1,\n");
    PlotModel m;
    m.xName = "Code";
    m.series.push_back({"INL, end-point", "LSB", "", SeriesStyle::Line, {{1, 2}}, 0});
    EXPECT_EQ(PlotCsv(m), "Code,\"INL, end-point (LSB)\"\n1,2\n");
}

TEST(PlotCsv, OfTheLinearityPlotHasEveryCode) {
    const auto rows = Cells(PlotCsv(LinearityPlot(Results(1))));
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Code", "INL (LSB)", "DNL (LSB)"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"0", "0", ""}));
    EXPECT_EQ(rows[3], (std::vector<std::string>{"2", "-1.5", "-1.7"}));
    EXPECT_EQ(Cells(PlotCsv(LinearityPlot(Results(256))))[0],
              (std::vector<std::string>{"Code", "INL (LSB)", "Step error (256 codes) (LSB)"}));
}

TEST(DrawnPoints, KeepEveryPeakOfALongCurveAndGoForward) {
    std::vector<PlotPoint> points;
    for (int i = 0; i < 100000; ++i)
        points.push_back({static_cast<double>(i), i == 54321 ? 9.0 : (i == 777 ? -4.0 : 0.0)});
    points[60000].y = kNaN;
    const std::vector<PlotPoint> drawn = DrawnPoints(points, 4000);
    EXPECT_LE(drawn.size(), 4100u);
    bool peak = false, dip = false, gap = false;
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        peak |= drawn[i].y == 9.0 && drawn[i].x == 54321;
        dip |= drawn[i].y == -4.0 && drawn[i].x == 777;
        gap |= std::isnan(drawn[i].y);
        if (i > 0) {
            EXPECT_GE(drawn[i].x, drawn[i - 1].x) << i;
        }
    }
    EXPECT_TRUE(peak);
    EXPECT_TRUE(dip);
    EXPECT_TRUE(gap);
    EXPECT_EQ(drawn.front().x, 0);
    EXPECT_EQ(drawn.back().x, 99999);

    const std::vector<PlotPoint> few(10, PlotPoint{1, 2});
    EXPECT_EQ(DrawnPoints(few, 4000).size(), 10u);
}

struct CsvListCase {
    const char* what;
    const char* text;
    std::vector<double> values;
    const char* error;  // the start of the error, or null
};

class CsvLists : public ::testing::TestWithParam<CsvListCase> {};

TEST_P(CsvLists, TakeOneHeaderLine) {
    const CsvListCase& c = GetParam();
    if (!c.error) {
        EXPECT_EQ(ParseCsvList(c.text), c.values);
        return;
    }
    try {
        ParseCsvList(c.text);
        ADD_FAILURE() << "no error";
    } catch (const ValueRangeError& e) {
        EXPECT_THAT(e.what(), ::testing::StartsWith(c.error));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CsvLists,
    ::testing::Values(
        CsvListCase{"plain", "1\n-2.5\n", {1, -2.5}, nullptr},
        CsvListCase{"header", "volts\n1\n2\n", {1, 2}, nullptr},
        CsvListCase{"header of columns", "volts,comment\r\n1,start\r\n2,end\r\n", {1, 2}, nullptr},
        CsvListCase{"quoted header", "\"V\"\n0.5\n", {0.5}, nullptr},
        // Words that strtod would start to read as numbers are headers all the same.
        CsvListCase{"nan word", "nanovolts\n1\n", {1}, nullptr},
        CsvListCase{"inf word", "information\n1\n", {1}, nullptr},
        CsvListCase{"comment first", "# from the bench\n\nvolts\n3\n", {3}, nullptr},
        CsvListCase{"second header", "volts\nmore\n1\n", {}, "line 2 holds no number"},
        CsvListCase{"header alone", "volts\n", {}, "the list holds no values"},
        CsvListCase{"number with a unit", "1.5 V\n2\n", {}, "line 1 holds no number"},
        CsvListCase{"word later", "1\nvolts\n", {}, "line 2 holds no number"},
        CsvListCase{"signed first", "+1\n-1\n", {1, -1}, nullptr},
        // Decimal commas, as desktops that write them write CSV: under a header without a comma,
        // or with ';' between columns; never read as something else.
        CsvListCase{"decimal commas", "Spannung\n1,5\n2,5\n-0,5\n", {1.5, 2.5, -0.5}, nullptr},
        CsvListCase{
            "semicolon columns", "V;Bemerkung\n1,5;erste\n-2,25;zweite\n", {1.5, -2.25}, nullptr},
        CsvListCase{"ambiguous comma", "1\n1,5\n", {}, "line 2 (1,5) is ambiguous"},
        CsvListCase{"point and comma",
                    "Spannung\n1.500,5\n",
                    {},
                    "line 2 (1.500,5) holds a decimal point and a decimal comma"},
        CsvListCase{"neither form", "Spannung\n1,5,7\n", {}, "line 2 holds no number: 1,5,7"}),
    [](const auto& info) { return TestName(info.param.what); });

}  // namespace
}  // namespace tq
