// Where a companion window goes beside its window: always wholly on the available area, title
// bar included.

#include <gtest/gtest.h>

#include <vector>

#include "ui/widgets/Placement.h"

namespace tq::testing {
namespace {

TEST(BesidePosition, RightLeftOrInsideTheAvailableArea) {
    const QRect screen1280(0, 0, 1280, 1024);
    const QRect screen1024(0, 0, 1024, 768);
    const QRect belowPanel(0, 28, 1920, 1052);  // a panel along the top
    const QSize bench(260, 220);
    struct Case {
        const char* name;
        QRect anchor;
        QRect available;
        QPoint expected;
    };
    const std::vector<Case> cases{
        {"room on the right", QRect(10, 40, 600, 500), screen1280, QPoint(622, 40)},
        {"main window wide: to its left", QRect(400, 40, 880, 600), screen1280, QPoint(128, 40)},
        {"no room either side: inside at the right edge", QRect(0, 0, 980, 640), screen1024,
         QPoint(764, 0)},
        {"not yet placed, above the screen", QRect(0, -20, 980, 640), screen1024, QPoint(764, 0)},
        {"below a panel", QRect(50, 0, 900, 600), belowPanel, QPoint(962, 28)},
        {"near the bottom", QRect(10, 700, 600, 300), screen1024, QPoint(622, 548)},
    };
    for (const Case& c : cases) {
        const QPoint at = BesidePosition(c.anchor, bench, c.available);
        EXPECT_EQ(at, c.expected) << c.name;
        EXPECT_TRUE(c.available.contains(QRect(at, bench))) << c.name;
    }
}

}  // namespace
}  // namespace tq::testing
