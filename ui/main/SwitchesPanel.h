#pragma once
// The "Function Register Configuration" (Frame6) and "Hardware Configuration" (Frame12) frames:
// the six function register switches with CLEAR, LOAD and READ, and the six board pin switches
// with "Pulse After Data Write".

#include <QObject>
#include <cstdint>

#include "ui/WindowContext.h"
#include "ui/main/FunctionSwitches.h"

class QCheckBox;
class QGroupBox;
class QPushButton;

namespace tq {

class Toggle;

class SwitchesPanel : public QObject, public FunctionSwitches {
    Q_OBJECT
public:
    // Creates both frames and their controls as children of `window`, at their design places.
    SwitchesPanel(WindowContext& context, QWidget* window);

    // FunctionSwitches.
    void SetSdoSwitch(bool disabled) override;
    void MirrorFunctionBits(int32_t image) override;

    // Start-up: the coding, CLR, LDAC and RSTIN switches show the pin defaults (step 2).
    void ShowPinDefaults();
    // Start-up: the six function switches and the drive frames from the function register read
    // back (step 7).
    void ShowFunctionRegister(int32_t image);
    // Start-up: level switches disabled, READ shown unless both pins are outputs, "Pulse After
    // Data Write" checked and the LDAC switch disabled (steps 15 to 18).
    void ApplyStartupEnables();

    // Whether "Pulse After Data Write" is on.
    bool PulseAfterDataWrite() const;
    // Every switch, the check box and the enables as the instrument's state has them: after a
    // change that another window or a remote client made.
    void ShowInstrumentState();

    QGroupBox* FunctionFrame() const { return frame6_; }
    QGroupBox* HardwareFrame() const { return frame12_; }

private:
    // One digital I/O pin: its direction and level switches, its drive frame and switch.
    struct DigitalPin {
        Toggle* direction = nullptr;
        Toggle* level = nullptr;
        Toggle* otherDirection = nullptr;
        QGroupBox* driveFrame = nullptr;
        Toggle* drive = nullptr;
        FunctionFlag highFlag = FunctionFlag::D0High;
        void (Instrument::*setOutput)(bool) = nullptr;
    };

    void BuildFunctionFrame(QWidget* window);
    void BuildHardwareFrame(QWidget* window);

    void Toggle1_Change();
    void Toggle2_Change();
    void Toggle3_Change();
    void Toggle4_Change();
    void Toggle5_Change();
    void Toggle6_Change();
    void Toggle7_Change();
    void Toggle8_Change();
    void Toggle9_Change();
    void Toggle10_Change();
    void Toggle11_Change();
    void Toggle12_Change();
    void Check1_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();

    // Runs a handler as the main window's own change; a failed request ends it.
    void Handle(void (SwitchesPanel::*handler)());
    void PinSwitchChanged(const Toggle* toggle, Pin pin);
    void FunctionSwitchChanged(const Toggle* toggle, FunctionFlag flag);
    void LevelSwitchChanged(const DigitalPin& pin);
    void DirectionSwitchChanged(const DigitalPin& pin);
    void ShowDriveEnables(const DigitalPin& pin);

    WindowContext& ctx_;
    QGroupBox* frame6_ = nullptr;
    QGroupBox* frame12_ = nullptr;
    Toggle* toggle1_ = nullptr;     // local ground offset adjust
    Toggle* toggle2_ = nullptr;     // binary / two's complement coding
    Toggle* toggle3_ = nullptr;     // D1 direction
    Toggle* toggle4_ = nullptr;     // D0 direction
    Toggle* toggle5_ = nullptr;     // D1 level
    Toggle* toggle6_ = nullptr;     // D0 level
    Toggle* toggle7_ = nullptr;     // SDO disable
    Toggle* toggle8_ = nullptr;     // CLR pin
    Toggle* toggle9_ = nullptr;     // LDAC pin
    Toggle* toggle10_ = nullptr;    // RSTIN pin
    Toggle* toggle11_ = nullptr;    // drive D0
    Toggle* toggle12_ = nullptr;    // drive D1
    QGroupBox* frame20_ = nullptr;  // "Drive D0 Pin"
    QGroupBox* frame21_ = nullptr;  // "Drive D1 Pin"
    QCheckBox* check1_ = nullptr;
    QPushButton* command4_ = nullptr;
    QPushButton* command5_ = nullptr;
    QPushButton* command6_ = nullptr;
    DigitalPin d1_;
    DigitalPin d0_;
};

}  // namespace tq
