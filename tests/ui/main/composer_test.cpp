// The register composer driven through its real widgets against the recording adapter: the board
// traffic of each list, button and entry box, and what the frame shows afterwards.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/Requests.h"
#include "tests/support/TestContext.h"
#include "ui/main/ComposerPanel.h"

namespace tq::testing {
namespace {

class RecordingSwitches : public FunctionSwitches {
public:
    void SetSdoSwitch(bool disabled) override { sdo.push_back(disabled); }
    void MirrorFunctionBits(int32_t image) override { mirrored.push_back(image); }
    std::vector<bool> sdo;
    std::vector<int32_t> mirrored;
};

using Traffic = std::vector<std::string>;

const std::string kFunctionFlagsWrite = "DD 1 0 0 0";

class ComposerTest : public ::testing::Test {
protected:
    ComposerTest() {
        panel = new ComposerPanel(t.context, switches, &window);
        status = new QStatusBar(&window);
        // What the main window does: "Pulse After Data Write" checked, the R/W cell shown.
        t.instrument.SetPulseAfterDataWrite(true);
        t.instrument.AddListener([this](const InstrumentChange& c) {
            if (c.kind == InstrumentChange::Kind::ReadWrite)
                panel->ShowReadWrite(static_cast<int16_t>(c.value));
        });
    }

    // The main window's start-up steps for the composer, ending in the data register view of
    // DAC A (whose data register reads `dataRead`).
    void StartUp(int16_t resolution = 16, uint16_t dataRead = 0) {
        t.state.Resolution = resolution;
        panel->SetRangePrompts(resolution);
        panel->FillLists();
        panel->ApplyStartupVisibility();
        window.show();
        t.adapter.QueueRegisterRead(dataRead);
        panel->SelectRegisterByText(QStringLiteral("Data register"));
        t.adapter.Clear();
    }

