#include "ui/main/MainForm.h"
#include "board/SimulatedBench.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>
#include <set>
#include <string>
#include <vector>

#include "board/AdapterResults.h"
#include "instrument/Waveform.h"
#include "tests/support/FakeClock.h"
#include "tests/support/Requests.h"
#include "tests/support/TestContext.h"
#include "tests/support/WidgetFinder.h"
#include "ui/widgets/Toggle.h"

namespace tq::testing {
namespace {

// Start-up traffic after the download: the function register read-back, the no-operation word,
// then the data register view (function write with SDO enabled, read-back of DAC A's data).
// The last two read DAC A's coarse gain: the data view shows volts in the channel's own range,
// which the program does not know until then.
Requests StartupRequests(int functionWrite) {
    return {"DD 129 0 1 3", "DD 129 0 1 3", "DD 0 0 0 0",   FunctionWrite(functionWrite),
            "DD 144 0 1 3", "DD 144 0 1 3", "DD 152 0 1 3", "DD 152 0 1 3"};
}

struct MainFormFixture : ::testing::Test {
    template <typename T = Toggle>
    T* Find(const char* name) {
        return FindChild<T>(form, name);
    }
    bool Visible(const char* name) { return Find<QWidget>(name)->isVisibleTo(&form); }
    bool Enabled(const char* name) { return Find<QWidget>(name)->isEnabled(); }
    bool Load(uint16_t functionReadBack) {
        ctx.adapter.QueueRegisterRead(functionReadBack);
        return form.Load();
    }

