#include "ui/waveform/TemperatureLogForm.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "ui/plots/PlotData.h"
#include "ui/plots/PlotHost.h"
#include "ui/widgets/CloseQuestion.h"
#include "ui/widgets/DecimalEntry.h"
#include "ui/widgets/EntryMessages.h"
#include "ui/widgets/FileDialogs.h"
#include "ui/widgets/ScrollingContent.h"

namespace tq {

TemperatureLogForm::TemperatureLogForm(WindowContext& context, RunTimer* timer)
    : QWidget(nullptr), ctx_(context) {
    setObjectName(QStringLiteral("TemperatureLogForm"));
    setWindowTitle(tr("Temperature Log"));
    if (!timer) {
        ownTimer_ = std::make_unique<QtRunTimer>();
        timer = ownTimer_.get();
    }
    log_ = std::make_unique<TemperatureLog>(ctx_.instrument, *timer,
                                            [] { return std::chrono::system_clock::now(); });

    // The controls scroll on a screen too short for them.
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("Content"));
    auto* layout = new QVBoxLayout(content);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Interval (ms, at least 100)"), this), 0, 0);
    textInterval_ = new QLineEdit(QStringLiteral("1000"), this);
    textInterval_->setObjectName(QStringLiteral("TextInterval"));
    grid->addWidget(textInterval_, 0, 1);
    grid->addWidget(new QLabel(tr("CSV file"), this), 1, 0);
    textFile_ = new QLineEdit(this);
    textFile_->setObjectName(QStringLiteral("TextFile"));
    textFile_->setMinimumWidth(260);
    grid->addWidget(textFile_, 1, 1);
    cmdBrowse_ = new QPushButton(tr("Browse..."), this);
    cmdBrowse_->setObjectName(QStringLiteral("CmdBrowse"));
    grid->addWidget(cmdBrowse_, 1, 2);
    layout->addLayout(grid);

    auto* controls = new QHBoxLayout;
    cmdStart_ = new QPushButton(tr("Start"), this);
    cmdStart_->setObjectName(QStringLiteral("CmdStart"));
    cmdStop_ = new QPushButton(tr("Stop"), this);
    cmdStop_->setObjectName(QStringLiteral("CmdStop"));
    labelLast_ = new QLabel(this);
    labelLast_->setObjectName(QStringLiteral("LabelLast"));
    labelReadings_ = new QLabel(this);
    labelReadings_->setObjectName(QStringLiteral("LabelReadings"));
    controls->addWidget(cmdStart_);
    controls->addWidget(cmdStop_);
    controls->addWidget(labelLast_, 1);
    controls->addWidget(labelReadings_, 1);
    layout->addLayout(controls);

    chart_ = new PlotHost(ctx_, this);
    chart_->setObjectName(QStringLiteral("PlotTemperature"));
    chart_->setMinimumSize(480, 260);
    layout->addWidget(chart_, 1);

    connect(cmdBrowse_, &QPushButton::clicked, this, &TemperatureLogForm::CmdBrowse_Click);
    connect(cmdStart_, &QPushButton::clicked, this, &TemperatureLogForm::CmdStart_Click);
    connect(cmdStop_, &QPushButton::clicked, this, &TemperatureLogForm::CmdStop_Click);
    poll_ = new QTimer(this);
    poll_->setInterval(100);
    connect(poll_, &QTimer::timeout, this, &TemperatureLogForm::ShowStatus);
    poll_->start();
    ShowStatus();
    SetScrollingContent(this, content);
    AddTips();
}

void TemperatureLogForm::AddTips() {
    textInterval_->setToolTip(tr("Time between two readings, in milliseconds (100 to 86400000)"));
    textFile_->setToolTip(tr("The CSV file each reading is written to as it comes"));
    cmdBrowse_->setToolTip(tr("Choose the CSV file"));
    cmdStart_->setToolTip(
        tr("Start the log; a file that holds a log already is replaced or "
           "continued, as you choose"));
    cmdStop_->setToolTip(tr("Stop the log and close its file"));
    labelLast_->setToolTip(tr("The last reading of the die temperature"));
    labelReadings_->setToolTip(tr("Readings taken since Start, and how many failed"));
    chart_->setToolTip(tr("The die temperature over the time of the log"));
}

void TemperatureLogForm::closeEvent(QCloseEvent* event) {
    CloseWithRunningActivity(event, ctx_.messages, this, log_->Running(), tr("The temperature log"),
                             [this] { CmdStop_Click(); });
}

TemperatureLogForm::~TemperatureLogForm() {
    log_->Stop();
}

void TemperatureLogForm::CmdBrowse_Click() {
    if (!ctx_.files)
        return;
    const QString path =
        WithDefaultSuffix(ctx_.files->SaveFileName(this, tr("Temperature log"),
                                                   tr("CSV files (*.csv);;All files (*)")),
                          QStringLiteral("csv"));
    if (!path.isEmpty())
        textFile_->setText(path);
}

