#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTest>
#include <optional>

#include "tests/support/Requests.h"
#include "tests/support/RowNames.h"
#include "tests/support/TestContext.h"
#include "ui/auxiliary/VoutForm.h"

namespace tq::testing {
namespace {

class VoutFormTest : public ::testing::Test {
protected:
    VoutFormTest() : form(tc.context) { form.show(); }

    QLineEdit* Box(int channel) {
        return form.findChild<QLineEdit*>(QStringLiteral("Text%1").arg(channel + 1));
    }

    // Types `text` into the channel's box and presses Enter, the range register reading `range`.
    void Enter(int channel, const QString& text, uint16_t range) {
        tc.adapter.QueueRegisterRead(range);
        Box(channel)->setText(text);
        QTest::keyClick(Box(channel), Qt::Key_Return);
    }

    static std::string RangeRead(int channel) { return Read(152 + channel); }
    static std::string DataWrite(int channel, int code) { return Write(16 + channel, code); }

    TestContext tc;
    VoutForm form;
};

// The boxes open on what the program knows of each channel's output, not on a design-time 0
// that would drive the channel to 0 V on Enter: nothing is known here, so every box is empty.
TEST_F(VoutFormTest, StartsWithItsDesignTextsAndEmptyBoxesForUnknownChannels) {
    EXPECT_EQ(form.windowTitle(), "Program Output Voltage");
    // The design's 528 x 268 and the status line under it.
    EXPECT_EQ(form.size(), QSize(528, 291));
    EXPECT_EQ(form.RangeLimit, 0.0f);
    for (int channel = 0; channel < 4; ++channel)
        EXPECT_EQ(Box(channel)->text(), "") << channel;
    EXPECT_TRUE(tc.adapter.calls.empty());
}

struct VoltsCase {
    int16_t coding;  // 1 offset binary, 0 two's complement
    uint16_t range;
    const char* typed;
    const char* shown;
    int code;  // -1: refused before anything is sent, the box emptied and focused
};
void PrintTo(const VoltsCase& c, std::ostream* os) {
    *os << "coding " << c.coding << ", range " << c.range << ", \"" << c.typed << '"';
}

class VoutFormVolts : public VoutFormTest, public ::testing::WithParamInterface<VoltsCase> {};

TEST_P(VoutFormVolts, LimitsShowsAndWritesTheCode) {
    const VoltsCase& c = GetParam();
    tc.state.BinaryCoding = c.coding;
    // The main window's composer shows DAC D's offset; this window names its own channel.
    tc.state.Address = 3;
    tc.state.RegSelect = 5;
    Box(0)->clearFocus();
    Enter(0, QString::fromLatin1(c.typed), c.range);
    EXPECT_EQ(Box(0)->text(), c.shown);
    const std::vector<std::string> sent =
        c.code < 0 ? std::vector<std::string>{}
                   : std::vector<std::string>{RangeRead(0), RangeRead(0), DataWrite(0, c.code)};
    EXPECT_EQ(tc.adapter.Requests(), sent);
    EXPECT_EQ(form.focusWidget() == Box(0), c.code < 0);
    EXPECT_EQ(tc.state.Address, 3);
    EXPECT_EQ(tc.state.RegSelect, 5);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, VoutFormVolts,
    ::testing::Values(VoltsCase{1, 0, "5", "5", 49152}, VoltsCase{1, 0, "-5", "-5", 16384},
                      VoltsCase{1, 0, "0", "0", 32768}, VoltsCase{1, 0, "12", "10", 65535},
                      VoltsCase{1, 0, "-12", "-10", 0},
                      VoltsCase{1, 2, "10.5263", "10.5263", 65535},
                      VoltsCase{1, 2, "-10.5263", "-10.5263", 0},
                      VoltsCase{1, 1, "10", "10", 0xFCCD}, VoltsCase{1, 1, "-20", "-10.2564", 0},
                      // No number, or a decimal comma, is refused; other texts keep their reading.
                      VoltsCase{1, 0, "abc", "", -1}, VoltsCase{1, 0, "1,5", "", -1},
                      VoltsCase{1, 0, "-2,5", "", -1}, VoltsCase{1, 0, ".", "", -1},
                      VoltsCase{1, 0, "12V", "10", 65535}, VoltsCase{1, 0, "1 5", "10", 65535},
                      VoltsCase{1, 0, "2.5.7", "2.5", 40960},
                      // Shown rounded to five decimals, coded from the unrounded value.
                      VoltsCase{1, 0, "3.14159265", "3.14159", 43062},
                      // Two's complement codes what the board is set to decode.
                      VoltsCase{0, 0, "5", "5", 0x4000}, VoltsCase{0, 0, "-5", "-5", 0xC000},
                      VoltsCase{0, 0, "0", "0", 0}, VoltsCase{0, 0, "10", "10", 0x7FFF},
                      VoltsCase{0, 0, "-10", "-10", 0x8000}),
    (tq::testing::NamedBy<&VoltsCase::coding, &VoltsCase::range, &VoltsCase::typed,
                          &VoltsCase::shown>{}));

TEST_F(VoutFormTest, CodesSixteenBitsEvenForTheFourteenBitDevice) {
    tc.state.Resolution = 14;
    Enter(1, QStringLiteral("5"), 0);
    EXPECT_EQ(tc.adapter.Requests().back(), DataWrite(1, 49152));
}

TEST_F(VoutFormTest, EachBoxServesItsOwnChannel) {
    for (int channel = 0; channel < 4; ++channel) {
        tc.adapter.Clear();
        Enter(channel, QStringLiteral("-5"), 0);
        EXPECT_EQ(tc.adapter.Requests(),
                  (std::vector<std::string>{RangeRead(channel), RangeRead(channel),
                                            DataWrite(channel, 16384)}))
            << "channel " << channel;
    }
}

TEST_F(VoutFormTest, FirstEnterWithAnUnknownRangeEmptiesTheBoxWithoutWriting) {
    Enter(2, QStringLiteral("5"), 3);
    EXPECT_EQ(Box(2)->text(), "");
    EXPECT_EQ(form.focusWidget(), Box(2));
    EXPECT_EQ(tc.adapter.Requests(), (std::vector<std::string>{RangeRead(2), RangeRead(2)}));
}

TEST_F(VoutFormTest, AnUnknownRangeKeepsTheRangeOfThePreviousEnterInAnyBox) {
    Enter(0, QStringLiteral("1"), 2);
    tc.adapter.Clear();
    Enter(3, QStringLiteral("20"), 3);
    EXPECT_EQ(Box(3)->text(), "10.5263");
    EXPECT_EQ(tc.adapter.Requests().back(), DataWrite(3, 65535));
}

// A slip beyond the range is limited and told; a range that cannot be read keeps the text typed.
TEST_F(VoutFormTest, SaysWhatEachEnterDid) {
    struct Case {
        const char* typed;
        uint16_t range;
        bool sdoDisabled;
        std::optional<int> code;
        const char* shown;
        const char* status;
    };
    for (const Case& c : std::vector<Case>{
             {"12", 0, false, 65535, "10", "12 V is beyond the \u00b110 V range: 10 V was sent"},
             {"5", 0xFFFF, true, std::nullopt, "5",
              "Nothing was sent: DAC A's range cannot be read back while SDO is disabled. Enable "
              "SDO, then press Enter again."},
             {"5", 0x8000, false, std::nullopt, "5",
              "Nothing was sent: DAC A's range could not be read back (no range code). Check "
              "the board, then press Enter again."}}) {
        tc.instrument.SetFunctionFlag(FunctionFlag::SdoDisable, c.sdoDisabled);
        tc.adapter.Clear();
        Enter(0, QString::fromLatin1(c.typed), c.range);
        std::vector<std::string> sent{RangeRead(0), RangeRead(0)};
        if (c.code)
            sent.push_back(DataWrite(0, *c.code));
        EXPECT_EQ(tc.adapter.Requests(), sent);
        EXPECT_EQ(Box(0)->text(), QString::fromLatin1(c.shown));
        EXPECT_EQ(form.findChild<QStatusBar*>("StatusBar")->currentMessage(),
                  QString::fromUtf8(c.status));
    }
}

// After a write to ALL DACs each range the program does not know is read once: every box shows.
TEST_F(VoutFormTest, ShowsEveryChannelAfterAWriteToAllDacs) {
    tc.adapter.QueueRegisterRead(0);
    tc.instrument.ReadRegister(0, kRegCoarseGain);
    tc.adapter.Clear();
    for (const uint16_t range : {1, 2, 0})
        tc.adapter.QueueRegisterRead(range);
    tc.instrument.WriteRegister(kAllChannels, kRegData, 0xC000);
    QCoreApplication::processEvents();
    EXPECT_EQ(Box(1)->text(), "5.1282");
    EXPECT_EQ(Box(2)->text(), "5.26315");
    EXPECT_EQ(tc.adapter.Requests(),
              (std::vector<std::string>{DataWrite(4, 0xC000), RangeRead(1), RangeRead(1),
                                        RangeRead(2), RangeRead(2), RangeRead(3), RangeRead(3)}));
}

TEST_F(VoutFormTest, KeysOtherThanEnterSendNothing) {
    QTest::keyClicks(Box(0), QStringLiteral("5.5"));
    QTest::keyClick(Box(0), Qt::Key_Tab);
    EXPECT_TRUE(tc.adapter.calls.empty());
}

}  // namespace
}  // namespace tq::testing

