#pragma once
// The "Waveform Generator" window: per channel a shape or a list of set points (typed, or read
// from a CSV file), the dwell and the count of periods; Start and Stop; the run's progress, the
// rate asked for and achieved, with the period's frequency, and the late steps; a plot of one
// period as it will be sent (the codes and the volts they give). What the window holds is kept
// between runs of the program and travels with the windows' setups.
// It drives the program's one waveform run, which the protocol's INITiate drives too.

#include <QWidget>
#include <array>
#include <vector>

#include "instrument/Waveform.h"
#include "ui/WindowContext.h"
#include "ui/plots/PlotData.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tq {
class ElidedLabel;
class PlotHost;
}  // namespace tq

namespace tq {

class WaveformForm : public QWidget {
    Q_OBJECT
public:
    // context.waveform must be set. The window shows the definition a setup brought to the run,
    // or else the one kept from the last run of the program.
    explicit WaveformForm(WindowContext& context);
    ~WaveformForm() override;

    // What the controls hold, each value the window can read (what it keeps and a setup saves).
    WaveformDefinition Definition() const;
    // Sets the controls; a value the definition leaves out keeps what the box shows.
    void ShowDefinition(const WaveformDefinition& definition);

    // The plan the controls describe; InstrumentError (ValueRangeError) says which entry is wrong.
    WavePlan Plan() const;

    void CmdStart_Click();
    void CmdStop_Click();
    // Reads a CSV file of volts (or codes) into the channel's list; a first line that holds no
    // number is the columns' header.
    void CmdCsv_Click(int channel);
    // The labels, the progress bar and the buttons from the run's status.
    void ShowStatus();

protected:
    // Closing while the run goes asks whether to stop it or keep it running.
    void closeEvent(QCloseEvent* event) override;

private:
    // The window's parts, built in the order they show and take the focus in.
    QGroupBox* BuildChannels();
    QHBoxLayout* BuildTiming();
    QHBoxLayout* BuildRunButtons();
    QHBoxLayout* BuildFigures();
    // The definition a setup brought, or the one kept from the last run of the program.
    void ShowFirstDefinition();
    // Every control's change reaches the run at once and the kept settings a moment later.
    void FollowDefinitionChanges();
    // The run keeps each change at once; the settings a moment later, and at the end.
    void DefinitionChanged();
    void KeepDefinition();
    void UpdatePreview();
    // A trace as the codes the run sends and the volts they give, when the channel's range is
    // known (it is read once, after the preview, when it is not).
    void Coded(int16_t channel, PreviewTrace& trace);
    void AddTips();

    struct ChannelRow {
        QCheckBox* check = nullptr;
        QComboBox* shape = nullptr;
        QComboBox* units = nullptr;
        QLineEdit* amplitude = nullptr;
        QLineEdit* offset = nullptr;
        QLineEdit* points = nullptr;
        QLineEdit* list = nullptr;
        QPushButton* csv = nullptr;
    };

    WindowContext& ctx_;
    WaveformRun& run_;
    std::array<ChannelRow, kChannelCount> rows_{};
    QLineEdit* textDwell_ = nullptr;
    QCheckBox* checkFast_ = nullptr;
    QLineEdit* textPeriods_ = nullptr;
    QCheckBox* checkContinuous_ = nullptr;
    QPushButton* cmdStart_ = nullptr;
    QPushButton* cmdStop_ = nullptr;
    QProgressBar* progress_ = nullptr;
    ElidedLabel* labelState_ = nullptr;
    QLabel* labelAsked_ = nullptr;
    QLabel* labelAchieved_ = nullptr;
    QLabel* labelLate_ = nullptr;
    PlotHost* preview_ = nullptr;
    QTimer* poll_ = nullptr;
    QTimer* keepTimer_ = nullptr;
    RunState shownState_ = RunState::Idle;
    std::array<bool, kChannelCount> rangeAsked_{};
};

}  // namespace tq