void TemperatureLogForm::CmdStart_Click() {
    const QString typed = textInterval_->text();
    const std::optional<double> ms = EntryNumber(typed.toStdString());
    if (!ms || !(*ms >= 100.0 && *ms <= 86400000.0)) {
        if (!ms)
            textInterval_->clear();
        textInterval_->setFocus();
        ctx_.messages.ShowMessage(
            this, MessageIcon::Warning,
            NotANumberText(tr("Interval"), typed,
                           tr("a number of milliseconds from 100 to 86400000")),
            windowTitle());
        return;
    }
    const QString path = textFile_->text().trimmed();
    if (path.isEmpty()) {
        ctx_.messages.ShowMessage(this, MessageIcon::Warning,
                                  tr("Choose the CSV file to log to (Browse...) first."),
                                  windowTitle());
        return;
    }
    // A file that holds something already is never written over without a question.
    const FileChoice choice = AskAboutFile(path);
    if (choice == FileChoice::Cancel)
        return;
    const bool append = choice == FileChoice::Append;
    log_->Stop();
    file_.close();
    file_.setFileName(path);
    // A log is written as it goes rather than saved whole: each line is flushed at once, so
    // that a crash loses at most the line being written.
    const QIODevice::OpenMode mode =
        append ? QIODevice::Append | QIODevice::Text
               : QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text;
    if (!file_.open(mode) || (append && !EndsWithLine(file_))) {
        ctx_.messages.ShowMessage(this, MessageIcon::Warning,
                                  tr("%1 cannot be written: %2. Choose another file.")
                                      .arg(path.left(200), file_.errorString()),
                                  windowTitle());
        return;
    }
    log_->Start(
        *ms / 1000.0,
        [this](const std::string& line) {
            const QByteArray bytes = QByteArray::fromStdString(line) + '\n';
            return file_.write(bytes) == bytes.size() && file_.flush();
        },
        !append);
    ShowStatus();
}

TemperatureLogForm::FileChoice TemperatureLogForm::AskAboutFile(const QString& path) {
    QFile existing(path);
    if (!existing.exists() || existing.size() == 0 || !existing.open(QIODevice::ReadOnly))
        return FileChoice::Replace;
    const QByteArray first = existing.readLine(256).trimmed();
    const QString name = path.left(200);
    // Only a log of this window is continued: its columns are known.
    if (first != QByteArray(kTemperatureLogHeader)) {
        const int answer = ctx_.messages.Choose(
            this,
            tr("%1 exists and is not a temperature log. Replace its contents with the new log?")
                .arg(name),
            {tr("Replace"), tr("Cancel")}, 1);
        return answer == 0 ? FileChoice::Replace : FileChoice::Cancel;
    }
    const int answer = ctx_.messages.Choose(
        this,
        tr("%1 holds a temperature log already. Replace it with the new log, or append the new "
           "readings after the ones it holds?")
            .arg(name),
        {tr("Replace"), tr("Append"), tr("Cancel")}, 1);
    return answer == 0   ? FileChoice::Replace
           : answer == 1 ? FileChoice::Append
                         : FileChoice::Cancel;
}

// A file whose last line has no line feed gets one, so that the next line starts on its own.
bool TemperatureLogForm::EndsWithLine(QFile& file) {
    QFile reader(file.fileName());
    if (!reader.open(QIODevice::ReadOnly) || reader.size() == 0)
        return true;
    reader.seek(reader.size() - 1);
    if (reader.read(1) == "\n")
        return true;
    return file.write("\n") == 1 && file.flush();
}

void TemperatureLogForm::CmdStop_Click() {
    log_->Stop();
    file_.close();
    ShowStatus();
}

void TemperatureLogForm::ShowStatus() {
    const bool running = log_->Running();
    cmdStart_->setEnabled(!running);
    cmdStop_->setEnabled(running);
    textInterval_->setEnabled(!running);
    textFile_->setEnabled(!running);
    cmdBrowse_->setEnabled(!running);
    if (log_->Readings() == shownReadings_ && log_->Error() == shownError_)
        return;
    shownReadings_ = log_->Readings();
    const auto& points = log_->Points();
    if (points.empty())
        labelLast_->setText(tr("Last: -"));
    else if (points.back().celsius)
        labelLast_->setText(tr("Last: %1 \u00b0C").arg(*points.back().celsius, 0, 'f', 2));
    else
        labelLast_->setText(tr("Last: reading failed"));
    labelReadings_->setText(
        tr("Readings: %1, failed: %2").arg(log_->Readings()).arg(log_->Failures()));
    if (log_->Error() != shownError_) {
        shownError_ = log_->Error();
        if (!shownError_.empty()) {
            file_.close();
            ctx_.messages.ShowMessage(
                this, MessageIcon::Warning,
                tr("%1: %2. Free some space or choose another file, then start again.")
                    .arg(file_.fileName().left(200), QString::fromStdString(shownError_)),
                windowTitle());
        }
    }
    chart_->SetModel(TemperaturePlot(points));
}

}  // namespace tq