namespace tq::testing {
namespace {

// A write from another window or a remote client shows in the channel's box, without traffic;
// the box being typed in keeps its text.
TEST_F(VoutFormTest, ShowsWritesMadeElsewhere) {
    tc.instrument.WriteRegister(kAllChannels, kRegCoarseGain, 0);
    tc.adapter.Clear();
    tc.instrument.WriteRegister(1, kRegData, 0xC000);
    EXPECT_EQ(Box(1)->text(), "5");
    EXPECT_EQ(Box(0)->text(), "");  // its data register is not known yet
    Box(2)->clear();
    QTest::keyClicks(Box(2), "1.5");
    tc.instrument.WriteRegister(kAllChannels, kRegData, 0x4000);
    EXPECT_EQ(Box(0)->text(), "-5");
    EXPECT_EQ(Box(2)->text(), "1.5");
    EXPECT_TRUE(tc.adapter.Requests().size() == 2);
}

// Every change made elsewhere shows from what the program knows: a box is left alone only while
// it has been typed in since it was last set, not merely because it has the focus; the outputs
// held at 0 V by CLR show so; a channel becomes known by a read-back too.
TEST_F(VoutFormTest, FollowsEveryChangeElsewhereUnlessTypedIn) {
    tc.instrument.WriteRegister(kAllChannels, kRegCoarseGain, 2);
    tc.instrument.WriteRegister(kAllChannels, kRegData, 0x2000);
    EXPECT_EQ(Box(3)->text(), "-7.89473");
    Box(3)->setFocus();
    tc.instrument.WriteRegister(3, kRegData, 0x8000);
    EXPECT_EQ(Box(3)->text(), "0");  // focused, not typed in
    QTest::keyClicks(Box(3), "9");
    tc.instrument.WriteRegister(kAllChannels, kRegData, 0xC000);
    EXPECT_EQ(Box(3)->text(), "09");  // typed in since
    EXPECT_EQ(Box(0)->text(), "5.26315");
    tc.instrument.SetPin(Pin::Clr, false);
    EXPECT_EQ(Box(0)->text(), "0 (CLR)");
    tc.adapter.Clear();
    QTest::keyClick(Box(0), Qt::Key_Return);  // what is held is no voltage to send
    EXPECT_TRUE(tc.adapter.Requests().empty());
    tc.instrument.SetPin(Pin::Clr, true);
    EXPECT_EQ(Box(0)->text(), "5.26315");
    // Reopened, every box shows what is known again, the typed one too.
    form.hide();
    form.show();
    EXPECT_EQ(Box(3)->text(), "5.26315");
}

TEST_F(VoutFormTest, AChannelReadBackElsewhereBecomesKnown) {
    tc.adapter.QueueRegisterRead(1);  // DAC C's coarse gain: 10.2564 V
    tc.instrument.ReadRegister(2, kRegCoarseGain);
    EXPECT_EQ(Box(2)->text(), "");
    tc.adapter.QueueRegisterRead(0xC000);
    tc.instrument.ReadRegister(2, kRegData);
    EXPECT_EQ(Box(2)->text(), "5.1282");
}

// A write the output protection refuses shows the voltage the channel holds, beside the message.
TEST_F(VoutFormTest, ARefusedEntryShowsWhatTheChannelHolds) {
    tc.instrument.SetPulseAfterDataWrite(true);
    for (const int16_t reg : {kRegCoarseGain, kRegFineGain, kRegOffset})
        tc.instrument.WriteRegister(kAllChannels, reg, 0);
    tc.instrument.WriteRegister(kAllChannels, kRegData, 0x8CCD);  // 1 V
    tc.instrument.SetLimits(1, {-2.0, 2.0, std::nullopt, 0.0});
    tc.adapter.Clear();
    Enter(1, QStringLiteral("5"), 0);
    EXPECT_EQ(tc.adapter.Requests(), (std::vector<std::string>{RangeRead(1), RangeRead(1)}));
    EXPECT_EQ(Box(1)->text(), "1.00006");
    EXPECT_FALSE(Box(1)->isModified());
}

}  // namespace
}  // namespace tq::testing

