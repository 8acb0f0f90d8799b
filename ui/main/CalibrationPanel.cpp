#include "ui/main/CalibrationPanel.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <cmath>
#include <utility>

#include "core/CheckedInt.h"
#include "core/ConverterProfile.h"
#include "core/Encoding.h"
#include "instrument/Calibration.h"
#include "ui/widgets/DecimalEntry.h"
#include "ui/widgets/Twips.h"

namespace tq {

namespace {

constexpr int kDefaultNoticeMs = 2000;

const QString kNegativeExpected = QStringLiteral("A negative number is expected");
const QString kOffsetUnreadable = QStringLiteral(
    "The offset register could not be read back. Enable the serial data output (SDO) and press "
    "Done again.");
QString OffsetLimitedText(const std::string& limits) {
    return QStringLiteral("The offset correction was limited to the register's range (%1 LSB).")
        .arg(QString::fromStdString(limits));
}
QString FineGainLimitedText(const std::string& limits) {
    return QStringLiteral(
               "The fine gain correction was limited to the register's range (%1 steps).")
        .arg(QString::fromStdString(limits));
}

// The box and the unit, then what is wrong with the reading and what to do.
QString ImplausibleText(const QString& step, const ImplausibleReadingError& e) {
    return QStringLiteral(
               "Measured Voltage (%1, in volts): %2. Check the output and the meter, "
               "then enter the reading again; nothing was written.")
        .arg(step, QString::fromUtf8(e.what()));
}

float MeasuredVolts(const QLineEdit* box) {
    return ToSingle(ParseNumber(box->text().toStdString()));
}

QFont ControlFont(double points, bool bold = false) {
    QFont f(QStringLiteral("Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
    }
}

}  // namespace

CalibrationPanel::CalibrationPanel(WindowContext& context, QWidget* parent)
    : QGroupBox(QStringLiteral("Calibration"), parent),
      ctx_(context),
      calibration_(context.instrument) {
    setObjectName(QStringLiteral("Frame22"));
    StyleFrame(this, true, QColor(192, 0, 0));
    setGeometry(Twips(5160, 6720, 9375, 1455));

    auto makeLabel = [this](const char* name, const QString& text) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QLatin1String(name));
        label->setFont(ControlFont(8.25));
        return label;
    };
    auto makeButton = [this](const char* name, const QString& text) {
        auto* button = new QPushButton(text, this);
        button->setObjectName(QLatin1String(name));
        button->setFont(ControlFont(8.25));
        return button;
    };
    auto makeBox = [this](const char* name, const QString& text) {
        auto* box = new QLineEdit(text, this);
        box->setObjectName(QLatin1String(name));
        box->setFont(ControlFont(8.25));
        return box;
    };

    command8_ = makeButton("Command8",
                           QStringLiteral("Perform Offset && Gain Calibration on Selected DAC"));
    PlaceTwips(command8_, 120, 480, 4560, 735);

    // The two steps' controls lie exactly over each other: only one step is ever shown.
    // The program has loaded the step's code; the labels say what the user does.
    labelOff1_ = makeLabel(
        "LabelOff1",
        QStringLiteral("0 V is loaded: measure the output, type the reading, press Done"));
    labelFS1_ = makeLabel(
        "LabelFS1",
        QStringLiteral("Zero scale is loaded: measure the output, type the reading, press Done"));
    labelOff2_ = makeLabel("LabelOff2", QStringLiteral("Measured Voltage = "));
    labelFS2_ = makeLabel("LabelFS2", QStringLiteral("Measured Voltage = "));
    textOff_ = makeBox("TextOff", QStringLiteral("0"));
    textFS_ = makeBox("TextFS", QStringLiteral("-10"));
    commandOff_ = makeButton("CommandOff", QStringLiteral("Done"));
    commandFS_ = makeButton("CommandFS", QStringLiteral("Done"));
    for (QLabel* label : {labelOff1_, labelFS1_}) {
        label->setWordWrap(true);
        PlaceTwips(label, 4800, 300, 4455, 465);
    }
    for (QLabel* label : {labelOff2_, labelFS2_})
        PlaceTwips(label, 4800, 855, 1575, 285);
    for (QLineEdit* box : {textOff_, textFS_})
        PlaceTwips(box, 6420, 825, 1215, 330);
    for (QPushButton* button : {commandOff_, commandFS_})
        PlaceTwips(button, 7800, 795, 1335, 375);

    labelComplete_ = makeLabel("LabelComplete", QStringLiteral("Calibration complete"));
    labelComplete_->setFont(ControlFont(14, true));
    labelComplete_->setStyleSheet(QStringLiteral("color: #0000ff;"));
    labelComplete_->setAlignment(Qt::AlignCenter);
    PlaceTwips(labelComplete_, 4800, 420, 4455, 675);

    completeTimer_ = new QTimer(this);
    completeTimer_->setSingleShot(true);
    // Precise, so the notice lasts its two seconds rather than anything within 5% of them.
    completeTimer_->setTimerType(Qt::PreciseTimer);
    completeTimer_->setInterval(kDefaultNoticeMs);
    connect(completeTimer_, &QTimer::timeout, this, &CalibrationPanel::EndCompleteNotice);

