#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <cmath>

#include "core/Encoding.h"
#include "tests/support/Requests.h"
#include "tests/support/RowNames.h"
#include "tests/support/TestContext.h"
#include "ui/auxiliary/Form1.h"

namespace tq::testing {
namespace {

class Form1Test : public ::testing::Test {
protected:
    Form1Test() : form(tc.context) { form.show(); }

    template <typename T>
    T* Child(const char* name) {
        return form.findChild<T*>(QLatin1String(name));
    }
    QLineEdit* Box(const char* name) { return Child<QLineEdit>(name); }
    QColor Indicator() { return Child<QFrame>("Shape1")->palette().color(QPalette::Window); }

    void Load(const char* volts) {
        Box("Text1")->setText(QString::fromLatin1(volts));
        QTest::mouseClick(Child<QPushButton>("Command1"), Qt::LeftButton);
    }
    TestContext tc;
    Form1 form;
};

TEST_F(Form1Test, LoadingConnectsTheBoardAndTurnsTheIndicatorGreen) {
    EXPECT_EQ(Indicator(), QColor(255, 0, 0));
    EXPECT_TRUE(form.Form_Load());
    EXPECT_EQ(Indicator(), QColor(0, 255, 0));
    ASSERT_EQ(tc.adapter.calls.size(), 3u);
    EXPECT_EQ(tc.adapter.calls[0].function, "Search_For_Boards");
    EXPECT_EQ(tc.adapter.calls[1].function, "Connect");
    EXPECT_EQ(tc.adapter.calls[2].path, "/opt/tq/TQ2604.hex");
    EXPECT_TRUE(tc.messages.messages.empty());
}

TEST_F(Form1Test, AFailedDownloadLeavesTheIndicatorRedWithoutAMessage) {
    tc.adapter.downloadResult = -4;
    EXPECT_FALSE(form.Form_Load());
    EXPECT_EQ(Indicator(), QColor(255, 0, 0));
    EXPECT_TRUE(tc.messages.messages.empty());
}

struct LoadCase {
    const char* typed;
    const char* shown;
    int code;
};
void PrintTo(const LoadCase& c, std::ostream* os) {
    *os << '"' << c.typed << '"';
}

class Form1Load : public Form1Test, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(Form1Load, CorrectsCodesAndWritesThePlainWord) {
    const LoadCase& c = GetParam();
    Load(c.typed);
    EXPECT_EQ(Box("Text1")->text(), c.shown);
    EXPECT_EQ(tc.adapter.Requests(), std::vector<std::string>{Write(0, c.code)});
    EXPECT_EQ(tc.state.DataValue, c.code);
    // A voltage limited to the range is never limited without a word.
    EXPECT_EQ(form.statusBar()->currentMessage().contains(" V is beyond the \u00b110 V range: "),
              std::fabs(ParseNumber(c.typed)) > 10);
}

INSTANTIATE_TEST_SUITE_P(
    DesignCorrections, Form1Load,
    ::testing::Values(LoadCase{"0", "0", 32756}, LoadCase{"2.5", "2.5", 40949},
                      LoadCase{"5", "5", 49142}, LoadCase{"10", "10", 65528},
                      LoadCase{"12", "10", 65528}, LoadCase{"-2.5", "-2.5", 24563},
                      LoadCase{"-5", "-5", 16369},
                      // -17 before limiting: the word carries no negative code.
                      LoadCase{"-10", "-10", 0}, LoadCase{"-1e400", "-10", 0},
                      LoadCase{"3.14159", "3.1416", 43052}),
    tq::testing::NamedBy<&LoadCase::typed>{});

// No number, or a decimal comma, in any of the four boxes: that box is emptied and focused, the
// voltage box keeps its text and nothing is written. Other texts keep their reading.
TEST_F(Form1Test, TextWithoutANumberOrWithADecimalCommaWritesNothing) {
    struct Case {
        const char* box;
        const char* typed;
    };
    for (const Case& c : {Case{"Text1", "x"}, Case{"Text1", "2,5"}, Case{"OffText", "-0,0037"},
                          Case{"NGainText", "abc"}, Case{"PGainText", "+"}}) {
        SCOPED_TRACE(std::string(c.box) + " " + c.typed);
        for (const char* box : {"Text1", "OffText", "NGainText", "PGainText"})
            Box(box)->setText(QStringLiteral("0"));
        Box("Text1")->setText(QStringLiteral("5"));
        Box(c.box)->setText(QString::fromLatin1(c.typed));
        Box("Text1")->clearFocus();
        tc.adapter.Clear();
        QTest::mouseClick(Child<QPushButton>("Command1"), Qt::LeftButton);
        EXPECT_TRUE(tc.adapter.calls.empty());
        EXPECT_EQ(Box(c.box)->text(), "");
        EXPECT_EQ(form.focusWidget(), Box(c.box));
        if (std::string(c.box) != "Text1") {
            EXPECT_EQ(Box("Text1")->text(), "5");
        }
    }
    // With the corrections at 0 (the last one emptied), a unit after the number keeps it.
    tc.adapter.Clear();
    Load("5V");
    EXPECT_EQ(tc.adapter.Requests(), std::vector<std::string>{Write(0, 49152)});
}

class Form1Uncorrected : public Form1Test, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(Form1Uncorrected, CodesPlainOffsetBinary) {
    for (const char* box : {"OffText", "NGainText", "PGainText"})
        Box(box)->setText(QStringLiteral("0"));
    const LoadCase& c = GetParam();
    Load(c.typed);
    EXPECT_EQ(tc.adapter.Requests(), std::vector<std::string>{Write(0, c.code)});
}

INSTANTIATE_TEST_SUITE_P(ZeroCorrections, Form1Uncorrected,
                         ::testing::Values(LoadCase{"0", "0", 32768}, LoadCase{"5", "5", 49152},
                                           LoadCase{"10", "10", 65535}, LoadCase{"-10", "-10", 0}),
                         tq::testing::NamedBy<&LoadCase::typed>{});

class Form1Enter : public Form1Test, public ::testing::WithParamInterface<const char*> {};

TEST_P(Form1Enter, EnterInAnyBoxLoadsTheVoltageOfThePanel) {
    Box("Text1")->setText(QStringLiteral("5"));
    QTest::keyClick(Box(GetParam()), Qt::Key_Return);
    EXPECT_EQ(tc.adapter.Requests(), std::vector<std::string>{Write(0, 49142)});
}

INSTANTIATE_TEST_SUITE_P(Boxes, Form1Enter,
                         ::testing::Values("Text1", "OffText", "NGainText", "PGainText"),
                         tq::testing::ByValue{});

TEST_F(Form1Test, OtherKeysSendNothing) {
    QTest::keyClicks(Box("Text1"), QStringLiteral("12"));
    EXPECT_TRUE(tc.adapter.calls.empty());
}

TEST_F(Form1Test, WritesToTheRegisterAndDirectionAsTheyStand) {
    tc.state.Address = 1;
    tc.state.RegSelect = 2;
    tc.state.ReadWrite = 1;
    Load("5");
    EXPECT_EQ(tc.adapter.Requests(), std::vector<std::string>{Write(128 + 16 + 1, 49142)});
    EXPECT_EQ(tc.state.ReadWrite, 1);
}

TEST_F(Form1Test, ACorrectionBeyondTheNumberRangeEmptiesItsBoxAndSendsNothing) {
    Box("PGainText")->setText(QStringLiteral("1e39"));
    Load("5");
    EXPECT_TRUE(tc.adapter.calls.empty());
    EXPECT_EQ(Box("PGainText")->text(), "");
    EXPECT_EQ(form.focusWidget(), Box("PGainText"));
}

struct ReadBackCase {
    std::vector<uint8_t> reply;
    const char* shown;
};
void PrintTo(const ReadBackCase& c, std::ostream* os) {
    *os << c.shown;
}

class Form1ReadBack : public Form1Test, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(Form1ReadBack, ShowsTheTwoBytesLowFirstAsTheyArrive) {
    tc.adapter.QueueReply(GetParam().reply);
    QTest::mouseClick(Child<QPushButton>("CmdRead"), Qt::LeftButton);
    EXPECT_EQ(tc.adapter.Requests(), std::vector<std::string>{"DD 0 2 1 2"});
    EXPECT_EQ(Child<QLabel>("Label5")->text(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Bytes, Form1ReadBack,
                         ::testing::Values(ReadBackCase{{0x34, 0x12}, "1234"},
                                           ReadBackCase{{0x0F, 0x00}, "000F"},
                                           ReadBackCase{{0xFF, 0xFF}, "FFFF"}),
                         tq::testing::NamedBy<&ReadBackCase::shown>{});

// Runs the event loop until something ends it; a timer ends it with 99 if nothing does.
int RunUntilExit(std::function<void()> action) {
    QTimer::singleShot(0, action);
    QTimer::singleShot(3000, [] { QCoreApplication::exit(99); });
    return QApplication::exec();
}

TEST_F(Form1Test, ClosingTheWindowEndsTheProgram) {
    EXPECT_EQ(RunUntilExit([this] { form.close(); }), 0);
}

TEST_F(Form1Test, ExitEndsTheProgram) {
    EXPECT_EQ(RunUntilExit([this] { Child<QAction>("MnuExit")->trigger(); }), 0);
}

TEST_F(Form1Test, TheI2cItemShowsThisSameWindow) {
    form.hide();
    Child<QAction>("MnuI2c")->trigger();
    EXPECT_TRUE(form.isVisible());
}

}  // namespace
}  // namespace tq::testing
