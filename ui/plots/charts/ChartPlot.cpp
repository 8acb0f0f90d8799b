#include "ui/plots/charts/ChartPlot.h"

#include <QAction>
#include <QAreaSeries>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGraphicsLineItem>
#include <QGraphicsSimpleTextItem>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QSaveFile>
#include <QScatterSeries>
#include <QStackedLayout>
#include <QSvgGenerator>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <optional>

namespace tq {
namespace {

// Curves beyond this many points are drawn from their runs' extremes (DrawnPoints).
constexpr std::size_t kMaxDrawnPoints = 4000;

QColor SeriesColour(std::size_t index) {
    static const QColor kColours[] = {QColor(0, 90, 200), QColor(200, 60, 0), QColor(0, 140, 60),
                                      QColor(150, 0, 160)};
    return kColours[index % 4];
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString Hint() {
    return QWidget::tr("Wheel or drag: zoom; double-click: all; right-click: export");
}

// The segments of a curve between its breaks, as the chart draws them: a step holds its value
// to the next point.
std::vector<QList<QPointF>> Segments(const PlotSeries& series) {
    std::vector<QList<QPointF>> segments(1);
    const std::vector<PlotPoint> points = DrawnPoints(series.points, kMaxDrawnPoints);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const PlotPoint& p = points[i];
        if (!std::isfinite(p.y) || !std::isfinite(p.x)) {
            if (!segments.back().isEmpty())
                segments.emplace_back();
            continue;
        }
        segments.back().append(QPointF(p.x, p.y));
        if (series.style == SeriesStyle::Steps) {
            const double end = i + 1 < points.size() ? points[i + 1].x : series.holdUntil;
            segments.back().append(QPointF(end, p.y));
        }
    }
    if (segments.size() > 1 && segments.back().isEmpty())
        segments.pop_back();
    return segments;
}

bool Write(const QString& path, const QByteArray& bytes, QString& error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

}  // namespace

ChartView::ChartView(QChart* chart, ChartPlot& plot) : QChartView(chart), plot_(plot) {
    setRubberBand(QChartView::RectangleRubberBand);
    setRenderHint(QPainter::Antialiasing);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
}

void ChartView::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    const int steps = delta.y() != 0 ? delta.y() : delta.x();
    if (steps == 0)
        return;
    const double factor = std::pow(0.8, steps / 120.0);
    const bool timeOnly = event->modifiers() & Qt::ShiftModifier;
    const bool valuesOnly = event->modifiers() & Qt::ControlModifier;
    plot_.ZoomAbout(event->position(), valuesOnly ? 1.0 : factor, timeOnly ? 1.0 : factor);
    event->accept();
}

void ChartView::mouseDoubleClickEvent(QMouseEvent* event) {
    plot_.ResetZoom();
    event->accept();
}

void ChartView::mouseMoveEvent(QMouseEvent* event) {
    QChartView::mouseMoveEvent(event);
    plot_.ShowCursor(event->position());
}

void ChartView::mouseReleaseEvent(QMouseEvent* event) {
    // The right button opens the context menu; the chart's own zoom-out on it would undo a zoom
    // the user is about to export.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void ChartView::leaveEvent(QEvent* event) {
    QChartView::leaveEvent(event);
    plot_.HideCursor();
}

ChartPlot::ChartPlot(QWidget* parent, PlotServices services)
    : PlotCanvas(parent), services_(std::move(services)), chart_(new QChart) {
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    chart_->layout()->setContentsMargins(0, 0, 0, 0);
    chart_->setBackgroundRoundness(0);
    view_ = new ChartView(chart_, *this);
    view_->setObjectName(QStringLiteral("ChartView"));
    view_->setToolTip(
        tr("Wheel: zoom about the pointer (Shift: time only, Ctrl: values only)\n"
           "Drag a rectangle: zoom to it\nDouble-click: the whole plot again\n"
           "Right-click: export the picture (PNG, SVG) or the data (CSV)"));
    cursorLine_ = new QGraphicsLineItem(chart_);
    cursorLine_->setPen(QPen(QColor(90, 90, 90), 1, Qt::DashLine));
    cursorLine_->setZValue(20);
    cursorLine_->hide();

    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("LabelNote"));
    note_->setAlignment(Qt::AlignCenter);
    note_->setWordWrap(true);
    note_->setFrameShape(QFrame::StyledPanel);
    note_->setAutoFillBackground(true);
    note_->setBackgroundRole(QPalette::Base);
    auto* chartPage = new QWidget(this);
    auto* chartLayout = new QVBoxLayout(chartPage);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->setSpacing(2);
    reading_ = new QLabel(Hint(), chartPage);
    reading_->setObjectName(QStringLiteral("LabelReading"));
    reading_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    chartLayout->addWidget(view_, 1);
    chartLayout->addWidget(reading_);
    stack_ = new QStackedLayout(this);
    stack_->addWidget(chartPage);
    stack_->addWidget(note_);

