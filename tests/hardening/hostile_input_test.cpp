// Hostile text typed into every entry box of every window, through the real widgets and the
// recording adapter: the program never writes a register from text a box rejected, and each box
// ends either emptied and focused (a rejected entry) or showing the value it wrote. The boxes of
// the waveform, protection, meter and temperature log windows keep one rule and name themselves
// when they refuse.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "adapter/simulated/SimulatedBoard.h"
#include "instrument/MeterRuns.h"
#include "instrument/Waveform.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeMeter.h"
#include "tests/support/TestContext.h"
#include "tests/support/WidgetFinder.h"
#include "ui/auxiliary/Form1.h"
#include "ui/auxiliary/TestForm.h"
#include "ui/auxiliary/VoutForm.h"
#include "ui/bench/BenchForm.h"
#include "ui/main/CalibrationPanel.h"
#include "ui/main/MainForm.h"
#include "ui/meter/MeterForm.h"
#include "ui/protection/ProtectionForm.h"
#include "ui/waveform/TemperatureLogForm.h"
#include "ui/waveform/WaveformForm.h"

namespace tq::testing {
namespace {

struct HostileText {
    const char* name;
    QString text;
};

const std::vector<HostileText>& HostileTexts() {
    static const std::vector<HostileText> texts{
        {"empty", QString()},
        {"blanks", QStringLiteral("   ")},
        {"100000 digits", QString(100000, QLatin1Char('7'))},
        {"100000 letters", QString(100000, QLatin1Char('q'))},
        {"1e999", QStringLiteral("1e999")},
        {"-1e999", QStringLiteral("-1e999")},
        {"nan", QStringLiteral("nan")},
        {"inf", QStringLiteral("inf")},
        {"&HFFFFFFFFF", QStringLiteral("&HFFFFFFFFF")},
        {"fullwidth five", QString::fromUtf8("\xEF\xBC\x95")},
        {"e acute", QString::fromUtf8("\xC3\xA9")},
        {"minus sign 5", QString::fromUtf8("\xE2\x88\x92") + QStringLiteral("5")},
        {"tab", QStringLiteral("\t")},
        {"control 01", QStringLiteral("\x01")},
        {"NUL", QString(QChar(0))},
        {"NUL inside a number", QStringLiteral("5") + QChar(0) + QStringLiteral("5")},
    };
    return texts;
}

// What a box must do with text it cannot use.
enum class Rejection {
    Empties,          // the box is emptied and takes the focus, without a message
    EmptiesOrTells,   // as Empties, but a text it takes may be told about (limited), and a
                      // reading it cannot take is told in a box and kept to be corrected
    WarnsAndEmpties,  // a warning, then the box is emptied and takes the focus
    WarnsAndKeeps,    // a warning and the focus; the text stays for the user to correct
    EmptiesHidden,    // emptied; the box is never shown, so it cannot take the focus
};

struct Outcome {
    std::vector<std::string> sent;    // every request, as brief texts
    std::vector<std::string> writes;  // the requests that send something to the board
    QString shown;
    bool focused = false;
    std::vector<QString> messages;
};

struct EntryBox {
    std::string name;
    std::function<QLineEdit*()> box;
    std::function<void()> prepare;  // before each entry: view, read-backs to queue
    std::function<void()> commit;   // Enter in the box or the button that takes it
    Rejection rejection;
    bool showsWhatItWrote;           // typing the shown text again sends the same words
    bool keepsAcceptedText = false;  // an accepted text stays as typed
    bool sends16BitData = true;      // the direct window sends any 32-bit word it is given
    // A voltage box: a blank text is no request, sent nowhere and left as it is (the status bar
    // says so), never emptied for the focus.
    bool blankIsNoRequest = false;
};

class HostileInput : public ::testing::Test {
protected:
    HostileInput() {
        t.adapter.QueueRegisterRead(0);
        EXPECT_TRUE(main.Load());
        main.show();
        testForm.show();
        voutForm.show();
        form1.show();
        main.findChild<CalibrationPanel*>()->SetCompleteNoticeMs(1);
    }

    template <typename T = QLineEdit>
    T* In(QWidget& window, const char* name) {
        return FindChild<T>(window, name);
    }
    void Press(QWidget& window, const char* button) {
        QTest::mouseClick(In<QPushButton>(window, button), Qt::LeftButton);
    }
    static void Enter(QLineEdit* box) { QTest::keyClick(box, Qt::Key_Return); }

