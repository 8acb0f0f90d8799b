#include "ui/plots/PlotData.h"

#include <cmath>
#include <limits>

namespace tq {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Duration(double seconds) {
    if (seconds >= 1)
        return FormatNumber(seconds, 4) + " s";
    if (seconds >= 1e-3)
        return FormatNumber(seconds * 1e3, 4) + " ms";
    return FormatNumber(seconds * 1e6, 4) + " \u00b5s";
}

// The worst point of a curve: the largest magnitude, the first of equals.
void MarkWorst(PlotModel& model, std::size_t series) {
    const auto& points = model.series[series].points;
    const PlotPoint* worst = nullptr;
    for (const PlotPoint& p : points)
        if (std::isfinite(p.y) && (!worst || std::fabs(p.y) > std::fabs(worst->y)))
            worst = &p;
    if (!worst)
        return;
    const PlotSeries& s = model.series[series];
    // LSB with three decimals: never "-0.000" or an exponent for a value near zero.
    const std::string value = s.unit == "LSB" ? LsbText(worst->y) : FormatNumber(worst->y, 3);
    model.marks.push_back(
        {series, *worst,
         s.name + " " + value + " " + s.unit + " at code " + FormatNumber(worst->x)});
}

}  // namespace

double PeriodFrequency(double stepsPerSecond, int64_t stepsPerPeriod) {
    if (!(stepsPerSecond > 0) || stepsPerPeriod <= 0)
        return 0;
    return stepsPerSecond / static_cast<double>(stepsPerPeriod);
}

PlotModel WavePreviewPlot(const std::vector<PreviewTrace>& traces, double dwellSeconds,
                          const std::string& note) {
    PlotModel model;
    model.note = note;
    const bool timed = dwellSeconds > 0;
    model.xName = timed ? "Time" : "Step";
    model.xUnit = timed ? "s" : "";
    const double dx = timed ? dwellSeconds : 1.0;
    std::size_t steps = 0;
    for (const PreviewTrace& trace : traces) {
        PlotSeries series;
        series.name = trace.name;
        series.unit = trace.codes ? "code" : "V";
        series.quantity = trace.codes ? "Output" : "Voltage";
        series.style = SeriesStyle::Steps;
        series.points.reserve(trace.values.size());
        for (std::size_t i = 0; i < trace.values.size(); ++i)
            series.points.push_back({static_cast<double>(i) * dx, trace.values[i]});
        series.holdUntil = static_cast<double>(trace.values.size()) * dx;
        if (trace.sent.size() == trace.values.size())
            series.codes = trace.sent;
        steps = std::max(steps, trace.values.size());
        model.series.push_back(std::move(series));
    }
    if (steps == 0)
        return model;
    model.title = "One period: " + std::to_string(steps) + (steps == 1 ? " step" : " steps");
    if (timed) {
        const double period = static_cast<double>(steps) * dwellSeconds;
        model.title += " of " + Duration(dwellSeconds) + ", " + Duration(period) + ", " +
                       FormatNumber(1.0 / period, 4) + " Hz";
    } else {
        model.title += ", as fast as the link allows";
    }
    return model;
}

PlotModel TemperaturePlot(const std::deque<LogPoint>& points) {
    PlotModel model;
    model.xName = "Time since start";
    model.minYSpan = 1;  // the converter's steps of a quarter degree do not fill the height
    model.note =
        points.empty() ? "Start the log to see the temperature" : "No reading has succeeded yet";
    const double span = points.empty() ? 0 : points.back().seconds - points.front().seconds;
    double scale = 1;
    model.xUnit = "s";
    if (span > 3 * 3600.0) {
        scale = 3600;
        model.xUnit = "h";
    } else if (span > 20 * 60.0) {
        scale = 60;
        model.xUnit = "min";
    }
    PlotSeries series;
    series.name = "Die temperature";
    series.unit = "\u00b0C";
    series.quantity = "Temperature";
    series.points.reserve(points.size());
    for (const LogPoint& p : points)
        series.points.push_back(
            {p.seconds / scale, p.celsius ? static_cast<double>(*p.celsius) : kNaN});
    model.series.push_back(std::move(series));
    if (!points.empty() && points.back().celsius)
        model.title = "Last " + FormatNumber(*points.back().celsius, 4) + " \u00b0C";
    return model;
}

PlotModel LinearityPlot(const std::vector<LinearityResult>& results, const std::string& note) {
    PlotModel model;
    model.xName = "Code";
    model.note = note.empty() ? "INL and DNL appear here after a linearity test" : note;
    model.minYSpan = 2;
    if (results.size() < 2)
        return model;
    // DNL between adjacent codes; a step over several codes is a step error, named with its size.
    PlotSeries inl{"INL", "LSB", "Error", SeriesStyle::Line, {}, 0};
    PlotSeries dnl{"DNL", "LSB", "Error", SeriesStyle::Line, {}, 0};
    PlotSeries steps{"", "LSB", "Error", SeriesStyle::Line, {}, 0};
    int32_t shortest = 0, longest = 0;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const LinearityResult& r = results[i];
        inl.points.push_back({static_cast<double>(r.code), r.inlEndPoint});
        if (i == 0)
            continue;  // the first code has no step before it
        const int32_t step = r.code - results[i - 1].code;
        if (step == 1) {
            dnl.points.push_back({static_cast<double>(r.code), r.dnl});
            continue;
        }
        shortest = steps.points.empty() ? step : std::min(shortest, step);
        longest = std::max(longest, step);
        steps.points.push_back({static_cast<double>(r.code), r.dnl});
    }
    std::string title = "End-point INL";
    model.series.push_back(std::move(inl));
    if (!dnl.points.empty()) {
        title += " and DNL";
        model.series.push_back(std::move(dnl));
    }
    if (!steps.points.empty()) {
        // Short, for the legend and the mark: "Step error (256 codes)", "(255-256 codes)".
        steps.name = "Step error (" + std::to_string(shortest) +
                     (shortest == longest ? "" : "-" + std::to_string(longest)) + " codes)";
        title += ", step error over " + StepSizeText(shortest, longest);
        model.series.push_back(std::move(steps));
    }
    model.title = title + ", " + std::to_string(results.size()) + " codes";
    model.bands.push_back({"\u00b11 LSB", "LSB", -1, 1});
    // Room above and below the curves for the marks' texts.
    model.yMargin = 0.2;
    for (std::size_t i = 0; i < model.series.size(); ++i)
        MarkWorst(model, i);
    return model;
}

}  // namespace tq
