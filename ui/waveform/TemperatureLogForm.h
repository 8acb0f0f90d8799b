#pragma once
// The "Temperature Log" window: Measure at a chosen interval, each reading written to a CSV file
// as it comes (flushed per line, so a crash loses at most one), and a strip chart of degrees over
// time. A file that holds something already is replaced or continued only when the user says so.

#include <QFile>
#include <QWidget>
#include <memory>

#include "instrument/TemperatureLog.h"
#include "timers/QtRunTimer.h"
#include "ui/WindowContext.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace tq {

class PlotHost;

class TemperatureLogForm : public QWidget {
    Q_OBJECT
public:
    // `timer` drives the readings; without one the window makes its own on the UI thread.
    explicit TemperatureLogForm(WindowContext& context, RunTimer* timer = nullptr);
    ~TemperatureLogForm() override;

    void CmdBrowse_Click();
    void CmdStart_Click();
    void CmdStop_Click();
    void ShowStatus();
    TemperatureLog& Log() { return *log_; }

protected:
    // Closing while the log runs asks whether to stop it or keep it running.
    void closeEvent(QCloseEvent* event) override;

private:
    enum class FileChoice { Replace, Append, Cancel };
    // Asks before a file that holds something is written: Replace, Append (a log of this window
    // only) or Cancel.
    FileChoice AskAboutFile(const QString& path);
    static bool EndsWithLine(QFile& file);
    void AddTips();
    WindowContext& ctx_;
    std::unique_ptr<QtRunTimer> ownTimer_;
    std::unique_ptr<TemperatureLog> log_;
    QFile file_;
    QLineEdit* textInterval_ = nullptr;
    QLineEdit* textFile_ = nullptr;
    QPushButton* cmdBrowse_ = nullptr;
    QPushButton* cmdStart_ = nullptr;
    QPushButton* cmdStop_ = nullptr;
    QLabel* labelLast_ = nullptr;
    QLabel* labelReadings_ = nullptr;
    PlotHost* chart_ = nullptr;
    QTimer* poll_ = nullptr;
    int64_t shownReadings_ = -1;
    std::string shownError_;
};

}  // namespace tq
