#include "ui/waveform/WaveformForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "core/Encoding.h"
#include "core/Tables.h"
#include "instrument/Setup.h"
#include "ui/plots/PlotData.h"
#include "ui/plots/PlotHost.h"
#include "ui/waveform/CsvList.h"
#include "ui/widgets/CloseQuestion.h"
#include "ui/widgets/DecimalEntry.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/EntryMessages.h"
#include "ui/widgets/ProgramSettings.h"
#include "ui/widgets/ScrollingContent.h"

namespace tq {
namespace {

// A CSV file of set points is read whole; a larger one is not a list of set points.
constexpr qint64 kMaxCsvBytes = 4 * 1024 * 1024;
// Where the program keeps the definition between runs (JSON, as a setup's "waveform").
const QString kKeptDefinition = QStringLiteral("waveform/definition");

QString ChannelText(int channel) {
    return QStringLiteral("DAC %1").arg(QChar(QLatin1Char(static_cast<char>('A' + channel))));
}

// A box whose text holds no number: it is emptied and focused on Start.
class EntryRefused : public ValueRangeError {
public:
    EntryRefused(QLineEdit* box, const std::string& why) : ValueRangeError(why), box(box) {}
    QLineEdit* box;
};

// `what` is what the box takes ("a number of volts"), for the refusal.
double ReadNumber(QLineEdit* box, const QString& name, const QString& what) {
    const std::optional<double> value = EntryNumber(box->text().toStdString());
    if (!value)
        throw EntryRefused(box, NotANumberText(name, box->text(), what).toStdString());
    return *value;
}

QString Rate(double stepsPerSecond) {
    return QString::number(stepsPerSecond, 'f', stepsPerSecond < 10 ? 2 : 1);
}

// The periods a second beside a rate of steps, when both are known.
QString Frequency(double hertz) {
    if (!(hertz > 0))
        return QString();
    return QStringLiteral(" (%1 Hz)").arg(QString::fromStdString(FormatNumber(hertz, 3)));
}

}  // namespace

WaveformForm::WaveformForm(WindowContext& context)
    : QWidget(nullptr), ctx_(context), run_(*context.waveform) {
    setObjectName(QStringLiteral("WaveformForm"));
    setWindowTitle(tr("Waveform Generator"));

    // The controls scroll on a screen too short for them.
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("Content"));
    auto* layout = new QVBoxLayout(content);
    layout->addWidget(BuildChannels());
    layout->addLayout(BuildTiming());
    layout->addLayout(BuildRunButtons());
    layout->addLayout(BuildFigures());

    preview_ = new PlotHost(ctx_, this);
    preview_->setObjectName(QStringLiteral("PlotPreview"));
    preview_->setMinimumSize(420, 220);
    layout->addWidget(preview_, 1);

    rows_[0].check->setChecked(true);
    // The run may be started and stopped by a remote client too; the window follows it. Ten
    // refreshes a second are plenty for eyes and cost nothing between steps.
    poll_ = new QTimer(this);
    poll_->setInterval(100);
    connect(poll_, &QTimer::timeout, this, &WaveformForm::ShowStatus);
    poll_->start();
    shownState_ = run_.Status().state;  // a failure before this window opened was told already
    ShowFirstDefinition();
    run_.KeepDefinition(Definition());
    FollowDefinitionChanges();
    run_.SetDefinitionListener(
        [this](const WaveformDefinition& definition) { ShowDefinition(definition); });
    UpdatePreview();
    ShowStatus();
    SetScrollingContent(this, content);
    AddTips();
}

