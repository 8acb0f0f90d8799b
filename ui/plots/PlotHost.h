#pragma once
// A plot's place in a window. It keeps the plot's data and, the first time it is shown, loads the
// plotting library (libtq2604x-eval-plots.so beside the program) and puts a plot there; a start-up
// that shows no plot never loads Qt Charts. When the library cannot be loaded the place says so in
// one line and the window works on without it.

#include <QString>
#include <QWidget>

#include "ui/WindowContext.h"
#include "ui/plots/PlotModel.h"

class QLabel;

namespace tq {

class ElidedLabel;

class PlotCanvas;

inline constexpr const char* kPlotLibraryName = "libtq2604x-eval-plots.so";

class PlotHost : public QWidget {
public:
    PlotHost(WindowContext& context, QWidget* parent);

    // The data to draw; kept until the plot is there.
    void SetModel(PlotModel model);
    const PlotModel& Model() const { return model_; }

    // The plot, once shown and loaded; null before or when the library could not be loaded.
    PlotCanvas* Canvas() const { return canvas_; }
    // Why there is no plot, as the window shows it; empty while there is one or before showing.
    QString Problem() const;

    // Where the library is looked for: the program's folder, unless a test names another.
    void SetLibraryFolder(const QString& folder) { folder_ = folder; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Load();

    WindowContext& ctx_;
    PlotModel model_;
    QString folder_;
    bool tried_ = false;
    PlotCanvas* canvas_ = nullptr;
    ElidedLabel* problem_ = nullptr;
};

}  // namespace tq
