// The Bench Meter window driven as a user drives it, over the simulated board with a meter and a
// timer the test answers.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "instrument/MeterRuns.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeMeter.h"
#include "tests/support/SimulatedInstrument.h"
#include "tests/support/TestContext.h"
#include "tests/support/WidgetFinder.h"
#include "ui/meter/MeterForm.h"
#include "ui/plots/PlotHost.h"

namespace tq {
namespace {

struct Window : testing::SimulatedInstrument {
    testing::FakeMeter meter;
    testing::FakeClock timer;
    MeterRuns runs{instrument, meter, timer};
    RecordingMessageSink messages;
    ScriptedFileDialogs files;
    WindowContext context{state,      state,
                          instrument, messages,
                          "",         "Simulated board",
                          &board,     [](WindowId) { return true; },
                          &files};
    MeterForm* form;

    Window() {
        testing::App();
        context.meter = &runs;
        form = new MeterForm(context, runs);
    }
    ~Window() { delete form; }
    template <typename T>
    T* Find(const char* name) {
        return testing::FindChild<T>(*form, name);
    }
    void Click(const char* name) { QTest::mouseClick(Find<QPushButton>(name), Qt::LeftButton); }
    void Type(const char* name, const QString& text) { Find<QLineEdit>(name)->setText(text); }
    void Drive() {
        for (int i = 0; i < 100000 && runs.Active(); ++i)
            if (!timer.Fire() &&
                !meter.Answer({true, board.OutputVolts(meter.channels.back()), {}}))
                break;
    }
};

TEST(MeterForm, ConnectsWithTheTypedSettings) {
    Window w;
    w.Type("TextAddress", "TCPIP::10.0.0.5::5025::SOCKET");
    w.Type("TextSetup", "CONF:VOLT:DC 10; SENS:VOLT:NPLC 1");
    w.Type("TextSelect", "ROUT:CLOS (@10{ch})");
    w.Type("TextTimeout", "750");
    w.Click("CmdOpen");
    EXPECT_TRUE(w.meter.open);
    EXPECT_EQ(w.meter.opened.address, "TCPIP::10.0.0.5::5025::SOCKET");
    EXPECT_EQ(w.meter.opened.setupCommands,
              (std::vector<std::string>{"CONF:VOLT:DC 10", "SENS:VOLT:NPLC 1"}));
    EXPECT_EQ(w.meter.opened.timeoutMilliseconds, 750);
    EXPECT_TRUE(w.messages.messages.empty());
}

TEST(MeterForm, DisconnectsUnlessARunUsesTheMeter) {
    Window w;
    w.Type("TextAddress", "TCPIP::10.0.0.5::5025::SOCKET");
    w.Click("CmdOpen");
    ASSERT_TRUE(w.meter.open);
    w.Click("CmdClose");
    EXPECT_FALSE(w.meter.open);
    EXPECT_TRUE(w.messages.messages.empty());
    std::string error;
    EXPECT_FALSE(w.runs.StartCalibration(0, error));  // closed: no run
    w.Click("CmdOpen");
    ASSERT_TRUE(w.runs.StartCalibration(0, error)) << error;
    EXPECT_FALSE(w.Find<QPushButton>("CmdClose")->isEnabled());
    // Refused over any other way in too, and the run goes on.
    EXPECT_FALSE(w.runs.CloseMeter(error));
    EXPECT_EQ(error, "a meter run is using the meter; stop it first");
    EXPECT_TRUE(w.meter.open);
    EXPECT_TRUE(w.runs.Active());
    w.Click("CmdStop");
    EXPECT_TRUE(w.Find<QPushButton>("CmdClose")->isEnabled());
}

TEST(MeterForm, TheReportAndThePlotGrowWithTheWindow) {
    Window w;
    w.form->resize(760, 900);
    w.form->show();
    QCoreApplication::processEvents();
    auto* report = w.Find<QPlainTextEdit>("TextReport");
    auto* plot = w.Find<QWidget>("PlotLinearity");
    const int reportHeight = report->height(), plotHeight = plot->height();
    w.form->resize(760, 1200);
    QCoreApplication::processEvents();
    EXPECT_GT(report->height(), reportHeight + 50);
    EXPECT_GT(plot->height(), plotHeight + 100);
}

TEST(MeterForm, RefusesBoxesThatDoNotRead) {
    Window w;
    w.Type("TextAddress", "TCPIP::10.0.0.5::5025::SOCKET");
    w.Type("TextCount", "0");
    w.Click("CmdOpen");
    EXPECT_FALSE(w.meter.open);
    ASSERT_EQ(w.messages.messages.size(), 1u);
}

TEST(MeterForm, ALinearityTestShowsItsProgressReportAndSavesTheCsv) {
    Window w;
    w.Type("TextAddress", "TCPIP::10.0.0.5::5025::SOCKET");
    w.Type("TextCount", "1");
    w.Click("CmdOpen");
    w.Find<QComboBox>("ComboChannel")->setCurrentIndex(1);
    w.Type("TextCodes", "9");
    w.Click("CmdLinearity");
    ASSERT_TRUE(w.runs.Active()) << (w.messages.messages.empty()
                                         ? std::string()
                                         : w.messages.messages[0].text.toStdString());
    EXPECT_FALSE(w.Find<QPushButton>("CmdLinearity")->isEnabled());
    EXPECT_TRUE(w.Find<QPushButton>("CmdStop")->isEnabled());
    w.Drive();
    EXPECT_EQ(w.Find<QLabel>("LabelStatus")->text(), "Finished");
    EXPECT_EQ(w.Find<QProgressBar>("ProgressRun")->value(), 9);
    const QString report = w.Find<QPlainTextEdit>("TextReport")->toPlainText();
    EXPECT_TRUE(report.startsWith("channel: DAC B\ncodes: 9\n")) << report.toStdString();

    QTemporaryDir dir;
    const QString csv = dir.filePath("run.csv");
    w.files.names.push_back(csv);
    w.Click("CmdSave");
    QFile saved(csv);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().startsWith("code,set_volts,reading_volts,inl_lsb,dnl_lsb\n0,"));
    QFile summary(dir.filePath("run.txt"));
    ASSERT_TRUE(summary.open(QIODevice::ReadOnly));
    EXPECT_TRUE(summary.readAll().startsWith("channel: DAC B"));