// Per channel: whether it runs, its shape, units, amplitude, offset, points, list and CSV file.
QGroupBox* WaveformForm::BuildChannels() {
    auto* channels = new QGroupBox(tr("Channels"), this);
    channels->setObjectName(QStringLiteral("FrameChannels"));
    auto* grid = new QGridLayout(channels);
    const QStringList headers = {QString(),
                                 tr("Shape"),
                                 tr("Units"),
                                 tr("Amplitude"),
                                 tr("Offset"),
                                 tr("Points"),
                                 tr("List (comma-separated)")};
    for (int column = 0; column < headers.size(); ++column)
        grid->addWidget(new QLabel(headers[column], channels), 0, column);
    for (int channel = 0; channel < kChannelCount; ++channel) {
        ChannelRow& row = rows_[static_cast<std::size_t>(channel)];
        const QString n = QString::number(channel);
        row.check = new QCheckBox(ChannelText(channel), channels);
        row.check->setObjectName(QStringLiteral("CheckChannel") + n);
        row.shape = new QComboBox(channels);
        row.shape->setObjectName(QStringLiteral("ComboShape") + n);
        for (const WaveShapeEntry& entry : kWaveShapes)
            row.shape->addItem(QString::fromLatin1(entry.name));
        row.shape->setCurrentIndex(1);
        row.units = new QComboBox(channels);
        row.units->setObjectName(QStringLiteral("ComboUnits") + n);
        row.units->addItems({tr("Volts"), tr("Codes")});
        row.amplitude = new QLineEdit(QStringLiteral("5"), channels);
        row.amplitude->setObjectName(QStringLiteral("TextAmplitude") + n);
        row.offset = new QLineEdit(QStringLiteral("0"), channels);
        row.offset->setObjectName(QStringLiteral("TextOffset") + n);
        row.points = new QLineEdit(QStringLiteral("16"), channels);
        row.points->setObjectName(QStringLiteral("TextPoints") + n);
        row.list = new QLineEdit(channels);
        row.list->setObjectName(QStringLiteral("TextList") + n);
        row.list->setMinimumWidth(160);
        row.csv = new QPushButton(tr("CSV..."), channels);
        row.csv->setObjectName(QStringLiteral("CmdCsv") + n);
        const QList<QWidget*> cells = {row.check,  row.shape,  row.units, row.amplitude,
                                       row.offset, row.points, row.list,  row.csv};
        for (int column = 0; column < cells.size(); ++column)
            grid->addWidget(cells[column], channel + 1, column);
        connect(row.check, &QCheckBox::toggled, this, &WaveformForm::UpdatePreview);
        connect(row.shape, &QComboBox::currentIndexChanged, this, &WaveformForm::UpdatePreview);
        connect(row.units, &QComboBox::currentIndexChanged, this, &WaveformForm::UpdatePreview);
        for (QLineEdit* box : {row.amplitude, row.offset, row.points, row.list})
            connect(box, &QLineEdit::textChanged, this, &WaveformForm::UpdatePreview);
        connect(row.csv, &QPushButton::clicked, this, [this, channel] { CmdCsv_Click(channel); });
    }
    return channels;
}

// The dwell per step (or as fast as the link allows) and the count of periods (or continuous).
QHBoxLayout* WaveformForm::BuildTiming() {
    auto* timing = new QHBoxLayout;
    timing->addWidget(new QLabel(tr("Dwell per step (ms)"), this));
    textDwell_ = new QLineEdit(QStringLiteral("10"), this);
    textDwell_->setObjectName(QStringLiteral("TextDwell"));
    timing->addWidget(textDwell_);
    checkFast_ = new QCheckBox(tr("As fast as the link allows"), this);
    checkFast_->setObjectName(QStringLiteral("CheckFast"));
    timing->addWidget(checkFast_);
    timing->addWidget(new QLabel(tr("Periods"), this));
    textPeriods_ = new QLineEdit(QStringLiteral("1"), this);
    textPeriods_->setObjectName(QStringLiteral("TextPeriods"));
    timing->addWidget(textPeriods_);
    checkContinuous_ = new QCheckBox(tr("Continuous"), this);
    checkContinuous_->setObjectName(QStringLiteral("CheckContinuous"));
    timing->addWidget(checkContinuous_);
    connect(checkFast_, &QCheckBox::toggled, textDwell_, &QWidget::setDisabled);
    // The preview's time axis follows the dwell.
    connect(checkFast_, &QCheckBox::toggled, this, &WaveformForm::UpdatePreview);
    connect(textDwell_, &QLineEdit::textChanged, this, &WaveformForm::UpdatePreview);
    connect(checkContinuous_, &QCheckBox::toggled, textPeriods_, &QWidget::setDisabled);
    return timing;
}