    QWidget* Widget(const char* name) {
        auto* w = panel->findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString Text(const char* name) {
        QWidget* w = Widget(name);
        if (auto* label = qobject_cast<QLabel*>(w))
            return label->text();
        if (auto* box = qobject_cast<QLineEdit*>(w))
            return box->text();
        if (auto* list = qobject_cast<QComboBox*>(w))
            return list->currentText();
        if (auto* button = qobject_cast<QPushButton*>(w))
            return button->text();
        return QStringLiteral("<unknown>");
    }
    bool Visible(const char* name) { return Widget(name)->isVisibleTo(&window); }
    QString DataBits() {
        QString bits;
        for (int bit = 15; bit >= 0; --bit)
            bits += Text(QStringLiteral("LabelD%1").arg(bit).toLatin1().constData());
        return bits;
    }

    // A user's choice in a list (also of the item already shown).
    void Choose(const char* list, const QString& item) {
        auto* combo = qobject_cast<QComboBox*>(Widget(list));
        const int index = combo->findText(item);
        ASSERT_GE(index, 0) << item.toStdString();
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    void Click(const char* button) {
        QTest::mouseClick(qobject_cast<QPushButton*>(Widget(button)), Qt::LeftButton);
    }
    void Type(const char* box, const QString& text, bool enter = true) {
        auto* edit = qobject_cast<QLineEdit*>(Widget(box));
        edit->clear();
        QTest::keyClicks(edit, text);
        if (enter)
            QTest::keyClick(edit, Qt::Key_Return);
    }
    // Move the focus away so that a test can see a failed entry take it.
    void FocusElsewhere() {
        Widget("Command1")->setFocus();
        ASSERT_EQ(window.focusWidget(), Widget("Command1"));
    }

    Traffic Sent() { return t.adapter.Requests(); }

    TestContext t;
    RecordingSwitches switches;
    QWidget window;
    ComposerPanel* panel = nullptr;
    QStatusBar* status = nullptr;
};

TEST_F(ComposerTest, StartUpSendsNoOperationThenReadsDacAsDataRegister) {
    panel->FillLists();
    EXPECT_EQ(Sent(), (Traffic{"DD 0 0 0 0"}));
    EXPECT_EQ(Text("ComboAddr"), QStringLiteral("DAC A"));
    EXPECT_EQ(Text("ComboReg"), QString());
    EXPECT_EQ(Text("ComboRW"), QStringLiteral("Write"));
    EXPECT_EQ(Text("ComboFunction"), QStringLiteral("No Operation"));

    panel->ApplyStartupVisibility();
    t.adapter.Clear();
    panel->SelectRegisterByText(QStringLiteral("Data register"));
    EXPECT_EQ(Text("ComboReg"), QStringLiteral("Data Register"));
    // DAC A's range is read once, for the volts of the data view.
    EXPECT_EQ(Sent(),
              (Traffic{kFunctionFlagsWrite, Read(0x90), Read(0x90), Read(0x98), Read(0x98)}));
    EXPECT_EQ(switches.sdo, std::vector<bool>{false});
    EXPECT_EQ(Text("Command2"), QStringLiteral("Hex"));
}

TEST_F(ComposerTest, RangePromptsFollowResolution) {
    panel->SetRangePrompts(16);
    EXPECT_EQ(Text("Label9"), QStringLiteral("Enter Offset Value (-16 to 15.875)"));
    EXPECT_EQ(Text("Label7"), QStringLiteral("Enter Fine Gain Value (-32 to 31)"));
    panel->SetRangePrompts(14);
    EXPECT_EQ(Text("Label9"), QStringLiteral("Enter Offset Value (-4 to 3)"));
    EXPECT_EQ(Text("Label7"), QStringLiteral("Enter Fine Gain Value (-8 to 7.75)"));
}

struct ViewCase {
    const char* item;
    int readCommand;
    const char* regBits;   // LabelREG2..0
    const char* addrBits;  // LabelA2..0
    std::vector<const char*> shown;
};

TEST_F(ComposerTest, EachRegisterViewShowsItsControlsAndReadsItsRegister) {
    const std::vector<const char*> switchable{
        "ComboRW",  "ComboFunction", "Label11",    "TextFunction", "LabelFunction", "TextData",
        "Label1",   "Command2",      "TextVolts",  "Label29",      "ComboCoarse",   "Label5",
        "TextFine", "Label7",        "TextOffset", "Label9",       "ComboAddr"};
    const std::vector<ViewCase> cases{
        {"Function Register", 0x81, "000", "001", {"Command2"}},
        {"Data Register",
         0x90,
         "010",
         "000",
         {"TextData", "Label1", "Command2", "TextVolts", "Label29", "ComboAddr"}},
        {"Fine Gain Register", 0xA0, "100", "000", {"TextFine", "Label7", "ComboAddr"}},
        {"Offset Register", 0xA8, "101", "000", {"TextOffset", "Label9", "ComboAddr"}},
    };
    StartUp();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        t.adapter.Clear();
        Choose("ComboReg", QString::fromLatin1(c.item));
        EXPECT_EQ(Sent(), (Traffic{kFunctionFlagsWrite, Read(c.readCommand), Read(c.readCommand)}));
        EXPECT_EQ(Text("LabelREG2") + Text("LabelREG1") + Text("LabelREG0"),
                  QString::fromLatin1(c.regBits));
        EXPECT_EQ(Text("LabelA2") + Text("LabelA1") + Text("LabelA0"),
                  QString::fromLatin1(c.addrBits));
        for (const char* name : switchable) {
            const bool expected = std::find_if(c.shown.begin(), c.shown.end(), [&](const char* s) {
                                      return std::string(s) == name;
                                  }) != c.shown.end();
            EXPECT_EQ(Visible(name), expected) << name;
        }
        EXPECT_EQ(Widget("ComboRW")->isEnabled(), std::string(c.item) != "Function Register");
    }
}

TEST_F(ComposerTest, FunctionViewSelectsReadAndAddressOne) {
    StartUp();
    t.adapter.QueueRegisterRead(0x21);
    Choose("ComboReg", QStringLiteral("Function Register"));
    EXPECT_EQ(t.state.Address, 1);
    EXPECT_EQ(t.state.RegSelect, 0);
    EXPECT_EQ(Text("ComboRW"), QStringLiteral("Read"));
    EXPECT_EQ(Text("LabelData"), QStringLiteral("810021"));
    EXPECT_EQ(Text("Label27"), QStringLiteral("0021"));
    EXPECT_EQ(Text("LabelRW"), QStringLiteral("1"));
}

// The channel list decides where channel registers go, also after the function view moved the
// address to 1.
TEST_F(ComposerTest, ChannelRegisterAfterFunctionViewUsesTheShownChannel) {
    StartUp();
    Choose("ComboAddr", QStringLiteral("DAC C"));
    Choose("ComboReg", QStringLiteral("Function Register"));
    t.adapter.Clear();
    Choose("ComboReg", QStringLiteral("Data Register"));
    EXPECT_EQ(Sent(), (Traffic{kFunctionFlagsWrite, Read(0x92), Read(0x92)}));
    EXPECT_EQ(Text("LabelA2") + Text("LabelA1") + Text("LabelA0"), QStringLiteral("010"));
    t.adapter.Clear();
    Type("TextData", QStringLiteral("1234"));
    EXPECT_EQ(Sent(), (Traffic{Read(0x9A), Read(0x9A), Pulsed(0x12, 0x1234)}));
}

struct CoarseCase {
    uint16_t readBack;
    Traffic traffic;
    QString shown;
    float range;
};

TEST_F(ComposerTest, CoarseGainViewWritesTheCodeReadBackAndSetsTheRange) {
    const QString range10 = QString::fromUtf8("Output Range = \u00b1 10 V");
    const QString range10_5 = QString::fromUtf8("Output Range = \u00b1 10.5263 V");
    const std::vector<CoarseCase> cases{
        {0,
         {Read(0x98), Read(0x98), Pulsed(0x18, 0), kFunctionFlagsWrite, Read(0x98), Read(0x98),
          Pulsed(0x18, 0)},
         range10,
         10.0f},
        {2,
         {Read(0x98), Read(0x98), Pulsed(0x18, 2), kFunctionFlagsWrite, Read(0x98), Read(0x98),
          Pulsed(0x18, 2)},
         range10_5,
         10.5263f},
        // Code 3 has no range: the list and RangeVolts stay as they were.
        {3,
         {Read(0x98), Read(0x98), kFunctionFlagsWrite, Read(0x98), Read(0x98)},
         range10_5,
         10.5263f},
    };
    StartUp();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.readBack);
        t.adapter.Clear();
        t.adapter.QueueRegisterRead(c.readBack);
        t.adapter.QueueRegisterRead(c.readBack);
        Choose("ComboReg", QStringLiteral("Coarse Gain Register"));
        EXPECT_EQ(Sent(), c.traffic);
        EXPECT_EQ(Text("ComboCoarse"), c.shown);
        EXPECT_FLOAT_EQ(t.state.RangeVolts, c.range);
        EXPECT_TRUE(Visible("ComboCoarse"));
        EXPECT_TRUE(Visible("Label5"));
    }
}

TEST_F(ComposerTest, ChoosingARangeWritesItsCodeToTheSelectedChannel) {
    StartUp();
    Choose("ComboAddr", QStringLiteral("DAC D"));
    Choose("ComboReg", QStringLiteral("Coarse Gain Register"));
    t.adapter.Clear();
    Choose("ComboCoarse", QString::fromUtf8("Output Range = \u00b1 10.2564 V"));
    EXPECT_EQ(Sent(), (Traffic{Pulsed(0x1B, 1)}));
    EXPECT_FLOAT_EQ(t.state.RangeVolts, 10.2564f);
    EXPECT_EQ(Text("LabelRW"), QStringLiteral("0"));
}

TEST_F(ComposerTest, TheWheelOverAListNeitherChangesItNorWrites) {
    StartUp();
    Choose("ComboReg", QStringLiteral("Coarse Gain Register"));
    for (const char* list : {"ComboCoarse", "ComboReg", "ComboAddr"}) {
        SCOPED_TRACE(list);
        t.adapter.Clear();
        const QString before = Text(list);
        QWidget* w = Widget(list);
        for (int notch : {-120, -120, 120}) {
            const QPointF at(w->width() / 2.0, w->height() / 2.0);
            QWheelEvent wheel(at, w->mapToGlobal(at), QPoint(), QPoint(0, notch), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(w, &wheel);
        }
        EXPECT_EQ(Text(list), before);
        EXPECT_EQ(Sent(), Traffic{});
    }
    // The keyboard on the focused list is a deliberate choice and still writes.
    t.adapter.Clear();
    Widget("ComboCoarse")->setFocus();
    QTest::keyClick(Widget("ComboCoarse"), Qt::Key_Down);
    EXPECT_EQ(Text("ComboCoarse"), QString::fromUtf8("Output Range = \u00b1 10.2564 V"));
    EXPECT_EQ(Sent(), (Traffic{Pulsed(0x18, 1)}));
}

TEST_F(ComposerTest, ChannelListSetsAddressBitsAndReadsThere) {
    const std::vector<std::tuple<const char*, const char*, int>> cases{
        {"DAC B", "001", 0x91}, {"DAC D", "011", 0x93}, {"ALL DACs", "100", 0x94}};
    StartUp();
    for (const auto& [item, bits, command] : cases) {
        SCOPED_TRACE(item);
        t.adapter.Clear();
        Choose("ComboAddr", QString::fromLatin1(item));
        EXPECT_EQ(Text("LabelA2") + Text("LabelA1") + Text("LabelA0"), QString::fromLatin1(bits));
        Traffic expected{kFunctionFlagsWrite, Read(command), Read(command)};
        // A channel seen for the first time has its range read once (ALL DACs goes by DAC A's,
        // known since the start-up).
        if (command != 0x94)
            expected.insert(expected.end(), 2, Read(command + 8));
        EXPECT_EQ(Sent(), expected);
    }
}

TEST_F(ComposerTest, NumberModeSwitchConvertsBothWays) {
    StartUp();
    Type("TextData", QStringLiteral("8000"));
    Type("TextData", QStringLiteral("00FF"), false);
    t.adapter.Clear();
    Click("Command2");
    EXPECT_EQ(Text("Command2"), QStringLiteral("Dec"));
    EXPECT_EQ(t.state.NumberMode, "Dec");
    EXPECT_EQ(Text("TextData"), QStringLiteral("255"));
    EXPECT_EQ(t.state.DataValue, 255);
    EXPECT_EQ(Text("Label27"), QStringLiteral("32768"));

    Click("Command2");
    EXPECT_EQ(Text("Command2"), QStringLiteral("Hex"));
    EXPECT_EQ(t.state.NumberMode, "Hex");
    EXPECT_EQ(Text("TextData"), QStringLiteral("00FF"));
    EXPECT_EQ(Text("Label27"), QStringLiteral("8000"));

    Click("Command2");
    Type("TextData", QStringLiteral("-5"), false);
    Click("Command2");
    EXPECT_EQ(Text("TextData"), QStringLiteral("FFFFFFFB"));
    EXPECT_EQ(Sent(), Traffic{});
}

TEST_F(ComposerTest, NumberModeSwitchReadsAnEmptiedDataBoxAsZero) {
    StartUp();
    Type("TextData", QStringLiteral("xyz"));  // a failed entry empties the box
    ASSERT_EQ(Text("TextData"), QString());
    t.state.DataValue = 1234;
    Click("Command2");
    EXPECT_EQ(Text("TextData"), QStringLiteral("0"));
    EXPECT_EQ(t.state.DataValue, 0);

    Type("TextData", QStringLiteral("1e12"), false);
    Click("Command2");
    EXPECT_EQ(Text("TextData"), QStringLiteral("0000"));
}

struct ReadBackCase {
    int16_t resolution;
    const char* view;
    uint16_t value;
    const char* label27;
    const char* bits;
    const char* box;  // the view's entry box
    const char* boxText;
};

TEST_F(ComposerTest, ReadBackShowsTheWordAndTheValueInTheViewsBox) {
    const std::vector<ReadBackCase> cases{
        {16, "Data Register", 32768, "8000", "1000000000000000", "TextVolts", "0.0000"},
        {16, "Data Register", 0, "0000", "0000000000000000", "TextVolts", "-10.0000"},
        {16, "Data Register", 65535, "FFFF", "1111111111111111", "TextVolts", "9.9997"},
        {16, "Fine Gain Register", 63, "003F", "0000000000111111", "TextFine", "-1"},
        {16, "Fine Gain Register", 32, "0020", "0000000000100000", "TextFine", "-32"},
        {16, "Fine Gain Register", 31, "001F", "0000000000011111", "TextFine", "31"},
        {16, "Offset Register", 255, "00FF", "0000000011111111", "TextOffset", "-0.125"},
        {16, "Offset Register", 127, "007F", "0000000001111111", "TextOffset", "15.875"},
        {16, "Offset Register", 128, "0080", "0000000010000000", "TextOffset", "-16"},
        // 14-bit data: the two lowest bits are rounded into the 14-bit code, ties to even.
        {14, "Data Register", 0x8001, "8000", "1000000000000000", "TextData", "2000"},
        {14, "Data Register", 0x8003, "8004", "1000000000000100", "TextData", "2001"},
        {14, "Data Register", 0x7FFE, "8000", "1000000000000000", "TextData", "2000"},
        // Other registers of the 14-bit device show the value as read.
        {14, "Offset Register", 0x60, "0060", "0000000001100000", "TextOffset", "3"},
        {14, "Fine Gain Register", 0x3F, "003F", "0000000000111111", "TextFine", "-0.25"},
    };
    StartUp();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.view) + " " + std::to_string(c.value));
        t.state.Resolution = c.resolution;
        Choose("ComboReg", QString::fromLatin1(c.view));
        t.adapter.QueueRegisterRead(c.value);
        Click("Command1");
        EXPECT_EQ(Text("Label27"), QString::fromLatin1(c.label27));
        EXPECT_EQ(DataBits(), QString::fromLatin1(c.bits));
        EXPECT_EQ(Text(c.box), QString::fromLatin1(c.boxText));
        EXPECT_EQ(Text("LabelRW"), QStringLiteral("1"));
    }
}

