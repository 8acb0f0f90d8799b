#pragma once
// The plot drawn with Qt Charts: one value axis per unit, steps and lines, the shaded bands, the
// marked points with their values, the reading under the cursor in a line below the chart, zoom
// by wheel (Shift: time only, Ctrl: values only) and by dragging a rectangle, reset by
// double-click, and export from the context menu.

#include <QChart>
#include <QChartView>
#include <QValueAxis>
#include <vector>

#include "ui/plots/PlotCanvas.h"

class QGraphicsLineItem;
class QGraphicsSimpleTextItem;
class QLabel;
class QStackedLayout;
class QXYSeries;

namespace tq {

class ChartPlot;

class ChartView : public QChartView {
public:
    ChartView(QChart* chart, ChartPlot& plot);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    ChartPlot& plot_;
};

class ChartPlot : public PlotCanvas {
public:
    ChartPlot(QWidget* parent, PlotServices services);

    void SetModel(const PlotModel& model) override;
    bool Export(PlotExport kind, const QString& path, QString& error) override;
    void ResetZoom() override;
    bool Zoomed() const override { return zoomed_; }
    QString CursorText() const override { return cursorText_; }

    // Zooms every axis about the point `at` of the view by `factor` (below 1: in).
    void ZoomAbout(QPointF at, double xFactor, double yFactor);
    // The reading for the cursor at `at` of the view; off the plot area it is cleared.
    void ShowCursor(QPointF at);
    void HideCursor();

private:
    struct Ranges {
        double xLow, xHigh;
        std::vector<std::pair<double, double>> y;
    };
    void Build();
    void AddSeries(std::size_t index, QValueAxis* y);
    void AddBands();
    void AddMarks();
    void Attach(QXYSeries* series, QValueAxis* y, bool inLegend);
    void PlaceMarks();
    void FitAxisTitles(const QRectF& area);
    Ranges CurrentRanges() const;
    void ApplyRanges(const Ranges& ranges);
    void OnRangeChanged();
    void ExportTo(PlotExport kind);

    PlotServices services_;
    PlotModel model_;
    QChart* chart_;
    ChartView* view_;
    QStackedLayout* stack_;
    QLabel* note_;
    QLabel* reading_;
    QValueAxis* xAxis_ = nullptr;
    std::vector<QValueAxis*> yAxes_;
    std::vector<std::pair<QPointF, QGraphicsSimpleTextItem*>> markTexts_;
    std::vector<QValueAxis*> markAxes_;
    QGraphicsLineItem* cursorLine_ = nullptr;
    QString cursorText_;
    bool zoomed_ = false;
    bool applying_ = false;  // the program sets the ranges: not the user's zoom
};

}  // namespace tq
