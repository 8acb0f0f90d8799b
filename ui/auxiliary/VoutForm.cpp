#include "ui/auxiliary/VoutForm.h"

#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>
#include <optional>

#include "core/CheckedInt.h"
#include "core/ConverterCoding.h"
#include "core/Encoding.h"
#include "core/Tables.h"
#include "ui/auxiliary/RoundedText.h"
#include "ui/protection/RefusalNotices.h"
#include "ui/widgets/DecimalEntry.h"
#include "ui/widgets/ElidingStatusBar.h"
#include "ui/widgets/EntryMessages.h"
#include "ui/widgets/Twips.h"

namespace tq {

namespace {

struct ChannelRow {
    const char* label;
    const char* box;
    const char* caption;
    const char* limits;
};
constexpr std::array<ChannelRow, 4> kRows{{
    {"Label1", "Text1", "DAC A Voltage", "LabelLimits1"},
    {"Label2", "Text2", "DAC B Voltage", "LabelLimits2"},
    {"Label3", "Text3", "DAC C Voltage", "LabelLimits3"},
    {"Label4", "Text4", "DAC D Voltage", "LabelLimits4"},
}};

constexpr int16_t kVoutResolution = 16;
// The status line below the design's rows.
constexpr int kDesignHeight = 4020;
constexpr int kStatusHeight = 345;

// The pins that hold every output at 0 V now, as a box names them ("CLR"), or "".
QString HoldingPins(const DeviceState& s) {
    QStringList pins;
    if (s.ClrPin == 0)
        pins << QStringLiteral("CLR");
    if (s.RstinPin == 0)
        pins << QStringLiteral("RSTIN");
    return pins.join(QStringLiteral(", "));
}

}  // namespace

VoutForm::VoutForm(WindowContext& context, QWidget* parent) : QWidget(parent), ctx_(context) {
    setObjectName(QStringLiteral("VoutForm"));
    setWindowTitle(QStringLiteral("Program Output Voltage"));
    setFixedSize(Twips(0, 0, 7920, kDesignHeight + kStatusHeight).size());
    const QFont font = BoldSans(13.5);
    QFont small = BoldSans(8.25);
    small.setBold(false);

    Label5_ = new QLabel(QStringLiteral(" Enter Desired output voltage for each DAC in Volts   Hit "
                                        "the Enter Key after each entry to update the output"),
                         this);
    Label5_->setObjectName(QStringLiteral("Label5"));
    Label5_->setFont(font);
    Label5_->setAlignment(Qt::AlignCenter);
    Label5_->setWordWrap(true);
    PlaceTwips(Label5_, 120, 120, 7680, 975);

    for (std::size_t i = 0; i < kRows.size(); ++i) {
        const int top = 1320 + static_cast<int>(i) * 660;
        auto* label = new QLabel(QString::fromLatin1(kRows[i].caption), this);
        label->setObjectName(QLatin1String(kRows[i].label));
        label->setFont(font);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        PlaceTwips(label, 360, top, 3735, 450);
        auto* box = new QLineEdit(QStringLiteral("0"), this);
        box->setObjectName(QLatin1String(kRows[i].box));
        box->setFont(font);
        PlaceTwips(box, 4320, top, 2175, 450);
        // The limits take the gap below the row, so that the design's rows stay where they are.
        auto* limits = new QLabel(this);
        limits->setObjectName(QLatin1String(kRows[i].limits));
        limits->setToolTip(tr("This channel's limits and ramp (Protection, Output Protection)"));
        limits->setFont(small);
        limits->setAlignment(Qt::AlignCenter);
        PlaceTwips(limits, 360, top + 450, 6135, 210);
        labels_[i] = label;
        boxes_[i] = box;
        limitLines_[i] = limits;
        if (i > 0)
            setTabOrder(boxes_[i - 1], box);
    }

    // Cut with "..." where it is too long for the window; the tooltip has it whole.
    status_ = new ElidingStatusBar(this);
    status_->setObjectName(QStringLiteral("StatusBar"));
    status_->setSizeGripEnabled(false);
    status_->setFont(small);
    PlaceTwips(status_, 0, kDesignHeight, 7920, kStatusHeight);
    for (std::size_t i = 0; i < boxes_.size(); ++i)
        connect(boxes_[i], &QLineEdit::textEdited, this, [this, i] { showsHeld_[i] = false; });
    RefusalNotices::WordsItsOwnRefusals(this);

    connect(boxes_[0], &QLineEdit::returnPressed, this, &VoutForm::Text1_KeyPress);
    connect(boxes_[1], &QLineEdit::returnPressed, this, &VoutForm::Text2_KeyPress);
    connect(boxes_[2], &QLineEdit::returnPressed, this, &VoutForm::Text3_KeyPress);
    connect(boxes_[3], &QLineEdit::returnPressed, this, &VoutForm::Text4_KeyPress);
    for (int16_t channel = 0; channel < kChannelCount; ++channel)
        ShowLimits(channel);
    listener_ = ctx_.instrument.AddListener([this](const InstrumentChange& c) { ShowChange(c); });
}

VoutForm::~VoutForm() {
    ctx_.instrument.RemoveListener(listener_);
}

void VoutForm::ShowLimits(int16_t channel) {
    QLabel* line = limitLines_[static_cast<std::size_t>(channel)];
    const ChannelLimits& limits = ctx_.instrument.Limits(channel);
    line->setText(QStringLiteral("Limits: ") + QString::fromStdString(DescribeLimits(limits)));
    line->setVisible(limits.Active());
}

namespace {

std::optional<double> KnownOutput(const Instrument& instrument, int16_t channel) {
    const ConverterMirror& mirror = instrument.Mirror();
    const ConverterMirror::Channel& known = mirror.At(channel);
    // The output follows the DAC register on the channel's range: without both it is a guess,
    // except at the code of 0 V, which is 0 V on any range.
    if (!(known.dac || known.input))
        return std::nullopt;
    const ConverterModel model = mirror.Model();
    const auto& registers = model.channels[static_cast<std::size_t>(channel)];
    if (!known.coarse && registers.dac != model.ZeroCode())
        return std::nullopt;
    return model.Output(channel);
}

}  // namespace

void VoutForm::ShowOutput(int16_t channel, bool force) {
    const auto index = static_cast<std::size_t>(channel);
    QLineEdit* box = boxes_[index];
    // A box typed in since it was last set keeps what is typed.
    if (!force && box->isModified())
        return;
    // A pin that holds the outputs at 0 V decides them whatever the registers hold.
    const QString held = HoldingPins(ctx_.instrument.State());
    showsHeld_[index] = !held.isEmpty();
    if (!held.isEmpty()) {
        box->setText(QStringLiteral("0 (%1)").arg(held));
    } else {
        const auto volts = KnownOutput(ctx_.instrument, channel);
        box->setText(volts ? RoundedDecimalText(*volts, 5) : QString());
    }
    box->setModified(false);
}

void VoutForm::LearnRanges() {
    learning_ = false;
    if (!isVisible() || ctx_.instrument.FunctionFlagValue(FunctionFlag::SdoDisable))
        return;
    const Instrument::Origin own(ctx_.instrument, this);
    bool learnt = false;
    for (int16_t channel = 0; channel < kChannelCount; ++channel) {
        const ConverterMirror::Channel& known = ctx_.instrument.Mirror().At(channel);
        if (!(known.input || known.dac) || known.coarse)
            continue;
        try {
            ctx_.instrument.ReadRegister(channel, kRegCoarseGain);
            learnt = true;
        } catch (const InstrumentError&) {
            // The status bar says the board is not responding; the box stays empty.
            break;
        }
    }
    if (learnt)
        for (int16_t channel = 0; channel < kChannelCount; ++channel)
            ShowOutput(channel, false);
}

void VoutForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous())
        for (int16_t channel = 0; channel < kChannelCount; ++channel)
            ShowOutput(channel, true);
    QWidget::showEvent(event);
}