TEST_F(ComposerTest, DataEntryShowsTheWholeWord) {
    StartUp();
    Type("TextData", QStringLiteral("8000"));
    EXPECT_EQ(Text("LabelRW"), QStringLiteral("0"));
    EXPECT_EQ(DataBits(), QStringLiteral("1000000000000000"));
    EXPECT_EQ(Text("Label27"), QStringLiteral("8000"));
    EXPECT_EQ(Text("LabelData"), QStringLiteral("108000"));
}

TEST_F(ComposerTest, FourteenBitDataEntryShowsTheAlignedCode) {
    StartUp(14);
    Type("TextData", QStringLiteral("1FFF"));
    EXPECT_EQ(Sent().back(), Pulsed(0x10, 0x7FFC));
    EXPECT_EQ(DataBits(), QStringLiteral("0111111111111100"));
    EXPECT_EQ(t.state.DataValue, 8191);
    EXPECT_EQ(Text("TextData"), QStringLiteral("1FFF"));
}

struct VoltsCase {
    const char* channel;
    int rangeCommand;  // the coarse gain read-back: command byte
    uint16_t coarse;
    int16_t resolution;
    int16_t binaryCoding;
    const char* typed;
    const char* shown;
    const char* data;
    std::string write;  // "": refused before anything is sent
};

