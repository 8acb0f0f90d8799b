#pragma once
// The Qt event loop for the test programs without windows: their QCoreApplication, and a wait on
// the loop with a bound.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

namespace tq::testing {

// One QCoreApplication for the whole test program.
inline QCoreApplication& CoreApp() {
    static int argc = 1;
    static char name[] = "tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QCoreApplication(argc, argv);
    return *app;
}

// Runs `step` (when given) and the event loop until `done` holds; false when `limitMs` went by
// first (a bound, not an expectation).
inline bool WaitFor(const std::function<bool()>& done, const std::function<void()>& step = {},
                    int limitMs = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        if (step)
            step();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

}  // namespace tq::testing
