#pragma once
// The "Calibration" frame (Frame22): two-point offset and gain calibration of the selected
// channel.

#include <QGroupBox>

#include "ui/widgets/WindowContext.h"

namespace tq {

class CalibrationPanel : public QGroupBox {
    Q_OBJECT
public:
    CalibrationPanel(WindowContext& context, QWidget* parent);

    // How long "Calibration complete" stays (2000 ms); tests shorten it.
    void SetCompleteNoticeMs(int ms);
};

}  // namespace tq
