#include "ui/waveform/QtRunTimer.h"

#include <algorithm>
#include <cmath>

namespace tq {

QtRunTimer::QtRunTimer() {
    clock_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (action_)
            action_();
    });
}

double QtRunTimer::Now() const {
    return static_cast<double>(clock_.nsecsElapsed()) * 1e-9;
}

void QtRunTimer::WakeAt(double when) {
    // A due step waits only for the events already queued (0 ms): clicks and clients first.
    const double wait = std::max(0.0, when - Now());
    timer_.start(static_cast<int>(std::ceil(std::min(wait * 1000.0, 3.6e6))));
}

void QtRunTimer::Cancel() {
    timer_.stop();
}

}  // namespace tq