    TestContext ctx;
    MainForm form{ctx.context};
};

TEST_F(MainFormFixture, StartupSendsExactlyTheConnectionTheFunctionReadAndTheDataView) {
    ASSERT_TRUE(Load(0));
    ASSERT_GE(ctx.adapter.calls.size(), 3u);
    EXPECT_EQ(ctx.adapter.calls[0].function, "Search_For_Boards");
    EXPECT_EQ(ctx.adapter.calls[1].function, "Connect");
    EXPECT_EQ(ctx.adapter.calls[2].function, "Download_Firmware");
    EXPECT_EQ(ctx.adapter.calls[2].path, "/opt/tq/TQ2604.hex");
    EXPECT_EQ(ctx.adapter.Requests(), StartupRequests(0));
    EXPECT_EQ(ctx.adapter.calls.size(), 3 + StartupRequests(0).size());

    EXPECT_EQ(form.windowTitle(), QStringLiteral("TQ2604X Evaluation Software"));
    EXPECT_EQ(Find<QComboBox>("ComboReg")->currentText(), QStringLiteral("Data Register"));
    EXPECT_FALSE(form.isVisible());
}

TEST_F(MainFormFixture, PinSwitchesStartHighWithPulseOnAndLdacLocked) {
    ASSERT_TRUE(Load(0));
    struct Case {
        const char* toggle;
        const char* caption;
    };
    for (const Case& c : std::vector<Case>{
             {"Toggle2", "Binary"}, {"Toggle8", "High"}, {"Toggle9", "High"}, {"Toggle10", "High"}})
        EXPECT_EQ(Find(c.toggle)->text(), QLatin1String(c.caption)) << c.toggle;
    EXPECT_TRUE(Find<QCheckBox>("Check1")->isChecked());
    EXPECT_FALSE(Enabled("Toggle9"));
    EXPECT_FALSE(Enabled("Toggle5"));
    EXPECT_FALSE(Enabled("Toggle6"));
}

// Changes made elsewhere (another window, a remote client) show without board traffic.
TEST_F(MainFormFixture, ShowsChangesMadeElsewhere) {
    ASSERT_TRUE(Load(0));
    ctx.instrument.SetPin(Pin::BinaryCoding, false);
    ctx.instrument.SetPulseAfterDataWrite(false);
    ctx.instrument.SetD0Output(true);
    ctx.adapter.Clear();
    ctx.instrument.WriteRegister(0, kRegData, 0xC000);
    ctx.instrument.WriteRegister(1, kRegData, 0x4000);  // not the channel shown
    EXPECT_EQ(Find("Toggle2")->text(), QStringLiteral("2sComplement"));
    EXPECT_FALSE(Find<QCheckBox>("Check1")->isChecked());
    EXPECT_TRUE(Enabled("Toggle9"));
    EXPECT_TRUE(Find("Toggle4")->State());
    EXPECT_TRUE(Enabled("Toggle6"));
    EXPECT_EQ(Find<QLineEdit>("TextData")->text(), QStringLiteral("C000"));
    EXPECT_EQ(Find<QLineEdit>("TextVolts")->text(), QStringLiteral("-5.0000"));  // two's complement
    EXPECT_EQ(ctx.adapter.Requests().size(), 2u);
}

TEST_F(MainFormFixture, TheFunctionRegisterReadAtStartupSetsSwitchesListAndFlagsAlike) {
    struct Case {
        uint16_t readBack;
        int taken;                 // the register as the window takes it
        std::vector<bool> states;  // Toggle1, 3, 5, 4, 6
        bool d1Drive, d0Drive, readShown;
        QStringList choices;
    };
    const QStringList zeroChoices{"Local Ground Offset Adjust Enable",
                                  "Set D1 as Output",
                                  "Clear D1",
                                  "Set D0 as Output",
                                  "Clear D0",
                                  "Disable SDO Output"};
    const std::vector<Case> cases{
        {0x0000, 0x00, {false, false, false, false, false}, true, true, true, zeroChoices},
        {0x003F,
         0x3F,
         {true, true, true, true, true},
         false,
         false,
         false,
         {"Local Ground Offset Adjust Disable", "Set D1 as Input", "Set D1", "Set D0 as Input",
          "Set D0", "Enable SDO Output"}},
        // Only the six control bits count.
        {0x01C5,
         0x05,
         {false, false, false, true, false},
         true,
         false,
         true,
         {"Local Ground Offset Adjust Enable", "Set D1 as Output", "Clear D1", "Set D0 as Input",
          "Clear D0", "Enable SDO Output"}},
        // Nothing answered: taken as 0.
        {0xFFFF, 0x00, {false, false, false, false, false}, true, true, true, zeroChoices},
    };
    for (const Case& c : cases) {
        TestContext context;
        MainForm window(context.context);
        context.adapter.QueueRegisterRead(c.readBack);
        ASSERT_TRUE(window.Load()) << c.readBack;
        auto toggle = [&](const char* name) {
            return window.findChild<Toggle*>(QLatin1String(name));
        };
        const char* const names[] = {"Toggle1", "Toggle3", "Toggle5", "Toggle4", "Toggle6"};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(toggle(names[i])->State(), c.states[i]) << c.readBack << " " << names[i];
        // The data view's function write enables SDO on the register as taken.
        EXPECT_EQ(context.adapter.Requests(), StartupRequests(c.taken & ~1)) << c.readBack;
        EXPECT_EQ(toggle("Toggle7")->text(), QStringLiteral("Enabled"));

        const DeviceState& s = context.state;
        const int flags = s.FnLocalGndOffset * 32 + s.FnD1Output * 16 + s.FnD1High * 8 +
                          s.FnD0Output * 4 + s.FnD0High * 2 + s.FnSdoDisable;
        EXPECT_EQ(flags, c.taken & ~1) << c.readBack;

        EXPECT_EQ(toggle("Toggle12")->isEnabled(), c.d1Drive) << c.readBack;
        EXPECT_EQ(window.findChild<QGroupBox*>("Frame21")->isEnabled(), c.d1Drive);
        EXPECT_EQ(toggle("Toggle11")->isEnabled(), c.d0Drive) << c.readBack;
        EXPECT_EQ(window.findChild<QGroupBox*>("Frame20")->isEnabled(), c.d0Drive);
        EXPECT_EQ(window.findChild<QWidget*>("Command6")->isVisibleTo(&window), c.readShown)
            << c.readBack;

        auto* list = window.findChild<QComboBox*>("ComboFunction");
        QStringList items;
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i);
        const QStringList expected = QStringList{"No Operation"} + c.choices +
                                     QStringList{"CLEAR All DAC Channels", "LOAD All DAC Channels"};
        EXPECT_EQ(items, expected) << c.readBack;
        EXPECT_FALSE(list->isVisibleTo(&window));
    }
}

TEST_F(MainFormFixture, TheFirstSwitchFlipKeepsWhatTheConverterHad) {
    ASSERT_TRUE(Load(0x14));  // D1 and D0 outputs
    form.show();
    ctx.adapter.Clear();
    QTest::mouseClick(Find("Toggle1"), Qt::LeftButton);
    EXPECT_EQ(ctx.adapter.Requests(), Requests{FunctionWrite(0x34)});
}

TEST_F(MainFormFixture, AFailedDownloadExplainsItselfAndSendsNothingMore) {
    // The explanation of the code, then where the program looked for the firmware file.
    struct Case {
        int32_t result;
        bool explained;
        QString detail;
    };
    for (const Case& c : std::vector<Case>{
             {1, false, {}},
             {kResultIoError, true, {}},
             {kResultFirmwareMissing, true,
              QStringLiteral(" (expected at /opt/tq/TQ2604.hex: file not found)")},
             {kResultSimulatorImage, true, QStringLiteral(" (/opt/tq/TQ2604.hex)")}}) {
        TestContext context;
        MainForm window(context.context);
        context.adapter.downloadResult = c.result;
        EXPECT_FALSE(window.Load()) << c.result;
        std::vector<QString> texts;
        for (const auto& m : context.messages.messages) {
            EXPECT_EQ(m.icon, MessageIcon::Warning);
            texts.push_back(m.text);
        }
        std::vector<QString> expected;
        if (c.explained) {
            const std::string_view why = ExplainAdapterResult(c.result);
            expected.push_back(QString::fromUtf8(why.data(), static_cast<qsizetype>(why.size())) +
                               c.detail);
        }
        expected.push_back(QStringLiteral("Error Downloading Firmware - Check USB connections"));
        EXPECT_EQ(texts, expected) << c.result;
        EXPECT_TRUE(context.adapter.Requests().empty()) << c.result;
        EXPECT_FALSE(window.isVisible());
    }
}

TEST_F(MainFormFixture, OffsetAndFineGainPromptsFollowTheResolution) {
    struct Case {
        int16_t resolution;
        const char* offset;
        const char* fine;
    };
    for (const Case& c : std::vector<Case>{
             {16, "Enter Offset Value (-16 to 15.875)", "Enter Fine Gain Value (-32 to 31)"},
             {14, "Enter Offset Value (-4 to 3)", "Enter Fine Gain Value (-8 to 7.75)"}}) {
        TestContext context;
        context.state.Resolution = c.resolution;
        MainForm window(context.context);
        ASSERT_TRUE(window.Load());
        EXPECT_EQ(window.findChild<QLabel*>("Label9")->text(), QLatin1String(c.offset));
        EXPECT_EQ(window.findChild<QLabel*>("Label7")->text(), QLatin1String(c.fine));
    }
}

TEST_F(MainFormFixture, TheDesignAreaIsFixedAndTheUnseenControlsExistHidden) {
    ASSERT_TRUE(Load(0));
    EXPECT_EQ(form.centralWidget()->size(), QSize(978, 554));
    form.show();
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    struct Case {
        const char* name;
        QRect geometry;  // empty: not checked
    };
    for (const Case& c : std::vector<Case>{{"Frame1", QRect(8, 24, 961, 161)},
                                           {"Frame6", QRect(8, 200, 961, 129)},
                                           {"Frame12", QRect(8, 344, 961, 89)},
                                           {"Frame19", QRect(8, 448, 321, 97)},
                                           {"Frame22", QRect(344, 448, 625, 97)}}) {
        EXPECT_TRUE(Visible(c.name)) << c.name;
        EXPECT_EQ(Find<QWidget>(c.name)->geometry(), c.geometry) << c.name;
    }
    for (const char* name :
         {"Frame23", "Text1",  "Label31", "Command10", "Command9", "Frame18", "Label17",
          "Label15", "Frame2", "Frame5",  "Command3",  "Label13",  "Frame4",  "DacText",
          "Label54", "Frame3", "Option1", "Option2",   "Option3",  "Option4", "Option5"})
        EXPECT_FALSE(Visible(name)) << name;
    for (const char* name : {"Shape1", "Shape2", "Shape3", "Shape4", "Shape5", "Shape6", "Shape7"})
        EXPECT_TRUE(Visible(name)) << name;
    EXPECT_EQ(Find<QGroupBox>("Frame23")->title(),
              QStringLiteral("Analog Offset and Span Adjust.                    DACA - Vout   ,   "
                             "DACC - Offset Adjust   ,   DACD - Span Adjust"));
}

// Every control the user can reach, in each register's view and during the calibration, says
// what it does.
TEST_F(MainFormFixture, EveryControlHasATooltip) {
    ASSERT_TRUE(Load(0));
    form.show();
    std::set<std::string> seen, without;
    const auto look = [&] {
        for (QWidget* w : form.findChildren<QWidget*>()) {
            const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                                 qobject_cast<QComboBox*>(w);
            if (!control || !w->isVisibleTo(&form))
                continue;
            seen.insert(w->objectName().toStdString());
            if (w->toolTip().isEmpty())
                without.insert(w->objectName().toStdString());
        }
    };
    auto* views = Find<QComboBox>("ComboReg");
    for (int i = 0; i < views->count(); ++i) {
        views->setCurrentIndex(i);
        emit views->activated(i);
        look();
    }
    QTest::mouseClick(Find<QPushButton>("Command8"), Qt::LeftButton);
    look();
    EXPECT_EQ(without, std::set<std::string>{});
    for (const char* name : {"ComboCoarse", "TextFine", "TextOffset", "TextOff"})
        EXPECT_EQ(seen.count(name), 1u) << name;
}

TEST_F(MainFormFixture, MenuItemsOpenTheirWindowsByName) {
    struct Case {
        const char* action;
        const char* text;
        const char* window;
    };
    for (const Case& c : std::vector<Case>{{"MnuAbout", "&About", "frmAbout"},
                                           {"MnuManual", "&Manual", "ManualForm"},
                                           {"MnuTest", "Direct Read/Write", "TestForm"},
                                           {"MnuVout", "&Output Voltages", "VoutForm"}}) {
        ctx.opened.clear();
        auto* action = Find<QAction>(c.action);
        EXPECT_EQ(action->text(), QLatin1String(c.text));
        EXPECT_TRUE(action->isEnabled()) << c.action;
        action->trigger();
        EXPECT_EQ(ctx.opened, std::vector<QString>{QLatin1String(c.window)}) << c.action;
    }
    EXPECT_EQ(form.findChild<QAction*>("MnuBench"), nullptr);
    EXPECT_TRUE(ctx.adapter.calls.empty());
}

class NoBench : public SimulatedBench {
public:
    double OutputVolts(int) const override { return 0; }
    double DieTemperature() const override { return 25; }
    void SetDieTemperature(double) override {}
    int D0Level() const override { return 0; }
    int D1Level() const override { return 0; }
    void SetLatency(int64_t microseconds) override { latency = microseconds; }
    int64_t Latency() const override { return latency; }
    int64_t latency = 0;
};

TEST(MainFormBench, TheBenchItemComesWithTheSimulatedBoard) {
    TestContext ctx;
    NoBench bench;
    ctx.context.bench = &bench;
    MainForm form(ctx.context);
    auto* action = form.findChild<QAction*>("MnuBench");
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), QStringLiteral("Simulated &Bench"));
    action->trigger();
    EXPECT_EQ(ctx.opened, std::vector<QString>{QStringLiteral("BenchForm")});
}

