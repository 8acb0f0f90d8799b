#include "ui/meter/MeterForm.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <optional>

#include "core/ConverterCoding.h"
#include "instrument/MeterRuns.h"
#include "ui/plots/PlotData.h"
#include "ui/plots/PlotHost.h"
#include "ui/widgets/CloseQuestion.h"
#include "ui/widgets/DecimalEntry.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/EntryMessages.h"
#include "ui/widgets/FileDialogs.h"
#include "ui/widgets/ScrollingContent.h"

namespace tq {
namespace {

QLineEdit* Entry(QWidget* parent, const char* name, const QString& text) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

// A box that takes a whole number within min..max, named for its refusal.
struct WholeBox {
    QLineEdit* box;
    QString name;
    QString what;  // "a whole number of milliseconds"
    int min, max;
    int* value;
};

// Reads the boxes in turn. The first that does not hold such a number is focused (and emptied
// when it holds no number at all), and its refusal returned; the empty text when all read.
QString TakeWhole(std::initializer_list<WholeBox> boxes) {
    for (const WholeBox& b : boxes) {
        const QString typed = b.box->text();
        const std::optional<double> v = EntryNumber(typed.toStdString());
        if (v && *v >= b.min && *v <= b.max && *v == std::floor(*v)) {
            *b.value = static_cast<int>(*v);
            continue;
        }
        if (!v)
            b.box->clear();
        b.box->setFocus();
        return NotANumberText(b.name, typed,
                              QCoreApplication::translate("MeterForm", "%1 from %2 to %3")
                                  .arg(b.what)
                                  .arg(b.min)
                                  .arg(b.max));
    }
    return {};
}

// The run's state in the window's words; the protocol answers in capitals (IDLE, RUNNING, ...).
QString StateText(const MeterRun* run) {
    const auto tr = [](const char* text) { return QCoreApplication::translate("MeterForm", text); };
    switch (run ? run->CurrentState() : MeterRun::State::Idle) {
        case MeterRun::State::Idle:
            break;
        case MeterRun::State::Running:
            return tr("Running");
        case MeterRun::State::AwaitingProbe:
            return tr("Waiting for the probe to be moved");
        case MeterRun::State::Finished:
            return tr("Finished");
        case MeterRun::State::Failed:
            return tr("Failed");
        case MeterRun::State::Stopped:
            return tr("Stopped");
    }
    return tr("Ready");
}

// A run's report as the window shows it: microvolts as \u00b5V (the protocol's answers keep uV).
QString WindowText(const std::string& report) {
    return QString::fromStdString(report).replace(QStringLiteral(" uV"),
                                                  QStringLiteral(" \u00b5V"));
}

// The window's own Stop: the end of the run, not its failure, for whoever started it.
StopReason WindowStop(const Instrument& instrument) {
    return {instrument.CurrentOrigin(), "Stop in the Bench Meter window", true};
}

}  // namespace

MeterForm::MeterForm(WindowContext& ctx, MeterRuns& runs, QWidget* parent)
    : QMainWindow(parent), ctx_(ctx), runs_(runs) {
    setObjectName(QStringLiteral("MeterForm"));
    setWindowTitle(tr("Bench Meter"));
    // The controls scroll on a screen too short for them.
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Content"));
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(BuildMeterBox(central));
    layout->addWidget(BuildRunBox(central));
    BuildResults(central, layout);
    setCentralWidget(ScrollingContent(central));
    listener_ = runs_.AddListener([this] { Refresh(); });
    FollowConnection();
    Refresh();
    AddTips();
}

// The meter's address, its commands and times, and Connect and Disconnect with what answered.
QGroupBox* MeterForm::BuildMeterBox(QWidget* central) {
    const MeterSettings& s = runs_.Settings();
    const MeterRunSettings& r = runs_.RunSettings();
    auto* meterBox = new QGroupBox(tr("Meter"), central);
    meterBox->setObjectName(QStringLiteral("FrameMeter"));
    auto* form = new QFormLayout(meterBox);
    textAddress_ = Entry(meterBox, "TextAddress", QString::fromStdString(s.address));
    textAddress_->setPlaceholderText(QStringLiteral("TCPIP::192.168.1.20::5025::SOCKET"));
    textCommand_ = Entry(meterBox, "TextCommand", QString::fromStdString(s.readCommand));
    QString setup;
    for (const auto& c : s.setupCommands)
        setup += (setup.isEmpty() ? "" : ";") + QString::fromStdString(c);
    textSetup_ = Entry(meterBox, "TextSetup", setup);
    textSelect_ = Entry(meterBox, "TextSelect", QString::fromStdString(s.selectCommand));
    textTimeout_ = Entry(meterBox, "TextTimeout", QString::number(s.timeoutMilliseconds));
    textSettle_ = Entry(meterBox, "TextSettle", QString::number(r.settleMilliseconds));
    textCount_ = Entry(meterBox, "TextCount", QString::number(r.readingsPerCode));
    form->addRow(tr("Address"), textAddress_);
    form->addRow(tr("Reading command"), textCommand_);
    form->addRow(tr("Set-up commands (;)"), textSetup_);
    form->addRow(tr("Channel select ({ch} = 1-4)"), textSelect_);
    form->addRow(tr("Timeout (ms)"), textTimeout_);
    form->addRow(tr("Settling time (ms)"), textSettle_);
    form->addRow(tr("Readings per code"), textCount_);
    auto* openRow = new QHBoxLayout;
    auto* cmdOpen = Button(meterBox, "CmdOpen", tr("Connect"));
    cmdClose_ = Button(meterBox, "CmdClose", tr("Disconnect"));
    // One line: a long connection error ends in "..." (the whole of it in the tooltip).
    labelIdn_ = new ElidedLabel(meterBox);
    labelIdn_->setObjectName(QStringLiteral("LabelIdn"));
    openRow->addWidget(cmdOpen);
    openRow->addWidget(cmdClose_);
    openRow->addWidget(labelIdn_, 1);
    form->addRow(openRow);
    connect(cmdOpen, &QPushButton::clicked, this, &MeterForm::CmdOpen_Click);
    connect(cmdClose_, &QPushButton::clicked, this, &MeterForm::CmdClose_Click);
    return meterBox;
}

// The channel, the codes a linearity test goes through, and the runs' buttons.
QGroupBox* MeterForm::BuildRunBox(QWidget* central) {
    auto* runBox = new QGroupBox(tr("Runs"), central);
    runBox->setObjectName(QStringLiteral("FrameRuns"));
    auto* grid = new QGridLayout(runBox);
    comboChannel_ = new QComboBox(runBox);
    comboChannel_->setObjectName(QStringLiteral("ComboChannel"));
    comboChannel_->addItems({"DAC A", "DAC B", "DAC C", "DAC D", "ALL DACs"});
    const int top = ConverterCoding(ctx_.instrument.Resolution()).TopCode();
    textCodes_ = Entry(runBox, "TextCodes", QStringLiteral("257"));
    textFirst_ = Entry(runBox, "TextFirst", QStringLiteral("0"));
    textLast_ = Entry(runBox, "TextLast", QString::number(top));
    cmdCalibrate_ = Button(runBox, "CmdCalibrate", tr("Calibrate"));
    cmdLinearity_ = Button(runBox, "CmdLinearity", tr("Linearity Test"));
    cmdContinue_ = Button(runBox, "CmdContinue", tr("Continue"));
    cmdStop_ = Button(runBox, "CmdStop", tr("Stop"));
    cmdSave_ = Button(runBox, "CmdSave", tr("Save CSV..."));
    grid->addWidget(new QLabel(tr("Channel"), runBox), 0, 0);
    grid->addWidget(comboChannel_, 0, 1);
    grid->addWidget(cmdCalibrate_, 0, 2);
    grid->addWidget(new QLabel(tr("Codes"), runBox), 1, 0);
    grid->addWidget(textCodes_, 1, 1);
    grid->addWidget(new QLabel(tr("from"), runBox), 1, 2);
    grid->addWidget(textFirst_, 1, 3);
    grid->addWidget(new QLabel(tr("to"), runBox), 1, 4);
    grid->addWidget(textLast_, 1, 5);
    grid->addWidget(cmdLinearity_, 2, 0);
    grid->addWidget(cmdContinue_, 2, 1);
    grid->addWidget(cmdStop_, 2, 2);
    grid->addWidget(cmdSave_, 2, 3);
    connect(cmdCalibrate_, &QPushButton::clicked, this, &MeterForm::CmdCalibrate_Click);
    connect(cmdLinearity_, &QPushButton::clicked, this, &MeterForm::CmdLinearity_Click);
    connect(cmdContinue_, &QPushButton::clicked, this, [this] { runs_.Continue(); });
    connect(cmdStop_, &QPushButton::clicked, this,
            [this] { runs_.Stop(WindowStop(ctx_.instrument)); });
    connect(cmdSave_, &QPushButton::clicked, this, &MeterForm::CmdSave_Click);
    return runBox;
}

// The run's progress and state, its report and its plot.
void MeterForm::BuildResults(QWidget* central, QVBoxLayout* layout) {
    progress_ = new QProgressBar(central);
    progress_->setObjectName(QStringLiteral("ProgressRun"));
    labelStatus_ = new QLabel(central);
    labelStatus_->setObjectName(QStringLiteral("LabelStatus"));
    labelStatus_->setWordWrap(true);
    textReport_ = new QPlainTextEdit(central);
    textReport_->setObjectName(QStringLiteral("TextReport"));
    textReport_->setReadOnly(true);
    plot_ = new PlotHost(ctx_, central);
    plot_->setObjectName(QStringLiteral("PlotLinearity"));
    plot_->setMinimumSize(360, 200);
    plot_->SetModel(LinearityPlot({}));
    textReport_->setMinimumHeight(80);
    layout->addWidget(progress_);
    layout->addWidget(labelStatus_);
    // The report and the plot share what the window grows by.
    layout->addWidget(textReport_, 1);
    layout->addWidget(plot_, 2);
}

// The connection ends in the background: its outcome shows as it comes.
void MeterForm::FollowConnection() {
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this] {
        const auto& m = runs_.Connection();
        const QString text = m.IsOpen() ? QString::fromStdString(m.Identity())
                                        : QString::fromStdString(m.LastError());
        if (labelIdn_->text() != text)
            labelIdn_->SetText(text);
    });
    poll->start(200);
}

