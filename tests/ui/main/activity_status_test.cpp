// What the main window shows of the activities running in the background, the way back to their
// windows, and its menus and Tab order as a desktop program's.

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <string>
#include <vector>

#include "instrument/ListRun.h"
#include "instrument/MeterRun.h"
#include "instrument/Ramp.h"
#include "instrument/TemperatureLog.h"
#include "tests/support/ShownActivity.h"
#include "tests/support/TestContext.h"
#include "ui/main/ActivityStatus.h"
#include "ui/main/MainForm.h"
#include "ui/widgets/ElidedLabel.h"

namespace tq::testing {
namespace {

TEST(ActivityStatusText, NamesTheActivityItsChannelsAndItsProgress) {
    struct Case {
        const ActivityKind& kind;
        std::vector<int16_t> channels;
        int64_t done;
        int64_t total;
        bool remote;
        const char* shown;
    };
    const std::vector<Case> cases{
        {kWaveformRunKind, {0, 2}, 120, 600, false, "Waveform run 120/600"},
        {kWaveformRunKind, {0}, 42, 0, false, "Waveform run 42 steps"},
        {kListRunKind, {0}, 0, 0, true, "Waveform run (remote)"},
        {kTemperatureLogKind, {}, 42, 0, false, "Temperature log 42 readings"},
        {kTemperatureLogKind, {}, 1, 0, false, "Temperature log 1 reading"},
        {kLinearityTestKind, {0}, 12, 257, false, "Linearity test DAC A 12/257"},
        {kAutomaticCalibrationKind,
         {0, 1, 2, 3},
         3,
         16,
         true,
         "Automatic calibration DAC A-D 3/16 (remote)"},
        {kAutomaticCalibrationKind, {1, 3}, 0, 8, false, "Automatic calibration DAC B, D 0/8"},
        {kRampKind, {1}, 3, 20, false, "Ramp 3/20"},
    };
    TestContext ctx;
    for (const Case& c : cases) {
        ShownActivity activity(c.kind, c.channels);
        ctx.instrument.BeginActivity(activity);
        ctx.instrument.AdvanceActivity(activity, c.done, c.total);
        EXPECT_EQ(ActivityStatusText(activity, c.remote), c.shown) << c.shown;
        ctx.instrument.EndActivity(activity);
    }
}

TEST(ActivityStatusText, EachActivityOpensTheWindowThatStopsIt) {
    const auto window = [](const ActivityKind& kind) {
        return ActivityWindow(ShownActivity(kind));
    };
    EXPECT_EQ(window(kWaveformRunKind), WindowId::Waveform);
    EXPECT_EQ(window(kTemperatureLogKind), WindowId::TemperatureLog);
    EXPECT_EQ(window(kLinearityTestKind), WindowId::Meter);
    EXPECT_EQ(window(kAutomaticCalibrationKind), WindowId::Meter);
    EXPECT_EQ(window(kRampKind), std::nullopt);
}

struct MainWindowFixture : ::testing::Test {
    MainWindowFixture() {
        ctx.adapter.QueueRegisterRead(0);
        EXPECT_TRUE(form.Load());
        ctx.adapter.Clear();
        form.show();
        QApplication::processEvents();
    }
    ElidedLabel* ActivityLabel(int n) {
        return form.findChild<ElidedLabel*>(QStringLiteral("StatusActivity%1").arg(n));
    }
    TestContext ctx;
    MainForm form{ctx.context};
};

// Two runs, one of them a remote client's, each named with its progress in the status bar; a
// click on one opens its window; the texts go when the runs end.
TEST_F(MainWindowFixture, TheStatusBarShowsEachRunningActivityAndOpensItsWindow) {
    ShownActivity log(kTemperatureLogKind);
    ShownActivity client(kLinearityTestKind, {0});
    ctx.instrument.BeginActivity(log);
    {
        int remoteClient = 0;
        const Instrument::Origin remote(ctx.instrument, &remoteClient);
        ctx.instrument.BeginActivity(client, 257);
    }
    ctx.instrument.AdvanceActivity(log, 42, 0);
    ctx.instrument.AdvanceActivity(client, 12, 257);
    // Progress shows a few times a second, not at every step.
    EXPECT_EQ(ActivityLabel(1)->text(), "Temperature log 0 readings");
    QTest::qWait(300);
    ASSERT_NE(ActivityLabel(2), nullptr);
    EXPECT_TRUE(ActivityLabel(1)->isVisible());
    EXPECT_EQ(ActivityLabel(1)->text(), "Temperature log 42 readings");
    EXPECT_EQ(ActivityLabel(2)->text(), "Linearity test DAC A 12/257 (remote)");
    EXPECT_TRUE(ActivityLabel(2)->toolTip().contains("Click to open its window"));

    QTest::mouseClick(ActivityLabel(1), Qt::LeftButton);
    QTest::mouseClick(ActivityLabel(2), Qt::LeftButton);
    EXPECT_EQ(ctx.opened, (std::vector<QString>{"TemperatureLogForm", "MeterForm"}));

    ctx.instrument.EndActivity(log);
    EXPECT_EQ(ActivityLabel(1)->text(), "Linearity test DAC A 12/257 (remote)");
    EXPECT_FALSE(ActivityLabel(2)->isVisible());
    ctx.instrument.EndActivity(client);
    EXPECT_FALSE(form.findChild<QWidget*>(QStringLiteral("StatusActivities"))->isVisible());
    EXPECT_TRUE(ctx.adapter.calls.empty());
}

// File, Protection, Tools, Help, then Direct Read/Write; the windows this program adds are in
// Tools with the object names they always had; Exit is Ctrl+Q.
TEST_F(MainWindowFixture, MenusInTheirOrderWithTheToolsTogether) {
    std::vector<std::string> bar;
    for (QAction* action : form.menuBar()->actions())
        bar.push_back(action->objectName().toStdString());
    EXPECT_EQ(
        bar, (std::vector<std::string>{"MnuFile", "MnuProtect", "MnuTools", "MnuHelp", "MnuTest"}));
    QMenu* tools = form.menuBar()->actions()[2]->menu();
    ASSERT_NE(tools, nullptr);
    std::vector<std::string> items;
    for (QAction* action : tools->actions()) {
        items.push_back(action->objectName().toStdString());
        EXPECT_FALSE(action->toolTip().isEmpty()) << items.back();
    }
    // The test context has no waveform run, meter or simulated bench.
    EXPECT_EQ(items, (std::vector<std::string>{"MnuVout", "MnuTemperatureLog"}));
    auto* exit = form.findChild<QAction*>(QStringLiteral("MnuExit"));
    EXPECT_EQ(exit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

// Tab goes through the composer's row left to right, then on to the next frame, not from the
// data box down to Measure.
TEST_F(MainWindowFixture, TabFollowsReadingOrder) {
    const auto next = [&](const char* name) {
        QWidget* w = form.findChild<QWidget*>(QLatin1String(name));
        do {
            w = w->nextInFocusChain();
        } while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(&form) || !w->isEnabled());
        return w->objectName().toStdString();
    };
    EXPECT_EQ(next("ComboReg"), "ComboAddr");
    EXPECT_EQ(next("ComboAddr"), "Command1");
    EXPECT_EQ(next("Command1"), "TextVolts");
    EXPECT_EQ(next("TextVolts"), "TextData");
    EXPECT_EQ(next("TextData"), "Command2");
    EXPECT_EQ(next("Command2"), "Toggle1");  // the next frame's first switch
    EXPECT_EQ(next("Command7"), "Command8");
}

}  // namespace
}  // namespace tq::testing