    const struct {
        const char* name;
        QString text;
        PlotExport kind;
    } exports[] = {
        {"ActionExportPng", tr("Export Picture as PNG..."), PlotExport::Png},
        {"ActionExportSvg", tr("Export Picture as SVG..."), PlotExport::Svg},
        {"ActionExportCsv", tr("Export Data as CSV..."), PlotExport::Csv},
    };
    for (const auto& e : exports) {
        auto* action = new QAction(e.text, view_);
        action->setObjectName(QString::fromLatin1(e.name));
        const PlotExport kind = e.kind;
        connect(action, &QAction::triggered, this, [this, kind] { ExportTo(kind); });
        view_->addAction(action);
    }
    auto* separator = new QAction(view_);
    separator->setSeparator(true);
    view_->addAction(separator);
    auto* reset = new QAction(tr("Reset Zoom"), view_);
    reset->setObjectName(QStringLiteral("ActionResetZoom"));
    connect(reset, &QAction::triggered, this, &ChartPlot::ResetZoom);
    view_->addAction(reset);
    view_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(chart_, &QChart::plotAreaChanged, this, [this] { PlaceMarks(); });
    Build();
}

void ChartPlot::SetModel(const PlotModel& model) {
    model_ = model;
    Build();
}

void ChartPlot::Build() {
    // The user's zoom outlives new data on the same axes (a running log keeps its zoom).
    const bool keep = zoomed_ && xAxis_ && YScales(model_).size() == yAxes_.size();
    const Ranges kept = keep ? CurrentRanges() : Ranges{};
    applying_ = true;
    chart_->removeAllSeries();
    for (QAbstractAxis* axis : chart_->axes()) {
        chart_->removeAxis(axis);
        delete axis;
    }
    xAxis_ = nullptr;
    yAxes_.clear();
    for (auto& [at, item] : markTexts_)
        delete item;
    markTexts_.clear();
    markAxes_.clear();
    HideCursor();
    if (!model_.HasPoints()) {
        note_->setText(Text(model_.note));
        stack_->setCurrentIndex(1);
        zoomed_ = false;
        applying_ = false;
        return;
    }
    stack_->setCurrentIndex(0);
    chart_->setTitle(Text(model_.title));

    const auto makeAxis = [this](const QString& title, Qt::Alignment where) {
        auto* axis = new QValueAxis;
        axis->setTitleText(title);
        axis->setLabelFormat(QStringLiteral("%g"));
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setTickAnchor(0);
        axis->setMinorTickCount(1);
        chart_->addAxis(axis, where);
        connect(axis, &QValueAxis::rangeChanged, this, &ChartPlot::OnRangeChanged);
        return axis;
    };
    xAxis_ = makeAxis(Text(AxisTitle(model_.xName, model_.xUnit)), Qt::AlignBottom);
    const std::vector<UnitScale> scales = YScales(model_);
    for (std::size_t k = 0; k < scales.size(); ++k) {
        QValueAxis* axis = makeAxis(Text(scales[k].title), k % 2 ? Qt::AlignRight : Qt::AlignLeft);
        // One grid, the first scale's: a second one's lines would fall between them.
        axis->setGridLineVisible(k == 0);
        axis->setMinorGridLineVisible(k == 0);
        yAxes_.push_back(axis);
        for (const std::size_t i : scales[k].series)
            AddSeries(i, axis);
    }
    AddBands();
    AddMarks();
    Ranges ranges{XScale(model_).low, XScale(model_).high, {}};
    for (const UnitScale& scale : scales)
        ranges.y.emplace_back(scale.scale.low, scale.scale.high);
    ApplyRanges(keep ? kept : ranges);
    zoomed_ = keep;
    applying_ = false;
    PlaceMarks();
}

