#pragma once
// The "Read / Write Registers" frame (Frame1): register, channel and range lists, the entry boxes,
// the number mode button and the command word display (Frame17).

#include <QGroupBox>
#include <QString>
#include <memory>

#include "ui/WindowContext.h"
#include "ui/main/FunctionSwitches.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tq {

class ComposerPanel : public QGroupBox {
    Q_OBJECT
public:
    // Creates Frame1 and every control inside it with its object name and design-time state.
    ComposerPanel(WindowContext& context, FunctionSwitches& switches, QWidget* parent);
    ~ComposerPanel() override;

    // The R/W cell (LabelRW) of the command word display.
    void ShowReadWrite(int16_t readWrite);

    // Start-up: the offset and fine gain prompts for the resolution (step 5).
    void SetRangePrompts(int16_t resolution);
    // Start-up: fill the lists (steps 8 to 12), selecting "Write" and "No Operation" (whose
    // handler sends the no-operation word); the function list takes state.FunctionChoices.
    // ComboAddr shows "DAC A" without running its handler.
    void FillLists();
    // Start-up: hide the other views' controls and caption the number mode button (13, 14).
    void ApplyStartupVisibility();
    // Set ComboReg's shown item by text, ignoring case, running its handler (Command10).
    void SelectRegisterByText(const QString& text);

    // "Read Register".
    void ReadRegisterAction();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tq
