#include "timers/QtRunTimer.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tq {

QtRunTimer::QtRunTimer() {
    clock_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        // The step may ask for the next wake-up: it is taken out first.
        auto step = std::exchange(step_, nullptr);
        if (step)
            step();
    });
}

double QtRunTimer::Now() const {
    return static_cast<double>(clock_.nsecsElapsed()) * 1e-9;
}

void QtRunTimer::WakeAt(double when, std::function<void()> step) {
    step_ = std::move(step);
    // A due step waits only for the events already queued (0 ms): clicks and clients first.
    const double wait = std::max(0.0, when - Now());
    timer_.start(static_cast<int>(std::ceil(std::min(wait * 1000.0, 3.6e6))));
}

void QtRunTimer::Cancel() {
    timer_.stop();
    step_ = nullptr;
}

}  // namespace tq