void ChartPlot::Attach(QXYSeries* series, QValueAxis* y, bool inLegend) {
    chart_->addSeries(series);
    series->attachAxis(xAxis_);
    series->attachAxis(y);
    if (!inLegend)
        for (QLegendMarker* marker : chart_->legend()->markers(series))
            marker->setVisible(false);
}

void ChartPlot::AddSeries(std::size_t index, QValueAxis* y) {
    const PlotSeries& s = model_.series[index];
    QPen pen(SeriesColour(index), 2);
    pen.setCosmetic(true);
    bool first = true;
    for (const QList<QPointF>& segment : Segments(s)) {
        auto* line = new QLineSeries;
        line->setName(Text(s.name));
        line->setPen(pen);
        line->replace(segment);
        Attach(line, y, first);
        first = false;
    }
}

void ChartPlot::AddBands() {
    const std::vector<UnitScale> scales = YScales(model_);
    const AxisScale x = XScale(model_);
    for (const PlotBand& band : model_.bands) {
        QValueAxis* axis = nullptr;
        for (std::size_t k = 0; k < scales.size(); ++k)
            if (scales[k].unit == band.unit)
                axis = yAxes_[k];
        if (!axis)
            continue;
        auto* upper = new QLineSeries;
        auto* lower = new QLineSeries;
        upper->append({QPointF(x.low, band.high), QPointF(x.high, band.high)});
        lower->append({QPointF(x.low, band.low), QPointF(x.high, band.low)});
        auto* area = new QAreaSeries(upper, lower);
        area->setName(Text(band.name));
        area->setBrush(QColor(0, 150, 80, 40));
        area->setPen(QPen(QColor(0, 150, 80, 90), 1));
        chart_->addSeries(area);
        area->attachAxis(xAxis_);
        area->attachAxis(axis);
    }
}

void ChartPlot::AddMarks() {
    const std::vector<UnitScale> scales = YScales(model_);
    for (const PlotMark& mark : model_.marks) {
        if (mark.series >= model_.series.size())
            continue;
        QValueAxis* axis = nullptr;
        for (std::size_t k = 0; k < scales.size(); ++k)
            if (scales[k].unit == model_.series[mark.series].unit)
                axis = yAxes_[k];
        auto* dot = new QScatterSeries;
        dot->setName(Text(mark.text));
        dot->setColor(SeriesColour(mark.series));
        dot->setBorderColor(Qt::white);
        dot->setMarkerSize(10);
        dot->append(mark.at.x, mark.at.y);
        Attach(dot, axis, false);
        auto* text = new QGraphicsSimpleTextItem(Text(mark.text), chart_);
        text->setBrush(SeriesColour(mark.series).darker(130));
        text->setZValue(15);
        markTexts_.emplace_back(QPointF(mark.at.x, mark.at.y), text);
        markAxes_.push_back(axis);
    }
}

