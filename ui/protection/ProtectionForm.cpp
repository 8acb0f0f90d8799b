#include "ui/protection/ProtectionForm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/widgets/DecimalEntry.h"
#include "ui/widgets/EntryMessages.h"
#include "ui/widgets/ScrollingContent.h"

namespace tq {
namespace {

QString ChannelText(int16_t channel) {
    return QString::fromStdString(ChannelName(channel));
}

// A limit as typed back: the shortest text that reads as the same number.
QString NumberText(std::optional<double> value) {
    return value ? QString::number(*value, 'g', QLocale::FloatingPointShortest) : QString();
}

QLineEdit* Entry(QWidget* parent, const QString& name) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setMaximumWidth(110);
    // However short the window, a limit such as -10.5263 stays readable.
    box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("-10.52631")) + 12);
    return box;
}

QCheckBox* Check(QWidget* parent, const char* name, const QString& text) {
    auto* check = new QCheckBox(text, parent);
    check->setObjectName(QLatin1String(name));
    return check;
}

}  // namespace

ProtectionForm::ProtectionForm(WindowContext& context, QWidget* parent)
    : QWidget(parent), ctx_(context) {
    setObjectName(QStringLiteral("ProtectionForm"));
    setWindowTitle(tr("Output Protection"));
    // The controls scroll on a screen too short for them.
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("Content"));
    auto* layout = new QVBoxLayout(content);
    layout->addWidget(BuildLimits());
    auto* hint = new QLabel(
        tr("Leave a box blank for no limit or no ramp. Between its limits each channel must "
           "allow 0 V, the safe state. A change larger than the ramp step goes out in steps, "
           "with the wait between them. Limits judge each change before it is sent; an output "
           "already outside new limits stays there until it is changed or Safe State (Ctrl+0) "
           "brings every output to 0 V."),
        this);
    hint->setObjectName(QStringLiteral("LabelHint"));
    hint->setWordWrap(true);
    layout->addWidget(hint);
    layout->addWidget(BuildSafeStateOptions());
    layout->addLayout(BuildButtons());

    for (int16_t channel = 0; channel < kChannelCount; ++channel)
        ShowLimits(channel, true);
    ShowOptions(true);
    SetScrollingContent(this, content);
    listener_ = ctx_.instrument.AddListener([this](const InstrumentChange& c) { ShowChange(c); });
}

// Per channel: the low and high limits, the ramp's step and the wait between steps.
QGroupBox* ProtectionForm::BuildLimits() {
    auto* frameLimits = new QGroupBox(tr("Limits and ramps"), this);
    frameLimits->setObjectName(QStringLiteral("FrameLimits"));
    auto* grid = new QGridLayout(frameLimits);
    const QStringList headers = {QString(), tr("Low limit (V)"), tr("High limit (V)"),
                                 tr("Ramp step (V)"), tr("Wait between steps (s)")};
    for (int column = 0; column < headers.size(); ++column)
        grid->addWidget(new QLabel(headers[column], frameLimits), 0, column);
    for (int16_t channel = 0; channel < kChannelCount; ++channel) {
        ChannelRow& row = rows_[static_cast<std::size_t>(channel)];
        const QString n = QString::number(channel);
        row.low = Entry(frameLimits, QStringLiteral("TextLow") + n);
        row.high = Entry(frameLimits, QStringLiteral("TextHigh") + n);
        row.step = Entry(frameLimits, QStringLiteral("TextStep") + n);
        row.wait = Entry(frameLimits, QStringLiteral("TextWait") + n);
        auto* name = new QLabel(ChannelText(channel), frameLimits);
        name->setObjectName(QStringLiteral("LabelChannel") + n);
        grid->addWidget(name, channel + 1, 0);
        row.low->setToolTip(tr("The lowest voltage %1 may be set to, in volts; blank: none")
                                .arg(ChannelText(channel)));
        row.high->setToolTip(tr("The highest voltage %1 may be set to, in volts; blank: none")
                                 .arg(ChannelText(channel)));
        row.step->setToolTip(tr("A larger change of %1 goes out in steps of this many volts; "
                                "blank: at once")
                                 .arg(ChannelText(channel)));
        row.wait->setToolTip(tr("Seconds between two ramp steps"));
        int column = 1;
        for (QLineEdit* box : {row.low, row.high, row.step, row.wait}) {
            grid->addWidget(box, channel + 1, column++);
            connect(box, &QLineEdit::returnPressed, this, &ProtectionForm::CmdApply_Click);
        }
    }
    return frameLimits;
}