namespace tq::testing {
namespace {

// Each channel's limits show on a line under its row while it has any, in the gap the design
// leaves between the rows; the rows stay where they are.
TEST_F(VoutFormTest, ShowsEachChannelsLimitsUnderItsRow) {
    const auto line = [this](int channel) {
        return form.findChild<QLabel*>(QStringLiteral("LabelLimits%1").arg(channel + 1));
    };
    for (int channel = 0; channel < 4; ++channel) {
        ASSERT_NE(line(channel), nullptr);
        EXPECT_FALSE(line(channel)->isVisibleTo(&form)) << channel;
    }
    struct Case {
        int channel;
        ChannelLimits limits;
        const char* shown;
    };
    for (const Case& c : std::vector<Case>{
             {1, {-2.0, 2.0, 0.5, 0.1}, "Limits: -2 V to 2 V, ramp 0.5 V every 0.1 s"},
             {0, {std::nullopt, 5.0, std::nullopt, 0.0}, "Limits: no low limit to 5 V"},
             {3, {std::nullopt, std::nullopt, 1.0, 0.0}, "Limits: ramp 1 V every 0 s"}}) {
        tc.instrument.SetLimits(static_cast<int16_t>(c.channel), c.limits);
        EXPECT_TRUE(line(c.channel)->isVisibleTo(&form)) << c.channel;
        EXPECT_EQ(line(c.channel)->text(), c.shown);
        const QRect row = Box(c.channel)->geometry();
        EXPECT_GE(line(c.channel)->geometry().top(), row.bottom()) << c.channel;
        if (c.channel < 3) {
            EXPECT_LE(line(c.channel)->geometry().bottom(), Box(c.channel + 1)->geometry().top());
        }
        EXPECT_TRUE(form.rect().contains(line(c.channel)->geometry())) << c.channel;
    }
    EXPECT_FALSE(line(2)->isVisibleTo(&form));
    tc.instrument.SetLimits(1, {});
    EXPECT_FALSE(line(1)->isVisibleTo(&form));
    EXPECT_EQ(form.size(), QSize(528, 291));
    EXPECT_TRUE(tc.adapter.calls.empty());
}

}  // namespace
}  // namespace tq::testing