TEST_F(ComposerTest, VoltageEntryWritesTheCodeForTheChannelsRange) {
    const std::vector<VoltsCase> cases{
        {"DAC A", 0x98, 0, 16, 1, "5", "5.0000", "C000", Pulsed(0x10, 0xC000)},
        {"DAC A", 0x98, 0, 16, 1, "12", "10.0000", "FFFF", Pulsed(0x10, 0xFFFF)},
        // No number, or a decimal comma: the box is emptied, the data box keeps the code that
        // choosing the channel read back.
        {"DAC A", 0x98, 0, 16, 1, "xyz", "", "0", ""},
        {"DAC A", 0x98, 0, 16, 1, "1,5", "", "0", ""},
        {"DAC A", 0x98, 0, 16, 1, "-", "", "0", ""},
        // Every other text keeps its reading (the empty box sends nothing: see below).
        {"DAC A", 0x98, 0, 16, 1, "12V", "10.0000", "FFFF", Pulsed(0x10, 0xFFFF)},
        {"DAC A", 0x98, 0, 16, 1, "1.5.7", "1.5000", "9333", Pulsed(0x10, 0x9333)},
        {"DAC A", 0x98, 0, 16, 1, "&H5", "5.0000", "C000", Pulsed(0x10, 0xC000)},
        {"DAC A", 0x98, 0, 16, 1, "- 2 .5", "-2.5000", "6000", Pulsed(0x10, 0x6000)},
        {"DAC A", 0x98, 0, 16, 1, "1,x", "1.0000", "8CCD", Pulsed(0x10, 0x8CCD)},
        {"DAC A", 0x98, 0, 16, 0, "5", "5.0000", "4000", Pulsed(0x10, 0x4000)},
        {"DAC A", 0x98, 0, 16, 0, "-0.0001", "-0.0001", "FFFF", Pulsed(0x10, 0xFFFF)},
        // The range is the selected channel's own.
        {"DAC B", 0x99, 2, 16, 1, "10", "10.0000", "F99A", Pulsed(0x11, 0xF99A)},
        {"DAC C", 0x9A, 1, 16, 1, "-10", "-10.0000", "333", Pulsed(0x12, 0x0333)},
        // "ALL DACs" goes by DAC A's range.
        {"ALL DACs", 0x98, 1, 16, 1, "10", "10.0000", "FCCD", Pulsed(0x14, 0xFCCD)},
        {"DAC A", 0x98, 0, 14, 1, "5", "5.0000", "3000", Pulsed(0x10, 0xC000)},
        {"DAC A", 0x98, 0, 14, 1, "10", "10.0000", "3FFF", Pulsed(0x10, 0xFFFC)},
    };
    StartUp();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.channel) + " " + c.typed);
        t.state.Resolution = c.resolution;
        t.state.BinaryCoding = c.binaryCoding;
        Choose("ComboAddr", QString::fromLatin1(c.channel));
        t.adapter.Clear();
        FocusElsewhere();
        const bool refused = c.write.empty();
        if (!refused)
            t.adapter.QueueRegisterRead(c.coarse);
        Type("TextVolts", QString::fromLatin1(c.typed));
        const Traffic sent =
            refused ? Traffic{} : Traffic{Read(c.rangeCommand), Read(c.rangeCommand), c.write};
        EXPECT_EQ(Sent(), sent);
        EXPECT_EQ(Text("TextVolts"), QString::fromLatin1(c.shown));
        EXPECT_EQ(Text("TextData"), QString::fromLatin1(c.data));
        EXPECT_EQ(window.focusWidget() == Widget("TextVolts"), refused);
    }
}

