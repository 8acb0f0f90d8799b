#include "ui/bench/BenchForm.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>
#include <cmath>

#include "board/SimulatedBench.h"
#include "core/Tables.h"

namespace tq {

namespace {

QString LevelText(const char* line, int level) {
    return QStringLiteral("%1: %2").arg(QLatin1String(line),
                                        level ? QStringLiteral("High") : QStringLiteral("Low"));
}

}  // namespace

BenchForm::BenchForm(WindowContext& context) : QWidget(nullptr), bench_(*context.bench) {
    setObjectName(QStringLiteral("BenchForm"));
    setWindowTitle(QStringLiteral("Simulated Bench"));

    // One column, narrow enough to stand beside the main window on a small or scaled screen.
    auto* column = new QVBoxLayout(this);
    column->addWidget(new QLabel(tr("Outputs (meter on the board)"), this));
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (int channel = 0; channel < 4; ++channel) {
        labelVout_[channel] = new QLabel(this);
        labelVout_[channel]->setObjectName(QStringLiteral("LabelVout%1").arg(channel));
        labelVout_[channel]->setFont(fixed);
        column->addWidget(labelVout_[channel]);
    }
    column->addSpacing(6);
    column->addWidget(new QLabel(tr("Die temperature (\u00b0C)"), this));
    textTemp_ = new QLineEdit(this);
    textTemp_->setObjectName(QStringLiteral("TextTemp"));
    column->addWidget(textTemp_);

    auto* lines = new QHBoxLayout;
    labelD0_ = new QLabel(this);
    labelD0_->setObjectName(QStringLiteral("LabelD0"));
    labelD1_ = new QLabel(this);
    labelD1_->setObjectName(QStringLiteral("LabelD1"));
    lines->addWidget(labelD0_);
    lines->addWidget(labelD1_);
    column->addLayout(lines);

    column->addWidget(new QLabel(tr("Link latency per request (\u00b5s)"), this));
    textLatency_ = new QLineEdit(this);
    textLatency_->setObjectName(QStringLiteral("TextLatency"));
    column->addWidget(textLatency_);

    for (QLabel* label : labelVout_)
        label->setToolTip(tr("The output as a meter on the board reads it, errors included"));
    textTemp_->setToolTip(tr("The simulated die temperature in degrees Celsius; Enter sets it"));
    labelD0_->setToolTip(tr("The level on the D0 line"));
    labelD1_->setToolTip(tr("The level on the D1 line"));
    textLatency_->setToolTip(
        tr("How long each board request takes, in microseconds, as over a real USB link; Enter "
           "sets it"));
    connect(textTemp_, &QLineEdit::returnPressed, this, &BenchForm::TextTemp_KeyPress);
    connect(textLatency_, &QLineEdit::returnPressed, this, &BenchForm::TextLatency_KeyPress);
    // The instrument outlives this window, so the listener must not reach a deleted one.
    context.instrument.AddListener([form = QPointer<BenchForm>(this)](const InstrumentChange& c) {
        if (form && c.kind == InstrumentChange::Kind::RequestResult)
            form->Refresh();
    });
    Refresh();
}

void BenchForm::Refresh() {
    for (int channel = 0; channel < 4; ++channel) {
        const QString name = QString::fromUtf8(
            kChannels[channel].text.data(), static_cast<qsizetype>(kChannels[channel].text.size()));
        // Five decimals, as Output Voltages shows a channel's output.
        labelVout_[channel]->setText(
            QStringLiteral("%1: %2 V")
                .arg(name, QString::number(bench_.OutputVolts(channel), 'f', 5)));
    }
    labelD0_->setText(LevelText("D0", bench_.D0Level()));
    labelD1_->setText(LevelText("D1", bench_.D1Level()));
    if (!textTemp_->isModified())
        textTemp_->setText(QString::number(bench_.DieTemperature()));
    if (!textLatency_->isModified())
        textLatency_->setText(QString::number(bench_.Latency()));
}

void BenchForm::TextTemp_KeyPress() {
    bool ok = false;
    const double celsius = textTemp_->text().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(celsius)) {
        textTemp_->clear();
        // Kept empty until the user types again, even while requests refresh the window.
        textTemp_->setModified(true);
        textTemp_->setFocus();
        return;
    }
    bench_.SetDieTemperature(celsius);
    textTemp_->setModified(false);
    Refresh();
}

void BenchForm::TextLatency_KeyPress() {
    bool ok = false;
    const qlonglong microseconds = textLatency_->text().trimmed().toLongLong(&ok);
    if (!ok || microseconds < 0 || microseconds > 1000000) {
        // As the temperature box: emptied and kept for the user to type a whole number of
        // microseconds, 0 to 1000000.
        textLatency_->clear();
        textLatency_->setModified(true);
        textLatency_->setFocus();
        return;
    }
    bench_.SetLatency(microseconds);
    textLatency_->setModified(false);
    Refresh();
}

}  // namespace tq
