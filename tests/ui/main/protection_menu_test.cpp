// The main window's side of the output protection: the Safe State item and its key, with the
// traffic it sends; the protection window's item; the limits and a running ramp in the status
// bar; a refusal of any origin named there.

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <string>
#include <vector>

#include "instrument/Waveform.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TestContext.h"
#include "tests/support/WidgetFinder.h"
#include "ui/main/MainForm.h"

namespace tq::testing {
namespace {

using Requests = std::vector<std::string>;

struct ProtectionMenu : ::testing::Test {
    ProtectionMenu() {
        ctx.context.waveform = &waveform;
        form = std::make_unique<MainForm>(ctx.context);
        ctx.adapter.QueueRegisterRead(0);
        EXPECT_TRUE(form->Load());
        ctx.instrument.SetRampTimer(&rampTimer);
        ctx.adapter.Clear();
    }
    ~ProtectionMenu() override { ctx.instrument.SetRampTimer(nullptr); }
    template <typename T>
    T* Find(const char* name) {
        return FindChild<T>(*form, name);
    }
    QLabel* Label(const char* name) { return Find<QLabel>(name); }
    bool Shown(const char* name) { return Label(name)->isVisibleTo(form.get()); }

    TestContext ctx;
    FakeClock runTimer;
    WaveformRun waveform{ctx.instrument, runTimer};
    FakeClock rampTimer;
    std::unique_ptr<MainForm> form;
};

TEST_F(ProtectionMenu, SafeStateStopsTheRunAndSendsEveryChannelToZeroThenOneLoad) {
    auto* safe = Find<QAction>("MnuSafeState");
    EXPECT_EQ(safe->text(), "&Safe State");
    EXPECT_EQ(safe->shortcut(), QKeySequence(QStringLiteral("Ctrl+0")));
    // The way back to 0 V works from every window of the program, not only this one.
    EXPECT_EQ(safe->shortcutContext(), Qt::ApplicationShortcut);
    struct Case {
        int16_t binaryCoding;
        int16_t resolution;
        int zero;  // the 16-bit frame of 0 V
    };
    for (const Case& c : std::vector<Case>{{1, 16, 32768}, {0, 16, 0}, {1, 14, 32768}}) {
        ctx.state.BinaryCoding = c.binaryCoding;
        ctx.state.Resolution = c.resolution;
        WavePlan plan;
        plan.channels.push_back(ChannelWave{});
        waveform.Start(plan);
        ctx.adapter.Clear();
        safe->trigger();
        EXPECT_FALSE(waveform.Running());
        const std::string zero = " " + std::to_string(c.zero) + " 0 0";
        EXPECT_EQ(ctx.adapter.Requests(), (Requests{"DD 16" + zero, "DD 17" + zero, "DD 18" + zero,
                                                    "DD 19" + zero, "DD 5 0 0 0"}))
            << c.binaryCoding << " " << c.resolution;
        EXPECT_EQ(form->statusBar()->currentMessage(), "Safe State: every output at 0 V");
        EXPECT_TRUE(ctx.messages.messages.empty());
    }
}

TEST_F(ProtectionMenu, SafeStateRampsWhereARampIsSetAndShowsItRunning) {
    ctx.instrument.SetPulseAfterDataWrite(true);
    for (const auto& [reg, value] : std::vector<std::pair<int16_t, int32_t>>{
             {kRegCoarseGain, 0}, {kRegFineGain, 0}, {kRegOffset, 0}, {kRegData, 0x8000}})
        ctx.instrument.WriteRegister(kAllChannels, reg, value);
    ctx.instrument.WriteRegister(2, kRegData, 0x2000);  // DAC C at -7.5 V
    ctx.instrument.SetLimits(2, {std::nullopt, std::nullopt, 3.0, 0.5});
    EXPECT_FALSE(Shown("StatusRamping"));
    ctx.adapter.Clear();
    Find<QAction>("MnuSafeState")->trigger();
    // Three steps of 2.5 V: the first at once, the others on the ramp's timer.
    EXPECT_EQ(ctx.adapter.Requests(), (Requests{"DD 18 16384 0 0", "DD 5 0 0 0"}));
    EXPECT_EQ(form->statusBar()->currentMessage(), "Safe State: every output ramping to 0 V");
    EXPECT_TRUE(Shown("StatusRamping"));
    EXPECT_EQ(Label("StatusRamping")->text(), QStringLiteral("Ramping\u2026"));
    ASSERT_TRUE(rampTimer.wake.has_value());
    EXPECT_DOUBLE_EQ(*rampTimer.wake, 0.5);
    ctx.instrument.RampStep();
    ctx.instrument.RampStep();
    EXPECT_EQ(ctx.adapter.Requests(), (Requests{"DD 18 16384 0 0", "DD 5 0 0 0", "DD 18 24576 0 0",
                                                "DD 5 0 0 0", "DD 18 32768 0 0", "DD 5 0 0 0"}));
    EXPECT_FALSE(Shown("StatusRamping"));
    // Once the ramp has ended the message no longer says it runs.
    EXPECT_EQ(form->statusBar()->currentMessage(), "Safe State: every output at 0 V");
}

TEST_F(ProtectionMenu, ASafeStateThatFailsSaysWhy) {
    ctx.adapter.requestResult = -1;
    Find<QAction>("MnuSafeState")->trigger();
    ASSERT_EQ(ctx.messages.messages.size(), 1u);
    EXPECT_EQ(ctx.messages.messages[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(ctx.messages.messages[0].text.startsWith("The outputs were not brought to 0 V: "))
        << ctx.messages.messages[0].text.toStdString();
}

TEST_F(ProtectionMenu, TheKeyWorksFromAnotherWindow) {
    form->show();
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    QTest::keyClick(&other, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(ctx.adapter.Requests().size(), 5u);
    EXPECT_EQ(ctx.adapter.Requests().back(), "DD 5 0 0 0");
}

TEST_F(ProtectionMenu, OutputProtectionOpensItsWindow) {
    auto* item = Find<QAction>("MnuProtection");
    EXPECT_EQ(item->text(), "Output &Protection...");
    ctx.opened.clear();
    item->trigger();
    EXPECT_EQ(ctx.opened, std::vector<QString>{QStringLiteral("ProtectionForm")});
    EXPECT_TRUE(ctx.adapter.calls.empty());
}

TEST_F(ProtectionMenu, TheStatusBarShowsTheLimitsWhileAnyAreSet) {
    using Limits = std::array<ChannelLimits, kChannelCount>;
    struct Case {
        Limits limits;
        const char* shown;  // empty: hidden
    };
    const ChannelLimits two{-2.0, 2.0, std::nullopt, 0.0};
    const ChannelLimits ramp{std::nullopt, std::nullopt, 0.5, 0.1};
    const ChannelLimits wide{-10.5263, 10.5263, 0.001, 9.5};
    for (const Case& c : std::vector<Case>{
             {{}, ""},
             {{ChannelLimits{}, two, ChannelLimits{}, ChannelLimits{}}, "Limits: B -2 V to 2 V"},
             {{two, ramp, two, ChannelLimits{}},
              "Limits: A, C -2 V to 2 V; B ramp 0.5 V every 0.1 s"},
             {{two, two, two, two}, "Limits: A, B, C, D -2 V to 2 V"},
             // Too many to read in the bar: the channels only.
             {{wide, two, ramp, ChannelLimits{0.0, 1.0, 0.25, 2.0}},
              "Limits on A, B, C, D (see Protection)"},
             {{}, ""}}) {
        for (int16_t ch = 0; ch < kChannelCount; ++ch)
            ctx.instrument.SetLimits(ch, c.limits[static_cast<std::size_t>(ch)]);
        const bool any = *c.shown != '\0';
        EXPECT_EQ(Shown("StatusLimits"), any) << c.shown;
        if (any) {
            EXPECT_EQ(Label("StatusLimits")->text(), c.shown);
        }
    }
    ctx.instrument.SetLimits(3, two);
    EXPECT_EQ(Label("StatusLimits")->toolTip(), "DAC D: -2 V to 2 V");
}

TEST_F(ProtectionMenu, ARefusalOfAnyOriginIsNamedInTheStatusBar) {
    ctx.instrument.SetLimits(1, {-2.0, 2.0, std::nullopt, 0.0});
    const int session = 0;
    const Instrument::Origin remote(ctx.instrument, &session);
    EXPECT_THROW(ctx.instrument.SetChannelVoltage(1, 3.0f), LimitError);
    EXPECT_EQ(form->statusBar()->currentMessage(), "Refused: DAC B: 3 V is above its limit of 2 V");
}

}  // namespace
}  // namespace tq::testing
