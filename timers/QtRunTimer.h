#pragma once
// A run's clock and wake-ups on the event loop: a monotonic clock and one precise single-shot
// timer, so that the event loop serves windows and clients between steps. Qt Core only: the
// headless server runs on it as the windows do.

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

#include "instrument/RunTimer.h"

namespace tq {

class QtRunTimer : public RunTimer {
public:
    QtRunTimer();

    double Now() const override;
    void WakeAt(double when, std::function<void()> step) override;
    void Cancel() override;

private:
    QElapsedTimer clock_;
    QTimer timer_;
    std::function<void()> step_;
};

}  // namespace tq