// Start, Stop and the run's progress.
QHBoxLayout* WaveformForm::BuildRunButtons() {
    auto* controls = new QHBoxLayout;
    cmdStart_ = new QPushButton(tr("Start"), this);
    cmdStart_->setObjectName(QStringLiteral("CmdStart"));
    cmdStop_ = new QPushButton(tr("Stop"), this);
    cmdStop_->setObjectName(QStringLiteral("CmdStop"));
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("ProgressRun"));
    controls->addWidget(cmdStart_);
    controls->addWidget(cmdStop_);
    controls->addWidget(progress_, 1);
    connect(cmdStart_, &QPushButton::clicked, this, &WaveformForm::CmdStart_Click);
    connect(cmdStop_, &QPushButton::clicked, this, &WaveformForm::CmdStop_Click);
    return controls;
}

// The run's state, the rates asked for and achieved, and the late steps.
QHBoxLayout* WaveformForm::BuildFigures() {
    auto* figures = new QHBoxLayout;
    // One line: a long failure ends in "..." (the whole of it in the tooltip) rather than
    // pushing the preview down.
    labelState_ = new ElidedLabel(this);
    labelState_->setObjectName(QStringLiteral("LabelState"));
    labelAsked_ = new QLabel(this);
    labelAsked_->setObjectName(QStringLiteral("LabelAskedRate"));
    labelAchieved_ = new QLabel(this);
    labelAchieved_->setObjectName(QStringLiteral("LabelAchievedRate"));
    labelLate_ = new QLabel(this);
    labelLate_->setObjectName(QStringLiteral("LabelLate"));
    for (QLabel* label :
         {static_cast<QLabel*>(labelState_), labelAsked_, labelAchieved_, labelLate_})
        figures->addWidget(label, label == labelState_ ? 2 : 1);
    return figures;
}

void WaveformForm::ShowFirstDefinition() {
    if (run_.Definition()) {
        ShowDefinition(*run_.Definition());
    } else {
        const QString kept = ProgramSettings().value(kKeptDefinition).toString();
        if (!kept.isEmpty()) {
            try {
                ShowDefinition(WaveformDefinitionFromJson(kept.toStdString()));
            } catch (const InstrumentError&) {
                // A kept definition this program cannot read: the window's defaults stand.
            }
        }
    }
}

void WaveformForm::FollowDefinitionChanges() {
    keepTimer_ = new QTimer(this);
    keepTimer_->setSingleShot(true);
    keepTimer_->setInterval(1000);
    connect(keepTimer_, &QTimer::timeout, this, &WaveformForm::KeepDefinition);
    for (const ChannelRow& row : rows_) {
        connect(row.check, &QCheckBox::toggled, this, &WaveformForm::DefinitionChanged);
        connect(row.shape, &QComboBox::currentIndexChanged, this, &WaveformForm::DefinitionChanged);
        connect(row.units, &QComboBox::currentIndexChanged, this, &WaveformForm::DefinitionChanged);
        for (QLineEdit* box : {row.amplitude, row.offset, row.points, row.list})
            connect(box, &QLineEdit::textChanged, this, &WaveformForm::DefinitionChanged);
    }
    for (QCheckBox* box : {checkFast_, checkContinuous_})
        connect(box, &QCheckBox::toggled, this, &WaveformForm::DefinitionChanged);
    for (QLineEdit* box : {textDwell_, textPeriods_})
        connect(box, &QLineEdit::textChanged, this, &WaveformForm::DefinitionChanged);
}

WaveformForm::~WaveformForm() {
    run_.SetDefinitionListener(nullptr);
    if (keepTimer_->isActive())
        KeepDefinition();
}

namespace {

// The number a box holds, or nothing when it holds none.
std::optional<double> BoxNumber(const QLineEdit* box) {
    return EntryNumber(box->text().toStdString());
}

QString BoxText(double value) {
    return QString::number(value, 'g', 9);
}

}  // namespace

