#pragma once
// The waveform run's clock and wake-ups on the user-interface thread: a monotonic clock and one
// precise single-shot timer, so that the event loop serves windows and clients between steps.

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

#include "instrument/Waveform.h"

namespace tq {

class QtRunTimer : public RunTimer {
public:
    QtRunTimer();
    // What a wake-up runs (the run's Step).
    void SetAction(std::function<void()> action) { action_ = std::move(action); }

    double Now() const override;
    void WakeAt(double when) override;
    void Cancel() override;

private:
    QElapsedTimer clock_;
    QTimer timer_;
    std::function<void()> action_;
};

}  // namespace tq
