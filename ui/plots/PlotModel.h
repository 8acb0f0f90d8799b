#pragma once
// What a plot shows, as plain data: the curves with their units, a shaded band, marked points and
// the axis titles. The windows build one from their figures (PlotData.h); the plotting library
// draws it. The scales, the reading under the cursor and the CSV export are worked out here, so
// they are the same whatever draws them and are tested without a display.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tq {

struct PlotPoint {
    double x = 0;
    double y = 0;  // NaN: no value here (a failed reading), the curve breaks
};

enum class SeriesStyle {
    Line,   // straight lines between the points
    Steps,  // each value holds until the next point (and the last until `holdUntil`)
};

struct PlotSeries {
    std::string name;      // in the legend and the CSV header
    std::string unit;      // the y unit; the series of one unit share one scale
    std::string quantity;  // what the unit's axis is titled by: "Voltage"
    SeriesStyle style = SeriesStyle::Line;
    std::vector<PlotPoint> points;  // in rising x
    double holdUntil = 0;           // Steps: where the last step ends
    // The data codes behind the points, one per point, written beside them in the CSV export as
    // a column of their own ("DAC A (code)"); empty: none.
    std::vector<int32_t> codes{};
};

// A shaded stretch of the y axis across the whole plot (the ±1 LSB of a linearity plot).
struct PlotBand {
    std::string name;
    std::string unit;
    double low = 0;
    double high = 0;
};

// A point picked out with its value written beside it (the worst point of a curve).
struct PlotMark {
    std::size_t series = 0;  // index into PlotModel::series, for its colour and scale
    PlotPoint at;
    std::string text;
};

struct PlotModel {
    std::string title;
    std::string xName;  // "Time", "Code"
    std::string xUnit;  // "s"; empty for a count
    std::vector<PlotSeries> series;
    std::vector<PlotBand> bands;
    std::vector<PlotMark> marks;
    std::string note;       // shown in place of the plot when it has no point to draw
    double minYSpan = 0;    // the y scale spans at least this much (the converter's steps)
    double yMargin = 0.05;  // room above and below the values, a share of their span
    bool HasPoints() const;
};

struct AxisScale {
    double low = 0;
    double high = 1;
    double step = 0.2;  // between labelled ticks, which fall on its multiples
    int ticks = 6;      // labelled ticks within low..high
};

// About this many steps between labelled ticks across an axis, at any zoom.
inline constexpr int kXIntervals = 8;
inline constexpr int kYIntervals = 5;

// A round step (1, 2, 2.5 or 5 times a power of ten) at least span/intervals.
double NiceStep(double span, int intervals);

// The scale of values low..high: at least `minSpan` wide about their middle (a single value
// gets a fifth of itself, or one unit at zero), a margin of `margin` of the span at each end so
// that no curve lies on the frame, ticks at the multiples of a round step. Non-finite or reversed
// ends give 0..1.
AxisScale NiceScale(double low, double high, int intervals, double minSpan = 0,
                    double margin = 0.05);

// "Time (s)", "Voltage (V)"; the name alone without a unit.
std::string AxisTitle(const std::string& name, const std::string& unit);

// The x scale over every point, band ends excluded (they span the plot).
AxisScale XScale(const PlotModel& model);

struct UnitScale {
    std::string unit;
    std::string title;  // "Voltage (V)", from the first series of the unit
    AxisScale scale;
    std::vector<std::size_t> series;  // the series drawn against it
};
// One scale per unit, in the order the units first appear; each covers its series, bands and
// marks.
std::vector<UnitScale> YScales(const PlotModel& model);

// The value of each curve where the cursor stands (x): a step's held value, or a line's point
// nearest to x. None before a curve begins or past its end.
struct SeriesReading {
    std::size_t series = 0;
    PlotPoint at;
};
std::vector<SeriesReading> ReadingsAt(const PlotModel& model, double x);
// One line: "Time 1.25 s   DAC A 2.5 V   DAC B -1 V". The x shown is rounded to the decimal
// place `pixel` (what one pixel of the plot spans) resolves, 0.0904 s rather than 0.0903844 s,
// and the curves are read there.
std::string ReadingText(const PlotModel& model, double x, double pixel = 0);

// The points to draw of a long curve: in each of about maxPoints/4 runs of points its first,
// lowest, highest and last, so a peak shows at any zoom that fits the run in a pixel; a break
// (NaN) is kept. A curve with no more than maxPoints points is drawn as it is.
std::vector<PlotPoint> DrawnPoints(const std::vector<PlotPoint>& points, std::size_t maxPoints);

// A number as the plots write it: up to `digits` significant digits (0: the shortest text that
// reads back as the same double), no trailing zeros, a point whatever the locale.
std::string FormatNumber(double value, int digits = 6);

// The plotted data as CSV: a header of the x axis and each curve with its unit (and its codes
// where it has them), then a row for each x that any curve has, empty where a curve has no value
// there. Each number in the shortest
// text that reads back as itself, so the file holds exactly what was drawn.
std::string PlotCsv(const PlotModel& model);

}  // namespace tq