WaveformDefinition WaveformForm::Definition() const {
    WaveformDefinition d;
    for (std::size_t ch = 0; ch < rows_.size(); ++ch) {
        const ChannelRow& row = rows_[ch];
        WaveformChannelDefinition& c = d.channels[ch];
        c.on = row.check->isChecked();
        c.shape = kWaveShapes[std::max(0, row.shape->currentIndex())].shape;
        c.codes = row.units->currentIndex() == 1;
        c.amplitude = BoxNumber(row.amplitude);
        c.offset = BoxNumber(row.offset);
        if (const auto points = BoxNumber(row.points);
            points && *points >= 1 && *points <= kMaxWavePoints && *points == std::floor(*points))
            c.points = static_cast<int32_t>(*points);
        QString list = row.list->text();
        list.replace(QLatin1Char(','), QLatin1Char('\n'))
            .replace(QLatin1Char(';'), QLatin1Char('\n'));
        if (!list.trimmed().isEmpty()) {
            try {
                c.list = ParseVoltsList(list.toStdString());
            } catch (const InstrumentError&) {
                // A list being typed is kept when it reads.
            }
        }
    }
    d.dwellMilliseconds = BoxNumber(textDwell_);
    if (d.dwellMilliseconds && *d.dwellMilliseconds < 0)
        d.dwellMilliseconds.reset();
    d.asFastAsTheLinkAllows = checkFast_->isChecked();
    if (const auto periods = BoxNumber(textPeriods_);
        periods && *periods >= 1 && *periods <= 1e9 && *periods == std::floor(*periods))
        d.periods = static_cast<int64_t>(*periods);
    d.continuous = checkContinuous_->isChecked();
    return d;
}

void WaveformForm::ShowDefinition(const WaveformDefinition& d) {
    for (std::size_t ch = 0; ch < rows_.size(); ++ch) {
        const ChannelRow& row = rows_[ch];
        const WaveformChannelDefinition& c = d.channels[ch];
        row.check->setChecked(c.on);
        for (std::size_t i = 0; i < std::size(kWaveShapes); ++i)
            if (kWaveShapes[i].shape == c.shape)
                row.shape->setCurrentIndex(static_cast<int>(i));
        row.units->setCurrentIndex(c.codes ? 1 : 0);
        if (c.amplitude)
            row.amplitude->setText(BoxText(*c.amplitude));
        if (c.offset)
            row.offset->setText(BoxText(*c.offset));
        if (c.points)
            row.points->setText(QString::number(*c.points));
        if (c.list) {
            QStringList texts;
            for (const double value : *c.list)
                texts << BoxText(value);
            row.list->setText(texts.join(QStringLiteral(", ")));
        }
    }
    if (d.dwellMilliseconds)
        textDwell_->setText(BoxText(*d.dwellMilliseconds));
    checkFast_->setChecked(d.asFastAsTheLinkAllows);
    if (d.periods)
        textPeriods_->setText(QString::number(*d.periods));
    checkContinuous_->setChecked(d.continuous);
}

void WaveformForm::DefinitionChanged() {
    run_.KeepDefinition(Definition());
    keepTimer_->start();
}

void WaveformForm::KeepDefinition() {
    keepTimer_->stop();
    const WaveformDefinition definition = Definition();
    run_.KeepDefinition(definition);
    ProgramSettings().setValue(kKeptDefinition,
                               QString::fromStdString(WaveformDefinitionToJson(definition)));
}

