#pragma once
// What the program asks of the plotting library, which it loads only when the first plot is
// shown (PlotHost): a factory of plot widgets. The library draws with Qt Charts; the program
// never links it, so a start-up that shows no plot does not load Qt Charts at all.

#include <QString>
#include <QWidget>
#include <QtPlugin>
#include <functional>

#include "ui/plots/PlotModel.h"

namespace tq {

enum class PlotExport { Png, Svg, Csv };

// What a plot needs of its window: a file to export to (empty: cancelled) and a place to say
// that an export failed.
struct PlotServices {
    std::function<QString(const QString& caption, const QString& filter)> savePath;
    std::function<void(const QString& text)> warn;
};

// A plot: axes with units, grid, legend, zoom by wheel and drag, reset by double-click, the
// value under the cursor, and export from its context menu.
class PlotCanvas : public QWidget {
public:
    using QWidget::QWidget;
    // Draws the model; a zoomed view keeps its ranges while new data comes in.
    virtual void SetModel(const PlotModel& model) = 0;
    // Writes the picture (at the screen's pixel ratio) or the data; false with the reason.
    virtual bool Export(PlotExport kind, const QString& path, QString& error) = 0;
    virtual void ResetZoom() = 0;
    virtual bool Zoomed() const = 0;
    // The reading under the cursor as shown, or empty when the cursor is off the plot.
    virtual QString CursorText() const = 0;
};

class PlotFactory {
public:
    virtual ~PlotFactory() = default;
    virtual PlotCanvas* CreateCanvas(QWidget* parent, PlotServices services) = 0;
};

}  // namespace tq

// The release is part of the name: a library left from another build is refused, not called.
Q_DECLARE_INTERFACE(tq::PlotFactory, TQ_PLOT_FACTORY_IID)