void ChartPlot::PlaceMarks() {
    const QRectF area = chart_->plotArea();
    FitAxisTitles(area);
    // Where each mark's point is drawn, when it is inside the plot.
    std::vector<std::optional<QPointF>> points(markTexts_.size());
    for (std::size_t i = 0; i < markTexts_.size(); ++i) {
        const QPointF value = markTexts_[i].first;
        QValueAxis* y = markAxes_[i];
        if (!xAxis_ || !y || area.width() <= 0 || area.height() <= 0 ||
            xAxis_->max() <= xAxis_->min() || y->max() <= y->min())
            continue;
        const QPointF at(
            area.left() +
                (value.x() - xAxis_->min()) / (xAxis_->max() - xAxis_->min()) * area.width(),
            area.bottom() - (value.y() - y->min()) / (y->max() - y->min()) * area.height());
        if (area.adjusted(-1, -1, 1, 1).contains(at))
            points[i] = at;
    }
    // A text keeps clear of the plot's edges, of the texts placed before it and of every mark's
    // point: beside its own point, above or below, right or left, whichever is free first.
    std::vector<QRectF> taken;
    for (const auto& at : points)
        if (at)
            taken.emplace_back(*at - QPointF(6, 6), QSizeF(12, 12));
    const QRectF inside = area.adjusted(2, 2, -2, -2);
    for (std::size_t i = 0; i < markTexts_.size(); ++i) {
        QGraphicsSimpleTextItem* text = markTexts_[i].second;
        text->setVisible(points[i].has_value());
        if (!points[i])
            continue;
        const QPointF at = *points[i];
        const QSizeF size = text->boundingRect().size();
        const auto free = [&](const QRectF& where) {
            if (!inside.contains(where))
                return false;
            return std::none_of(taken.begin(), taken.end(),
                                [&](const QRectF& other) { return where.intersects(other); });
        };
        std::optional<QRectF> chosen;
        for (const double left : {at.x() + 8, at.x() - 8 - size.width()})
            for (const double top : {at.y() - size.height() - 6, at.y() + 6})
                if (!chosen && free(QRectF(QPointF(left, top), size)))
                    chosen = QRectF(QPointF(left, top), size);
        if (!chosen) {
            // Crowded: below the texts already there, within the plot.
            QRectF where(
                QPointF(std::clamp(at.x() + 8, inside.left(),
                                   std::max(inside.left(), inside.right() - size.width())),
                        std::clamp(at.y() + 6, inside.top(),
                                   std::max(inside.top(), inside.bottom() - size.height()))),
                size);
            for (const QRectF& other : taken)
                if (where.intersects(other) &&
                    other.bottom() + 2 + size.height() <= inside.bottom())
                    where.moveTop(other.bottom() + 2);
            chosen = where;
        }
        text->setPos(chosen->topLeft());
        taken.push_back(*chosen);
    }
}

void ChartPlot::FitAxisTitles(const QRectF& area) {
    // A title longer than its axis would be cut ("Error (L..."): the unit alone says enough.
    const std::vector<UnitScale> scales = YScales(model_);
    for (std::size_t k = 0; k < yAxes_.size() && k < scales.size(); ++k) {
        const QString whole = Text(scales[k].title);
        const QFontMetricsF metrics(yAxes_[k]->titleFont());
        const QString fits =
            metrics.horizontalAdvance(whole) + 8 <= area.height() || scales[k].unit.empty()
                ? whole
                : Text(scales[k].unit);
        if (yAxes_[k]->titleText() != fits)
            yAxes_[k]->setTitleText(fits);
    }
}

ChartPlot::Ranges ChartPlot::CurrentRanges() const {
    Ranges ranges{xAxis_->min(), xAxis_->max(), {}};
    for (const QValueAxis* axis : yAxes_)
        ranges.y.emplace_back(axis->min(), axis->max());
    return ranges;
}

void ChartPlot::ApplyRanges(const Ranges& ranges) {
    const bool was = applying_;
    applying_ = true;
    xAxis_->setRange(ranges.xLow, ranges.xHigh);
    for (std::size_t k = 0; k < yAxes_.size() && k < ranges.y.size(); ++k)
        yAxes_[k]->setRange(ranges.y[k].first, ranges.y[k].second);
    OnRangeChanged();
    applying_ = was;
}

void ChartPlot::OnRangeChanged() {
    if (!applying_)
        zoomed_ = true;
    // Round ticks at any zoom: the step of a nice scale over what is shown.
    std::vector<QValueAxis*> axes = yAxes_;
    if (xAxis_)
        axes.push_back(xAxis_);
    for (QValueAxis* axis : axes) {
        const double step =
            NiceStep(axis->max() - axis->min(), axis == xAxis_ ? kXIntervals : kYIntervals);
        if (axis->tickInterval() != step)
            axis->setTickInterval(step);
    }
    PlaceMarks();
    HideCursor();
}

void ChartPlot::ResetZoom() {
    if (!xAxis_)
        return;
    zoomed_ = false;
    Ranges ranges{XScale(model_).low, XScale(model_).high, {}};
    for (const UnitScale& scale : YScales(model_))
        ranges.y.emplace_back(scale.scale.low, scale.scale.high);
    ApplyRanges(ranges);
}

