// Where a companion window goes beside its window: always wholly on the available area, title
// bar included, and beside the window rather than over it wherever the screen has room for both.

#include <gtest/gtest.h>

#include <vector>

#include "ui/widgets/Placement.h"

namespace tq::testing {
namespace {

TEST(PlacesBeside, RightLeftMovedOverBelowOrInsideTheAvailableArea) {
    const QRect screen1280(0, 0, 1280, 1024);
    const QRect screen1024(0, 0, 1024, 768);
    const QRect belowPanel(0, 28, 1920, 1052);  // a panel along the top
    const QRect scaled(0, 0, 1280, 720);        // 1920 x 1080 at scale 1.5
    const QSize bench(260, 220);
    struct Case {
        const char* name;
        QRect anchor;
        QRect available;
        QPoint anchorAfter;
        QPoint expected;
        bool overlaps;
    };
    const std::vector<Case> cases{
        {"room on the right", QRect(10, 40, 600, 500), screen1280, {10, 40}, {622, 40}, false},
        {"main window wide: to its left",
         QRect(400, 40, 880, 600),
         screen1280,
         {400, 40},
         {128, 40},
         false},
        {"at scale 1.5 the main window moves over to make room",
         QRect(100, 0, 978, 650),
         scaled,
         {30, 0},
         {1020, 0},
         false},
        {"room only without the gap", QRect(200, 0, 1010, 650), scaled, {0, 0}, {1020, 0}, false},
        {"a narrow screen: below", QRect(0, 0, 980, 400), screen1024, {0, 0}, {0, 412}, false},
        {"no room anywhere: inside at the right edge",
         QRect(0, 0, 980, 640),
         screen1024,
         {0, 0},
         {764, 0},
         true},
        {"not yet placed, above the screen",
         QRect(0, -20, 980, 640),
         screen1024,
         {0, -20},
         {764, 0},
         true},
        {"below a panel", QRect(50, 0, 900, 600), belowPanel, {50, 0}, {962, 28}, false},
        {"near the bottom", QRect(10, 700, 600, 300), screen1024, {10, 700}, {622, 548}, false},
    };
    for (const Case& c : cases) {
        const BesidePlaces at = PlacesBeside(c.anchor, bench, c.available);
        EXPECT_EQ(at.anchor, c.anchorAfter) << c.name;
        EXPECT_EQ(at.companion, c.expected) << c.name;
        EXPECT_TRUE(c.available.contains(QRect(at.companion, bench))) << c.name;
        const QRect anchor(at.anchor, c.anchor.size());
        EXPECT_EQ(anchor.intersects(QRect(at.companion, bench)), c.overlaps) << c.name;
        if (at.anchor != c.anchor.topLeft()) {
            EXPECT_TRUE(c.available.contains(anchor)) << c.name;
        }
    }
}

TEST(OnScreen, AFrameComesWhollyOntoTheAreaShrunkNoLessThanItsLeast) {
    const QRect screen768(0, 0, 1366, 740);  // 1366 x 768 less a taskbar
    const QRect belowPanel(0, 28, 1920, 1052);
    struct Case {
        const char* name;
        QRect frame;
        QSize least;
        QRect available;
        QRect expected;
    };
    using R = QRect;
    // A window taller than the screen is made shorter, at its top; one whose least size is
    // larger keeps its title bar on the screen.
    const std::vector<Case> cases{
        {"fits: stays", R(100, 100, 600, 400), {300, 200}, screen768, R(100, 100, 600, 400)},
        {"below: moved up", R(800, 831, 532, 295), {532, 295}, screen768, R(800, 445, 532, 295)},
        {"too tall: shorter", R(10, 10, 642, 854), {462, 112}, screen768, R(10, 0, 642, 740)},
        {"too wide: narrower", R(-400, 40, 2000, 300), {600, 200}, screen768, R(0, 40, 1366, 300)},
        {"kept above a panel", R(50, 0, 600, 400), {600, 400}, belowPanel, R(50, 28, 600, 400)},
        {"least too tall", R(300, 300, 900, 900), {900, 800}, screen768, R(300, 0, 900, 800)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OnScreen(c.frame, c.least, c.available), c.expected) << c.name;
}

}  // namespace
}  // namespace tq::testing
