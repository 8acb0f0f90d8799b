#include "ui/widgets/Toggle.h"

#include <gtest/gtest.h>
#include <QSignalSpy>
#include <QTest>

#include "tests/support/TestContext.h"

namespace tq::testing {
namespace {

struct ToggleFixture : ::testing::Test {
    ToggleFixture() {
        toggle.resize(toggle.sizeHint());
        toggle.show();
    }
    QApplication& app = App();
    Toggle toggle{QStringLiteral("D1 - Input"), QStringLiteral("D1 - Output")};
};

TEST_F(ToggleFixture, StartsInTheFalseStateShowingTheFirstCaption) {
    EXPECT_FALSE(toggle.State());
    EXPECT_EQ(toggle.text(), QStringLiteral("D1 - Input"));
}

TEST_F(ToggleFixture, SettingTheStateFromCodeShowsItsCaptionAndRaisesNothing) {
    QSignalSpy changed(&toggle, &Toggle::Changed);
    struct Case {
        bool state;
        const char* caption;
    };
    for (const Case& c : {Case{true, "D1 - Output"}, Case{true, "D1 - Output"},
                          Case{false, "D1 - Input"}, Case{true, "D1 - Output"}}) {
        toggle.SetState(c.state);
        EXPECT_EQ(toggle.State(), c.state);
        EXPECT_EQ(toggle.text(), QString::fromLatin1(c.caption));
    }
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(ToggleFixture, AUserFlipRaisesChangedOnceWithTheNewStateAlreadySet) {
    std::vector<bool> seen;
    QObject::connect(&toggle, &Toggle::Changed, [&] { seen.push_back(toggle.State()); });
    QTest::mouseClick(&toggle, Qt::LeftButton);
    ASSERT_EQ(seen, std::vector<bool>{true});
    EXPECT_EQ(toggle.text(), QStringLiteral("D1 - Output"));
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    EXPECT_EQ(toggle.text(), QStringLiteral("D1 - Input"));
}

TEST_F(ToggleFixture, TheSpaceKeyFlipsTheFocusedSwitch) {
    QSignalSpy changed(&toggle, &Toggle::Changed);
    toggle.setFocus();
    QTest::keyClick(&toggle, Qt::Key_Space);
    EXPECT_TRUE(toggle.State());
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(ToggleFixture, ADisabledSwitchIgnoresClicksAndKeys) {
    QSignalSpy changed(&toggle, &Toggle::Changed);
    toggle.setEnabled(false);
    QTest::mouseClick(&toggle, Qt::LeftButton);
    toggle.click();
    QTest::keyClick(&toggle, Qt::Key_Space);
    EXPECT_FALSE(toggle.State());
    EXPECT_EQ(changed.count(), 0);
    toggle.setEnabled(true);
    toggle.click();
    EXPECT_TRUE(toggle.State());
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(ToggleFixture, IsWideEnoughForItsLongerCaption) {
    const QFontMetrics fm(toggle.font());
    EXPECT_GT(toggle.sizeHint().width(), fm.horizontalAdvance(QStringLiteral("D1 - Output")));
}

TEST_F(ToggleFixture, OnOffAndDisabledEachLookDifferent) {
    const QImage off = toggle.grab().toImage();
    toggle.SetState(true);
    const QImage on = toggle.grab().toImage();
    toggle.setEnabled(false);
    const QImage onDisabled = toggle.grab().toImage();
    EXPECT_NE(off, on);
    EXPECT_NE(on, onDisabled);
}

}  // namespace
}  // namespace tq::testing