// The word display shows one word: the voltage entry's write, as the data entry does, and the
// range chosen in the list; a refused entry leaves the word shown before.
TEST_F(ComposerTest, TheWordDisplayShowsTheWordEachEntrySends) {
    struct Shown {
        const char* rw;
        const char* bits;
        const char* label27;
        const char* word;
    };
    const auto expectWord = [&](const Shown& shown) {
        EXPECT_EQ(Text("LabelRW"), QLatin1String(shown.rw));
        EXPECT_EQ(DataBits(), QLatin1String(shown.bits));
        EXPECT_EQ(Text("Label27"), QLatin1String(shown.label27));
        EXPECT_EQ(Text("LabelData"), QLatin1String(shown.word));
    };
    StartUp(16, 0x1234);
    expectWord({"1", "0001001000110100", "1234", "901234"});
    Type("TextVolts", QStringLiteral("5"));
    ASSERT_EQ(Sent().back(), Pulsed(0x10, 0xC000));
    expectWord({"0", "1100000000000000", "C000", "10C000"});
    Type("TextVolts", QStringLiteral("2,5"));
    expectWord({"0", "1100000000000000", "C000", "10C000"});
    Choose("ComboAddr", QStringLiteral("DAC C"));
    Type("TextVolts", QStringLiteral("-5"));
    expectWord({"0", "0100000000000000", "4000", "124000"});
    Choose("ComboReg", QStringLiteral("Coarse Gain Register"));
    Choose("ComboCoarse", QStringLiteral("Output Range = \u00b1 10.5263 V"));
    ASSERT_EQ(Sent().back(), Pulsed(0x1A, 2));
    expectWord({"0", "0000000000000010", "0002", "1A0002"});
    // Every word that goes to the converter, whoever sends it: a switch's function word, a read.
    t.instrument.SetFunctionFlag(FunctionFlag::SdoDisable, true);
    expectWord({"0", "0000000000000001", "0001", "10001"});
    t.adapter.QueueRegisterRead(5);
    t.instrument.ReadRegister(2, kRegFineGain);
    expectWord({"1", "0000000000000101", "0005", "A20005"});
    panel->ShowReadWrite(0);  // the R/W cell never describes another word than the value
    EXPECT_EQ(Text("LabelData"), QStringLiteral("220005"));
}