void MeterForm::AddTips() {
    const std::pair<QWidget*, QString> tips[] = {
        {textAddress_, tr("The meter: TCPIP::host::port::SOCKET for a LAN meter, /dev/usbtmcN "
                          "for a USB one")},
        {textCommand_, tr("The command that returns one reading in volts")},
        {textSetup_, tr("Commands sent once the meter is connected, separated by ;")},
        {textSelect_, tr("The command that selects a channel's input; {ch} is 1 to 4")},
        {textTimeout_, tr("How long to wait for a reading, in milliseconds")},
        {textSettle_, tr("How long an output settles before it is measured, in milliseconds")},
        {textCount_, tr("Readings averaged for each code")},
        {findChild<QPushButton*>(QStringLiteral("CmdOpen")), tr("Connect to the meter")},
        {labelIdn_, tr("The meter's identity, or why it is not connected")},
        {comboChannel_, tr("The channel to calibrate or test")},
        {textCodes_, tr("How many codes the linearity test measures")},
        {textFirst_, tr("The first code of the linearity test")},
        {textLast_, tr("The last code of the linearity test")},
        {cmdCalibrate_, tr("Correct the channel's offset and fine gain from the meter's readings")},
        {cmdLinearity_, tr("Measure the codes and work out INL and DNL")},
        {cmdContinue_, tr("Go on once the probe is on the channel asked for")},
        {cmdStop_, tr("Stop the run")},
        {cmdSave_, tr("Save the last linearity test as CSV, with its summary beside it")},
        {progress_, tr("Steps done of the run's steps")},
        {labelStatus_, tr("What the run is doing")},
        {textReport_, tr("The run's report")},
        {plot_, tr("INL and DNL of the last linearity test")},
    };
    for (const auto& [control, tip] : tips)
        if (control)
            SetControlTip(control, tip);
}