void WaveformForm::AddTips() {
    const auto tip = [this](const QString& name, const QString& text) {
        if (QWidget* control = findChild<QWidget*>(name))
            SetControlTip(control, text);
    };
    for (int channel = 0; channel < kChannelCount; ++channel) {
        const QString n = QString::number(channel);
        tip(QStringLiteral("CheckChannel") + n,
            tr("Send a wave to %1 (the run owns the channel until it ends)")
                .arg(ChannelText(channel)));
        tip(QStringLiteral("ComboShape") + n,
            tr("The shape of one period; List sends the set points typed or read from a file"));
        tip(QStringLiteral("ComboUnits") + n,
            tr("Amplitude, offset and list in volts on the channel's range, or in data codes"));
        tip(QStringLiteral("TextAmplitude") + n, tr("Half the swing of the wave"));
        tip(QStringLiteral("TextOffset") + n, tr("The middle of the wave"));
        tip(QStringLiteral("TextPoints") + n,
            tr("Steps in one period, a whole number from 1 to %1").arg(kMaxWavePoints));
        tip(QStringLiteral("TextList") + n,
            tr("Set points separated by commas; a full stop is the decimal separator"));
        tip(QStringLiteral("CmdCsv") + n, tr("Read the set points from a CSV file"));
    }
    tip(QStringLiteral("TextDwell"), tr("How long each step is held, in milliseconds"));
    tip(QStringLiteral("CheckFast"),
        tr("Send the steps one after the other as fast as the board's link allows"));
    tip(QStringLiteral("TextPeriods"), tr("How many periods to send"));
    tip(QStringLiteral("CheckContinuous"), tr("Send periods until Stop"));
    tip(QStringLiteral("CmdStart"), tr("Start the run with the channels ticked"));
    tip(QStringLiteral("CmdStop"), tr("Stop the run; the outputs stay where its last step left "
                                      "them"));
    tip(QStringLiteral("ProgressRun"), tr("Steps sent of the run's steps"));
    tip(QStringLiteral("LabelState"), tr("What the run is doing, or how it ended"));
    tip(QStringLiteral("LabelAskedRate"), tr("Steps a second the dwell asks for"));
    tip(QStringLiteral("LabelAchievedRate"), tr("Steps a second actually sent"));
    tip(QStringLiteral("LabelLate"), tr("Steps that went out after their time"));
    tip(QStringLiteral("PlotPreview"), tr("One period of each ticked channel, as it will be sent"));
}

WavePlan WaveformForm::Plan() const {
    WavePlan plan;
    for (int channel = 0; channel < kChannelCount; ++channel) {
        const ChannelRow& row = rows_[static_cast<std::size_t>(channel)];
        if (!row.check->isChecked())
            continue;
        const QString name = ChannelText(channel);
        ChannelWave wave;
        wave.channel = static_cast<int16_t>(channel);
        wave.shape = kWaveShapes[row.shape->currentIndex()].shape;
        wave.codes = row.units->currentIndex() == 1;
        if (wave.shape == WaveShape::List) {
            QString text = row.list->text();
            text.replace(QLatin1Char(','), QLatin1Char('\n'))
                .replace(QLatin1Char(';'), QLatin1Char('\n'));
            try {
                wave.list = ParseVoltsList(text.toStdString());
            } catch (const ValueRangeError& e) {
                throw ValueRangeError(name.toStdString() + "'s list: " + e.what());
            }
        } else {
            const QString unit = wave.codes ? tr("a number of codes") : tr("a number of volts");
            wave.amplitude = ReadNumber(row.amplitude, name + tr(" amplitude"), unit);
            wave.offset = ReadNumber(row.offset, name + tr(" offset"), unit);
            const double points =
                ReadNumber(row.points, name + tr(" points"), tr("a number of points"));
            if (points < 1 || points > kMaxWavePoints || points != std::floor(points))
                throw ValueRangeError(name.toStdString() +
                                      ": points per period are a whole number from 1 to " +
                                      std::to_string(kMaxWavePoints));
            wave.points = static_cast<int32_t>(points);
        }
        plan.channels.push_back(std::move(wave));
    }
    plan.dwellSeconds =
        checkFast_->isChecked()
            ? 0.0
            : ReadNumber(textDwell_, tr("Dwell per step"), tr("a number of milliseconds")) / 1000.0;
    if (!checkFast_->isChecked() && !(plan.dwellSeconds > 0.0))
        throw ValueRangeError(
            "the dwell per step must be above 0 ms (or tick \"As fast as the link allows\")");
    if (checkContinuous_->isChecked()) {
        plan.periods = 0;
    } else {
        const double periods = ReadNumber(textPeriods_, tr("Periods"), tr("a number of periods"));
        if (periods < 1 || periods > 1e9 || periods != std::floor(periods))
            throw ValueRangeError(
                "periods are a whole number from 1 to 1000000000 (or tick Continuous)");
        plan.periods = static_cast<int64_t>(periods);
    }
    return plan;
}

