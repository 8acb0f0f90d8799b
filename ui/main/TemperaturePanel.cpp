#include "ui/main/TemperaturePanel.h"

#include <QLabel>
#include <QPushButton>

#include "core/Encoding.h"
#include "ui/widgets/Twips.h"

namespace tq {

namespace {

const QString kOutOfRange = QStringLiteral("out of range");
const QString kOverRange = QStringLiteral("over range");
const QString kUnderRange = QStringLiteral("under range");
const QString kNoReply = QStringLiteral("no reply");

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
    Instrument& instrument = ctx_.instrument;
    const Instrument::Origin own(instrument, window());
    // The SDO switch follows each function write of the measurement: "Disabled" for the
    // readings, then what it was before.
    const int listener = instrument.AddListener([this, &instrument](const InstrumentChange& c) {
        if (c.kind == InstrumentChange::Kind::FunctionFlags)
            switches_.SetSdoSwitch(instrument.State().FnSdoDisable != 0);
    });
    QString volts, celsius;
    try {
        const TemperatureReading reading = instrument.MeasureTemperature();
        // At either end of its counts the board's converter reads whatever lies beyond.
        if (reading.OverRange()) {
            volts = celsius = kOverRange;
        } else if (reading.UnderRange()) {
            volts = celsius = kUnderRange;
        } else {
            volts = QString::fromStdString(VoltageText3(reading.volts));
            celsius = QString::fromStdString(WholeText(reading.celsius));
        }
    } catch (const ReadingError&) {
        volts = celsius = kOutOfRange;
    } catch (const InstrumentError&) {
        // Whatever the read buffer holds after a failed request is not a reading.
        volts = celsius = kNoReply;
    }
    instrument.RemoveListener(listener);
    label23_->setText(volts);
    label25_->setText(celsius);
}

}  // namespace tq
