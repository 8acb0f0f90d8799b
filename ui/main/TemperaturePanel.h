#pragma once
// The "Measure TQ2604X Core Temperature" frame (Frame19).

#include <QGroupBox>

#include "ui/WindowContext.h"
#include "ui/main/FunctionSwitches.h"

class QLabel;
class QPushButton;

namespace tq {

class TemperaturePanel : public QGroupBox {
    Q_OBJECT
public:
    TemperaturePanel(WindowContext& context, FunctionSwitches& switches, QWidget* parent);

private:
    void Command7_Click();

    WindowContext& ctx_;
    FunctionSwitches& switches_;
    QPushButton* command7_ = nullptr;
    QLabel* label23_ = nullptr;  // TEMP pin voltage
    QLabel* label25_ = nullptr;  // temperature
};

}  // namespace tq