void WaveformForm::UpdatePreview() {
    for (const ChannelRow& row : rows_) {
        const bool list = row.shape->currentIndex() == 0;
        row.list->setEnabled(list);
        row.amplitude->setEnabled(!list);
        row.offset->setEnabled(!list);
        row.points->setEnabled(!list);
    }
    std::vector<PreviewTrace> traces;
    std::string note;
    double dwell = 0;
    try {
        const WavePlan plan = Plan();
        dwell = plan.dwellSeconds;
        // The steps of one period of the run: the longest list, the shorter ones repeating.
        int32_t count = 0;
        for (const ChannelWave& wave : plan.channels)
            count = std::max(count, WavePointCount(wave));
        for (const ChannelWave& wave : plan.channels) {
            PreviewTrace trace{ChannelText(wave.channel).toStdString(), wave.codes, {}};
            trace.values.reserve(static_cast<std::size_t>(count));
            for (int32_t i = 0; i < count; ++i)
                trace.values.push_back(WavePoint(wave, i));
            Coded(wave.channel, trace);
            traces.push_back(std::move(trace));
        }
        if (traces.empty())
            note = tr("Tick a channel to see what it will be sent").toStdString();
    } catch (const InstrumentError& e) {
        traces.clear();
        note = e.what();
    }
    preview_->SetModel(WavePreviewPlot(traces, dwell, note));
}

void WaveformForm::Coded(int16_t channel, PreviewTrace& trace) {
    // Each step as the run codes it and the volts that code gives on the channel's range, so that
    // the preview (and its export) shows what goes out, not the ideal wave.
    const std::optional<int32_t> range = ctx_.instrument.KnownRangeCode(channel);
    const std::optional<float> fullScale =
        range ? RangeVoltsForCode(*range == 3 ? 0 : *range) : std::nullopt;
    const int16_t resolution = ctx_.instrument.Resolution();
    const int16_t coding = ctx_.instrument.State().BinaryCoding;
    const double top = ConverterCoding(resolution).TopCode();
    if (!fullScale) {
        // The run reads the range when it starts; the preview learns it once, after this change.
        if (!rangeAsked_[static_cast<std::size_t>(channel)]) {
            rangeAsked_[static_cast<std::size_t>(channel)] = true;
            QTimer::singleShot(0, this, [this, channel] {
                try {
                    ctx_.instrument.ChannelRangeVolts(channel);
                } catch (const InstrumentError&) {
                    return;  // the status bar says the board is not responding
                }
                UpdatePreview();
            });
        }
        if (trace.codes)
            for (double& value : trace.values)
                value = std::nearbyint(value);
        return;
    }
    std::vector<int32_t> codes;
    codes.reserve(trace.values.size());
    for (const double value : trace.values) {
        if (trace.codes) {
            const double code = std::nearbyint(value);
            if (!(code >= 0 && code <= top))
                return;  // the run refuses it; the preview shows what was asked
            codes.push_back(static_cast<int32_t>(code));
        } else {
            if (!(std::fabs(value) <= static_cast<double>(*fullScale) * (1.0 + 1e-7)))
                return;
            codes.push_back(
                VoltsToCode(static_cast<float>(value), resolution, coding, *fullScale).code);
        }
    }
    for (std::size_t i = 0; i < codes.size(); ++i)
        trace.values[i] = CodeToVolts(codes[i], resolution, *fullScale, coding);
    trace.sent = std::move(codes);
    trace.codes = false;
}

void WaveformForm::CmdStart_Click() {
    try {
        run_.Start(Plan());
    } catch (const EntryRefused& e) {
        e.box->clear();
        e.box->setFocus();
        ctx_.messages.ShowMessage(
            this, MessageIcon::Warning,
            tr("The run did not start: %1").arg(QString::fromStdString(e.what())), windowTitle());
    } catch (const InstrumentError& e) {
        ctx_.messages.ShowMessage(
            this, MessageIcon::Warning,
            tr("The run did not start: %1").arg(QString::fromStdString(e.what())), windowTitle());
    }
    ShowStatus();
}