    // The plot shows the finished test; a new run clears it at once.
    const auto* plot = w.Find<PlotHost>("PlotLinearity");
    EXPECT_TRUE(plot->Model().HasPoints());
    w.Click("CmdLinearity");
    EXPECT_FALSE(plot->Model().HasPoints());
    EXPECT_EQ(plot->Model().note,
              "The linearity test is running: its results appear here when it finishes");
}

TEST(MeterForm, StopEndsARunStartedElsewhere) {
    Window w;
    w.meter.open = true;
    std::string error;
    ASSERT_TRUE(w.runs.StartCalibration(kAllChannels, error)) << error;
    EXPECT_EQ(w.Find<QLabel>("LabelStatus")->text(), "Running");
    w.Click("CmdStop");
    EXPECT_EQ(w.Find<QLabel>("LabelStatus")->text(), "Stopped");
    EXPECT_TRUE(w.Find<QPlainTextEdit>("TextReport")
                    ->toPlainText()
                    .startsWith("stopped; DAC A is back at code 32768"));
    EXPECT_TRUE(w.Find<QPushButton>("CmdCalibrate")->isEnabled());
}

struct ProbeCase {
    const char* name;
    bool ok;
    std::string state;
    int done;
};

class ProbeBox : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ProbeBox, AsksFromTheEventLoopAndContinuesOrStops) {
    Window w;
    w.meter.open = true;
    w.meter.scanner = false;
    w.messages.answer = GetParam().ok;
    std::string error;
    ASSERT_TRUE(w.runs.StartCalibration(kAllChannels, error)) << error;
    w.Drive();
    ASSERT_EQ(w.runs.StateName(), "PROBE");
    // Not inside the meter's answer that ended DAC A: the box waits for the event loop.
    EXPECT_TRUE(w.messages.messages.empty());
    QCoreApplication::processEvents();
    ASSERT_EQ(w.messages.messages.size(), 1u);
    EXPECT_EQ(w.messages.messages[0].icon, MessageIcon::Question);
    EXPECT_EQ(w.messages.messages[0].text.toStdString(),
              "Move the meter's probe to DAC B's output, then continue.\n\nOK continues the run; "
              "Cancel stops it.");
    EXPECT_EQ(w.runs.StateName(), GetParam().state);
    EXPECT_EQ(w.runs.Current()->Done(), GetParam().done);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.messages.messages.size(), 1u) << "asked twice";
}

INSTANTIATE_TEST_SUITE_P(Answers, ProbeBox,
                         ::testing::Values(ProbeCase{"Ok", true, "RUNNING", 4},
                                           ProbeCase{"Cancel", false, "STOPPED", 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MeterForm, AnAnswerIsForThePromptItsBoxShowed) {
    Window w;
    w.meter.open = true;
    w.meter.scanner = false;
    w.messages.answer = false;
    std::string error;
    ASSERT_TRUE(w.runs.StartCalibration(kAllChannels, error)) << error;
    w.Drive();
    ASSERT_EQ(w.runs.StateName(), "PROBE");
    // While DAC B's box is open, the protocol continues the run on to DAC C's prompt: the Cancel
    // given to DAC B's box must not stop it there; DAC C gets a box of its own.
    w.messages.listener = [&](const RecordingMessageSink::Message&) {
        w.messages.listener = nullptr;
        w.runs.Continue();
        w.Drive();
    };
    QCoreApplication::processEvents();
    ASSERT_EQ(w.messages.messages.size(), 1u);
    EXPECT_EQ(w.runs.StateName(), "PROBE");
    EXPECT_EQ(w.runs.Current()->Done(), 8);
    QCoreApplication::processEvents();
    ASSERT_EQ(w.messages.messages.size(), 2u);
    EXPECT_NE(w.messages.messages[1].text.indexOf("DAC C"), -1);
    EXPECT_EQ(w.runs.StateName(), "STOPPED");
}

}  // namespace
}  // namespace tq
