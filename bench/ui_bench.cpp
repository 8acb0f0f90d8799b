// A user's Enter in the voltage box to the register write leaving the program, on the simulated
// board with real (offscreen) widgets.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "adapter/simulated/SimulatedBoard.h"
#include "board/BoardRequests.h"
#include "ui/WindowContext.h"
#include "ui/main/ComposerPanel.h"
#include "ui/widgets/MessageSink.h"

namespace {

class NoSwitches : public tq::FunctionSwitches {
public:
    void SetSdoSwitch(bool) override {}
    void MirrorFunctionBits(int32_t) override {}
};

void TextVoltsEnter(benchmark::State& st) {
    tq::SimulatedBoard board;
    tq::DeviceState state;
    tq::ApplyStartDefaults(state);
    tq::BoardRequests requests(state, board);
    tq::Instrument instrument(state, requests, {"Simulated board", "SIMULATED"});
    tq::RecordingMessageSink messages;
    tq::WindowContext ctx{state,
                          state,
                          instrument,
                          messages,
                          TQ_FIRMWARE_FOLDER,
                          QStringLiteral("Simulated board"),
                          &board,
                          [](tq::WindowId) { return false; }};
    instrument.ConnectBoard(TQ_FIRMWARE_FOLDER);
    NoSwitches switches;
    QWidget window;
    auto* panel = new tq::ComposerPanel(ctx, switches, &window);
    panel->FillLists();
    panel->ApplyStartupVisibility();
    panel->SelectRegisterByText(QStringLiteral("Data register"));
    window.show();
    auto* volts = window.findChild<QLineEdit*>(QStringLiteral("TextVolts"));
    const char* texts[] = {"5", "-2.5", "7.125", "0"};
    int i = 0;
    for (auto _ : st) {
        volts->setText(QString::fromLatin1(texts[i++ & 3]));
        QTest::keyClick(volts, Qt::Key_Return);
    }
}
BENCHMARK(TextVoltsEnter)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