TEST_F(MainFormFixture, ExitAndClosingEndTheProgramAndSendNothing) {
    ASSERT_TRUE(Load(0));
    // Only the window's own handlers may end the program here.
    QApplication::setQuitOnLastWindowClosed(false);
    using Trigger = std::function<void()>;
    for (const Trigger& end :
         {Trigger([&] { Find<QAction>("MnuExit")->trigger(); }), Trigger([&] { form.close(); })}) {
        form.show();
        ctx.adapter.Clear();
        QTimer trigger;
        trigger.setSingleShot(true);
        QObject::connect(&trigger, &QTimer::timeout, end);
        trigger.start(0);
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        timeout.start(5000);
        EXPECT_EQ(QApplication::exec(), 0);
        EXPECT_TRUE(ctx.adapter.calls.empty());
    }
}

// While a run drives an output, File, Exit (Ctrl+Q) and closing the window ask first, as the
// run's own window does; Cancel, the default, keeps the program and its window.
TEST_F(MainFormFixture, QuittingWhileARunDrivesAnOutputAsksFirst) {
    ASSERT_TRUE(Load(0));
    FakeClock timer;
    WaveformRun run{ctx.instrument, timer};
    run.Start({{ChannelWave{}}, 0.01, 0});  // DAC A until stopped
    form.show();
    Find<QAction>("MnuExit")->trigger();
    EXPECT_FALSE(form.close());
    ASSERT_EQ(ctx.messages.messages.size(), 2u);
    EXPECT_EQ(ctx.messages.messages[0].text,
              "The waveform run is still running. Quitting stops it where its last step left the "
              "outputs. Quit all the same? [Stop and quit|Cancel]");
    EXPECT_TRUE(form.isVisible());
    run.Stop({nullptr, "the test ends", true});
}