void ChartPlot::ZoomAbout(QPointF at, double xFactor, double yFactor) {
    if (!xAxis_)
        return;
    const QPointF pos = chart_->mapFromScene(view_->mapToScene(at.toPoint()));
    const QRectF area = chart_->plotArea();
    if (!area.contains(pos) || area.width() <= 0 || area.height() <= 0)
        return;
    const double fx = (pos.x() - area.left()) / area.width();
    const double fy = (area.bottom() - pos.y()) / area.height();
    const auto zoom = [](QValueAxis* axis, double fraction, double factor) {
        const double low = axis->min(), high = axis->max();
        const double about = low + fraction * (high - low);
        const double newLow = about - (about - low) * factor;
        const double newHigh = about + (high - about) * factor;
        // Not beyond what a double can tell apart.
        if (newHigh - newLow > 1e-9 * std::max(1.0, std::fabs(about)) && std::isfinite(newLow) &&
            std::isfinite(newHigh))
            axis->setRange(newLow, newHigh);
    };
    if (xFactor != 1.0)
        zoom(xAxis_, fx, xFactor);
    if (yFactor != 1.0)
        for (QValueAxis* axis : yAxes_)
            zoom(axis, fy, yFactor);
}

void ChartPlot::ShowCursor(QPointF at) {
    if (!xAxis_)
        return;
    const QPointF pos = chart_->mapFromScene(view_->mapToScene(at.toPoint()));
    const QRectF area = chart_->plotArea();
    if (!area.contains(pos) || area.width() <= 0) {
        HideCursor();
        return;
    }
    const double x =
        xAxis_->min() + (pos.x() - area.left()) / area.width() * (xAxis_->max() - xAxis_->min());
    cursorText_ =
        Text(ReadingText(model_, x, (xAxis_->max() - xAxis_->min()) / std::max(1.0, area.width())));
    reading_->setText(cursorText_);
    cursorLine_->setLine(pos.x(), area.top(), pos.x(), area.bottom());
    cursorLine_->show();
}

void ChartPlot::HideCursor() {
    cursorText_.clear();
    if (reading_)
        reading_->setText(Hint());
    if (cursorLine_)
        cursorLine_->hide();
}

bool ChartPlot::Export(PlotExport kind, const QString& path, QString& error) {
    if (kind == PlotExport::Csv)
        return Write(path, QByteArray::fromStdString(PlotCsv(model_)), error);
    if (stack_->currentIndex() != 0) {
        error = tr("the plot has nothing to draw yet");
        return false;
    }
    const bool line = cursorLine_->isVisible();
    cursorLine_->hide();
    bool ok = false;
    if (kind == PlotExport::Png) {
        QSaveFile file(path);
        ok = file.open(QIODevice::WriteOnly) && view_->grab().save(&file, "PNG") && file.commit();
        if (!ok)
            error = file.errorString();
    } else {
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            QSvgGenerator svg;
            svg.setOutputDevice(&file);
            svg.setSize(view_->size());
            svg.setViewBox(QRect(QPoint(0, 0), view_->size()));
            svg.setTitle(chart_->title().isEmpty() ? window()->windowTitle() : chart_->title());
            QPainter painter;
            ok = painter.begin(&svg);
            if (ok) {
                view_->render(&painter);
                ok = painter.end();
            }
            ok = ok && file.commit();
        }
        if (!ok)
            error = file.errorString();
    }
    cursorLine_->setVisible(line);
    return ok;
}

void ChartPlot::ExportTo(PlotExport kind) {
    static const struct {
        PlotExport kind;
        const char* suffix;
        const char* filter;
    } kKinds[] = {{PlotExport::Png, ".png", "PNG pictures (*.png)"},
                  {PlotExport::Svg, ".svg", "SVG pictures (*.svg)"},
                  {PlotExport::Csv, ".csv", "CSV files (*.csv)"}};
    for (const auto& k : kKinds) {
        if (k.kind != kind)
            continue;
        if (!services_.savePath)
            return;
        QString path = services_.savePath(tr("Export the plot"), tr(k.filter));
        if (path.isEmpty())
            return;
        if (!path.endsWith(QLatin1String(k.suffix), Qt::CaseInsensitive))
            path += QLatin1String(k.suffix);
        QString error;
        if (!Export(kind, path, error) && services_.warn)
            services_.warn(
                tr("%1 could not be written: %2; choose another place.").arg(path, error));
    }
}

}  // namespace tq
