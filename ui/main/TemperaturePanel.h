#pragma once
// The "Measure TQ2604X Core Temperature" frame (Frame19).

#include <QGroupBox>

#include "ui/main/FunctionSwitches.h"
#include "ui/widgets/WindowContext.h"

namespace tq {

class TemperaturePanel : public QGroupBox {
    Q_OBJECT
public:
    TemperaturePanel(WindowContext& context, FunctionSwitches& switches, QWidget* parent);
};

}  // namespace tq
