// The Waveform Generator window over the recording adapter with a fake clock: what its controls
// send, what it refuses before a run, the CSV list, and the figures it shows.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/FakeClock.h"
#include "tests/support/Requests.h"
#include "tests/support/TestContext.h"
#include "tests/support/WidgetFinder.h"
#include "ui/plots/PlotHost.h"
#include "ui/plots/PlotModel.h"
#include "ui/waveform/WaveformForm.h"

namespace tq::testing {
namespace {

// The program's settings in a folder of this test's own: CTest runs these tests side by side, and
// the definition one keeps must not open in another's window.
struct OwnSettings {
    OwnSettings() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    }
    QTemporaryDir folder;
};

class WaveformFormTest : public ::testing::Test {
protected:
    WaveformFormTest() {
        t.context.waveform = &run;
        t.context.files = &files;
        t.instrument.SetPulseAfterDataWrite(true);
        t.instrument.SetRangeCode(kAllChannels, 0);  // every channel +-10 V, known
        t.adapter.Clear();
        form = std::make_unique<WaveformForm>(t.context);
        form->show();
    }

    template <typename T>
    T* Child(const QString& name) {
        return FindChild<T>(*form, name);
    }
    void Type(const QString& name, const QString& text) { TypeOver(Child<QLineEdit>(name), text); }
    void Choose(const QString& name, const QString& item) {
        auto* list = Child<QComboBox>(name);
        list->setCurrentIndex(list->findText(item));
    }
    void Click(const QString& name) {
        QTest::mouseClick(Child<QAbstractButton>(name), Qt::LeftButton);
    }
    QString Label(const QString& name) { return Child<QLabel>(name)->text(); }
    std::vector<QString> Messages() {
        std::vector<QString> texts;
        for (const auto& m : t.messages.messages)
            texts.push_back(m.text);
        t.messages.messages.clear();
        return texts;
    }

