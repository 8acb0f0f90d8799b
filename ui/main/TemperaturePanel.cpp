#include "ui/main/TemperaturePanel.h"

#include <QLabel>
#include <QPushButton>

#include "core/CheckedInt.h"
#include "core/Encoding.h"
#include "ui/widgets/Twips.h"

namespace tq {

namespace {

// The board's converter: 4096 counts over 3.29 V. The TEMP pin reads 1.2775 V at 0 degrees C
// and rises 5 mV per degree.
constexpr int kAdcCounts = 4096;
constexpr double kAdcSpanVolts = 3.29;
constexpr double kVoltsAtZero = 1.2775;
constexpr double kVoltsPerDegree = 0.005;
constexpr int kReadingsPerMeasure = 3;

const QString kOutOfRange = QStringLiteral("out of range");

QFont ControlFont() {
    QFont f(QStringLiteral("Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(8.25);
    return f;
}

}  // namespace

TemperaturePanel::TemperaturePanel(WindowContext& context, FunctionSwitches& switches,
                                   QWidget* parent)
    : QGroupBox(QStringLiteral("Measure TQ2604X Core Temperature"), parent),
      ctx_(context),
      switches_(switches) {
    setObjectName(QStringLiteral("Frame19"));
    StyleFrame(this, true, QColor(192, 0, 0));
    setGeometry(Twips(120, 6720, 4815, 1455));

    command7_ = new QPushButton(QStringLiteral("Measure"), this);
    command7_->setObjectName(QStringLiteral("Command7"));
    command7_->setFont(ControlFont());
    PlaceTwips(command7_, 240, 480, 1095, 735);

    auto makeTitle = [this](const char* name, const QString& text, int top) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QLatin1String(name));
        label->setFont(ControlFont());
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        PlaceTwips(label, 1440, top, 1815, 315);
    };
    auto makeValueBox = [this](const char* name, int top) {
        auto* label = new QLabel(this);
        label->setObjectName(QLatin1String(name));
        label->setFont(ControlFont());
        label->setFrameStyle(QFrame::Box | QFrame::Plain);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        PlaceTwips(label, 3360, top, 1215, 315);
        return label;
    };
    makeTitle("Label19", QStringLiteral("Voltage at TEMP pin"), 420);
    makeTitle("Label21", QStringLiteral("Temperature (\u00b0C)"), 900);
    label23_ = makeValueBox("Label23", 420);
    label25_ = makeValueBox("Label25", 900);

    connect(command7_, &QPushButton::clicked, this, &TemperaturePanel::Command7_Click);
}

void TemperaturePanel::Command7_Click() {
    DeviceState& s = ctx_.state;
    const int16_t sdoBefore = s.FnSdoDisable;

    // The readings are taken with the converter's serial data output off.
    s.FnSdoDisable = 1;
    ctx_.registers.WriteFunctionFlags();
    switches_.SetSdoSwitch(true);

    // The first two readings settle the board's converter; only the third counts.
    // A reading the request could not deliver counts as -1, outside the converter's range.
    int32_t reading = -1;
    for (int i = 0; i < kReadingsPerMeasure; ++i) {
        try {
            reading = ctx_.requests.ReadAdcWord();
        } catch (const NumericError&) {
            reading = -1;
        }
    }

    // Leaving the serial output off would make every later register read-back all ones.
    s.FnSdoDisable = sdoBefore;
    ctx_.registers.WriteFunctionFlags();
    switches_.SetSdoSwitch(sdoBefore != 0);

    if (reading < 0 || reading >= kAdcCounts) {
        label23_->setText(kOutOfRange);
        label25_->setText(kOutOfRange);
        return;
    }
    const float volts = ToSingle(reading / static_cast<double>(kAdcCounts) * kAdcSpanVolts);
    const float celsius = ToSingle(volts / kVoltsPerDegree - kVoltsAtZero / kVoltsPerDegree);
    label23_->setText(QString::fromStdString(VoltageText3(volts)));
    label25_->setText(QString::fromStdString(WholeText(celsius)));
}

}  // namespace tq