TEST_F(MainFormFixture, WritesPulseWhileCheckedAndTheReadWriteCellFollows) {
    ASSERT_TRUE(Load(0));
    form.show();
    auto* rw = Find<QLabel>("LabelRW");
    ctx.adapter.Clear();
    ctx.instrument.WriteRegister(1, kRegData, 0xC000);
    EXPECT_EQ(rw->text(), QStringLiteral("0"));
    QTest::mouseClick(Find<QCheckBox>("Check1"), Qt::LeftButton);
    ctx.instrument.WriteRegister(1, kRegData, 0xC000);
    ctx.instrument.ReadRegister(1, kRegData);
    EXPECT_EQ(rw->text(), QStringLiteral("1"));
    EXPECT_EQ(ctx.adapter.Requests(),
              (Requests{"D9 17 49152 0 0", "DD 17 49152 0 0", "DD 145 0 1 3", "DD 145 0 1 3"}));
}

TEST_F(MainFormFixture, TheStatusBarNamesTheBoardAndReportsSilence) {
    ASSERT_TRUE(Load(0));
    form.show();
    auto* board = Find<QLabel>("StatusBoard");
    EXPECT_EQ(board->text(), QStringLiteral("Test board"));
    struct Step {
        int32_t result;
        bool silent;
    };
    for (const Step& s : std::vector<Step>{{-1, true}, {-7, true}, {0, false}, {-1, true}}) {
        ctx.adapter.requestResult = s.result;
        QTest::mouseClick(Find<QWidget>("Command4"), Qt::LeftButton);
        EXPECT_TRUE(board->text().startsWith(QStringLiteral("Test board")));
        EXPECT_EQ(board->text().contains(QStringLiteral("Board not responding")), s.silent)
            << s.result;
    }
}