// When the program goes to the safe state by itself.
QGroupBox* ProtectionForm::BuildSafeStateOptions() {
    auto* frameOptions =
        new QGroupBox(tr("Go to the safe state (every output at 0 V) by itself"), this);
    frameOptions->setObjectName(QStringLiteral("FrameSafeState"));
    auto* options = new QVBoxLayout(frameOptions);
    checkOnExit_ = Check(frameOptions, "CheckOnExit", tr("When the program exits"));
    checkOnLastClient_ =
        Check(frameOptions, "CheckOnLastClient", tr("When the last remote client disconnects"));
    checkOnBoardBack_ = Check(frameOptions, "CheckOnBoardBack",
                              tr("When the board stops responding and comes back"));
    checkOnExit_->setToolTip(tr("Every output to 0 V before the program ends"));
    checkOnLastClient_->setToolTip(
        tr("Every output to 0 V when the last client of the instrument protocol goes"));
    checkOnBoardBack_->setToolTip(
        tr("Every output to 0 V when the board answers again after it stopped answering"));
    for (QCheckBox* check : {checkOnExit_, checkOnLastClient_, checkOnBoardBack_}) {
        options->addWidget(check);
        connect(check, &QCheckBox::clicked, this, [this] { optionsEdited_ = true; });
    }
    return frameOptions;
}

// Whether the limits shown are in effect, Apply and Close.
QHBoxLayout* ProtectionForm::BuildButtons() {
    auto* buttons = new QHBoxLayout;
    labelStatus_ = new QLabel(this);
    labelStatus_->setObjectName(QStringLiteral("LabelStatus"));
    cmdApply_ = new QPushButton(tr("Apply"), this);
    cmdApply_->setObjectName(QStringLiteral("CmdApply"));
    cmdApply_->setDefault(true);
    auto* cmdClose = new QPushButton(tr("Close"), this);
    cmdClose->setObjectName(QStringLiteral("CmdClose"));
    labelStatus_->setToolTip(tr("Whether the limits shown are in effect"));
    cmdApply_->setToolTip(tr("Check every box, then put the limits and options in effect"));
    cmdClose->setToolTip(tr("Close the window; limits not applied are not kept"));
    buttons->addWidget(labelStatus_, 1);
    buttons->addWidget(cmdApply_);
    buttons->addWidget(cmdClose);
    connect(cmdApply_, &QPushButton::clicked, this, &ProtectionForm::CmdApply_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
    return buttons;
}

ProtectionForm::~ProtectionForm() {
    ctx_.instrument.RemoveListener(listener_);
}

void ProtectionForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        for (int16_t channel = 0; channel < kChannelCount; ++channel)
            ShowLimits(channel, true);
        ShowOptions(true);
        labelStatus_->clear();
    }
    QWidget::showEvent(event);
}

void ProtectionForm::ShowChange(const InstrumentChange& c) {
    if (c.kind != InstrumentChange::Kind::Protection || c.origin == this)
        return;
    if (c.address >= 0 && c.address < kChannelCount)
        ShowLimits(c.address, false);
    else
        ShowOptions(false);
}

