#pragma once
// The "Calibration" frame (Frame22): two-point offset and gain calibration of the selected
// channel.

#include <QGroupBox>
#include <QPointer>

#include "instrument/Calibration.h"
#include "ui/WindowContext.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace tq {

class CalibrationPanel : public QGroupBox {
    Q_OBJECT
public:
    CalibrationPanel(WindowContext& context, QWidget* parent);
    ~CalibrationPanel() override;

    // How long "Calibration complete" stays (2000 ms); tests shorten it.
    void SetCompleteNoticeMs(int ms);

private:
    enum class Step { Idle, OffsetEntry, GainEntry, Complete };

    void Command8_Click();
    void CommandOff_Click();
    void CommandFS_Click();

    void ShowStep(Step step);
    void BeginCompleteNotice();
    void EndCompleteNotice();
    bool eventFilter(QObject* watched, QEvent* event) override;

    WindowContext& ctx_;
    Calibration calibration_;
    QPushButton* command8_ = nullptr;
    QLabel* labelOff1_ = nullptr;
    QLabel* labelOff2_ = nullptr;
    QLineEdit* textOff_ = nullptr;
    QPushButton* commandOff_ = nullptr;
    QLabel* labelFS1_ = nullptr;
    QLabel* labelFS2_ = nullptr;
    QLineEdit* textFS_ = nullptr;
    QPushButton* commandFS_ = nullptr;
    QLabel* labelComplete_ = nullptr;
    QTimer* completeTimer_ = nullptr;
    QPointer<QWidget> blockedWindow_;  // the window that ignores input during the notice
};

}  // namespace tq
