// The runs' timer on the event loop: a wake-up makes the step given with it once, a later one
// replaces it, a cancelled one never comes, and a step may ask for the next.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/EventLoop.h"
#include "timers/QtRunTimer.h"

namespace tq {
namespace {

using testing::WaitFor;

TEST(QtRunTimer, MakesTheLastStepAskedForOnceAndNoneWhenCancelled) {
    testing::CoreApp();
    QtRunTimer timer;
    std::string steps;
    timer.WakeAt(timer.Now() + 0.02, [&] { steps += "first "; });
    timer.WakeAt(timer.Now() + 0.01, [&] { steps += "second "; });
    // A step that asks for the next: the wake-up it asks for is not the one being made.
    int chained = 0;
    std::function<void()> chain = [&] {
        steps += "chained ";
        if (++chained < 3)
            timer.WakeAt(timer.Now(), chain);
    };
    timer.WakeAt(timer.Now(), chain);
    const double started = timer.Now();
    ASSERT_TRUE(WaitFor([&] { return timer.Now() - started > 0.1; }));
    EXPECT_EQ(steps, "chained chained chained ");

    timer.WakeAt(timer.Now(), [&] { steps += "cancelled "; });
    timer.Cancel();
    const double cancelled = timer.Now();
    ASSERT_TRUE(WaitFor([&] { return timer.Now() - cancelled > 0.05; }));
    EXPECT_EQ(steps, "chained chained chained ");
}

}  // namespace
}  // namespace tq