// What the voltage box tells the status bar: what was sent for a slip beyond the range, why nothing
// was sent when the range cannot be read or the limits refuse (in a box too, once).
TEST_F(ComposerTest, VoltageEntrySaysInTheStatusBarWhatItSent) {
    struct Case {
        const char* typed;
        std::optional<uint16_t> rangeRead;  // nothing: no board traffic at all
        bool sdoDisabled, limitTwoVolts;    // DAC A limited to -2 V .. 2 V
        std::optional<int> written;
        const char* box;  // TextVolts afterwards: what was typed stays for the next Enter
        const char* status;
    };
    StartUp(16, 0x8000);
    for (const Case& c : std::vector<Case>{
             {"12V", 0, false, false, 0xFFFF, "10.0000",
              "12 V is beyond the \u00b110 V range: 10 V was sent"},
             {"5", 0xFFFF, true, false, std::nullopt, "5",
              "Nothing was sent: DAC A's range cannot be read back while SDO is disabled. Enable "
              "SDO, then press Enter again."},
             {"-12V", 0, false, true, std::nullopt, "9.9997",
              "DAC A voltage: -12 V typed, -10 V to send, is below DAC A's limit of -2 V; nothing "
              "was sent"}}) {
        SCOPED_TRACE(c.typed);
        t.instrument.SetFunctionFlag(FunctionFlag::SdoDisable, c.sdoDisabled);
        t.instrument.SetLimits(
            0, c.limitTwoVolts ? ChannelLimits{-2.0, 2.0, std::nullopt, 0.0} : ChannelLimits{});
        t.adapter.Clear();
        if (c.rangeRead)
            t.adapter.QueueRegisterRead(*c.rangeRead);
        Type("TextVolts", QString::fromLatin1(c.typed));
        Traffic sent = c.rangeRead ? Traffic{Read(0x98), Read(0x98)} : Traffic{};
        if (c.written)
            sent.push_back(Pulsed(0x10, *c.written));
        EXPECT_EQ(Sent(), sent);
        EXPECT_EQ(Text("TextVolts"), QString::fromLatin1(c.box));
        EXPECT_EQ(status->currentMessage(), QString::fromUtf8(c.status));
        EXPECT_EQ(t.messages.messages.size(), c.limitTwoVolts ? 1u : 0u);
    }
}

