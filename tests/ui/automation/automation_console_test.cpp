#include "ui/automation/AutomationConsole.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

#include "adapter/tracing/TracingAdapter.h"
#include "tests/support/FakeSimulator.h"
#include "tests/support/RowNames.h"
#include "tests/support/TestContext.h"
#include "tests/ui/automation/ToyForm.h"

namespace tq::testing {
namespace {

class Console : public ::testing::Test {
protected:
    TestContext t;
    TracingAdapter trace{t.adapter};
    FakeSimulator sim;
    AutomationConsole console{t.context, trace, &sim, t.messages};
    ToyForm toy;

    std::string Run(const std::string& line) { return console.Execute(line); }
};

struct LineCase {
    std::string command;
    std::string output;
};

std::ostream& operator<<(std::ostream& os, const LineCase& c) {
    return os << c.command;
}

// Commands that only read: their exact output.
class ConsoleGet : public Console, public ::testing::WithParamInterface<LineCase> {};

TEST_P(ConsoleGet, PrintsWhatTheUserSees) {
    EXPECT_EQ(Run(GetParam().command), GetParam().output);
    EXPECT_TRUE(toy.ran.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Controls, ConsoleGet,
    ::testing::Values(
        LineCase{"get ToyForm", "text: Toy Form\nvisible: 1\nok\n"},
        LineCase{"get HiddenForm", "text: \nvisible: 0\nok\n"},
        LineCase{"get ToyForm.Check1", "text: Pulse & Go\nvisible: 1\nenabled: 1\nstate: 0\nok\n"},
        LineCase{"get ToyForm.Option1", "text: Option 1\nvisible: 1\nenabled: 1\nstate: 1\nok\n"},
        LineCase{"get ToyForm.Toggle1", "text: Input\nvisible: 1\nenabled: 1\nstate: 0\nok\n"},
        LineCase{"get ToyForm.Command1", "text: Apply\nvisible: 1\nenabled: 1\nok\n"},
        LineCase{"get ToyForm.Combo1",
                 "text: Data Register\nvisible: 1\nenabled: 1\n"
                 "items: Data Register|Fine Gain|Offset\nok\n"},
        LineCase{"get ToyForm.Text1", "text: \nvisible: 1\nenabled: 1\nfocus: 0\nok\n"},
        LineCase{"get ToyForm.Label1", "text: R&D\\nsecond line\nvisible: 1\nenabled: 1\nok\n"},
        LineCase{"get ToyForm.Label2", "text: Bold & plain\nvisible: 1\nenabled: 1\nok\n"},
        LineCase{"get ToyForm.Frame1", "text: Settings\nvisible: 1\nenabled: 1\nok\n"},
        LineCase{"get ToyForm.HiddenButton", "text: Hidden\nvisible: 0\nenabled: 1\nok\n"},
        LineCase{"get ToyForm.InnerButton", "text: Inner\nvisible: 0\nenabled: 1\nok\n"},
        LineCase{"get ToyForm.DisabledButton", "text: Disabled\nvisible: 1\nenabled: 0\nok\n"},
        LineCase{"get ToyForm.DisabledInner", "text: Inner\nvisible: 1\nenabled: 0\nok\n"},
        LineCase{"get ToyForm.MnuGo", "text: Go\nvisible: 1\nenabled: 1\nok\n"},
        LineCase{"get ToyForm.MnuOff", "text: Off\nvisible: 1\nenabled: 0\nok\n"},
        LineCase{"get NoForm", "error: no window NoForm\n"},
        LineCase{"get ToyForm.Nothing", "error: no control ToyForm.Nothing\n"},
        LineCase{"get", "error: missing window or control\n"}),
    tq::testing::NamedBy<&LineCase::command>{});

// Commands a user could not carry out: refused, and no handler runs.
class ConsoleRefusal : public Console, public ::testing::WithParamInterface<LineCase> {};

TEST_P(ConsoleRefusal, RunsNothing) {
    toy.text1->setText("kept");
    EXPECT_EQ(Run(GetParam().command), GetParam().output);
    EXPECT_TRUE(toy.ran.empty());
    EXPECT_EQ(toy.text1->text(), "kept");
    EXPECT_TRUE(sim.calls.empty());
    EXPECT_TRUE(t.opened.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ConsoleRefusal,
    ::testing::Values(
        LineCase{"frobnicate ToyForm.Command1", "error: unknown command 'frobnicate'\n"},
        LineCase{"CLICK ToyForm.Command1", "error: unknown command 'CLICK'\n"},
        LineCase{"click NoForm.Command1", "error: no window NoForm\n"},
        LineCase{"click ToyForm.Nothing", "error: no control ToyForm.Nothing\n"},
        LineCase{"click ToyForm", "error: expected Window.Control, got 'ToyForm'\n"},
        LineCase{"click ToyForm.", "error: expected Window.Control, got 'ToyForm.'\n"},
        LineCase{"click ToyForm.HiddenButton", "error: ToyForm.HiddenButton is hidden\n"},
        LineCase{"click ToyForm.InnerButton", "error: ToyForm.InnerButton is hidden\n"},
        LineCase{"click ToyForm.DisabledButton", "error: ToyForm.DisabledButton is disabled\n"},
        LineCase{"click ToyForm.DisabledInner", "error: ToyForm.DisabledInner is disabled\n"},
        LineCase{"click HiddenForm.Button", "error: window HiddenForm is hidden\n"},
        LineCase{"click ToyForm.Text1", "error: ToyForm.Text1 is not a button\n"},
        LineCase{"click ToyForm.Command1 twice", "error: unexpected text after ToyForm.Command1\n"},
        LineCase{"type ToyForm.HiddenText 1", "error: ToyForm.HiddenText is hidden\n"},
        LineCase{"type ToyForm.ReadOnlyText 1", "error: ToyForm.ReadOnlyText is read-only\n"},
        LineCase{"type ToyForm.Combo1 Offset", "error: ToyForm.Combo1 is not an entry box\n"},
        LineCase{"key ToyForm.HiddenText enter", "error: ToyForm.HiddenText is hidden\n"},
        LineCase{"key ToyForm.Text1 ab", "error: unknown key 'ab'\n"},
        LineCase{"key ToyForm.Text1", "error: unknown key ''\n"},
        LineCase{"select ToyForm.DisabledCombo Only", "error: ToyForm.DisabledCombo is disabled\n"},
        LineCase{"select ToyForm.Combo1 Gain", "error: no item 'Gain' in ToyForm.Combo1\n"},
        LineCase{"select ToyForm.Check1 x", "error: ToyForm.Check1 is not a list\n"},
        LineCase{"menu ToyForm.MnuOff", "error: ToyForm.MnuOff is disabled\n"},
        LineCase{"menu ToyForm.MnuHidden", "error: ToyForm.MnuHidden is hidden\n"},
        LineCase{"menu ToyForm.MnuNone", "error: no menu item ToyForm.MnuNone\n"},
        LineCase{"state Nothing", "error: no state field 'Nothing'\n"},
        LineCase{"state resolution", "error: no state field 'resolution'\n"},
        LineCase{"wait -1", "error: bad wait time '-1'\n"},
        LineCase{"wait soon", "error: bad wait time 'soon'\n"},
        LineCase{"sim reg 9 0 0", "error: bad address '9' (expected 0 to 7)\n"},
        LineCase{"sim", "error: missing sim command\n"},
        LineCase{"show", "error: missing window\n"},
        LineCase{"grab ToyForm", "error: expected grab Window FILE\n"},
        LineCase{"grab NoForm /tmp/x.png", "error: no window NoForm\n"},
        LineCase{"trace now", "error: trace takes no arguments\n"},
        LineCase{"quit now", "error: quit takes no arguments\n"},
        LineCase{"messages now", "error: messages takes no arguments\n"},
        LineCase{"  frobnicate\r\n", "error: unknown command 'frobnicate'\n"},
        LineCase{"type", "error: expected Window.Control, got ''\n"},
        LineCase{"menu ToyForm", "error: expected Window.Control, got 'ToyForm'\n"},
        LineCase{"menu NoForm.MnuGo", "error: no window NoForm\n"},
        LineCase{"menu HiddenForm.Nothing", "error: no menu item HiddenForm.Nothing\n"},
        LineCase{"show Nowhere", "error: cannot open window Nowhere\n"},
        LineCase{"state", "error: no state field ''\n"},
        LineCase{"wait", "error: bad wait time ''\n"},
        LineCase{"sim frobnicate", "error: unknown sim command 'frobnicate'\n"},
        LineCase{"", "error: empty command\n"}),
    tq::testing::NamedBy<&LineCase::command>{});

// While the window shows a blocking notice, users' actions are refused; reading still works.
class ConsoleBusy : public Console, public ::testing::WithParamInterface<LineCase> {};

TEST_P(ConsoleBusy, RefusesActionsOnly) {
    toy.window->setProperty("busy", true);
    EXPECT_EQ(Run(GetParam().command), GetParam().output);
    EXPECT_TRUE(toy.ran.empty());
    EXPECT_EQ(toy.text1->text(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Notice, ConsoleBusy,
    ::testing::Values(LineCase{"click ToyForm.Command1", "error: busy\n"},
                      LineCase{"select ToyForm.Combo1 Offset", "error: busy\n"},
                      LineCase{"type ToyForm.Text1 5", "error: busy\n"},
                      LineCase{"key ToyForm.Text1 enter", "error: busy\n"},
                      LineCase{"menu ToyForm.MnuGo", "error: busy\n"},
                      LineCase{"get ToyForm.Command1", "text: Apply\nvisible: 1\nenabled: 1\nok\n"},
                      LineCase{"sim get 1 0", "0x0\nok\n"}, LineCase{"wait 0", "ok\n"},
                      LineCase{"trace", "ok\n"}, LineCase{"messages", "ok\n"}),
    tq::testing::NamedBy<&LineCase::command>{});

TEST_F(Console, BusyEndsWhenThePropertyIsCleared) {
    toy.window->setProperty("busy", true);
    toy.window->setProperty("busy", false);
    EXPECT_EQ(Run("click ToyForm.Command1"), "ok\n");
    EXPECT_EQ(toy.ran, std::vector<std::string>{"Command1"});
}

TEST_F(Console, ClickRunsTheHandlerAndChangesState) {
    EXPECT_EQ(Run("click ToyForm.Command1"), "ok\n");
    EXPECT_EQ(Run("click ToyForm.Check1"), "ok\n");
    EXPECT_EQ(Run("click ToyForm.Option2"), "ok\n");
    EXPECT_EQ(Run("click ToyForm.Toggle1"), "ok\n");
    EXPECT_EQ(toy.ran, (std::vector<std::string>{"Command1", "Check1", "Option2", "Toggle1"}));
    EXPECT_EQ(Run("get ToyForm.Check1"),
              "text: Pulse & Go\nvisible: 1\nenabled: 1\nstate: 1\nok\n");
    EXPECT_EQ(Run("get ToyForm.Option1"), "text: Option 1\nvisible: 1\nenabled: 1\nstate: 0\nok\n");
    EXPECT_EQ(Run("get ToyForm.Toggle1"), "text: Output\nvisible: 1\nenabled: 1\nstate: 1\nok\n");
}

TEST_F(Console, SelectMatchesIgnoringCaseAndRunsTheHandlerForTheShownItemToo) {
    EXPECT_EQ(Run("select ToyForm.Combo1 fine GAIN"), "ok\n");
    EXPECT_EQ(Run("select ToyForm.Combo1 Fine Gain"), "ok\n");
    EXPECT_EQ(Run("select ToyForm.Combo1 data register"), "ok\n");
    EXPECT_EQ(toy.ran, (std::vector<std::string>{"Combo1 Fine Gain", "Combo1 Fine Gain",
                                                 "Combo1 Data Register"}));
    EXPECT_EQ(toy.combo1->currentIndex(), 0);
}

struct TypeCase {
    const char* name;
    std::string command;
    QString text;
};

class ConsoleType : public Console, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(ConsoleType, ReplacesTheTextAsTyping) {
    toy.text1->setText("old");
    EXPECT_EQ(Run(GetParam().command), "ok\n");
    EXPECT_EQ(toy.text1->text(), GetParam().text);
    EXPECT_EQ(toy.ran, std::vector<std::string>{"Text1 edited " + GetParam().text.toStdString()});
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ConsoleType,
    ::testing::Values(TypeCase{"Number", "type ToyForm.Text1 12.5", "12.5"},
                      TypeCase{"NoText", "type ToyForm.Text1", ""},
                      TypeCase{"OneBlank", "type ToyForm.Text1 ", ""},
                      TypeCase{"CarriageReturn", "type ToyForm.Text1 \r", ""},
                      TypeCase{"BlanksKept", "type ToyForm.Text1  two  words ", " two  words "},
                      TypeCase{"HexPrefix", "type ToyForm.Text1 &H7FFF", "&H7FFF"},
                      TypeCase{"Unicode", "type ToyForm.Text1 Grüße °C",
                               QString::fromUtf8("Grüße °C")}),
    tq::testing::ByName{});

TEST_F(Console, KeysReachTheEntryBox) {
    EXPECT_EQ(Run("type ToyForm.Text1 1"), "ok\n");
    EXPECT_EQ(Run("key ToyForm.Text1 7"), "ok\n");
    EXPECT_EQ(Run("key ToyForm.Text1 ENTER"), "ok\n");
    EXPECT_EQ(toy.text1->text(), "17");
    EXPECT_EQ(toy.ran,
              (std::vector<std::string>{"Text1 edited 1", "Text1 edited 17", "Text1 return 17"}));
}

TEST_F(Console, FocusIsTheWindowsFocusWidget) {
    toy.text1->setFocus();
    EXPECT_EQ(Run("get ToyForm.Text1"), "text: \nvisible: 1\nenabled: 1\nfocus: 1\nok\n");
}

TEST_F(Console, TextAndItemLineBreaksStayOnOneLine) {
    toy.text1->setText("a\nb");
    toy.combo1->setItemText(2, "Off\rset");
    EXPECT_EQ(Run("get ToyForm.Text1"), "text: a\\nb\nvisible: 1\nenabled: 1\nfocus: 0\nok\n");
    EXPECT_EQ(Run("get ToyForm.Combo1"),
              "text: Data Register\nvisible: 1\nenabled: 1\n"
              "items: Data Register|Fine Gain|Off\\nset\nok\n");
}

TEST_F(Console, MenuTriggersTheItem) {
    EXPECT_EQ(Run("menu ToyForm.MnuGo"), "ok\n");
    EXPECT_EQ(toy.ran, std::vector<std::string>{"MnuGo"});
}

TEST_F(Console, ShowOpensThroughTheContext) {
    EXPECT_EQ(Run("show VoutForm"), "ok\n");
    EXPECT_EQ(t.opened, std::vector<QString>{"VoutForm"});
    t.context.openWindow = [](WindowId) { return false; };
    EXPECT_EQ(Run("show Nowhere"), "error: cannot open window Nowhere\n");
}

class ConsoleState : public Console, public ::testing::WithParamInterface<LineCase> {
protected:
    void SetUp() override {
        t.state.RangeVolts = 10.2564f;
        t.state.DataValue = -32768;
        t.state.LastStatus = -1;
        t.state.LastRequestFailed = true;
        t.state.FunctionChoices = {"No Operation", "Clear", "Load", "", "a", "b"};
        t.state.ReceiveBuffer = {0x00, 0x01, 0x80, 0xFF};
        t.state.FirmwarePath = "/opt/tq/TQ2604.hex";
        std::copy(t.state.FirmwarePath.begin(), t.state.FirmwarePath.end(),
                  t.state.PathBytes.begin());
    }
};

TEST_P(ConsoleState, PrintsTheField) {
    EXPECT_EQ(Run(GetParam().command), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ConsoleState,
    ::testing::Values(
        LineCase{"state Resolution", "16\nok\n"}, LineCase{"state LdacPin", "1\nok\n"},
        LineCase{"state DriveD0", "0\nok\n"}, LineCase{"state DataValue", "-32768\nok\n"},
        LineCase{"state LastStatus", "-1\nok\n"}, LineCase{"state LastRequestFailed", "1\nok\n"},
        LineCase{"state RangeVolts", "10.2564\nok\n"}, LineCase{"state NumberMode", "Hex\nok\n"},
        LineCase{"state FunctionChoices", "No Operation|Clear|Load||a|b\nok\n"},
        LineCase{"state ReceiveBuffer", "00 01 80 FF\nok\n"},
        LineCase{"state PathBytes", "/opt/tq/TQ2604.hex\nok\n"},
        LineCase{"state FirmwarePath", "/opt/tq/TQ2604.hex\nok\n"},
        LineCase{"state FnSdoDisable", "0\nok\n"}),
    tq::testing::NamedBy<&LineCase::command>{});

TEST_F(Console, FloatFieldsReadBackAsTheSameFloat) {
    for (float value : {0.0f, 2.5f, 5.0f, 10.0f, 1.0f / 3.0f, -7.3f}) {
        t.state.RangeVolts = value;
        std::string out = Run("state RangeVolts");
        ASSERT_EQ(out.substr(out.size() - 4), "\nok\n");
        EXPECT_EQ(std::stof(out.substr(0, out.size() - 4)), value) << out;
    }
    t.state.RangeVolts = 5.0f;
    EXPECT_EQ(Run("state RangeVolts"), "5\nok\n");
}

TEST_F(Console, TracePrintsTheCallsSinceTheLastTrace) {
    int32_t count = 0, handle = 0;
    uint8_t list[128] = {};
    trace.Search_For_Boards(0x456, 0xB202, &count, list);
    trace.Connect(0x456, 0xB202, 0, &handle);
    EXPECT_EQ(Run("trace"),
              "Search_For_Boards vid=0x456 pid=0xB202 result=0\n"
              "Connect vid=0x456 pid=0xB202 board=0x0 result=0\nok\n");
    EXPECT_EQ(Run("trace"), "ok\n");
}

TEST_F(Console, TraceNamesDroppedLinesFirst) {
    TracingAdapter small(t.adapter, 1);
    AutomationConsole smallConsole(t.context, small, nullptr, t.messages);
    int32_t count = 0, handle = 0;
    uint8_t list[128] = {};
    small.Search_For_Boards(0x456, 0xB202, &count, list);
    small.Search_For_Boards(0x456, 0xB202, &count, list);
    small.Connect(0x456, 0xB202, 0, &handle);
    EXPECT_EQ(smallConsole.Execute("trace"),
              "dropped: 2\nConnect vid=0x456 pid=0xB202 board=0x0 result=0\nok\n");
}

TEST_F(Console, MessagesPrintsEachBoxOnce) {
    t.messages.ShowMessage(nullptr, MessageIcon::Warning, "A negative number is expected", "");
    t.messages.ShowMessage(nullptr, MessageIcon::None, "two\nlines", "");
    EXPECT_EQ(Run("messages"),
              "message: warning A negative number is expected\nmessage: none two\\nlines\nok\n");
    EXPECT_EQ(Run("messages"), "ok\n");
    t.messages.ShowMessage(nullptr, MessageIcon::Information, "again", "");
    EXPECT_EQ(Run("messages"), "message: information again\nok\n");
}

TEST(ConsoleMessageLine, NamesTheIcon) {
    using Message = RecordingMessageSink::Message;
    EXPECT_EQ(AutomationConsole::FormatMessageLine(Message{MessageIcon::Critical, "Bad", ""}),
              "message: critical Bad");
    EXPECT_EQ(AutomationConsole::FormatMessageLine(Message{
                  MessageIcon::Warning, "Error Downloading Firmware - Check USB connections", ""}),
              "message: warning Error Downloading Firmware - Check USB connections");
}

TEST_F(Console, SimCommandsReachTheBench) {
    sim.registerValue = 0x8000;
    sim.volts = 5.0001;
    EXPECT_EQ(Run("sim reg 1 0 0x10"), "ok\n");
    EXPECT_EQ(Run("sim get 0 2"), "0x8000\nok\n");
    EXPECT_EQ(Run("sim output 1"), "5.000100\nok\n");
    EXPECT_EQ(sim.calls,
              (std::vector<std::string>{"SetRegister 1 0 16", "GetRegister 0 2", "OutputVolts 1"}));
}

TEST_F(Console, SimNeedsTheSimulatedBoard) {
    AutomationConsole realBoard(t.context, trace, nullptr, t.messages);
    EXPECT_EQ(realBoard.Execute("sim temp 22.5"), "error: no simulated board\n");
}

TEST_F(Console, GrabSavesAPicture) {
    QTemporaryDir dir;
    QString file = dir.filePath("toy form.png");
    EXPECT_EQ(Run("grab ToyForm " + file.toStdString()), "ok\n");
    QImage picture(file);
    EXPECT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), toy.window->size() * toy.window->devicePixelRatio());
    EXPECT_EQ(Run("grab ToyForm " + dir.filePath("missing/x.png").toStdString()),
              "error: cannot save " + dir.filePath("missing/x.png").toStdString() + "\n");
}

TEST_F(Console, WaitLetsTheEventLoopRun) {
    QTimer::singleShot(10, toy.label1, [this] { toy.label1->setText("later"); });
    EXPECT_EQ(Run("wait 100"), "ok\n");
    EXPECT_EQ(toy.label1->text(), "later");
}

TEST_F(Console, QuitAnswersOk) {
    EXPECT_FALSE(console.QuitRequested());
    EXPECT_EQ(Run("quit"), "ok\n");
    EXPECT_TRUE(console.QuitRequested());
}

}  // namespace
}  // namespace tq::testing
