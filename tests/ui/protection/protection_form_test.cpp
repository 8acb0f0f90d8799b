// The Output Protection window over the recording adapter: what Apply hands the instrument, what
// it refuses (changing nothing), and how it follows limits that a remote client sets.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <optional>

#include "tests/support/RowNames.h"
#include "tests/support/TestContext.h"
#include "tests/support/WidgetFinder.h"
#include "ui/protection/ProtectionForm.h"

namespace tq::testing {
namespace {

class ProtectionFormTest : public ::testing::Test {
protected:
    ProtectionFormTest() : form(t.context) { form.show(); }

    QLineEdit* Box(const char* what, int channel) {
        auto* box = form.findChild<QLineEdit*>(QStringLiteral("Text%1%2").arg(what).arg(channel));
        EXPECT_NE(box, nullptr) << what << channel;
        return box;
    }
    QCheckBox* Check(const char* name) { return form.findChild<QCheckBox*>(name); }
    // A click on the box itself (the widget is as wide as the window, its text is not).
    void Tick(const char* name) {
        QCheckBox* check = Check(name);
        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, check->height() / 2));
    }
    // As a user types: the box's old text selected and replaced.
    static void Type(QLineEdit* box, const QString& text) {
        box->setFocus();
        TypeOver(box, text);
    }
    void Apply() { QTest::mouseClick(form.findChild<QPushButton*>("CmdApply"), Qt::LeftButton); }
    std::array<ChannelLimits, kChannelCount> AllLimits() const {
        std::array<ChannelLimits, kChannelCount> all{};
        for (int16_t ch = 0; ch < kChannelCount; ++ch)
            all[static_cast<std::size_t>(ch)] = t.instrument.Limits(ch);
        return all;
    }

    TestContext t;
    ProtectionForm form;
};

TEST_F(ProtectionFormTest, OpensWithNothingSetAndItsNames) {
    EXPECT_EQ(form.windowTitle(), "Output Protection");
    for (int ch = 0; ch < kChannelCount; ++ch)
        for (const char* what : {"Low", "High", "Step", "Wait"})
            EXPECT_EQ(Box(what, ch)->text(), "") << what << ch;
    for (const char* name : {"CheckOnExit", "CheckOnLastClient", "CheckOnBoardBack"}) {
        ASSERT_NE(Check(name), nullptr) << name;
        EXPECT_FALSE(Check(name)->isChecked()) << name;
    }
    EXPECT_EQ(form.findChild<QLabel*>("LabelChannel1")->text(), "DAC B");
}

struct ApplyCase {
    int channel;
    const char *low, *high, *step, *wait;
    ChannelLimits expected;
    const char *shownLow, *shownHigh, *shownStep, *shownWait;  // as the boxes show it after
};

class ProtectionFormApply : public ProtectionFormTest,
                            public ::testing::WithParamInterface<ApplyCase> {};

