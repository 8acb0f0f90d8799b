#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "tests/support/Requests.h"
#include "tests/support/TestContext.h"
#include "tests/support/WidgetFinder.h"
#include "ui/main/CalibrationPanel.h"

namespace tq::testing {
namespace {

// Brief texts of the two read transfers and the write of one register at `address`.
std::vector<std::string> ReadAndWrite(int reg, int address, int data) {
    return {Read(128 + reg * 8 + address), Read(128 + reg * 8 + address),
            Write(reg * 8 + address, data)};
}

constexpr int kOffset = 5;
constexpr int kFineGain = 4;

class CalibrationTest : public ::testing::Test {
protected:
    CalibrationTest() : panel(t.context, &window) {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(&panel);
        other = new QLineEdit(&window);
        layout->addWidget(other);
        otherButton = new QPushButton(QStringLiteral("Other"), &window);
        layout->addWidget(otherButton);
        QObject::connect(otherButton, &QPushButton::clicked, [this] { ++otherClicks; });
        window.show();
        // As after the start-up: the instrument knows DAC A's range.
        KnowRange(10.0f);
    }

    // DAC A's coarse gain as the instrument last wrote it; the calibration computes with it.
    void KnowRange(float rangeVolts) {
        for (const auto& range : kRanges)
            if (range.volts == rangeVolts)
                t.instrument.WriteRegister(0, kRegCoarseGain, range.code);
        t.adapter.Clear();
    }

    template <typename T>
    T* Child(const char* name) {
        return FindChild<T>(panel, name);
    }
    bool Shown(const char* name) { return Child<QWidget>(name)->isVisibleTo(&panel); }

    // Start and enter the offset step with `readBack` in the offset register.
    void RunOffsetStep(uint16_t readBack, const QString& measured) {
        Child<QPushButton>("Command8")->click();
        t.adapter.QueueRegisterRead(readBack);
        Child<QLineEdit>("TextOff")->setText(measured);
        t.adapter.Clear();
        Child<QPushButton>("CommandOff")->click();
    }
    void RunGainStep(uint16_t readBack, const QString& measured) {
        t.adapter.QueueRegisterRead(readBack);
        Child<QLineEdit>("TextFS")->setText(measured);
        t.adapter.Clear();
        Child<QPushButton>("CommandFS")->click();
    }
    std::vector<QString> MessageTexts() const {
        std::vector<QString> out;
        for (const auto& m : t.messages.messages)
            out.push_back(m.text);
        return out;
    }