    OwnSettings settings;  // first: the window reads what was kept as it is made
    TestContext t;
    FakeClock timer;
    WaveformRun run{t.instrument, timer};
    ScriptedFileDialogs files;
    std::unique_ptr<WaveformForm> form;
};

TEST_F(WaveformFormTest, ATriangleAndAStaircaseRunTogetherAndStop) {
    Choose("ComboShape0", "Triangle");
    Type("TextPoints0", "4");
    Click("CheckChannel2");
    Type("TextPoints2", "3");
    Type("TextDwell", "20");
    Click("CheckContinuous");
    EXPECT_FALSE(Child<QPushButton>("CmdStop")->isEnabled());
    Click("CmdStart");
    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(Child<QPushButton>("CmdStart")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>("CmdStop")->isEnabled());
    timer.now = *timer.wake;
    run.Step();
    timer.now = *timer.wake + 0.05;  // this one comes late
    run.Step();
    // -5 V on both, then the triangle's 0 V beside the staircase's 0 V, then 5 V on both.
    EXPECT_EQ(t.adapter.Requests(),
              (std::vector<std::string>{Write(0x10, 0x4000), Write(0x12, 0x4000), Write(0x05, 0),
                                        Write(0x10, 0x8000), Write(0x12, 0x8000), Write(0x05, 0),
                                        Write(0x10, 0xC000), Write(0x12, 0xC000), Write(0x05, 0)}));
    form->ShowStatus();
    EXPECT_EQ(Label("LabelState"), "Running: step 3");
    // Beside the rate, the period's frequency: four steps a period.
    EXPECT_EQ(Label("LabelAskedRate"), "Asked: 50.0 steps/s (12.5 Hz)");
    EXPECT_EQ(Label("LabelLate"), "Late steps: 1");
    // The third step went at 0.09 s.
    EXPECT_EQ(Label("LabelAchievedRate"), "Achieved: 33.3 steps/s (8.33 Hz)");
    Click("CmdStop");
    EXPECT_EQ(Label("LabelState"), "Stopped after 3 steps");
    EXPECT_FALSE(timer.wake.has_value());
    EXPECT_TRUE(Child<QPushButton>("CmdStart")->isEnabled());
}

TEST_F(WaveformFormTest, ABadEntryOrAPointOutOfRangeIsRefusedBeforeTheRun) {
    const std::vector<std::pair<std::function<void()>, QString>> cases = {
        {[&] { Type("TextAmplitude0", "abc"); }, "DAC A amplitude: 'abc' is not a number"},
        {[&] { Type("TextAmplitude0", "11"); },
         "DAC A point 1 (-11 V) is outside the channel's range, -10 V to 10 V"},
        {[&] {
             Type("TextAmplitude0", "5");
             Type("TextPoints0", "0");
         },
         "DAC A: points per period are a whole number from 1 to 65536"},
        {[&] {
             Type("TextPoints0", "8");
             Choose("ComboShape0", "List");
             Type("TextList0", "1, 2, x");
         },
         "DAC A's list: line 3 holds no number"},
        {[&] {
             Type("TextList0", "1, 2");
             Type("TextDwell", "0");
         },
         "the dwell per step must be above 0 ms"},
    };
    for (const auto& [enter, says] : cases) {
        enter();
        Click("CmdStart");
        const auto shown = Messages();
        ASSERT_EQ(shown.size(), 1u) << says.toStdString();
        EXPECT_TRUE(shown[0].contains(says)) << shown[0].toStdString();
        EXPECT_TRUE(t.adapter.Requests().empty());
        EXPECT_FALSE(run.Running());
    }
}

// No number at all, or a decimal comma (not a thousands separator: 1,500 ms is not 1500 ms): the
// box is emptied and focused, the message says which, and nothing is sent.
TEST_F(WaveformFormTest, TextWithoutANumberOrWithADecimalCommaEmptiesItsBox) {
    struct Case {
        const char* box;
        const char* typed;
        const char* says;
    };
    for (const Case& c : {Case{"TextAmplitude0", "2,5", "DAC A amplitude: '2,5' is not a number"},
                          Case{"TextOffset0", "x", "DAC A offset: 'x' is not a number"},
                          Case{"TextDwell", "1,500", "Dwell per step: '1,500' is not a number"},
                          Case{"TextPeriods", "-", "Periods: '-' is not a number"}}) {
        SCOPED_TRACE(c.box);
        Type(c.box, c.typed);
        Click("CmdStart");
        const auto shown = Messages();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_TRUE(shown[0].contains(QLatin1String(c.says))) << shown[0].toStdString();
        auto* box = form->findChild<QLineEdit*>(QLatin1String(c.box));
        EXPECT_EQ(box->text(), QString());
        EXPECT_EQ(form->focusWidget(), box);
        EXPECT_TRUE(t.adapter.Requests().empty());
        EXPECT_FALSE(run.Running());
        Type(c.box, c.box == std::string("TextPeriods") ? "1" : "5");
    }
}

// Closing the window while its run goes asks; Stop it stops the run, Keep it running leaves it.
TEST_F(WaveformFormTest, ClosingWhileTheRunGoesAsksWhetherToStopIt) {
    Type("TextDwell", "100000");
    Click("CmdStart");
    ASSERT_TRUE(run.Running());
    t.messages.choice = 1;
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(run.Running());
    form->show();
    t.messages.choice = 0;
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(run.Running());
    const auto asked = Messages();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_TRUE(asked[0].startsWith("The waveform run is still running."));
}

TEST_F(WaveformFormTest, ACsvFileBecomesTheChannelsListAndABadOneIsExplained) {
    QTemporaryDir dir;
    const QString good = dir.filePath("points.csv");
    const QString bad = dir.filePath("bad.csv");
    // A header line names the columns, as spreadsheets write them.
    std::ofstream(good.toStdString())
        << "# from the bench\nvolts,note\n1.5\n-2,first column\n0.25\n";
    std::ofstream(bad.toStdString()) << "1\nvolts\n";
    files.names = {good, bad, QString()};
    Click("CmdCsv3");
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(Child<QCheckBox>("CheckChannel3")->isChecked());
    EXPECT_EQ(Child<QComboBox>("ComboShape3")->currentText(), "List");
    EXPECT_EQ(Child<QLineEdit>("TextList3")->text(), "1.5, -2, 0.25");
    Click("CmdCsv3");
    const auto shown = Messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].contains("line 2 holds no number: volts")) << shown[0].toStdString();
    EXPECT_EQ(Child<QLineEdit>("TextList3")->text(), "1.5, -2, 0.25");  // the list is kept
    Click("CmdCsv3");  // cancelled: nothing changes
    EXPECT_TRUE(Messages().empty());
    const WavePlan plan = form->Plan();
    ASSERT_EQ(plan.channels.size(), 2u);
    EXPECT_EQ(plan.channels[1].list, (std::vector<double>{1.5, -2.0, 0.25}));
}