void MeterForm::closeEvent(QCloseEvent* event) {
    // "The linearity test": the run's own name.
    const QString name = runs_.Current() ? QString::fromLatin1(runs_.Current()->Name()) : QString();
    CloseWithRunningActivity(event, ctx_.messages, this, runs_.Active(),
                             name.left(1).toUpper() + name.mid(1),
                             [this] { runs_.Stop(WindowStop(ctx_.instrument)); });
}

MeterForm::~MeterForm() {
    runs_.RemoveListener(listener_);
}

bool MeterForm::TakeSettings() {
    MeterSettings& s = runs_.Settings();
    MeterRunSettings& r = runs_.RunSettings();
    int timeout = 0, settle = 0, count = 0;
    const QString refusal = TakeWhole(
        {{textTimeout_, tr("Timeout"), tr("a whole number of milliseconds"), 1, 600000, &timeout},
         {textSettle_, tr("Settling time"), tr("a whole number of milliseconds"), 0, 600000,
          &settle},
         {textCount_, tr("Readings per code"), tr("a whole number"), 1, 100, &count}});
    if (!refusal.isEmpty()) {
        Warn(refusal);
        return false;
    }
    s.address = textAddress_->text().trimmed().toStdString();
    s.readCommand = textCommand_->text().trimmed().toStdString();
    s.selectCommand = textSelect_->text().trimmed().toStdString();
    s.setupCommands.clear();
    for (const QString& c : textSetup_->text().split(';', Qt::SkipEmptyParts))
        if (!c.trimmed().isEmpty())
            s.setupCommands.push_back(c.trimmed().toStdString());
    s.timeoutMilliseconds = timeout;
    r.settleMilliseconds = settle;
    r.readingsPerCode = count;
    return true;
}

