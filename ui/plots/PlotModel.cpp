#include "ui/plots/PlotModel.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>

namespace tq {
namespace {

struct Span {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    void Add(double v) {
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    bool Empty() const { return !(low <= high); }
};

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

}  // namespace

bool PlotModel::HasPoints() const {
    for (const PlotSeries& s : series)
        for (const PlotPoint& p : s.points)
            if (std::isfinite(p.x) && std::isfinite(p.y))
                return true;
    return false;
}

double NiceStep(double span, int intervals) {
    if (!(span > 0) || !std::isfinite(span))
        return 1;
    const double raw = span / std::max(1, intervals);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 2.5, 5.0})
        if (m * power >= raw * (1 - 1e-9))
            return m * power;
    return 10 * power;
}

AxisScale NiceScale(double low, double high, int intervals, double minSpan, double margin) {
    if (!std::isfinite(low) || !std::isfinite(high) || low > high) {
        low = 0;
        high = 1;
    }
    const double wanted = std::isfinite(minSpan) ? std::max(minSpan, 0.0) : 0.0;
    if (high - low < wanted || high - low <= 0) {
        // Widen about the middle: to minSpan, or else a fifth of the value, or else one unit.
        const double middle = (low + high) / 2;
        double width = wanted > 0 ? wanted : std::fabs(middle) * 0.2;
        if (!(width > 0))
            width = 1;
        low = middle - width / 2;
        high = middle + width / 2;
    }
    const double pad = (high - low) * std::max(margin, 0.0);
    AxisScale scale;
    scale.low = low - pad;
    scale.high = high + pad;
    scale.step = NiceStep(scale.high - scale.low, intervals);
    // The labelled ticks: the multiples of the step within the range, ends within rounding.
    const double first = std::ceil(scale.low / scale.step - 1e-9);
    const double last = std::floor(scale.high / scale.step + 1e-9);
    scale.ticks = static_cast<int>(last - first) + 1;
    return scale;
}

std::string AxisTitle(const std::string& name, const std::string& unit) {
    return unit.empty() ? name : name + " (" + unit + ")";
}

AxisScale XScale(const PlotModel& model) {
    Span span;
    for (const PlotSeries& s : model.series) {
        for (const PlotPoint& p : s.points)
            if (std::isfinite(p.y))
                span.Add(p.x);
        if (s.style == SeriesStyle::Steps && !s.points.empty())
            span.Add(s.holdUntil);
    }
    if (span.Empty())
        return NiceScale(0, 1, kXIntervals, 0, 0);
    // The x axis ends where the data ends: a period or a log is read to its edge.
    return NiceScale(span.low, span.high, kXIntervals, 0, 0);
}

std::vector<UnitScale> YScales(const PlotModel& model) {
    std::vector<UnitScale> scales;
    std::vector<Span> spans;
    const auto slot = [&](const std::string& unit) -> std::size_t {
        for (std::size_t i = 0; i < scales.size(); ++i)
            if (scales[i].unit == unit)
                return i;
        scales.push_back({unit, {}, {}, {}});
        spans.emplace_back();
        return scales.size() - 1;
    };
    for (std::size_t i = 0; i < model.series.size(); ++i) {
        const std::size_t k = slot(model.series[i].unit);
        if (scales[k].series.empty())
            scales[k].title = AxisTitle(model.series[i].quantity, model.series[i].unit);
        scales[k].series.push_back(i);
        for (const PlotPoint& p : model.series[i].points)
            spans[k].Add(p.y);
    }
    for (const PlotBand& band : model.bands) {
        const std::size_t k = slot(band.unit);
        if (scales[k].title.empty())
            scales[k].title = band.unit;
        spans[k].Add(band.low);
        spans[k].Add(band.high);
    }
    for (const PlotMark& mark : model.marks)
        if (mark.series < model.series.size())
            spans[slot(model.series[mark.series].unit)].Add(mark.at.y);
    for (std::size_t k = 0; k < scales.size(); ++k)
        scales[k].scale = spans[k].Empty() ? NiceScale(0, 1, kYIntervals, 0)
                                           : NiceScale(spans[k].low, spans[k].high, kYIntervals,
                                                       model.minYSpan, model.yMargin);
    return scales;
}

std::vector<SeriesReading> ReadingsAt(const PlotModel& model, double x) {
    std::vector<SeriesReading> readings;
    if (!std::isfinite(x))
        return readings;
    for (std::size_t i = 0; i < model.series.size(); ++i) {
        const PlotSeries& s = model.series[i];
        if (s.points.empty() || x < s.points.front().x)
            continue;
        const auto after = std::upper_bound(s.points.begin(), s.points.end(), x,
                                            [](double v, const PlotPoint& p) { return v < p.x; });
        const PlotPoint* at = nullptr;
        if (s.style == SeriesStyle::Steps) {
            if (after == s.points.end() && x > s.holdUntil)
                continue;
            at = &*(after - 1);
        } else {
            if (after == s.points.end() && x > s.points.back().x)
                continue;
            const PlotPoint& before = *(after - 1);
            at = (after != s.points.end() && after->x - x < x - before.x) ? &*after : &before;
        }
        if (std::isfinite(at->y))
            readings.push_back({i, *at});
    }
    return readings;
}

