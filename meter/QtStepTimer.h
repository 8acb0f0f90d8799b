#pragma once
// The event loop's single-shot timer as a run's settling timer.

#include <QTimer>
#include <functional>

#include "instrument/Meter.h"

namespace tq {

class QtStepTimer : public StepTimer {
public:
    QtStepTimer();
    void Start(int milliseconds, std::function<void()> due) override;
    void Cancel() override;

private:
    QTimer timer_;
    std::function<void()> due_;
};

}  // namespace tq