void MeterForm::Warn(const QString& text) {
    ctx_.messages.ShowMessage(this, MessageIcon::Warning, text);
}

void MeterForm::CmdOpen_Click() {
    if (!TakeSettings())
        return;
    std::string error;
    if (!runs_.OpenMeter(error)) {
        Warn(QString::fromStdString(error));
        return;
    }
    labelIdn_->SetText(tr("connecting..."));
}

void MeterForm::CmdClose_Click() {
    std::string error;
    if (!runs_.CloseMeter(error)) {
        Warn(QString::fromStdString(error));
        return;
    }
    labelIdn_->SetText(QString::fromStdString(runs_.Connection().LastError()));
}

void MeterForm::CmdCalibrate_Click() {
    if (!TakeSettings())
        return;
    std::string error;
    if (!runs_.StartCalibration(static_cast<int16_t>(comboChannel_->currentIndex()), error))
        Warn(QString::fromStdString(error));
}

void MeterForm::CmdLinearity_Click() {
    if (!TakeSettings())
        return;
    const int top = ConverterCoding(ctx_.instrument.Resolution()).TopCode();
    int count = 0, first = 0, last = 0;
    const QString refusal =
        TakeWhole({{textCodes_, tr("Codes"), tr("a whole number of codes"), 2, top + 1, &count},
                   {textFirst_, tr("First code"), tr("a whole number"), 0, top, &first},
                   {textLast_, tr("Last code"), tr("a whole number"), 0, top, &last}});
    if (!refusal.isEmpty() || last <= first) {
        if (refusal.isEmpty())
            textLast_->setFocus();
        Warn(!refusal.isEmpty() ? refusal
                                : tr("The linearity test needs a last code above the first code."));
        return;
    }
    if (comboChannel_->currentIndex() > 3) {
        Warn(tr("The linearity test takes one channel: choose DAC A to D."));
        return;
    }
    std::string error;
    if (!runs_.StartLinearity(static_cast<int16_t>(comboChannel_->currentIndex()),
                              SpreadCodes(first, last, count), error))
        Warn(QString::fromStdString(error));
}