void ProtectionForm::ShowLimits(int16_t channel, bool force) {
    const ChannelLimits& limits = ctx_.instrument.Limits(channel);
    const ChannelRow& row = rows_[static_cast<std::size_t>(channel)];
    const std::optional<double> wait = limits.rampWaitSeconds != 0.0
                                           ? std::optional<double>(limits.rampWaitSeconds)
                                           : std::nullopt;
    const std::pair<QLineEdit*, std::optional<double>> shown[] = {{row.low, limits.low},
                                                                  {row.high, limits.high},
                                                                  {row.step, limits.rampStep},
                                                                  {row.wait, wait}};
    for (const auto& [box, value] : shown) {
        // A box the user is typing in keeps what is typed.
        if (!force && (box->hasFocus() || box->isModified()))
            continue;
        box->setText(NumberText(value));
        box->setModified(false);
    }
}

void ProtectionForm::ShowOptions(bool force) {
    if (optionsEdited_ && !force)
        return;
    const ProtectionOptions& options = ctx_.instrument.ProtectionOptionsInEffect();
    checkOnExit_->setChecked(options.safeOnExit);
    checkOnLastClient_->setChecked(options.safeOnLastClient);
    checkOnBoardBack_->setChecked(options.safeOnBoardBack);
    optionsEdited_ = false;
}

std::optional<double> ProtectionForm::ReadBox(QLineEdit* box, const QString& what,
                                              const QString& unit) {
    const QString text = box->text();
    if (text.trimmed().isEmpty())
        return std::nullopt;
    // No number: the box is emptied for the number to be typed again.
    const std::optional<double> value = EntryNumber(text.toStdString());
    if (!value) {
        box->clear();
        box->setFocus();
        throw ValueRangeError(
            NotANumberText(what, text, tr("a number of %1").arg(unit)).toStdString());
    }
    return value;
}

std::array<ChannelLimits, kChannelCount> ProtectionForm::ReadLimits() {
    std::array<ChannelLimits, kChannelCount> all{};
    for (int16_t channel = 0; channel < kChannelCount; ++channel) {
        const ChannelRow& row = rows_[static_cast<std::size_t>(channel)];
        const QString name = ChannelText(channel);
        ChannelLimits& limits = all[static_cast<std::size_t>(channel)];
        limits.low = ReadBox(row.low, tr("%1 low limit").arg(name), tr("volts"));
        limits.high = ReadBox(row.high, tr("%1 high limit").arg(name), tr("volts"));
        limits.rampStep = ReadBox(row.step, tr("%1 ramp step").arg(name), tr("volts"));
        limits.rampWaitSeconds =
            ReadBox(row.wait, tr("%1 wait between steps").arg(name), tr("seconds")).value_or(0.0);
        try {
            CheckChannelLimits(channel, limits);
        } catch (const ValueRangeError&) {
            row.low->setFocus();
            throw;
        }
    }
    return all;
}

void ProtectionForm::CmdApply_Click() {
    const Instrument::Origin own(ctx_.instrument, this);
    try {
        // Every box is read and checked before anything changes: a refused value changes none.
        const auto all = ReadLimits();
        ProtectionOptions options;
        options.safeOnExit = checkOnExit_->isChecked();
        options.safeOnLastClient = checkOnLastClient_->isChecked();
        options.safeOnBoardBack = checkOnBoardBack_->isChecked();
        for (int16_t channel = 0; channel < kChannelCount; ++channel) {
            const ChannelLimits& limits = all[static_cast<std::size_t>(channel)];
            if (limits != ctx_.instrument.Limits(channel))
                ctx_.instrument.SetLimits(channel, limits);
        }
        if (options != ctx_.instrument.ProtectionOptionsInEffect())
            ctx_.instrument.SetProtectionOptions(options);
    } catch (const InstrumentError& e) {
        labelStatus_->setText(tr("Not applied"));
        ctx_.messages.ShowMessage(
            this, MessageIcon::Warning,
            tr("The limits were not changed: %1").arg(QString::fromStdString(e.what())),
            windowTitle());
        return;
    }
    for (int16_t channel = 0; channel < kChannelCount; ++channel)
        ShowLimits(channel, true);
    ShowOptions(true);
    labelStatus_->setText(ctx_.instrument.LimitsActive() ? tr("Applied: limits in effect")
                                                         : tr("Applied: no limits"));
}

}  // namespace tq