std::string ReadingText(const PlotModel& model, double x, double pixel) {
    double shown = x;
    if (pixel > 0 && std::isfinite(pixel) && std::isfinite(x)) {
        const double place = std::pow(10.0, std::floor(std::log10(pixel)));
        shown = std::round(x / place) * place;
        if (shown == 0)
            shown = 0;  // never "-0"
    }
    std::string text = model.xName + " " + FormatNumber(shown) +
                       (model.xUnit.empty() ? std::string() : " " + model.xUnit);
    for (const SeriesReading& r : ReadingsAt(model, shown)) {
        const PlotSeries& s = model.series[r.series];
        text += "   " + s.name + " " + FormatNumber(r.at.y) + (s.unit.empty() ? "" : " " + s.unit);
    }
    return text;
}

std::vector<PlotPoint> DrawnPoints(const std::vector<PlotPoint>& points, std::size_t maxPoints) {
    const std::size_t runs = std::max<std::size_t>(1, maxPoints / 4);
    if (points.size() <= std::max<std::size_t>(maxPoints, 4))
        return points;
    const std::size_t length = (points.size() + runs - 1) / runs;
    std::vector<PlotPoint> drawn;
    drawn.reserve(runs * 4 + 8);
    for (std::size_t start = 0; start < points.size(); start += length) {
        const std::size_t end = std::min(points.size(), start + length);
        const PlotPoint* low = nullptr;
        const PlotPoint* high = nullptr;
        bool gap = false;
        for (std::size_t i = start; i < end; ++i) {
            const PlotPoint& p = points[i];
            if (!std::isfinite(p.y)) {
                gap = true;
                continue;
            }
            if (!low || p.y < low->y)
                low = &p;
            if (!high || p.y > high->y)
                high = &p;
        }
        // In the order they come, so the curve goes forward.
        std::vector<const PlotPoint*> keep{&points[start]};
        if (low && high)
            for (const PlotPoint* p :
                 low->x <= high->x ? std::array{low, high} : std::array{high, low})
                keep.push_back(p);
        keep.push_back(&points[end - 1]);
        for (const PlotPoint* p : keep)
            if (drawn.empty() || drawn.back().x != p->x || drawn.back().y != p->y)
                drawn.push_back(*p);
        if (gap && std::isfinite(drawn.back().y))
            drawn.push_back({drawn.back().x, std::numeric_limits<double>::quiet_NaN()});
    }
    return drawn;
}

std::string FormatNumber(double value, int digits) {
    if (std::isnan(value))
        return "NaN";
    char buffer[64];
    const auto result = digits <= 0
                            ? std::to_chars(buffer, buffer + sizeof buffer, value)
                            : std::to_chars(buffer, buffer + sizeof buffer, value,
                                            std::chars_format::general, std::min(digits, 17));
    return std::string(buffer, result.ptr);
}

std::string PlotCsv(const PlotModel& model) {
    // The columns: each curve's values, and its codes where it has them.
    struct Column {
        std::size_t series;
        bool codes;
    };
    std::vector<Column> columns;
    std::string csv = CsvField(AxisTitle(model.xName, model.xUnit));
    for (std::size_t i = 0; i < model.series.size(); ++i) {
        const PlotSeries& s = model.series[i];
        columns.push_back({i, false});
        csv += "," + CsvField(AxisTitle(s.name, s.unit));
        if (!s.codes.empty() && s.codes.size() == s.points.size()) {
            columns.push_back({i, true});
            csv += "," + CsvField(AxisTitle(s.name, "code"));
        }
    }
    csv += "\n";
    // Each x once, in order, with the value of every column that has a point there.
    std::map<double, std::vector<std::optional<double>>> rows;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const PlotSeries& s = model.series[columns[c].series];
        for (std::size_t k = 0; k < s.points.size(); ++k) {
            const PlotPoint& p = s.points[k];
            if (!std::isfinite(p.x))
                continue;
            auto& row = rows[p.x];
            row.resize(columns.size());
            if (columns[c].codes)
                row[c] = s.codes[k];
            else if (std::isfinite(p.y))
                row[c] = p.y;
        }
    }
    for (const auto& [x, values] : rows) {
        csv += FormatNumber(x, 0);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            csv += ",";
            if (c < values.size() && values[c])
                csv += FormatNumber(*values[c], 0);
        }
        csv += "\n";
    }
    return csv;
}

}  // namespace tq
