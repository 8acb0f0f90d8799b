// The plotting library's entry: QPluginLoader finds this factory by the interface's name.

#include <QObject>

#include "ui/plots/PlotCanvas.h"
#include "ui/plots/charts/ChartPlot.h"

namespace tq {

class ChartsPlotFactory : public QObject, public PlotFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TQ_PLOT_FACTORY_IID)
    Q_INTERFACES(tq::PlotFactory)

public:
    PlotCanvas* CreateCanvas(QWidget* parent, PlotServices services) override {
        return new ChartPlot(parent, std::move(services));
    }
};

}  // namespace tq

#include "ChartsPlotFactory.moc"
