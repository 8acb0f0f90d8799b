// A four-channel staircase "as fast as the link allows" on the simulated board with a link
// latency, against the rate the link alone allows (the same five requests a step, bare), and how
// long a click waits for the user-interface thread during the run. Prints one CSV line:
// latency_us,link_steps_per_s,achieved_steps_per_s,ratio,clicks,click_max_ms,click_median_ms

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "adapter/simulated/SimulatedBoard.h"
#include "board/BoardRequests.h"
#include "core/DeviceState.h"
#include "instrument/Instrument.h"
#include "instrument/Waveform.h"
#include "timers/QtRunTimer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int latency = argc > 1 ? std::atoi(argv[1]) : 250;
    const int steps = argc > 2 ? std::atoi(argv[2]) : 1600;

    tq::DeviceState state;
    tq::SimulatedBoard board;
    tq::BoardRequests requests{state, board};
    tq::Instrument instrument{state, requests, {"Simulated board", "SIMULATED"}};
    tq::ApplyStartDefaults(state);
    instrument.SetPulseAfterDataWrite(true);
    if (instrument.ConnectBoard(TQ_FIRMWARE_FOLDER) != 0) {
        std::fprintf(stderr, "waveform_bench: the simulated board did not start\n");
        return 1;
    }
    instrument.SetRangeCode(tq::kAllChannels, 0);
    board.SetLatency(latency);

    // The link alone: five bare requests a step (four data writes and a LOAD), half before the
    // run and half after it, so that a machine whose load changes weighs on both alike.
    const int bareSteps = std::max(100, steps / 8);
    double bareSeconds = 0.0;
    const auto bare = [&] {
        const auto start = Clock::now();
        for (int step = 0; step < bareSteps; ++step)
            for (int request = 0; request < 5; ++request)
                board.Vendor_Request(1, 0xDD, request < 4 ? 0x10 + request : 0x05, 0x8000, 0, 0,
                                     nullptr);
        bareSeconds += Seconds(Clock::now() - start);
    };
    bare();

    // A window with a button that a user clicks every 50 ms from outside the UI thread's
    // control: the wait is from the click's arrival in the queue to its handler.
    QPushButton button(QStringLiteral("Click"));
    button.resize(120, 40);
    button.show();
    std::mutex mutex;
    std::vector<Clock::time_point> posted;
    std::vector<double> waits;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        const auto now = Clock::now();
        std::lock_guard lock(mutex);
        if (waits.size() < posted.size())
            waits.push_back(Seconds(now - posted[waits.size()]) * 1000.0);
    });

    tq::QtRunTimer timer;
    tq::WaveformRun run(instrument, timer);
    tq::WavePlan plan;
    for (int16_t channel = 0; channel < tq::kChannelCount; ++channel) {
        tq::ChannelWave wave;
        wave.channel = channel;
        wave.shape = tq::WaveShape::Staircase;
        wave.amplitude = 9.0;
        wave.points = steps;
        plan.channels.push_back(wave);
    }
    plan.dwellSeconds = 0.0;
    plan.periods = 1;

    std::atomic<bool> done{false};
    std::thread user([&] {
        const QPointF at(60, 20);
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (done)
                break;
            {
                std::lock_guard lock(mutex);
                if (waits.size() < posted.size())
                    continue;  // the previous click is not answered yet
                posted.push_back(Clock::now());
            }
            QCoreApplication::postEvent(
                &button, new QMouseEvent(QEvent::MouseButtonPress, at, at, Qt::LeftButton,
                                         Qt::LeftButton, Qt::NoModifier));
            QCoreApplication::postEvent(
                &button, new QMouseEvent(QEvent::MouseButtonRelease, at, at, Qt::LeftButton,
                                         Qt::NoButton, Qt::NoModifier));
        }
    });
    QTimer finished;
    QObject::connect(&finished, &QTimer::timeout, [&] {
        if (!run.Running())
            app.quit();
    });
    finished.start(20);
    run.Start(plan);
    app.exec();
    done = true;
    user.join();
    bare();
    const double linkRate = 2.0 * bareSteps / bareSeconds;

    const tq::RunStatus status = run.Status();
    if (status.state != tq::RunState::Finished) {
        std::fprintf(stderr, "waveform_bench: the run ended %s: %s\n",
                     tq::RunStateName(status.state), status.error.c_str());
        return 1;
    }
    std::sort(waits.begin(), waits.end());
    const double maxWait = waits.empty() ? 0.0 : waits.back();
    const double medianWait = waits.empty() ? 0.0 : waits[waits.size() / 2];
    std::printf("%d,%.1f,%.1f,%.4f,%zu,%.2f,%.2f\n", latency, linkRate, status.achievedRate,
                status.achievedRate / linkRate, waits.size(), maxWait, medianWait);
    return 0;
}