void VoutForm::ShowChange(const InstrumentChange& c) {
    using Kind = InstrumentChange::Kind;
    if (c.kind == Kind::Protection && c.address >= 0 && c.address < kChannelCount) {
        ShowLimits(c.address);
        return;
    }
    // This window's own Enter shows what it wrote as typed; everything else that can move an
    // output, or teach the program what one is, shows from what the program knows.
    if ((c.kind != Kind::Register && c.kind != Kind::Pins) || c.origin == this)
        return;
    // A hidden window shows everything anew when it opens; a run's steps cost it nothing.
    if (!isVisible())
        return;
    bool unknownRange = false;
    for (int16_t channel = 0; channel < kChannelCount; ++channel) {
        ShowOutput(channel, false);
        const ConverterMirror::Channel& known = ctx_.instrument.Mirror().At(channel);
        unknownRange = unknownRange || ((known.input || known.dac) && !known.coarse);
    }
    // A write to ALL DACs made the data of channels known whose range is not: it is read once,
    // after the change that taught the data has ended.
    if (unknownRange && !learning_ && c.kind == Kind::Register && !c.readBack) {
        learning_ = true;
        QTimer::singleShot(0, this, &VoutForm::LearnRanges);
    }
}

void VoutForm::Text1_KeyPress() {
    EnterVoltage(0);
}
void VoutForm::Text2_KeyPress() {
    EnterVoltage(1);
}
void VoutForm::Text3_KeyPress() {
    EnterVoltage(2);
}
void VoutForm::Text4_KeyPress() {
    EnterVoltage(3);
}

