#pragma once
// The program's working window: the register composer, the configuration switches, temperature
// and calibration, the menus and the status bar. Load() connects the board and brings every
// control into its start-up state.

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <vector>

#include "instrument/Setup.h"
#include "instrument/StartUp.h"
#include "ui/WindowContext.h"

class QMenu;

class QCloseEvent;
class QAction;
class QLabel;
class QPushButton;
class QTimer;

namespace tq {

class CalibrationPanel;
class ComposerPanel;
class ElidedLabel;
class SwitchesPanel;
class TemperaturePanel;

class MainForm : public QMainWindow, private StartUpSteps {
    Q_OBJECT
public:
    // Builds the whole window, hidden; nothing is sent to the board.
    explicit MainForm(WindowContext& context);
    ~MainForm() override;

    // The start-up (instrument/StartUp.h) with the window's own steps: the switches, lists and
    // prompts as the board has them, the composer opened on the data register. False when the
    // download failed (the messages have been shown; the window must not be shown).
    bool Load();

    // Creates the output voltage window if needed and shows it.
    void ShowVoutForm();
    // "Remote: N clients" in the status bar while remote clients are connected, with the lock's
    // holder while one holds it ("locked by client at 127.0.0.1:50712"; "" when free).
    void ShowRemoteClients(int count);
    void ShowRemoteLock(const QString& holder);
    // "Limits: B -2 V to 2 V" in the status bar while any channel has limits.
    void ShowLimits();
    // Reads, checks and applies a setup file (asking first when it comes from another board);
    // a refused file is explained in a message box and the status bar. True when applied.
    bool OpenSetup(const QString& path);
    // File, Setup Slots: the slots *SAV and *RCL use, 0 to 9.
    void SaveToSlot(int slot);
    bool OpenSlot(int slot);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    QMenu* BuildFileMenu();
    QMenu* BuildProtectionMenu();
    QMenu* BuildToolsMenu();
    void BuildHelpMenu();
    void AddTips(QWidget* central);
    void BuildShapes(QWidget* central);
    void BuildHiddenControls(QWidget* central);
    void BuildStatusBar();
    // Each running activity (a ramp aside) with its progress, in the status bar.
    void ShowActivities();
    static bool IsProgramWidget(const void* origin);

    // The window's steps of the start-up.
    void NotConnected(const std::vector<std::string>& reasons) override;
    void Connected() override;
    void FunctionRegisterTaken(const std::optional<std::string>& error) override;
    void Started() override;
    void Command10_Click();
    void MnuExit_Click();
    // True when nothing drives an output, or the user chose to quit all the same.
    bool MayQuit();
    void MnuAbout_Click();
    void MnuTest_Click();
    void MnuBench_Click();
    void MnuProtection_Click();
    void MnuSafeState_Click();
    // The status bar's word on Safe State: while its ramp runs, and once the outputs are at 0 V.
    static QString SafeStateText(bool ramping);
    void MnuOpenSetup_Click();
    void MnuSaveSetup_Click();
    void MnuSaveCalibration_Click();
    void SaveSetup(bool calibrationOnly);
    void BuildSlotMenu(QMenu* file);
    // Brings the board and the windows to `setup`, opened from `name` (a file or a slot).
    bool ApplyOpenedSetup(const Setup& setup, const QString& name);
    // The windows' setup: the board's and the Generator's definition.
    Setup WindowsSetup() const;
    void ShowRecentSetups();
    void RequestFinished(int32_t result);
    void ShowChange(const InstrumentChange& change);

    WindowContext& ctx_;
    SwitchesPanel* switches_ = nullptr;
    ComposerPanel* composer_ = nullptr;
    TemperaturePanel* temperature_ = nullptr;
    CalibrationPanel* calibration_ = nullptr;
    QPushButton* command10_ = nullptr;
    ElidedLabel* boardLabel_ = nullptr;
    ElidedLabel* remoteLabel_ = nullptr;
    int remoteClients_ = 0;
    QString lockHolder_;
    ElidedLabel* limitsLabel_ = nullptr;
    ElidedLabel* rampingLabel_ = nullptr;
    QWidget* activities_ = nullptr;
    std::vector<ElidedLabel*> activityLabels_;
    QTimer* activityTimer_ = nullptr;
    QAction* recentSeparator_ = nullptr;
    std::array<QAction*, 4> recent_{};
    bool boardSilent_ = false;
    // "The board answered again" stays until the next action sends a request.
    bool boardBackShown_ = false;
    bool boardBackSettled_ = false;
    bool loaded_ = false;
    int listener_ = 0;
};

}  // namespace tq