void MeterForm::CmdSave_Click() {
    const std::string csv = runs_.Csv();
    if (csv.empty())
        return;
    const QString path =
        ctx_.files ? WithDefaultSuffix(ctx_.files->SaveFileName(this, tr("Save the linearity test"),
                                                                tr("CSV files (*.csv)")),
                                       QStringLiteral("csv"))
                   : QString();
    if (path.isEmpty())
        return;
    // The summary beside the CSV, so the figures travel with the data.
    QString summaryPath = path;
    if (summaryPath.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
        summaryPath.chop(4);
    summaryPath += QStringLiteral(".txt");
    for (const auto& [file, text] :
         {std::pair{path, csv}, std::pair{summaryPath, runs_.Current()->Message() + "\n"}}) {
        QSaveFile out(file);
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(text.data(), static_cast<qint64>(text.size())) !=
                static_cast<qint64>(text.size()) ||
            !out.commit()) {
            Warn(tr("%1 could not be written: %2; choose another place.")
                     .arg(file, out.errorString()));
            return;
        }
    }
}

void MeterForm::Refresh() {
    const MeterRun* run = runs_.Current();
    const bool active = runs_.Active();
    cmdCalibrate_->setEnabled(!active);
    cmdLinearity_->setEnabled(!active);
    // Also while connecting: Disconnect gives up a meter that does not answer.
    cmdClose_->setEnabled(!active);
    cmdStop_->setEnabled(active);
    cmdContinue_->setEnabled(run && run->CurrentState() == MeterRun::State::AwaitingProbe);
    cmdSave_->setEnabled(!runs_.Csv().empty());
    progress_->setRange(0, run ? std::max(1, run->Total()) : 1);
    progress_->setValue(run ? run->Done() : 0);
    const QString message = run ? WindowText(run->Message()) : QString();
    labelStatus_->setText(StateText(run));
    if (textReport_->toPlainText() != message)
        textReport_->setPlainText(message);
    ShowPlot();
    if (run && run->CurrentState() == MeterRun::State::AwaitingProbe && !probeAsked_) {
        probeAsked_ = true;
        QTimer::singleShot(0, this, &MeterForm::AskForProbe);
    }
}

void MeterForm::ShowPlot() {
    // The finished test's results; from the start of any run until then, no old curves.
    const MeterRun* run = runs_.Current();
    const LinearityRun* linearity = runs_.Linearity();
    const bool test = run && linearity == run;
    const MeterRun::State state = run ? run->CurrentState() : MeterRun::State::Idle;
    std::string note;
    if (test && (state == MeterRun::State::Running || state == MeterRun::State::AwaitingProbe))
        note = "The linearity test is running: its results appear here when it finishes";
    else if (test && state != MeterRun::State::Finished)
        note = "The linearity test did not finish: it has no results to show";
    const bool results = test && state == MeterRun::State::Finished;
    const PlotShown shown{run, state, results};
    if (shown == plotShown_)
        return;
    plotShown_ = shown;
    plot_->SetModel(results ? LinearityPlot(linearity->Report().results) : LinearityPlot({}, note));
}

void MeterForm::AskForProbe() {
    const MeterRun* run = runs_.Current();
    if (!run || run->CurrentState() != MeterRun::State::AwaitingProbe) {
        probeAsked_ = false;
        return;
    }
    const int done = run->Done();
    const std::string prompt = run->Message();
    QString text = QString::fromStdString(prompt);
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    const bool ok =
        ctx_.messages.Confirm(this, tr("%1.\n\nOK continues the run; Cancel stops it.").arg(text));
    probeAsked_ = false;
    // While the box was open the run may have gone on or ended from elsewhere (the Continue and
    // Stop buttons, the protocol): the answer is for the prompt it was shown for.
    const MeterRun* now = runs_.Current();
    if (now == run && now->CurrentState() == MeterRun::State::AwaitingProbe &&
        now->Done() == done && now->Message() == prompt) {
        if (ok)
            runs_.Continue();
        else
            runs_.Stop(WindowStop(ctx_.instrument));
    }
    Refresh();
}

}  // namespace tq