// A box a refusal emptied sends nothing on the next Enter; emptied by the user, the data, fine
// gain and offset boxes read 0 as designed.
TEST_F(ComposerTest, ABoxARefusalEmptiedSendsNothing) {
    StartUp();
    Choose("ComboReg", QStringLiteral("Offset Register"));
    Type("TextOffset", QStringLiteral("x"));
    t.adapter.Clear();
    QTest::keyClick(Widget("TextOffset"), Qt::Key_Return);
    EXPECT_EQ(Sent(), Traffic{});
    EXPECT_EQ(status->currentMessage(),
              "The offset box is empty: nothing was sent. Type a value, then press Enter.");
    QTest::keyClicks(Widget("TextOffset"), QStringLiteral("7"));
    QTest::keyClick(Widget("TextOffset"), Qt::Key_Backspace);
    QTest::keyClick(Widget("TextOffset"), Qt::Key_Return);
    EXPECT_EQ(Sent(), Traffic{Pulsed(0x28, 0)});
}

// The list and the voltage box follow what the board holds: a refused range goes back, a coding
// change shows the held code's new voltage.
TEST_F(ComposerTest, ARefusedRangeAndACodingChangeShowWhatTheBoardHolds) {
    StartUp(16, 0x8000);
    t.adapter.QueueRegisterRead(0);
    Type("TextVolts", QStringLiteral("1.95"));
    t.instrument.SetLimits(0, {-2.0, 2.0, std::nullopt, 0.0});
    Choose("ComboReg", QStringLiteral("Coarse Gain Register"));
    t.adapter.Clear();
    Choose("ComboCoarse", QStringLiteral("Output Range = \u00b1 10.5263 V"));
    EXPECT_EQ(Sent(), Traffic{});
    EXPECT_EQ(Text("ComboCoarse"), QStringLiteral("Output Range = \u00b1 10 V"));

    t.instrument.SetLimits(0, {});
    Choose("ComboReg", QStringLiteral("Data Register"));
    t.adapter.QueueRegisterRead(0);
    Type("TextVolts", QStringLiteral("5"));
    t.instrument.SetPin(Pin::BinaryCoding, false);
    EXPECT_EQ(Text("TextVolts"), QStringLiteral("-5.0000"));
}

struct EntryCase {
    int16_t resolution;
    bool decimal;
    int16_t binaryCoding;
    const char* typed;
    std::optional<int> written;  // nothing written: the entry failed
    const char* shown;
    const char* volts;           // TextVolts afterwards, where it is updated
    bool refusedAtOnce = false;  // before the range is read: no number, or a decimal comma
};

TEST_F(ComposerTest, DataCodeEntry) {
    const std::vector<EntryCase> cases{
        {16, false, 1, "FFFF", 0xFFFF, "FFFF", "9.9997"},
        {16, false, 1, "1FFFF", 0xFFFF, "FFFF", "9.9997"},
        {16, false, 1, "", 0, "0", "-10.0000"},
        {16, false, 1, "00ff", 0x00FF, "FF", "-9.9222"},
        {16, false, 1, "xyz", std::nullopt, "", nullptr},
        // The voltage shown honours the coding: code 0 is 0 V in two's complement.
        {16, false, 0, "0000", 0, "0", "0.0000"},
        {16, false, 0, "C000", 0xC000, "C000", "-5.0000"},
        {16, true, 1, "40000.4", 40000, "40000", "2.2070"},
        {16, true, 1, "1e12", std::nullopt, "", nullptr},
        {16, true, 1, "-3", 0, "0", "-10.0000"},
        {16, true, 1, "12,5", std::nullopt, "", nullptr, true},
        {16, true, 1, "abc", std::nullopt, "", nullptr, true},
        {16, true, 1, "1 000", 1000, "1000", "-9.6948"},
        // Hexadecimal has no decimal comma: the strict reading refuses it after the range.
        {16, false, 1, "1,5", std::nullopt, "", nullptr},
        {14, false, 1, "3FFF", 0xFFFC, "3FFF", "9.9988"},
        {14, true, 1, "70000", 0xFFFC, "16383", "9.9988"},
    };
    StartUp();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.typed) + (c.decimal ? " dec" : " hex") +
                     std::to_string(c.resolution));
        t.state.Resolution = c.resolution;
        t.state.BinaryCoding = c.binaryCoding;
        if ((Text("Command2") == QStringLiteral("Dec")) != c.decimal)
            Click("Command2");
        FocusElsewhere();
        t.adapter.Clear();
        Type("TextData", QString::fromLatin1(c.typed));
        Traffic expected;
        if (!c.refusedAtOnce)
            expected = {Read(0x98), Read(0x98)};
        if (c.written)
            expected.push_back(Pulsed(0x10, *c.written));
        EXPECT_EQ(Sent(), expected);
        EXPECT_EQ(Text("TextData"), QString::fromLatin1(c.shown));
        if (c.volts) {
            EXPECT_EQ(Text("TextVolts"), QString::fromLatin1(c.volts));
            EXPECT_EQ(window.focusWidget(), Widget("Command1"));
        } else {
            EXPECT_EQ(window.focusWidget(), Widget("TextData"));
        }
    }
}

