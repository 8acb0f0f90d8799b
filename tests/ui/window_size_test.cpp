// Every window can be made small enough for a 1920 x 1080 screen at scale 1.5 less a taskbar
// (1280 x 680 logical pixels), its frame included, and the same test programs run it with the
// normal font, a larger desktop font and at scale 1.5. Windows taller than that scroll their
// content rather than cut it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLayout>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "adapter/simulated/SimulatedBoard.h"
#include "instrument/MeterRuns.h"
#include "instrument/Waveform.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeMeter.h"
#include "tests/support/TestContext.h"
#include "ui/auxiliary/Form1.h"
#include "ui/auxiliary/Form2.h"
#include "ui/auxiliary/ManualForm.h"
#include "ui/auxiliary/TestForm.h"
#include "ui/auxiliary/VoutForm.h"
#include "ui/auxiliary/frmAbout.h"
#include "ui/bench/BenchForm.h"
#include "ui/main/MainForm.h"
#include "ui/meter/MeterForm.h"
#include "ui/protection/ProtectionForm.h"
#include "ui/waveform/TemperatureLogForm.h"
#include "ui/waveform/WaveformForm.h"

namespace tq::testing {
namespace {

// A title bar and borders as desktops draw them, in logical pixels.
constexpr QSize kFrame(2 * 6, 36 + 6);
constexpr QSize kScreen(1280, 680);

TEST(WindowSize, EveryWindowFitsASmallScreenFrameIncluded) {
    TestContext t;
    FakeClock runTimer;
    WaveformRun run(t.instrument, runTimer);
    FakeMeter meter;
    FakeClock meterTimer;
    MeterRuns runs(t.instrument, meter, meterTimer);
    SimulatedBoard board;
    t.context.waveform = &run;
    t.context.meter = &runs;
    t.context.bench = &board;
    const std::vector<std::pair<std::string, std::function<QWidget*()>>> windows{
        {"MainForm", [&] { return new MainForm(t.context); }},
        {"VoutForm", [&] { return new VoutForm(t.context); }},
        {"TestForm", [&] { return new TestForm(t.context); }},
        {"Form2", [&] { return new Form2(t.context); }},
        {"frmAbout", [&] { return new frmAbout(t.context); }},
        {"Form1", [&] { return new Form1(t.context); }},
        {"WaveformForm", [&] { return new WaveformForm(t.context); }},
        {"TemperatureLogForm", [&] { return new TemperatureLogForm(t.context, &runTimer); }},
        {"MeterForm", [&] { return new MeterForm(t.context, runs); }},
        {"ProtectionForm", [&] { return new ProtectionForm(t.context); }},
        {"BenchForm", [&] { return new BenchForm(t.context); }},
        {"ManualForm", [&] { return new ManualForm(t.context); }},
    };
    for (const auto& [name, make] : windows) {
        std::unique_ptr<QWidget> window(make());
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->show();
        QApplication::processEvents();
        const QSize least = window->minimumSizeHint().expandedTo(window->minimumSize()) + kFrame;
        EXPECT_LE(least.width(), kScreen.width()) << name;
        EXPECT_LE(least.height(), kScreen.height()) << name;
        // Made that small, every control a layout places keeps at least its own least size
        // (the designed windows place theirs where they were drawn, checked by the text fit).
        window->resize(least - kFrame);
        QApplication::processEvents();
        for (const QWidget* w : window->findChildren<QWidget*>()) {
            const QLayout* layout = w->parentWidget() ? w->parentWidget()->layout() : nullptr;
            if (w->isVisibleTo(window.get()) && w->minimumSizeHint().isValid() && layout &&
                layout->indexOf(w) >= 0 && !w->inherits("QScrollBar")) {
                EXPECT_GE(w->height(), w->minimumSizeHint().height())
                    << name << "." << w->objectName().toStdString();
            }
        }
    }
}

}  // namespace
}  // namespace tq::testing
