// The whole loop on the simulated bench: the runs drive the simulated board and read its outputs
// through the simulated meter over a loopback socket, as they would a real meter.

#include <gtest/gtest.h>

#include <cmath>

#include "core/Tables.h"
#include "instrument/MeterRun.h"
#include "meter/MeterLink.h"
#include "meter/SimulatedMeter.h"
#include "tests/meter/MeterTestSupport.h"
#include "tests/support/SimulatedInstrument.h"
#include "timers/QtRunTimer.h"

namespace tq {
namespace {

using testing::ScriptedMeter;
using testing::WaitFor;

struct Loop : testing::SimulatedInstrument {
    SimulatedMeter simulatedMeter{board};
    MeterLink link;
    QtRunTimer timer;

    explicit Loop(std::vector<std::string> setup = {}) {
        testing::CoreApp();
        QString error;
        EXPECT_TRUE(simulatedMeter.Listen(0, error)) << error.toStdString();
        MeterSettings settings;
        settings.address =
            "TCPIP::127.0.0.1::" + std::to_string(simulatedMeter.Port()) + "::SOCKET";
        settings.setupCommands = std::move(setup);
        settings.selectCommand = "ROUT:CLOS (@10{ch})";
        settings.timeoutMilliseconds = 5000;
        std::string why;
        EXPECT_TRUE(link.Open(settings, why)) << why;
        EXPECT_TRUE(WaitFor([&] { return link.IsOpen(); }));
    }
    void RunToEnd(MeterRun& run) {
        EXPECT_TRUE(WaitFor([&] { return !run.Active(); })) << run.Message();
    }
};

TEST(MeterLoop, CalibratesAllFourChannelsWithinOneLsb) {
    Loop loop;
    AutoCalibrationRun run(loop.instrument, loop.link, loop.timer, {1, 1});
    ASSERT_TRUE(run.Start(kAllChannels));
    loop.RunToEnd(run);
    ASSERT_EQ(run.CurrentState(), MeterRun::State::Finished) << run.Message();
    ASSERT_EQ(run.Results().size(), 4u);
    for (const auto& r : run.Results()) {
        EXPECT_LE(std::fabs(r.zeroErrorVolts), r.lsbVolts) << "DAC " << r.channel;
        EXPECT_LE(std::fabs(r.fullScaleErrorVolts), r.lsbVolts) << "DAC " << r.channel;
    }
    EXPECT_NE(run.Message().find("every error is within 1 LSB"), std::string::npos);
    std::printf("%s\n", run.Message().c_str());
}

TEST(MeterLoop, LinearityWithNoiseSaysHowNoisy) {
    Loop loop({"SIM:NOIS 50,7"});
    loop.board.SetNonLinearity(true);
    LinearityRun run(loop.instrument, loop.link, loop.timer, {1, 4});
    ASSERT_TRUE(run.Start(0, SpreadCodes(0, 65535, 33)));
    loop.RunToEnd(run);
    ASSERT_EQ(run.CurrentState(), MeterRun::State::Finished) << run.Message();
    EXPECT_GT(run.Report().noiseVolts, 30e-6);
    EXPECT_LT(run.Report().noiseVolts, 75e-6);
    EXPECT_NE(run.Message().find("reading noise: "), std::string::npos);
    std::printf("%s\n", run.Message().c_str());
}

TEST(MeterLoop, AMeterThatHangsUpMidRunStopsItWithTheOutputsBack) {
    testing::SimulatedInstrument sim;
    ScriptedMeter fake;
    fake.goodReadings = 3;
    fake.mode = ScriptedMeter::Mode::Drop;
    MeterLink link;
    MeterSettings settings;
    settings.address = fake.Address();
    std::string why;
    ASSERT_TRUE(link.Open(settings, why));
    ASSERT_TRUE(WaitFor([&] { return link.IsOpen(); }));
    QtRunTimer timer;
    sim.instrument.SetDataCode(1, 777);
    LinearityRun run(sim.instrument, link, timer, {0, 1});
    ASSERT_TRUE(run.Start(1, SpreadCodes(0, 65535, 10)));
    ASSERT_TRUE(WaitFor([&] { return !run.Active(); }));
    EXPECT_EQ(run.CurrentState(), MeterRun::State::Failed);
    EXPECT_EQ(run.Message(),
              "the meter failed: the meter closed the connection; DAC B is back at code 777");
    EXPECT_EQ(run.Done(), 3);
    EXPECT_EQ(sim.board.GetRegister(1, kRegData), 777);
}

}  // namespace
}  // namespace tq