TEST_F(MainFormFixture, StatusTipsLeaveTheBoardAndItsStateInTheStatusBar) {
    ASSERT_TRUE(Load(0));
    form.show();
    auto* board = Find<QLabel>("StatusBoard");
    auto* remote = Find<QLabel>("StatusRemote");
    // Hovering a menu item shows its tip and clears it on leaving, as the menus do.
    const auto hoverMenu = [this] {
        QStatusTipEvent tip(QStringLiteral("Leave the program"));
        QApplication::sendEvent(&form, &tip);
        QStatusTipEvent none{QString()};
        QApplication::sendEvent(&form, &none);
    };
    struct Step {
        int32_t result;
        QString shown;
    };
    const QString silent = QStringLiteral("Test board \u2014 Board not responding");
    for (const Step& s : std::vector<Step>{{0, QStringLiteral("Test board")},
                                           {-1, silent},
                                           {-1, silent},
                                           {0, QStringLiteral("Test board")}}) {
        ctx.adapter.requestResult = s.result;
        QTest::mouseClick(Find<QWidget>("Command4"), Qt::LeftButton);
        hoverMenu();
        EXPECT_EQ(board->text(), s.shown) << s.result;
        EXPECT_TRUE(board->isVisible()) << s.result;
    }
    form.ShowRemoteClients(2);
    hoverMenu();
    EXPECT_EQ(remote->text(), QStringLiteral("Remote: 2 clients"));
    EXPECT_TRUE(remote->isVisible());
    EXPECT_TRUE(board->isVisible());
    form.ShowRemoteLock(QStringLiteral("VXI-11 link from 10.0.0.7"));
    hoverMenu();
    EXPECT_EQ(remote->text(),
              QStringLiteral("Remote: 2 clients, locked by VXI-11 link from 10.0.0.7"));
    form.ShowRemoteLock({});
    EXPECT_EQ(remote->text(), QStringLiteral("Remote: 2 clients"));
}

}  // namespace
}  // namespace tq::testing