    void ChooseRegister(const char* item) {
        auto* combo = In<QComboBox>(main, "ComboReg");
        const int index = combo->findText(QLatin1String(item), Qt::MatchFixedString);
        ASSERT_GE(index, 0) << item;
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    void SetNumberMode(const char* mode) {
        if (t.state.NumberMode != mode)
            Press(main, "Command2");
        ASSERT_EQ(t.state.NumberMode, mode);
    }
    // Start the calibration again from its first step: finish a calibration under way with
    // plain readings and let the completion notice end.
    void StartCalibration() {
        if (In(main, "TextOff")->isVisibleTo(&main)) {
            t.adapter.QueueRegisterRead(0);
            In(main, "TextOff")->setText(QStringLiteral("0"));
            Press(main, "CommandOff");
        }
        if (In(main, "TextFS")->isVisibleTo(&main)) {
            t.adapter.QueueRegisterRead(0);
            In(main, "TextFS")->setText(QStringLiteral("-10"));
            Press(main, "CommandFS");
        }
        ASSERT_TRUE(QTest::qWaitFor(
            [this] { return In<QPushButton>(main, "Command8")->isEnabled(); }, 10000));
        Press(main, "Command8");
        ASSERT_TRUE(In(main, "TextOff")->isVisibleTo(&main));
    }
    void EnterGainStep() {
        StartCalibration();
        t.adapter.QueueRegisterRead(0);
        In(main, "TextOff")->setText(QStringLiteral("0"));
        Press(main, "CommandOff");
        ASSERT_TRUE(In(main, "TextFS")->isVisibleTo(&main));
    }

    std::vector<EntryBox> Boxes() {
        auto mainBox = [this](const char* name) { return [this, name] { return In(main, name); }; };
        auto enterIn = [this](const char* name) { return [this, name] { Enter(In(main, name)); }; };
        auto pressIn = [this](QWidget& window, const char* name) {
            return [this, &window, name] { Press(window, name); };
        };
        std::vector<EntryBox> boxes{
            {"MainForm.TextVolts", mainBox("TextVolts"),
             [this] {
                 ChooseRegister("Data Register");
                 t.adapter.QueueRegisterRead(0);
             },
             enterIn("TextVolts"), Rejection::Empties, true, false, true, true},
            {"MainForm.TextData Hex", mainBox("TextData"),
             [this] {
                 ChooseRegister("Data Register");
                 SetNumberMode("Hex");
                 t.adapter.QueueRegisterRead(0);
             },
             enterIn("TextData"), Rejection::Empties, true},
            {"MainForm.TextData Dec", mainBox("TextData"),
             [this] {
                 ChooseRegister("Data Register");
                 SetNumberMode("Dec");
                 t.adapter.QueueRegisterRead(0);
             },
             enterIn("TextData"), Rejection::Empties, true},
            {"MainForm.TextFine", mainBox("TextFine"),
             [this] { ChooseRegister("Fine Gain Register"); }, enterIn("TextFine"),
             Rejection::Empties, true},
            {"MainForm.TextOffset", mainBox("TextOffset"),
             [this] { ChooseRegister("Offset Register"); }, enterIn("TextOffset"),
             Rejection::Empties, true},
            {"MainForm.TextFunction Hex", mainBox("TextFunction"),
             [this] {
                 ChooseRegister("Function Register");
                 SetNumberMode("Hex");
             },
             enterIn("TextFunction"), Rejection::EmptiesHidden, true},
            {"MainForm.TextOff", mainBox("TextOff"),
             [this] {
                 StartCalibration();
                 t.adapter.QueueRegisterRead(0);
             },
             pressIn(main, "CommandOff"), Rejection::EmptiesOrTells, false},
            {"MainForm.TextFS", mainBox("TextFS"),
             [this] {
                 EnterGainStep();
                 t.adapter.QueueRegisterRead(0);
             },
             pressIn(main, "CommandFS"), Rejection::WarnsAndEmpties, false},
            {"TestForm.Text1 Read", [this] { return In(testForm, "Text1"); }, [] {},
             pressIn(testForm, "Command1"), Rejection::WarnsAndKeeps, false},
            {"TestForm.Text1 Write", [this] { return In(testForm, "Text1"); },
             [this] { In(testForm, "Text2")->setText(QStringLiteral("0")); },
             pressIn(testForm, "Command2"), Rejection::WarnsAndKeeps, false},
            {"TestForm.Text2 Write", [this] { return In(testForm, "Text2"); },
             [this] { In(testForm, "Text1")->setText(QStringLiteral("0")); },
             pressIn(testForm, "Command2"), Rejection::WarnsAndKeeps, false, false, false},
            {"Form1.Text1", [this] { return In(form1, "Text1"); }, [] {},
             pressIn(form1, "Command1"), Rejection::Empties, true, false, true, true},
        };
        for (const char* name : {"Text1", "Text2", "Text3", "Text4"})
            boxes.push_back({std::string("VoutForm.") + name,
                             [this, name] { return In(voutForm, name); },
                             [this] { t.adapter.QueueRegisterRead(0); },
                             [this, name] { Enter(In(voutForm, name)); }, Rejection::Empties, true,
                             false, true, true});
        for (const char* name : {"OffText", "NGainText", "PGainText"})
            boxes.push_back({std::string("Form1.") + name, [this, name] { return In(form1, name); },
                             [this] { In(form1, "Text1")->setText(QStringLiteral("5")); },
                             pressIn(form1, "Command1"), Rejection::Empties, false, true});
        return boxes;
    }

    Outcome Type(const EntryBox& entry, const QString& text) {
        entry.prepare();
        QLineEdit* box = entry.box();
        box->setText(text);
        box->clearFocus();
        EXPECT_NE(box->window()->focusWidget(), box);
        t.adapter.Clear();
        t.messages.messages.clear();
        entry.commit();
        Outcome out;
        out.sent = t.adapter.Requests();
        for (const auto& call : t.adapter.calls)
            if (call.function == "Vendor_Request" && call.direction == 0)
                out.writes.push_back(call.Brief());
        out.shown = box->text();
        out.focused = box->window()->focusWidget() == box;
        for (const auto& m : t.messages.messages)
            out.messages.push_back(m.text);
        return out;
    }

    TestContext t;
    MainForm main{t.context};
    TestForm testForm{t.context};
    VoutForm voutForm{t.context};
    Form1 form1{t.context};
};

// The data word of a write ("DD <command> <data> 0 0").
long WrittenData(const std::string& brief) {
    std::istringstream in(brief);
    std::string request;
    long command = 0, data = -1;
    in >> request >> command >> data;
    return data;
}

TEST_F(HostileInput, EveryBoxRejectsOrWritesWhatItShows) {
    for (const EntryBox& entry : Boxes()) {
        for (const HostileText& hostile : HostileTexts()) {
            SCOPED_TRACE(entry.name + " <- " + hostile.name);
            const Outcome out = Type(entry, hostile.text);
            ASSERT_LE(out.writes.size(), 1u) << ::testing::PrintToString(out.sent);
            const bool rejected = out.writes.empty();
            if (!rejected && entry.sends16BitData) {
                const long data = WrittenData(out.writes.front());
                EXPECT_GE(data, 0) << out.writes.front();
                EXPECT_LE(data, 0xFFFF) << out.writes.front();
            }
            switch (entry.rejection) {
                case Rejection::Empties:
                    if (rejected && entry.blankIsNoRequest && hostile.text.trimmed().isEmpty()) {
                        EXPECT_EQ(out.shown, hostile.text);
                        EXPECT_TRUE(out.sent.empty()) << ::testing::PrintToString(out.sent);
                    } else if (rejected) {
                        EXPECT_EQ(out.shown, QString());
                        EXPECT_TRUE(out.focused);
                    } else if (entry.keepsAcceptedText) {
                        EXPECT_EQ(out.shown, hostile.text.left(entry.box()->maxLength()));
                    } else {
                        EXPECT_FALSE(out.shown.isEmpty());
                    }
                    EXPECT_EQ(out.messages, std::vector<QString>{});
                    break;
                case Rejection::EmptiesOrTells:
                    if (rejected) {
                        EXPECT_TRUE(out.focused);
                        if (out.messages.empty()) {
                            EXPECT_EQ(out.shown, QString());
                        } else {
                            EXPECT_EQ(out.messages.size(), 1u);
                            EXPECT_EQ(out.shown, hostile.text.left(entry.box()->maxLength()));
                        }
                    }
                    break;
                case Rejection::WarnsAndEmpties:
                    // Text without a number is refused before it is read, without the warning.
                    EXPECT_LE(out.messages.size(), rejected ? 1u : 0u);
                    if (rejected) {
                        EXPECT_EQ(out.shown, QString());
                        EXPECT_TRUE(out.focused);
                    }
                    break;
                case Rejection::WarnsAndKeeps:
                    // A read sends nothing to write: its rejection shows only as the warning.
                    EXPECT_EQ(out.messages.size(), out.sent.empty() ? 1u : 0u);
                    if (out.sent.empty()) {
                        EXPECT_TRUE(out.focused);
                    }
                    break;
                case Rejection::EmptiesHidden:
                    if (rejected) {
                        EXPECT_EQ(out.shown, QString());
                    }
                    break;
            }
            if (!rejected && entry.showsWhatItWrote) {
                const Outcome again = Type(entry, out.shown);
                EXPECT_EQ(again.writes, out.writes) << out.shown.left(40).toStdString();
                EXPECT_EQ(again.shown, out.shown);
            }
        }
    }
}

// The outcome each box must give for the texts whose meaning is settled: the limits of the
// register for infinite values, the reading of an unreadable text.
struct SettledCase {
    const char* box;
    const char* typed;
    const char* shown;  // "" for an emptied box
    long written;       // -1: nothing written
};

TEST_F(HostileInput, SettledOutcomes) {
    const std::vector<SettledCase> cases{
        {"MainForm.TextVolts", "1e999", "10.0000", 0xFFFF},
        {"MainForm.TextVolts", "-1e999", "-10.0000", 0x0000},
        {"MainForm.TextVolts", "nan", "", -1},
        {"MainForm.TextVolts", "1,5", "", -1},
        {"MainForm.TextData Hex", "&HFFFFFFFFF", "", -1},
        {"MainForm.TextData Hex", "q", "", -1},
        {"MainForm.TextData Hex", "FFFFFFFFF", "", -1},
        {"MainForm.TextData Dec", "1e999", "", -1},
        {"MainForm.TextData Dec", "-1e999", "", -1},
        {"MainForm.TextData Dec", "&HFFFFFFFFF", "", -1},
        {"MainForm.TextFine", "1e999", "31", 31},
        {"MainForm.TextFine", "-1e999", "-32", 32},
        {"MainForm.TextOffset", "1e999", "15.875", 0x7F},
        {"MainForm.TextOffset", "-1e999", "-16", 0x80},
        {"MainForm.TextOffset", "nan", "", -1},
        {"MainForm.TextFunction Hex", "3F", "003F", 0x3F},
        {"MainForm.TextFunction Hex", "&HFFFFFFFFF", "", -1},
        {"MainForm.TextFS", "1e999", "", -1},
        {"MainForm.TextFS", "", "", -1},
        {"Form1.Text1", "1e999", "10", 65528},
        {"Form1.OffText", "1e999", "", -1},
    };
    const std::vector<EntryBox> boxes = Boxes();
    for (const SettledCase& c : cases) {
        SCOPED_TRACE(std::string(c.box) + " <- " + c.typed);
        const auto entry = std::find_if(boxes.begin(), boxes.end(),
                                        [&](const EntryBox& b) { return b.name == c.box; });
        ASSERT_NE(entry, boxes.end());
        const Outcome out = Type(*entry, QString::fromLatin1(c.typed));
        EXPECT_EQ(out.shown, QLatin1String(c.shown));
        if (c.written < 0) {
            EXPECT_EQ(out.writes, std::vector<std::string>{});
        } else {
            ASSERT_EQ(out.writes.size(), 1u);
            EXPECT_EQ(WrittenData(out.writes.front()), c.written);
        }
    }
}

// Each box of the waveform, protection, meter and temperature log windows takes a number with an
// optional unit as the composer does ("2V", "&H1F", "1 5"), and refuses `abc` naming the box:
// one message, the box emptied and focused, nothing sent.
TEST(OurBoxes, TakeANumberWithAUnitAndRefuseTextNamingTheBox) {
    TestContext t;
    FakeClock clock;
    WaveformRun run(t.instrument, clock);
    FakeMeter meter;
    MeterRuns runs(t.instrument, meter, clock);
    t.context.waveform = &run;
    t.context.meter = &runs;
    WaveformForm waveform(t.context);
    ProtectionForm protection(t.context);
    MeterForm meterForm(t.context, runs);
    TemperatureLogForm log(t.context, &clock);
    for (QWidget* w : std::vector<QWidget*>{&waveform, &protection, &meterForm, &log})
        w->show();
    FindChild<QCheckBox>(waveform, "CheckChannel0")->setChecked(true);
    FindChild<QCheckBox>(waveform, "CheckFast")->setChecked(false);
    FindChild<QCheckBox>(waveform, "CheckContinuous")->setChecked(false);
    FindChild<QComboBox>(waveform, "ComboShape0")->setCurrentText(QStringLiteral("Sine"));
    FindChild<QLineEdit>(meterForm, "TextAddress")
        ->setText(QStringLiteral("TCPIP::h::5025::SOCKET"));
    struct Row {
        QWidget* window;
        const char* box;
        const char* button;
        const char* typed;
        const char* named;  // the refusal's start; "" for a text the box takes
    };
    const std::vector<Row> rows{
        {&waveform, "TextAmplitude0", "CmdStart", "abc", "DAC A amplitude"},
        {&waveform, "TextOffset0", "CmdStart", "abc", "DAC A offset"},
        {&waveform, "TextPoints0", "CmdStart", "abc", "DAC A points"},
        {&waveform, "TextDwell", "CmdStart", "abc", "Dwell per step"},
        {&waveform, "TextPeriods", "CmdStart", "abc", "Periods"},
        {&protection, "TextLow2", "CmdApply", "abc", "DAC C low limit"},
        {&protection, "TextHigh1", "CmdApply", "abc", "DAC B high limit"},
        {&protection, "TextStep0", "CmdApply", "abc", "DAC A ramp step"},
        {&protection, "TextWait3", "CmdApply", "abc", "DAC D wait between steps"},
        {&meterForm, "TextTimeout", "CmdOpen", "abc", "Timeout"},
        {&meterForm, "TextSettle", "CmdOpen", "abc", "Settling time"},
        {&meterForm, "TextCount", "CmdOpen", "abc", "Readings per code"},
        {&meterForm, "TextCodes", "CmdLinearity", "abc", "Codes"},
        {&meterForm, "TextFirst", "CmdLinearity", "abc", "First code"},
        {&meterForm, "TextLast", "CmdLinearity", "abc", "Last code"},
        {&log, "TextInterval", "CmdStart", "abc", "Interval"},
        // Taken as the composer takes them.
        {&protection, "TextHigh1", "CmdApply", "2V", ""},
        {&meterForm, "TextTimeout", "CmdOpen", "&H1F", ""},
        {&waveform, "TextPeriods", "CmdStart", "1 5", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.box) + " <- " + row.typed);
        auto* box = FindChild<QLineEdit>(*row.window, row.box);
        const QString before = box->text();
        box->setText(QLatin1String(row.typed));
        box->clearFocus();
        t.adapter.Clear();
        t.messages.messages.clear();
        QTest::mouseClick(FindChild<QPushButton>(*row.window, row.button), Qt::LeftButton);
        if (*row.named) {
            ASSERT_EQ(t.messages.messages.size(), 1u);
            EXPECT_TRUE(t.messages.messages[0].text.contains(
                QStringLiteral("%1: 'abc' is not a ").arg(row.named)));
            EXPECT_EQ(box->text(), QString());
            EXPECT_EQ(row.window->focusWidget(), box);
            EXPECT_EQ(t.adapter.Requests(), std::vector<std::string>{});
            box->setText(before);
        } else {
            EXPECT_EQ(t.messages.messages.size(), 0u) << t.messages.messages[0].text.toStdString();
        }
    }
    EXPECT_EQ(t.instrument.Limits(1).high, 2.0);
    EXPECT_EQ(meter.opened.timeoutMilliseconds, 31);
    EXPECT_EQ(waveform.Definition().periods, 15);
}

// The bench's temperature box sets the simulated die temperature only from a finite number.
TEST(HostileBenchInput, TemperatureBoxTakesOnlyFiniteNumbers) {
    TestContext t;
    SimulatedBoard board;
    t.context.bench = &board;
    BenchForm form(t.context);
    form.show();
    auto* box = form.findChild<QLineEdit*>(QStringLiteral("TextTemp"));
    ASSERT_NE(box, nullptr);
    for (const HostileText& hostile : HostileTexts()) {
        SCOPED_TRACE(hostile.name);
        board.SetDieTemperature(25.0);
        box->setText(hostile.text);
        box->clearFocus();
        QTest::keyClick(box, Qt::Key_Return);
        if (box->text().isEmpty()) {
            EXPECT_EQ(board.DieTemperature(), 25.0);
            EXPECT_EQ(form.focusWidget(), box);
        } else {
            EXPECT_EQ(box->text().toDouble(), board.DieTemperature()) << box->text().toStdString();
            EXPECT_LE(board.TempCount(), 4095);
        }
    }
}

}  // namespace
}  // namespace tq::testing