TEST_P(ProtectionFormApply, HandsTheTypedLimitsToTheInstrumentAndShowsThemBack) {
    const ApplyCase& c = GetParam();
    Type(Box("Low", c.channel), QString::fromLatin1(c.low));
    Type(Box("High", c.channel), QString::fromLatin1(c.high));
    Type(Box("Step", c.channel), QString::fromLatin1(c.step));
    Type(Box("Wait", c.channel), QString::fromLatin1(c.wait));
    // Enter in any box applies, as the button does.
    QTest::keyClick(Box("Wait", c.channel), Qt::Key_Return);
    std::array<ChannelLimits, kChannelCount> expected{};
    expected[static_cast<std::size_t>(c.channel)] = c.expected;
    EXPECT_EQ(AllLimits(), expected);
    EXPECT_EQ(Box("Low", c.channel)->text(), c.shownLow);
    EXPECT_EQ(Box("High", c.channel)->text(), c.shownHigh);
    EXPECT_EQ(Box("Step", c.channel)->text(), c.shownStep);
    EXPECT_EQ(Box("Wait", c.channel)->text(), c.shownWait);
    EXPECT_EQ(form.findChild<QLabel*>("LabelStatus")->text(), "Applied: limits in effect");
    EXPECT_TRUE(t.messages.messages.empty());
    // Setting limits sends nothing to the board.
    EXPECT_TRUE(t.adapter.calls.empty());

    for (const char* what : {"Low", "High", "Step", "Wait"})
        Type(Box(what, c.channel), QString());
    Apply();
    EXPECT_EQ(AllLimits(), (std::array<ChannelLimits, kChannelCount>{}));
    EXPECT_EQ(form.findChild<QLabel*>("LabelStatus")->text(), "Applied: no limits");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProtectionFormApply,
    ::testing::Values(
        ApplyCase{1, "-2", "2", "", "", {-2.0, 2.0, std::nullopt, 0.0}, "-2", "2", "", ""},
        ApplyCase{0, "-5", "5", "0.5", "0.1", {-5.0, 5.0, 0.5, 0.1}, "-5", "5", "0.5", "0.1"},
        // Blanks and spaces around the number; a limit on one side only.
        ApplyCase{
            2, " ", " 1.5 ", "", "", {std::nullopt, 1.5, std::nullopt, 0.0}, "", "1.5", "", ""},
        ApplyCase{3,
                  "-10.5263",
                  "10.5263",
                  "21",
                  "10",
                  {-10.5263, 10.5263, 21.0, 10.0},
                  "-10.5263",
                  "10.5263",
                  "21",
                  "10"},
        // Shown in the shortest form that reads back as the same number.
        ApplyCase{1,
                  "-2e0",
                  "1.2345678",
                  "",
                  "",
                  {-2.0, 1.2345678, std::nullopt, 0.0},
                  "-2",
                  "1.2345678",
                  "",
                  ""},
        // 0 V as a limit holds the output at 0 V or on one side of it.
        ApplyCase{2, "0", "0", "", "", {0.0, 0.0, std::nullopt, 0.0}, "0", "0", "", ""}),
    (tq::testing::NamedBy<&ApplyCase::channel, &ApplyCase::low, &ApplyCase::high, &ApplyCase::step,
                          &ApplyCase::wait>{}));

struct RefusalCase {
    int channel;
    const char* box;
    const char* typed;
    const char* says;      // the start of the box's text
    bool emptied = false;  // no number at all, or a decimal comma: the box is emptied
};