void VoutForm::EnterVoltage(int16_t address) {
    const auto index = static_cast<std::size_t>(address);
    QLineEdit* box = boxes_[index];
    const QString name = labels_[index]->text();
    if (!HoldsVoltageToSend(address))
        return;
    const Instrument::Origin own(ctx_.instrument, this);
    const double typed = ParseNumber(box->text().toStdString());
    const std::optional<EnteredVoltage> entered = LimitToRange(address, typed);
    if (!entered)
        return;
    try {
        // This window names its channel in the call; the main window's composer is not touched.
        ctx_.instrument.WriteRegister(address, kRegData, entered->code);
    } catch (const RequestError&) {
        // The status bar says the board is not responding.
        return;
    } catch (const LimitError& e) {
        const QString text =
            RefusedEntryText(ctx_.instrument, address, name, typed, entered->volts, e.what());
        status_->showMessage(text, 15000);
        ctx_.messages.ShowMessage(this, MessageIcon::Warning, text);
        ShowOutput(address, true);
        return;
    } catch (const InstrumentError& e) {
        // A running activity holds the channel: the box shows what is held.
        status_->showMessage(tr("%1: %2; nothing was sent").arg(name, QString::fromUtf8(e.what())),
                             15000);
        ShowOutput(address, true);
        return;
    }
    const QString held = HoldingPins(ctx_.instrument.State());
    if (!held.isEmpty()) {
        ShowOutput(address, true);
        status_->showMessage(tr("%1: the data register holds %2 V; %3 holds the output at 0 V")
                                 .arg(name, MessageVolts(entered->volts), held),
                             15000);
    } else if (entered->volts != ToSingle(typed)) {
        status_->showMessage(BeyondRangeText(typed, RangeLimit, entered->volts), 15000);
    } else {
        status_->clearMessage();
    }
}

bool VoutForm::HoldsVoltageToSend(int16_t address) {
    const auto index = static_cast<std::size_t>(address);
    QLineEdit* box = boxes_[index];
    // What the program put there is not a voltage typed: "0 (CLR)" is no request for 0 V, and
    // neither is an empty box.
    if (showsHeld_[index] && !box->isModified()) {
        status_->showMessage(tr("%1 holds %2's output at 0 V: nothing was sent. Type a voltage "
                                "to set its register.")
                                 .arg(HoldingPins(ctx_.instrument.State()),
                                      QString::fromStdString(ChannelName(address))),
                             15000);
        return false;
    }
    if (box->text().trimmed().isEmpty()) {
        status_->showMessage(EmptyEntryText(labels_[index]->text()), 15000);
        return false;
    }
    return TakeDecimalEntry(box);
}

std::optional<VoutForm::EnteredVoltage> VoutForm::LimitToRange(int16_t address, double typed) {
    QLineEdit* box = boxes_[static_cast<std::size_t>(address)];
    const int16_t binaryCoding = ctx_.instrument.State().BinaryCoding;
    try {
        const int32_t read = ctx_.instrument.ReadRegister(address, kRegCoarseGain);
        if (read > 32767) {
            // All ones: the range cannot be read. What was typed stays for another Enter.
            status_->showMessage(
                RangeUnreadableText(QString::fromStdString(ChannelName(address)),
                                    ctx_.instrument.FunctionFlagValue(FunctionFlag::SdoDisable)),
                15000);
            return std::nullopt;
        }
        if (const auto range = RangeVoltsForCode(Check16(read)))
            RangeLimit = *range;
        float volts = ToSingle(typed);
        if (volts > RangeLimit)
            volts = RangeLimit;
        if (volts < -RangeLimit)
            volts = -RangeLimit;
        box->setText(RoundedDecimalText(volts, 5));
        // Without a known range yet the span is zero and no code exists.
        if (RangeLimit <= 0.0f)
            throw NumericError("no output range");
        // Coded as the board is set to code, so that two's complement gives the typed voltage.
        return EnteredVoltage{volts,
                              VoltsToCode(volts, kVoutResolution, binaryCoding, RangeLimit).code};
    } catch (const NumericError&) {
        box->clear();
        box->setModified(false);
        box->setFocus();
    } catch (const InstrumentError&) {
        // The status bar says the board is not responding; nothing is written on a guess.
    }
    return std::nullopt;
}

}  // namespace tq