struct GainCase {
    int16_t resolution;
    const char* view;
    const char* box;
    int command;
    const char* typed;
    std::optional<int> written;  // nothing: refused, the box emptied and focused
    const char* shown;
};

TEST_F(ComposerTest, FineGainAndOffsetEntries) {
    const std::vector<GainCase> cases{
        {16, "Fine Gain Register", "TextFine", 0x20, "40", 31, "31"},
        {16, "Fine Gain Register", "TextFine", 0x20, "-1", 63, "-1"},
        {16, "Fine Gain Register", "TextFine", 0x20, "-0.3", 64, "0"},
        {16, "Fine Gain Register", "TextFine", 0x20, "", 0, "0"},
        {16, "Fine Gain Register", "TextFine", 0x20, "2.5", 2, "2"},
        {14, "Fine Gain Register", "TextFine", 0x20, "7.75", 31, "7.75"},
        {14, "Fine Gain Register", "TextFine", 0x20, "-8", 32, "-8"},
        {14, "Fine Gain Register", "TextFine", 0x20, "-0.25", 63, "-0.25"},
        {14, "Fine Gain Register", "TextFine", 0x20, "xyz", std::nullopt, ""},
        {16, "Fine Gain Register", "TextFine", 0x20, "1,5", std::nullopt, ""},
        {16, "Fine Gain Register", "TextFine", 0x20, "3 1", 31, "31"},
        {16, "Offset Register", "TextOffset", 0x28, "x", std::nullopt, ""},
        {16, "Offset Register", "TextOffset", 0x28, "-0,125", std::nullopt, ""},
        {16, "Offset Register", "TextOffset", 0x28, "&H2", 0x10, "2"},
        {16, "Offset Register", "TextOffset", 0x28, "-0.125", 0xFF, "-0.125"},
        {16, "Offset Register", "TextOffset", 0x28, "20", 0x7F, "15.875"},
        {16, "Offset Register", "TextOffset", 0x28, "", 0, "0"},
        {16, "Offset Register", "TextOffset", 0x28, "1e12", 0x7F, "15.875"},
        {14, "Offset Register", "TextOffset", 0x28, "3", 0x60, "3"},
        {14, "Offset Register", "TextOffset", 0x28, "-1", 0xE0, "-1"},
        {14, "Offset Register", "TextOffset", 0x28, "-5", 0x80, "-4"},
    };
    StartUp();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.view) + " " + c.typed + " " + std::to_string(c.resolution));
        t.state.Resolution = c.resolution;
        Choose("ComboReg", QString::fromLatin1(c.view));
        FocusElsewhere();
        t.adapter.Clear();
        Type(c.box, QString::fromLatin1(c.typed));
        EXPECT_EQ(Sent(), c.written ? Traffic{Pulsed(c.command, *c.written)} : Traffic{});
        EXPECT_EQ(Text(c.box), QString::fromLatin1(c.shown));
        // A refused entry leaves the read-back's word (R/W 1) shown.
        EXPECT_EQ(Text("LabelRW"), c.written ? QStringLiteral("0") : QStringLiteral("1"));
        EXPECT_EQ(window.focusWidget() == Widget(c.box), !c.written);
    }
}

TEST_F(ComposerTest, FourteenBitFineGainShowsTheCodeAsWritten) {
    StartUp(14);
    Choose("ComboReg", QStringLiteral("Fine Gain Register"));
    Type("TextFine", QStringLiteral("7.75"));
    EXPECT_EQ(Text("Label27"), QStringLiteral("001F"));
    EXPECT_EQ(DataBits(), QStringLiteral("0000000000011111"));
}

TEST_F(ComposerTest, EntryBoxesActOnEnterOnly) {
    StartUp();
    for (const char* box : {"TextVolts", "TextData"})
        Type(box, QStringLiteral("5"), false);
    Choose("ComboReg", QStringLiteral("Fine Gain Register"));
    t.adapter.Clear();
    Type("TextFine", QStringLiteral("5"), false);
    QTest::keyClick(Widget("TextFine"), Qt::Key_Tab);
    EXPECT_EQ(Sent(), Traffic{});
}

}  // namespace
}  // namespace tq::testing
