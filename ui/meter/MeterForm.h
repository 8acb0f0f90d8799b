#pragma once
// The bench meter window: the meter's settings, Connect and Disconnect, the automatic calibration
// and the linearity test, their progress, report and INL/DNL plot, Stop and Continue, and saving
// the linearity CSV with its summary. A view over the program's MeterRuns, so a run started over
// the protocol shows here too.

#include <QMainWindow>

#include "instrument/MeterRun.h"
#include "ui/WindowContext.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace tq {

class ElidedLabel;
class MeterRuns;
struct LinearityResult;

class PlotHost;

class MeterForm : public QMainWindow {
public:
    MeterForm(WindowContext& ctx, MeterRuns& runs, QWidget* parent = nullptr);
    ~MeterForm() override;

protected:
    // Closing while a run goes asks whether to stop it or keep it running.
    void closeEvent(QCloseEvent* event) override;

private:
    // The window's parts, built in the order they show and take the focus in.
    QGroupBox* BuildMeterBox(QWidget* central);
    QGroupBox* BuildRunBox(QWidget* central);
    void BuildResults(QWidget* central, QVBoxLayout* layout);
    void FollowConnection();
    void AddTips();
    void CmdOpen_Click();
    void CmdClose_Click();
    void CmdCalibrate_Click();
    void CmdLinearity_Click();
    void CmdSave_Click();
    // Takes the boxes into the settings; false (with a message) when one does not read.
    bool TakeSettings();
    void Refresh();
    void Warn(const QString& text);
    // The run waits for the probe to be moved: a box asks the user to, OK going on and Cancel
    // stopping the run. Called from the event loop, never inside the run's step that asked.
    void AskForProbe();

    WindowContext& ctx_;
    MeterRuns& runs_;
    int listener_ = 0;
    bool probeAsked_ = false;  // the probe box is on its way or open
    // What the plot shows: the run it was drawn for, its state then, whether with results.
    struct PlotShown {
        const MeterRun* run = nullptr;
        MeterRun::State state = MeterRun::State::Idle;
        bool results = false;
        bool operator==(const PlotShown&) const = default;
    };
    PlotShown plotShown_;
    void ShowPlot();
    QLineEdit* textAddress_;
    QLineEdit* textCommand_;
    QLineEdit* textSetup_;
    QLineEdit* textSelect_;
    QLineEdit* textTimeout_;
    QLineEdit* textSettle_;
    QLineEdit* textCount_;
    ElidedLabel* labelIdn_;
    QPushButton* cmdClose_;
    QComboBox* comboChannel_;
    QLineEdit* textCodes_;
    QLineEdit* textFirst_;
    QLineEdit* textLast_;
    QPushButton* cmdCalibrate_;
    QPushButton* cmdLinearity_;
    QPushButton* cmdContinue_;
    QPushButton* cmdStop_;
    QPushButton* cmdSave_;
    QProgressBar* progress_;
    QLabel* labelStatus_;
    QPlainTextEdit* textReport_;
    PlotHost* plot_;
};

}  // namespace tq