    TestContext t;
    QWidget window;
    CalibrationPanel panel;
    QLineEdit* other = nullptr;
    QPushButton* otherButton = nullptr;
    int otherClicks = 0;
};

TEST_F(CalibrationTest, WorkedExampleWritesOffset225ThenFineGain51) {
    RunOffsetStep(0, QStringLiteral("0.0012"));
    EXPECT_EQ(t.adapter.Requests(), ReadAndWrite(kOffset, 0, 225));
    EXPECT_EQ(t.state.DataValue, 225);

    RunGainStep(0, QStringLiteral("-10.0020"));
    EXPECT_EQ(t.adapter.Requests(), ReadAndWrite(kFineGain, 0, 51));
    EXPECT_TRUE(t.messages.messages.empty());
}

TEST_F(CalibrationTest, StartShowsTheOffsetStepAndSendsNothing) {
    EXPECT_TRUE(Child<QPushButton>("Command8")->isEnabled());
    for (const char* name : {"LabelOff1", "LabelOff2", "TextOff", "CommandOff", "LabelFS1",
                             "LabelFS2", "TextFS", "CommandFS", "LabelComplete"})
        EXPECT_FALSE(Shown(name)) << name;

    Child<QPushButton>("Command8")->click();

    EXPECT_TRUE(t.adapter.calls.empty());
    EXPECT_FALSE(Child<QPushButton>("Command8")->isEnabled());
    for (const char* name : {"LabelOff1", "LabelOff2", "TextOff", "CommandOff"})
        EXPECT_TRUE(Shown(name)) << name;
    for (const char* name : {"LabelFS1", "TextFS", "CommandFS", "LabelComplete"})
        EXPECT_FALSE(Shown(name)) << name;
    EXPECT_EQ(Child<QLineEdit>("TextOff")->text(), "0");
    EXPECT_EQ(Child<QLineEdit>("TextFS")->text(), "-10");
}

// One row of a calibration step: the range, the register read back, the meter reading typed, the
// code written and whether the correction had to be limited.
struct StepCase {
    const char* name;
    float rangeVolts;
    uint16_t readBack;
    const char* measured;
    int written;
    bool limited;
};
using OffsetCase = StepCase;

class OffsetStep16 : public CalibrationTest, public ::testing::WithParamInterface<OffsetCase> {};

TEST_P(OffsetStep16, WritesTheCorrectedCode) {
    const OffsetCase& c = GetParam();
    KnowRange(c.rangeVolts);
    RunOffsetStep(c.readBack, QString::fromLatin1(c.measured));
    EXPECT_EQ(t.adapter.Requests(), ReadAndWrite(kOffset, 0, c.written));
    if (c.limited)
        EXPECT_EQ(MessageTexts(), std::vector<QString>{QStringLiteral(
                                      "The offset correction was limited to the register's range "
                                      "(-16 to 15.875 LSB).")});
    else
        EXPECT_TRUE(t.messages.messages.empty());
    EXPECT_TRUE(Shown("TextFS"));
    EXPECT_FALSE(Shown("TextOff"));
}

// One LSB on the 10 V range is 20 / 65536 V = 0.00030517578125 V.
INSTANTIATE_TEST_SUITE_P(
    Cases, OffsetStep16,
    ::testing::Values(OffsetCase{"IdealZero", 10.0f, 0, "0", 0, false},
                      OffsetCase{"IdealNegative", 10.0f, 225, "0", 225, false},
                      OffsetCase{"IdealLowest", 10.0f, 128, "0", 128, false},
                      OffsetCase{"IdealHighest", 10.0f, 127, "0", 127, false},
                      OffsetCase{"MinusHalfLsb", 10.0f, 0, "0.000152587890625", 252, false},
                      OffsetCase{"PlusTwoLsbOnCurrent", 10.0f, 8, "-0.0006103515625", 24, false},
                      OffsetCase{"TinyNegativeIsZero", 10.0f, 0, "0.00001", 0, false},
                      OffsetCase{"WidestRange", 10.5263f, 0, "0.000642474", 240, false},
                      // A unit after the number keeps its reading.
                      OffsetCase{"UnitAfterTheNumber", 10.0f, 0, "0.0012 V", 225, false},
                      OffsetCase{"LimitedHigh", 10.0f, 0, "-0.1", 127, true},
                      OffsetCase{"LimitedLow", 10.0f, 0, "0.1", 128, true},
                      OffsetCase{"LimitedFromCurrent", 10.0f, 120, "-0.001", 127, true},
                      OffsetCase{"FarthestPlausible", 10.0f, 0, "0.5", 128, true}),
    [](const auto& info) { return std::string(info.param.name); });

using GainCase = StepCase;

class GainStep16 : public CalibrationTest, public ::testing::WithParamInterface<GainCase> {};

TEST_P(GainStep16, WritesTheCorrectedCode) {
    const GainCase& c = GetParam();
    KnowRange(c.rangeVolts);
    RunOffsetStep(0, QStringLiteral("0"));
    RunGainStep(c.readBack, QString::fromLatin1(c.measured));
    EXPECT_EQ(t.adapter.Requests(), ReadAndWrite(kFineGain, 0, c.written));
    if (c.limited)
        EXPECT_EQ(MessageTexts(),
                  std::vector<QString>{QStringLiteral(
                      "The fine gain correction was limited to the register's range (-32 to 31 "
                      "steps).")});
    else
        EXPECT_TRUE(t.messages.messages.empty());
    EXPECT_TRUE(Shown("LabelComplete"));
}

// One fine gain unit on the 10 V range is 20 / 131072 V = 0.000152587890625 V.
INSTANTIATE_TEST_SUITE_P(
    Cases, GainStep16,
    ::testing::Values(GainCase{"IdealZero", 10.0f, 0, "-10", 0, false},
                      GainCase{"IdealNegative", 10.0f, 51, "-10", 51, false},
                      GainCase{"IdealHighest", 10.0f, 31, "-10", 31, false},
                      GainCase{"IdealLowest", 10.0f, 32, "-10", 32, false},
                      GainCase{"MinusOne", 10.0f, 0, "-10.000152587890625", 63, false},
                      GainCase{"ThirtyOne", 10.0f, 30, "-9.999847412109375", 31, false},
                      GainCase{"MiddleRange", 10.2564f, 0, "-10.256087", 2, false},
                      GainCase{"LimitedHigh", 10.0f, 0, "-9.99", 31, true},
                      GainCase{"LimitedLow", 10.0f, 0, "-10.01", 32, true},
                      GainCase{"LimitedFromCurrent", 10.0f, 33, "-10.001", 32, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct GainFailure {
    const char* name;
    uint16_t readBack;
    const char* measured;
};

class GainStepFailure : public CalibrationTest,
                        public ::testing::WithParamInterface<GainFailure> {};

TEST_P(GainStepFailure, WarnsEmptiesTheBoxAndStays) {
    const GainFailure& c = GetParam();
    RunOffsetStep(0, QStringLiteral("0"));
    RunGainStep(c.readBack, QString::fromLatin1(c.measured));

    ASSERT_EQ(t.messages.messages.size(), 1u);
    EXPECT_EQ(t.messages.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(t.messages.messages[0].text, "A negative number is expected");
    auto* textFS = Child<QLineEdit>("TextFS");
    EXPECT_EQ(textFS->text(), "");
    EXPECT_EQ(window.focusWidget(), textFS);
    EXPECT_TRUE(Shown("CommandFS"));
    EXPECT_FALSE(Shown("LabelComplete"));
    for (const auto& r : t.adapter.Requests())
        EXPECT_NE(r.substr(0, 6), "DD 32 ") << r;

    // Done again on the now empty box fails the same way.
    t.adapter.QueueRegisterRead(0);
    Child<QPushButton>("CommandFS")->click();
    EXPECT_EQ(t.messages.messages.size(), 2u);
    EXPECT_EQ(t.messages.messages.back().text, "A negative number is expected");
    for (const auto& r : t.adapter.Requests())
        EXPECT_NE(r.substr(0, 6), "DD 32 ") << r;
    EXPECT_TRUE(Shown("CommandFS"));
}

INSTANTIATE_TEST_SUITE_P(Cases, GainStepFailure,
                         ::testing::Values(GainFailure{"PositiveVoltage", 0, "5"},
                                           GainFailure{"EmptyBox", 0, ""},
                                           GainFailure{"UnreadableRegister", 0xFFFF, "-10"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A reading no channel can give at the step (more than 5 % of the range from what it loads) is
// refused naming the box and the unit: the register is read, nothing is written, the step stays.
// Enter in the reading box is its "Done".
TEST_F(CalibrationTest, AnImplausibleReadingIsRefusedNamingTheBoxAndTheUnit) {
    Child<QPushButton>("Command8")->click();
    auto* box = Child<QLineEdit>("TextOff");
    box->setText(QStringLiteral("12V"));
    t.adapter.QueueRegisterRead(0);
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(t.adapter.Requests(), (std::vector<std::string>{Read(168), Read(168)}));
    EXPECT_EQ(MessageTexts(),
              std::vector<QString>{QStringLiteral(
                  "Measured Voltage (offset step, 0 V loaded, in volts): the reading 12 V is more "
                  "than 0.5 V (5 % of the \u00b110 V range) from the 0 V the step loads. Check the "
                  "output and the meter, then enter the reading again; nothing was written.")});
    EXPECT_EQ(window.focusWidget(), box);
    EXPECT_TRUE(Shown("CommandOff"));
}

// A measurement with no number, or with a decimal comma, is no measurement: the box is emptied
// and focused, nothing is read or written and the step stays.
TEST_F(CalibrationTest, AMeasurementWithoutANumberOrWithADecimalCommaIsRefused) {
    for (const char* typed : {"abc", "0,0012", "-", "1,5e-3"}) {
        SCOPED_TRACE(typed);
        RunOffsetStep(0, QString::fromLatin1(typed));
        EXPECT_TRUE(t.adapter.calls.empty());
        EXPECT_EQ(Child<QLineEdit>("TextOff")->text(), "");
        EXPECT_EQ(window.focusWidget(), Child<QLineEdit>("TextOff"));
        EXPECT_TRUE(Shown("CommandOff"));
    }
    RunOffsetStep(0, QStringLiteral("0"));
    for (const char* typed : {"x", "-10,002"}) {
        SCOPED_TRACE(typed);
        RunGainStep(0, QString::fromLatin1(typed));
        EXPECT_TRUE(t.adapter.calls.empty());
        EXPECT_EQ(Child<QLineEdit>("TextFS")->text(), "");
        EXPECT_EQ(window.focusWidget(), Child<QLineEdit>("TextFS"));
        EXPECT_TRUE(Shown("CommandFS"));
    }
    EXPECT_TRUE(t.messages.messages.empty());
}

TEST_F(CalibrationTest, UnreadableOffsetRegisterWarnsWritesNothingAndStays) {
    RunOffsetStep(0xFFFF, QStringLiteral("0.0012"));
    EXPECT_EQ(t.adapter.Requests(), (std::vector<std::string>{"DD 168 0 1 3", "DD 168 0 1 3"}));
    EXPECT_EQ(MessageTexts(), std::vector<QString>{QStringLiteral(
                                  "The offset register could not be read back. Enable the serial "
                                  "data output (SDO) and press Done again.")});
    EXPECT_EQ(t.messages.messages[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(Shown("CommandOff"));
    EXPECT_FALSE(Shown("CommandFS"));

    // Once the register answers, the same step goes on.
    t.adapter.QueueRegisterRead(0);
    t.adapter.Clear();
    Child<QPushButton>("CommandOff")->click();
    EXPECT_EQ(t.adapter.Requests(), ReadAndWrite(kOffset, 0, 225));
    EXPECT_TRUE(Shown("CommandFS"));
}

TEST_F(CalibrationTest, AllDacsReadsAndWritesAtAddressFour) {
    t.state.Address = 4;
    RunOffsetStep(0, QStringLiteral("0.0012"));
    EXPECT_EQ(t.adapter.Requests(), ReadAndWrite(kOffset, 4, 225));
    RunGainStep(0, QStringLiteral("-10.0020"));
    EXPECT_EQ(t.adapter.Requests(), ReadAndWrite(kFineGain, 4, 51));
}

struct Offset14Case {
    const char* name;
    uint16_t readBack;  // the register value: the 3-bit code sits in D7..D5
    const char* measured;
    int written;
    bool limited;
};

class OffsetStep14 : public CalibrationTest, public ::testing::WithParamInterface<Offset14Case> {};

TEST_P(OffsetStep14, ReadsAndWritesTheCodeInBitsSevenToFive) {
    const Offset14Case& c = GetParam();
    t.state.Resolution = 14;
    RunOffsetStep(c.readBack, QString::fromLatin1(c.measured));
    EXPECT_EQ(t.adapter.Requests(), ReadAndWrite(kOffset, 0, c.written));
    if (c.limited)
        EXPECT_EQ(MessageTexts(),
                  std::vector<QString>{QStringLiteral(
                      "The offset correction was limited to the register's range (-4 to 3 LSB).")});
    else
        EXPECT_TRUE(t.messages.messages.empty());
}

// One 14-bit LSB on the 10 V range is 20 / 16384 V = 0.001220703125 V.
INSTANTIATE_TEST_SUITE_P(
    Cases, OffsetStep14,
    ::testing::Values(Offset14Case{"IdealZero", 0, "0", 0, false},
                      Offset14Case{"IdealMinusOne", 0xE0, "0", 0xE0, false},
                      Offset14Case{"IdealLowest", 0x80, "0", 0x80, false},
                      Offset14Case{"IdealHighest", 0x60, "0", 0x60, false},
                      Offset14Case{"MinusOneLsb", 0, "0.001220703125", 0xE0, false},
                      Offset14Case{"PlusTwoOnCurrent", 0x20, "-0.00244140625", 0x60, false},
                      Offset14Case{"CorrectionRoundedFirst", 0, "0.0006", 0, false},
                      Offset14Case{"LimitedHigh", 0x60, "-0.0025", 0x60, true},
                      Offset14Case{"LimitedLow", 0, "0.01", 0x80, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CalibrationTest, FourteenBitGainStepUsesTheSameUnit) {
    t.state.Resolution = 14;
    RunOffsetStep(0, QStringLiteral("0"));
    RunGainStep(0, QStringLiteral("-10.0020"));
    EXPECT_EQ(t.adapter.Requests(), ReadAndWrite(kFineGain, 0, 51));
}

TEST_F(CalibrationTest, OtherResolutionsDoNothing) {
    t.state.Resolution = 12;
    RunOffsetStep(0, QStringLiteral("0.0012"));
    EXPECT_TRUE(t.adapter.calls.empty());
    EXPECT_TRUE(Shown("CommandOff"));
}

TEST_F(CalibrationTest, CompleteNoticeBlocksTheWindowThenReturnsToIdle) {
    panel.SetCompleteNoticeMs(150);
    RunOffsetStep(0, QStringLiteral("0.0012"));
    RunGainStep(0, QStringLiteral("-10.0020"));

    EXPECT_TRUE(Shown("LabelComplete"));
    EXPECT_FALSE(Shown("CommandFS"));
    EXPECT_FALSE(Child<QPushButton>("Command8")->isEnabled());
    EXPECT_TRUE(window.property("busy").toBool());
    QTest::keyClicks(other, QStringLiteral("abc"));
    QTest::mouseClick(otherButton, Qt::LeftButton);
    EXPECT_EQ(other->text(), "");
    EXPECT_EQ(otherClicks, 0);

    for (int waited = 0; waited < 30000 && Shown("LabelComplete"); waited += 10)
        QTest::qWait(10);

    EXPECT_FALSE(Shown("LabelComplete"));
    EXPECT_TRUE(Child<QPushButton>("Command8")->isEnabled());
    EXPECT_FALSE(window.property("busy").toBool());
    QTest::keyClicks(other, QStringLiteral("abc"));
    EXPECT_EQ(other->text(), "abc");
    QTest::mouseClick(otherButton, Qt::LeftButton);
    EXPECT_EQ(otherClicks, 1);

    // A second run starts from the texts the user left.
    t.adapter.Clear();
    QTest::mouseClick(Child<QPushButton>("Command8"), Qt::LeftButton);
    EXPECT_TRUE(Shown("CommandOff"));
    EXPECT_EQ(Child<QLineEdit>("TextOff")->text(), "0.0012");
    EXPECT_TRUE(t.adapter.calls.empty());
}

TEST_F(CalibrationTest, CompleteNoticeLastsTwoSecondsWithoutStoppingTheEventLoop) {
    RunOffsetStep(0, QStringLiteral("0"));
    QElapsedTimer clock;
    clock.start();
    RunGainStep(0, QStringLiteral("-10"));
    // A sleep in the handler would have come back with the notice already over.
    EXPECT_TRUE(Shown("LabelComplete"));
    EXPECT_TRUE(window.property("busy").toBool());

    // No bound on how late it ends on a loaded machine; it must never end early.
    while (clock.elapsed() < 30000 && Shown("LabelComplete"))
        QTest::qWait(10);
    EXPECT_FALSE(Shown("LabelComplete"));
    EXPECT_GE(clock.elapsed(), 1990);  // less a clock tick
    EXPECT_FALSE(window.property("busy").toBool());
}

}  // namespace
}  // namespace tq::testing