TEST_F(WaveformFormTest, ThePreviewDrawsEveryChannelInVoltsOnOneScale) {
    // DAC A: a staircase of +-5 V; DAC B: codes about mid-scale, drawn as the volts they give on
    // its known +-10 V range.
    Type("TextPoints0", "4");
    Click("CheckChannel1");
    Choose("ComboUnits1", "Codes");
    Type("TextAmplitude1", "16384");
    Type("TextOffset1", "32768");
    Type("TextPoints1", "2");
    Type("TextDwell", "250");
    const auto* plot = form->findChild<PlotHost*>("PlotPreview");
    ASSERT_NE(plot, nullptr);
    const PlotModel& m = plot->Model();
    EXPECT_EQ(m.title, "One period: 4 steps of 250 ms, 1 s, 1 Hz");
    ASSERT_EQ(m.series.size(), 2u);
    EXPECT_EQ(m.series[0].name, "DAC A");
    EXPECT_EQ(m.series[1].unit, "V");
    ASSERT_EQ(YScales(m).size(), 1u);
    std::vector<double> a, b;
    for (const PlotPoint& p : m.series[0].points)
        a.push_back(p.y);
    for (const PlotPoint& p : m.series[1].points)
        b.push_back(p.y);
    // What goes out: the codes, and the volts each code gives (not the ideal -5/3 V).
    const std::vector<int32_t> codesA{16384, 27307, 38229, 49152};
    EXPECT_EQ(m.series[0].codes, codesA);
    // The shorter list repeats within the period: 16384 and 49152 are -5 V and +5 V.
    EXPECT_EQ(m.series[1].codes, (std::vector<int32_t>{16384, 49152, 16384, 49152}));
    const std::vector<double> wantB{-5, 5, -5, 5};
    ASSERT_EQ(a.size(), 4u);
    ASSERT_EQ(b.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(a[i], static_cast<float>(codesA[i] * 20.0 / 65536 - 10)) << i;
        EXPECT_DOUBLE_EQ(b[i], wantB[i]) << i;
    }
    EXPECT_DOUBLE_EQ(m.series[0].points[3].x, 0.75);
    // The export gives each step's code beside the volts it gives.
    const std::string csv = PlotCsv(m);
    EXPECT_EQ(csv.substr(0, csv.find('\n', csv.find('\n') + 1)),
              "Time (s),DAC A (V),DAC A (code),DAC B (V),DAC B (code)\n0,-5,16384,-5,16384");
}

// What the window holds is kept between runs of the program, and a setup's definition reaches
// it (the run keeps what the window shows for the main window's Save Setup).
TEST_F(WaveformFormTest, TheDefinitionIsKeptAndASetupsReachesTheWindow) {
    Choose("ComboShape0", "Sine");
    Type("TextAmplitude0", "2.5");
    Click("CheckChannel2");
    Choose("ComboShape2", "List");
    Type("TextList2", "1.5, -0.25");
    Type("TextPeriods", "3");
    const WaveformDefinition shown = form->Definition();
    EXPECT_EQ(run.Definition(), shown);
    form.reset();  // the program ends

    WaveformRun next{t.instrument, timer};  // the next run of the program
    t.context.waveform = &next;
    form = std::make_unique<WaveformForm>(t.context);
    EXPECT_EQ(form->Definition(), shown);

    WaveformDefinition offered = shown;
    offered.channels[1].amplitude = 1;
    offered.periods.reset();  // left out: the box keeps what it shows
    next.OfferDefinition(offered);
    EXPECT_EQ(Child<QLineEdit>("TextAmplitude1")->text(), "1");
    EXPECT_EQ(Child<QLineEdit>("TextPeriods")->text(), "3");
    EXPECT_TRUE(t.adapter.Requests().empty());
    form.reset();
    t.context.waveform = &run;
}

TEST_F(WaveformFormTest, AFailedStepIsShownAndTold) {
    Click("CmdStart");
    t.adapter.requestResult = -1;
    timer.now = *timer.wake;
    run.Step();
    form->ShowStatus();
    EXPECT_TRUE(Label("LabelState").startsWith("Failed at step 2: board request failed (-1)"))
        << Label("LabelState").toStdString();
    const auto shown = Messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].startsWith("The waveform run stopped: step 2")) << shown[0].toStdString();
    form->ShowStatus();
    EXPECT_TRUE(Messages().empty());  // told once
}

}  // namespace
}  // namespace tq::testing
