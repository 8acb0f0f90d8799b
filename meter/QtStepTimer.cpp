#include "meter/QtStepTimer.h"

namespace tq {

QtStepTimer::QtStepTimer() {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        auto due = std::move(due_);
        due_ = nullptr;
        if (due)
            due();
    });
}

void QtStepTimer::Start(int milliseconds, std::function<void()> due) {
    due_ = std::move(due);
    timer_.start(milliseconds);
}

void QtStepTimer::Cancel() {
    timer_.stop();
    due_ = nullptr;
}

}  // namespace tq