class ProtectionFormRefusal : public ProtectionFormTest,
                              public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ProtectionFormRefusal, ARefusedValueChangesNothingAndSaysWhy) {
    const RefusalCase& c = GetParam();
    const ChannelLimits before{-5.0, 5.0, 1.0, 0.2};
    t.instrument.SetLimits(0, before);
    form.hide();
    form.show();  // opens on what is in effect
    // A good change in another channel and an option go with the bad value: neither is applied.
    const int other = (c.channel + 1) % kChannelCount;
    Type(Box("High", other), QStringLiteral("3"));
    Tick("CheckOnExit");
    Type(Box(c.box, c.channel), QString::fromLatin1(c.typed));
    Apply();

    std::array<ChannelLimits, kChannelCount> expected{};
    expected[0] = before;
    EXPECT_EQ(AllLimits(), expected);
    EXPECT_EQ(t.instrument.ProtectionOptionsInEffect(), ProtectionOptions{});
    ASSERT_EQ(t.messages.messages.size(), 1u);
    const auto& box = t.messages.messages[0];
    EXPECT_EQ(box.icon, MessageIcon::Warning);
    EXPECT_EQ(box.title, "Output Protection");
    EXPECT_TRUE(box.text.startsWith(QString::fromLatin1(c.says))) << box.text.toStdString();
    EXPECT_EQ(form.findChild<QLabel*>("LabelStatus")->text(), "Not applied");
    // What was typed stays to be mended, unless it held no number or a decimal comma.
    EXPECT_EQ(Box(c.box, c.channel)->text(),
              c.emptied ? QString() : QString::fromLatin1(c.typed).trimmed());
    if (c.emptied) {
        EXPECT_EQ(form.focusWidget(), Box(c.box, c.channel));
    }
    EXPECT_EQ(Box("High", other)->text(), "3");
    EXPECT_TRUE(t.adapter.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProtectionFormRefusal,
    ::testing::Values(
        RefusalCase{1, "Low", "1",
                    "The limits were not changed: DAC B: the low limit 1 V is above 0 V; the "
                    "window must hold 0 V, the safe state"},
        RefusalCase{2, "High", "-0.5",
                    "The limits were not changed: DAC C: the high limit -0.5 V is below 0 V"},
        RefusalCase{1, "High", "20",
                    "The limits were not changed: DAC B: the high limit must lie within "
                    "-10.5263 V to 10.5263 V"},
        RefusalCase{1, "High", "nan",
                    "The limits were not changed: DAC B high limit: 'nan' is not a number of volts",
                    true},
        RefusalCase{3, "Step", "0",
                    "The limits were not changed: DAC D: the ramp step must be above 0 V"},
        RefusalCase{0, "Step", "-1", "The limits were not changed: DAC A: the ramp step must"},
        RefusalCase{3, "Wait", "11",
                    "The limits were not changed: DAC D: the wait between ramp steps must lie "
                    "within 0 s to 10 s"},
        RefusalCase{2, "Wait", "-0.1", "The limits were not changed: DAC C: the wait between"},
        RefusalCase{1, "Low", "abc",
                    "The limits were not changed: DAC B low limit: 'abc' is not a number of "
                    "volts",
                    true},
        RefusalCase{0, "Wait", "s1",
                    "The limits were not changed: DAC A wait between steps: 's1' is not a "
                    "number of seconds",
                    true},
        RefusalCase{2, "High", "2,5", "The limits were not changed: DAC C high limit: '2,5'", true},
        // Not a thousand-step of 1 V: a decimal comma is refused, not taken as a separator.
        RefusalCase{1, "Step", "0,001", "The limits were not changed: DAC B ramp step: '0,001'",
                    true},
        RefusalCase{0, "Low", "-", "The limits were not changed: DAC A low limit: '-'", true}),
    (tq::testing::NamedBy<&RefusalCase::channel, &RefusalCase::box, &RefusalCase::typed>{}));

TEST_F(ProtectionFormTest, AppliesEachOptionAndFocusesTheRefusedBox) {
    struct Case {
        const char* check;
        ProtectionOptions expected;
    };
    for (const Case& c : std::vector<Case>{{"CheckOnExit", {true, false, false}},
                                           {"CheckOnLastClient", {false, true, false}},
                                           {"CheckOnBoardBack", {false, false, true}}}) {
        Tick(c.check);
        Apply();
        EXPECT_EQ(t.instrument.ProtectionOptionsInEffect(), c.expected) << c.check;
        Tick(c.check);
        Apply();
        EXPECT_EQ(t.instrument.ProtectionOptionsInEffect(), ProtectionOptions{}) << c.check;
    }
    Type(Box("Step", 2), QStringLiteral("x"));
    Apply();
    EXPECT_EQ(form.focusWidget(), Box("Step", 2));
}

TEST_F(ProtectionFormTest, FollowsWhatARemoteClientSetsButKeepsWhatIsBeingTyped) {
    const int remote = 0;
    Type(Box("High", 1), QStringLiteral("1"));  // typed, not applied
    Tick("CheckOnExit");
    {
        const Instrument::Origin session(t.instrument, &remote);
        t.instrument.SetLimits(2, {-3.0, 3.0, 0.25, 0.5});
        t.instrument.SetLimits(1, {-4.0, 4.0, std::nullopt, 0.0});
        t.instrument.SetProtectionOptions({false, true, false});
    }
    EXPECT_EQ(Box("Low", 2)->text(), "-3");
    EXPECT_EQ(Box("High", 2)->text(), "3");
    EXPECT_EQ(Box("Step", 2)->text(), "0.25");
    EXPECT_EQ(Box("Wait", 2)->text(), "0.5");
    EXPECT_EQ(Box("Low", 1)->text(), "-4");
    EXPECT_EQ(Box("High", 1)->text(), "1");
    EXPECT_TRUE(Check("CheckOnExit")->isChecked());
    EXPECT_FALSE(Check("CheckOnLastClient")->isChecked());
    // Reopened, the window shows what is in effect.
    form.hide();
    form.show();
    EXPECT_EQ(Box("High", 1)->text(), "4");
    EXPECT_FALSE(Check("CheckOnExit")->isChecked());
    EXPECT_TRUE(Check("CheckOnLastClient")->isChecked());
}

}  // namespace
}  // namespace tq::testing
