#include "ui/plots/PlotHost.h"

#include "ui/widgets/ElidedLabel.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPluginLoader>
#include <QVBoxLayout>

#include "ui/plots/PlotCanvas.h"

namespace tq {

PlotHost::PlotHost(WindowContext& context, QWidget* parent) : QWidget(parent), ctx_(context) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

void PlotHost::SetModel(PlotModel model) {
    model_ = std::move(model);
    if (canvas_)
        canvas_->SetModel(model_);
}

QString PlotHost::Problem() const {
    return problem_ ? problem_->text() : QString();
}

void PlotHost::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!tried_) {
        tried_ = true;
        Load();
    }
}

void PlotHost::Load() {
    const QString folder = folder_.isEmpty() ? QCoreApplication::applicationDirPath() : folder_;
    const QString path = folder + QLatin1Char('/') + QLatin1String(kPlotLibraryName);
    QString why;
    PlotFactory* factory = nullptr;
    if (!QFileInfo::exists(path)) {
        why = tr("%1 is missing; reinstall the program").arg(path);
    } else {
        // The loader is only a handle: the library stays loaded for the program's life, and
        // every plot shares it.
        QPluginLoader loader(path);
        QObject* root = loader.instance();
        factory = qobject_cast<PlotFactory*>(root);
        if (!root)
            why = loader.errorString();
        else if (!factory)
            why = tr("%1 is from another release of the program; reinstall it").arg(path);
    }
    if (!factory) {
        // One line that does not widen the window: a long path ends in "...", whole in the tooltip.
        problem_ = new ElidedLabel(this);
        problem_->setObjectName(QStringLiteral("LabelNoPlot"));
        problem_->SetText(tr("Plots cannot be shown: %1").arg(why));
        problem_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        layout()->addWidget(problem_);
        return;
    }
    PlotServices services;
    services.savePath = [this](const QString& caption, const QString& filter) {
        return ctx_.files ? ctx_.files->SaveFileName(window(), caption, filter) : QString();
    };
    services.warn = [this](const QString& text) {
        ctx_.messages.ShowMessage(window(), MessageIcon::Warning, text, window()->windowTitle());
    };
    canvas_ = factory->CreateCanvas(this, std::move(services));
    canvas_->setObjectName(QStringLiteral("Canvas"));
    layout()->addWidget(canvas_);
    canvas_->SetModel(model_);
}

}  // namespace tq