void WaveformForm::closeEvent(QCloseEvent* event) {
    CloseWithRunningActivity(event, ctx_.messages, this, run_.Status().state == RunState::Running,
                             tr("The waveform run"), [this] { CmdStop_Click(); });
}

void WaveformForm::CmdStop_Click() {
    run_.Stop({ctx_.instrument.CurrentOrigin(), "Stop in the Waveform Generator", true});
    ShowStatus();
}

void WaveformForm::CmdCsv_Click(int channel) {
    if (!ctx_.files)
        return;
    const QString path =
        ctx_.files->OpenFileName(this, tr("Set points of %1").arg(ChannelText(channel)),
                                 tr("CSV files (*.csv *.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QFile file(path);
    QString why;
    std::vector<double> values;
    if (!file.open(QIODevice::ReadOnly))
        why = file.errorString();
    else if (file.size() > kMaxCsvBytes)
        why = tr("the file is larger than 4 MiB");
    else
        try {
            values = ParseCsvList(file.readAll().toStdString());
        } catch (const ValueRangeError& e) {
            why = QString::fromStdString(e.what());
        }
    if (!why.isEmpty()) {
        ctx_.messages.ShowMessage(this, MessageIcon::Warning,
                                  tr("%1 cannot be read as a list: %2. Give one value a line, "
                                     "after at most one header line.")
                                      .arg(path.left(200), why),
                                  windowTitle());
        return;
    }
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(values.size()));
    for (const double value : values)
        texts << QString::number(value, 'g', 9);
    ChannelRow& row = rows_[static_cast<std::size_t>(channel)];
    row.shape->setCurrentIndex(0);
    row.check->setChecked(true);
    row.list->setText(texts.join(QStringLiteral(", ")));
}

void WaveformForm::ShowStatus() {
    const RunStatus status = run_.Status();
    const bool running = status.state == RunState::Running;
    cmdStart_->setEnabled(!running);
    cmdStop_->setEnabled(running);
    if (status.totalSteps > 0) {
        progress_->setRange(0, 1000);
        progress_->setValue(static_cast<int>(status.stepsDone * 1000 / status.totalSteps));
    } else {
        // Continuous: a busy bar while running.
        progress_->setRange(0, running ? 0 : 1000);
        progress_->setValue(0);
    }
    QString state;
    switch (status.state) {
        case RunState::Idle:
            state = tr("Ready");
            break;
        case RunState::Running:
            state = tr("Running: step %1").arg(status.stepsDone);
            break;
        case RunState::Finished:
            state = tr("Finished: %1 steps").arg(status.stepsDone);
            break;
        case RunState::Stopped:
            state = tr("Stopped after %1 steps").arg(status.stepsDone);
            // By someone else: who ("another client's *RST").
            if (run_.OutcomeReported())
                state += QStringLiteral(": ") + QString::fromStdString(run_.Outcome().why);
            break;
        case RunState::Failed:
            state = tr("Failed at %1").arg(QString::fromStdString(status.error));
            break;
    }
    labelState_->SetText(state);
    const int64_t period = run_.Plan().stepsPerPeriod;
    labelAsked_->setText(
        status.state == RunState::Idle ? tr("Asked: -")
        : status.askedRate > 0
            ? tr("Asked: %1 steps/s%2")
                  .arg(Rate(status.askedRate), Frequency(PeriodFrequency(status.askedRate, period)))
            : tr("Asked: as fast as the link allows"));
    labelAchieved_->setText(tr("Achieved: %1 steps/s%2")
                                .arg(Rate(status.achievedRate),
                                     Frequency(PeriodFrequency(status.achievedRate, period))));
    labelLate_->setText(tr("Late steps: %1").arg(status.lateSteps));
    if (status.state == RunState::Failed && shownState_ != RunState::Failed)
        ctx_.messages.ShowMessage(
            this, MessageIcon::Warning,
            tr("The waveform run stopped: %1").arg(QString::fromStdString(status.error)),
            windowTitle());
    shownState_ = status.state;
}

}  // namespace tq
