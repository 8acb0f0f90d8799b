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
#include "core/Encoding.h"
#include "core/Tables.h"
#include "ui/widgets/Twips.h"

namespace tq {

namespace {

constexpr int kDefaultNoticeMs = 2000;

// Register ranges of the corrections, in the units the steps compute in.
struct OffsetLimits {
    float low;
    float high;
    const char* rangeText;
};
constexpr OffsetLimits kOffsetLimits16{-16.0f, 15.875f, "-16 to 15.875"};
constexpr OffsetLimits kOffsetLimits14{-4.0f, 3.0f, "-4 to 3"};
constexpr int16_t kFineGainLow = -32;
constexpr int16_t kFineGainHigh = 31;

// A 14-bit offset code sits in D7..D5 of the register.
constexpr int32_t kOffsetShift14 = 32;

const QString kNegativeExpected = QStringLiteral("A negative number is expected");
const QString kOffsetUnreadable = QStringLiteral(
    "The offset register could not be read back. Enable the serial data output (SDO) and press "
    "Done again.");
const QString kFineGainLimited =
    QStringLiteral("The fine gain correction was limited to the register's range (-32 to 31).");

QString OffsetLimitedText(const OffsetLimits& limits) {
    return QStringLiteral("The offset correction was limited to the register's range (%1).")
        .arg(QLatin1String(limits.rangeText));
}

// Limits `value` to low..high; true when it had to.
template <typename T>
bool Limit(T& value, T low, T high) {
    if (value < low) {
        value = low;
        return true;
    }
    if (value > high) {
        value = high;
        return true;
    }
    return false;
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
    : QGroupBox(QStringLiteral("Calibration"), parent), ctx_(context) {
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
    labelOff1_ =
        makeLabel("LabelOff1", QStringLiteral("Load 0V to the DAC and measure the output voltage"));
    labelFS1_ = makeLabel(
        "LabelFS1", QStringLiteral("Load Zero Scale to the DAC and measure the output voltage"));
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
    ShowStep(Step::OffsetEntry);
}

void CalibrationPanel::CommandOff_Click() {
    DeviceState& s = ctx_.state;
    const int16_t resolution = s.Resolution;
    if (resolution != 16 && resolution != 14)
        return;

    const int32_t readBack = ctx_.registers.ReadRegister(s.Address, kRegOffset);
    // Nothing above 8 bits comes back from a converter that answers: all ones means the serial
    // output is off or no board replied, and a correction built on it would be nonsense.
    if (readBack > 32767) {
        ctx_.messages.ShowMessage(window(), MessageIcon::Warning, kOffsetUnreadable);
        return;
    }

    const float measured = -MeasuredVolts(textOff_);
    const OffsetLimits& limits = resolution == 16 ? kOffsetLimits16 : kOffsetLimits14;
    float newOffset = 0.0f;
    if (resolution == 16) {
        const int32_t code = readBack >= 128 ? readBack - 256 : readBack;
        const float current = ToSingle(code / 8.0);
        const double lsb = (2.0 * s.RangeVolts) / 65536.0;
        const float correction = ToSingle(measured / lsb);
        newOffset = ToSingle(static_cast<double>(current) + correction);
    } else {
        const int32_t raw = RoundToInt32(readBack / static_cast<double>(kOffsetShift14));
        const int32_t code = raw >= 4 ? raw - 8 : raw;
        const float current = static_cast<float>(code);
        const double lsb = (2.0 * s.RangeVolts) / 16384.0;
        // nearbyint keeps an infinite correction infinite, so the limit below catches it.
        const float correction = ToSingle(std::nearbyint(ToSingle(measured / lsb)));
        newOffset = ToSingle(static_cast<double>(current) + correction);
    }
    // Only a zero range (0 / 0) could give no number at all; write offset 0 then.
    if (std::isnan(newOffset))
        newOffset = 0.0f;
    const bool limited = Limit(newOffset, limits.low, limits.high);

    int32_t code = 0;
    if (resolution == 16) {
        const double raw =
            newOffset >= 0 ? newOffset / 15.875 * 127 : (newOffset + 16) / 15.875 * 127 + 128;
        code = RoundToInt32(raw);
        // Just below zero the nearest eighth is zero itself, whose 8-bit code is 0, not 256.
        if (code == 256)
            code = 0;
        s.DataValue = code;
    } else {
        code = RoundToInt32(newOffset >= 0 ? newOffset : newOffset + 8.0);
        s.DataValue = Mul32(code, kOffsetShift14);
    }
    ctx_.registers.WriteRegister(s.Address, kRegOffset, s.DataValue);
    if (limited)
        ctx_.messages.ShowMessage(window(), MessageIcon::Information, OffsetLimitedText(limits));
    ShowStep(Step::GainEntry);
}

void CalibrationPanel::CommandFS_Click() {
    DeviceState& s = ctx_.state;
    if (s.Resolution != 16 && s.Resolution != 14)
        return;

    int16_t newGain = 0;
    try {
        const int16_t readBack = Check16(ctx_.registers.ReadRegister(s.Address, kRegFineGain));
        const float current = static_cast<float>(readBack >= 32 ? readBack - 64 : readBack);
        const float error = ToSingle(static_cast<double>(s.RangeVolts) + MeasuredVolts(textFS_));
        // (2 x range) / 2^17 for both resolutions: the 14-bit device's gain unit is
        // (2 x range) / (2^14 x 8).
        const double unit = (2.0 * s.RangeVolts) / 131072.0;
        const int16_t steps = RoundToInt16(error / unit);
        newGain = RoundToInt16(static_cast<double>(steps) + current);
    } catch (const NumericError&) {
        ctx_.messages.ShowMessage(window(), MessageIcon::Warning, kNegativeExpected);
        textFS_->clear();
        textFS_->setFocus();
        return;
    }

    const bool limited = Limit(newGain, kFineGainLow, kFineGainHigh);
    s.DataValue = newGain >= 0 ? newGain : newGain + 64;
    ctx_.registers.WriteRegister(s.Address, kRegFineGain, s.DataValue);
    if (limited)
        ctx_.messages.ShowMessage(window(), MessageIcon::Information, kFineGainLimited);
    BeginCompleteNotice();
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
    ShowStep(Step::Idle);
}

bool CalibrationPanel::eventFilter(QObject* watched, QEvent* event) {
    if (blockedWindow_ && IsUserInput(event->type()) && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == blockedWindow_)
        return true;
    return QGroupBox::eventFilter(watched, event);
}

}  // namespace tq