    connect(command8_, &QPushButton::clicked, this, &CalibrationPanel::Command8_Click);
    connect(commandOff_, &QPushButton::clicked, this, &CalibrationPanel::CommandOff_Click);
    connect(commandFS_, &QPushButton::clicked, this, &CalibrationPanel::CommandFS_Click);
    // Enter in a reading box is its step's "Done".
    connect(textOff_, &QLineEdit::returnPressed, this, &CalibrationPanel::CommandOff_Click);
    connect(textFS_, &QLineEdit::returnPressed, this, &CalibrationPanel::CommandFS_Click);

    ShowStep(Step::Idle);
}

CalibrationPanel::~CalibrationPanel() {
    if (completeTimer_->isActive())
        EndCompleteNotice();
}

void CalibrationPanel::SetCompleteNoticeMs(int ms) {
    completeTimer_->setInterval(ms);
}

void CalibrationPanel::ShowStep(Step step) {
    const bool offset = step == Step::OffsetEntry;
    const bool gain = step == Step::GainEntry;
    const std::array<std::pair<QWidget*, bool>, 9> controls{
        {{labelOff1_, offset},
         {labelOff2_, offset},
         {textOff_, offset},
         {commandOff_, offset},
         {labelFS1_, gain},
         {labelFS2_, gain},
         {textFS_, gain},
         {commandFS_, gain},
         {labelComplete_, step == Step::Complete}}};
    // Hide before showing: the two steps' controls lie on top of each other.
    for (const auto& [widget, shown] : controls)
        if (!shown)
            widget->hide();
    for (const auto& [widget, shown] : controls)
        if (shown)
            widget->show();
    command8_->setEnabled(step == Step::Idle);
}

void CalibrationPanel::Command8_Click() {
    calibration_.Start(ctx_.state.Address);
    ShowStep(Step::OffsetEntry);
}

void CalibrationPanel::CommandOff_Click() {
    if (!FindProfile(ctx_.instrument.Resolution()))
        return;
    // A measured voltage with no number, or a decimal comma, is no measurement: nothing is written.
    if (!TakeDecimalEntry(textOff_))
        return;
    const Instrument::Origin own(ctx_.instrument, window());
    // The channel the composer shows; the instrument knows its range.
    if (calibration_.CurrentStep() != Calibration::Step::OffsetReading)
        calibration_.Start(ctx_.state.Address);
    try {
        const Correction c = calibration_.EnterOffsetReading(MeasuredVolts(textOff_));
        ctx_.composer.DataValue = c.registerValue;
        if (c.limited)
            ctx_.messages.ShowMessage(
                window(), MessageIcon::Information,
                OffsetLimitedText(OffsetLimitsText(ctx_.instrument.Resolution())));
        ShowStep(Step::GainEntry);
    } catch (const ImplausibleReadingError& e) {
        ctx_.messages.ShowMessage(window(), MessageIcon::Warning,
                                  ImplausibleText(QStringLiteral("offset step, 0 V loaded"), e));
        textOff_->setFocus();
        textOff_->selectAll();
    } catch (const OffsetUnreadableError&) {
        ctx_.messages.ShowMessage(window(), MessageIcon::Warning, kOffsetUnreadable);
    } catch (const InstrumentError&) {
        // The status bar says the board is not responding; the step stays for another try.
    }
}

void CalibrationPanel::CommandFS_Click() {
    if (!FindProfile(ctx_.instrument.Resolution()))
        return;
    if (!TakeDecimalEntry(textFS_))
        return;
    const Instrument::Origin own(ctx_.instrument, window());
    try {
        const Correction c = calibration_.EnterGainReading(MeasuredVolts(textFS_));
        ctx_.composer.DataValue = c.registerValue;
        if (c.limited)
            ctx_.messages.ShowMessage(
                window(), MessageIcon::Information,
                FineGainLimitedText(FineGainLimitsText(ctx_.instrument.Resolution())));
        BeginCompleteNotice();
    } catch (const NumericError&) {
        ctx_.messages.ShowMessage(window(), MessageIcon::Warning, kNegativeExpected);
        textFS_->clear();
        textFS_->setFocus();
    } catch (const ImplausibleReadingError& e) {
        ctx_.messages.ShowMessage(
            window(), MessageIcon::Warning,
            ImplausibleText(QStringLiteral("gain step, zero scale loaded"), e));
        textFS_->setFocus();
        textFS_->selectAll();
    } catch (const InstrumentError&) {
        // The status bar says the board is not responding; the step stays for another try.
    }
}

void CalibrationPanel::BeginCompleteNotice() {
    ShowStep(Step::Complete);
    // The notice is drawn by the running event loop; the window only ignores the user meanwhile.
    blockedWindow_ = window();
    blockedWindow_->setProperty("busy", true);
    qApp->installEventFilter(this);
    completeTimer_->start();
}

void CalibrationPanel::EndCompleteNotice() {
    completeTimer_->stop();
    qApp->removeEventFilter(this);
    if (blockedWindow_)
        blockedWindow_->setProperty("busy", false);
    blockedWindow_ = nullptr;
    calibration_.Finish();
    ShowStep(Step::Idle);
}

bool CalibrationPanel::eventFilter(QObject* watched, QEvent* event) {
    if (blockedWindow_ && IsUserInput(event->type()) && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == blockedWindow_)
        return true;
    return QGroupBox::eventFilter(watched, event);
}

}  // namespace tq
