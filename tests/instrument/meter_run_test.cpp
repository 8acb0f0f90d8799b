// The meter runs on the simulated board, with a meter that reads the simulated outputs and a
// timer that the test fires: the whole loop, step by step, without waiting for real time.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "adapter/simulated/SimulatedBoard.h"
#include "core/Tables.h"
#include "instrument/MeterRun.h"
#include "tests/support/ChannelHolder.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeMeter.h"
#include "tests/support/SimulatedInstrument.h"

namespace tq {
namespace {

using testing::FakeClock;
using testing::FakeMeter;
using testing::SimulatedInstrument;

struct Bench {
    SimulatedInstrument sim;
    FakeMeter meter;
    FakeClock timer;
    // Readings of the channel asked for, plus this deterministic noise (volts, alternating sign).
    double noise = 0;
    int readings = 0;

    // Settles and reads until the run stops asking or `most` steps have gone by.
    void Drive(MeterRun& run, int most = 1000000) {
        for (int i = 0; i < most && run.CurrentState() == MeterRun::State::Running; ++i) {
            if (timer.Fire())
                continue;
            const double sign = (readings++ % 2) ? 1.0 : -1.0;
            if (!meter.Answer(
                    {true, sim.board.OutputVolts(meter.channels.back()) + sign * noise, {}}))
                break;
        }
    }
};

TEST(AutoCalibration, BringsEveryChannelWithinOneLsbAndSaysSo) {
    Bench bench;
    // Before: channel D's offset error alone is 410 uV, beyond 1 LSB (305 uV).
    EXPECT_GT(std::fabs(bench.sim.board.OutputVolts(3)), 305e-6);
    AutoCalibrationRun run(bench.sim.instrument, bench.meter, bench.timer, {50, 1});
    ASSERT_TRUE(run.Start(kAllChannels));
    bench.Drive(run);
    ASSERT_EQ(run.CurrentState(), MeterRun::State::Finished) << run.Message();
    ASSERT_EQ(run.Results().size(), 4u);
    for (const auto& r : run.Results()) {
        EXPECT_TRUE(r.WithinOneLsb())
            << r.channel << ": " << r.zeroErrorVolts << " " << r.fullScaleErrorVolts;
        // The check pass read what the board now puts out.
        EXPECT_LE(std::fabs(bench.sim.board.OutputVolts(r.channel) - 0), 1.0)
            << "outputs are back at their codes";
    }
    EXPECT_NE(run.Message().find("every error is within 1 LSB"), std::string::npos);
    EXPECT_EQ(run.Done(), 16);
    EXPECT_EQ(bench.timer.delays.front(), 50);
    // Every channel back at the code it had: 0 V (0x8000).
    for (int channel = 0; channel < 4; ++channel)
        EXPECT_EQ(bench.sim.board.GetRegister(channel, kRegData), 0x8000);
}

TEST(AutoCalibration, MakesTheSameRegisterWritesAsTheTypedCalibration) {
    Bench bench;
    AutoCalibrationRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
    ASSERT_TRUE(run.Start(2));
    bench.Drive(run);
    ASSERT_EQ(run.CurrentState(), MeterRun::State::Finished) << run.Message();

    // The same two steps, with the readings typed from the board's outputs.
    SimulatedInstrument typed;
    Calibration calibration(typed.instrument);
    calibration.Start(2);
    typed.instrument.SetDataCode(2, 0x8000);
    calibration.EnterOffsetReading(static_cast<float>(typed.board.OutputVolts(2)));
    typed.instrument.SetDataCode(2, 0);
    calibration.EnterGainReading(static_cast<float>(typed.board.OutputVolts(2)));

    EXPECT_EQ(bench.sim.board.GetRegister(2, kRegOffset), typed.board.GetRegister(2, kRegOffset));
    EXPECT_EQ(bench.sim.board.GetRegister(2, kRegFineGain),
              typed.board.GetRegister(2, kRegFineGain));
    EXPECT_NE(typed.board.GetRegister(2, kRegFineGain), 0) << "the calibration corrected nothing";
}

TEST(AutoCalibration, WithoutScannerAsksForTheProbeBetweenChannels) {
    Bench bench;
    bench.meter.scanner = false;
    AutoCalibrationRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
    ASSERT_TRUE(run.Start(kAllChannels));
    bench.Drive(run);
    ASSERT_EQ(run.CurrentState(), MeterRun::State::AwaitingProbe);
    EXPECT_EQ(run.Message(), "move the meter's probe to DAC B's output, then continue");
    EXPECT_EQ(run.Done(), 4);
    EXPECT_TRUE(run.Owns(1));
    run.Continue();
    bench.Drive(run);
    EXPECT_EQ(run.CurrentState(), MeterRun::State::AwaitingProbe);
    EXPECT_EQ(run.Done(), 8);
}

TEST(LinearityRun, RecoversTheModelsInlAndDnl) {
    Bench bench;
    bench.sim.board.SetNonLinearity(true);
    // Codes across the range and every code around the major carry.
    std::vector<int32_t> codes = SpreadCodes(0, 0x7FF0, 65);
    for (int32_t code = 0x7FF1; code < 0x8010; ++code)
        codes.push_back(code);
    for (int32_t code : SpreadCodes(0x8010, 0xFFFF, 65))
        codes.push_back(code);
    LinearityRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
    ASSERT_TRUE(run.Start(1, codes));
    bench.Drive(run);
    ASSERT_EQ(run.CurrentState(), MeterRun::State::Finished) << run.Message();
    const auto& results = run.Report().results;
    ASSERT_EQ(results.size(), codes.size());

    const auto model = [](int32_t code) { return SimulatedBoard::NonLinearityLsb(code); };
    const double first = model(codes.front()), last = model(codes.back());
    const double span = codes.back() - codes.front();
    double worst = 0;
    double previousInl = 0;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const double expectedInl =
            model(codes[i]) - first - (last - first) * (codes[i] - codes.front()) / span;
        EXPECT_NEAR(results[i].inlEndPoint, expectedInl, 0.05) << "code " << codes[i];
        if (i > 0) {
            EXPECT_NEAR(results[i].dnl, expectedInl - previousInl, 0.05) << "code " << codes[i];
        }
        worst = std::max(worst, std::fabs(results[i].inlEndPoint - expectedInl));
        previousInl = expectedInl;
    }
    EXPECT_EQ(run.Report().maxDnlCode, 0x8000);
    EXPECT_NEAR(run.Report().maxDnl, 0.5, 0.05);
    EXPECT_NEAR(run.Report().maxInlEndPoint, SimulatedBoard::kInlBowLsb, 0.3);
    EXPECT_EQ(run.Report().noiseVolts, 0);
    EXPECT_LT(worst, 0.05);
    EXPECT_EQ(bench.sim.board.GetRegister(1, kRegData), 0x8000) << "back where it was";
}

TEST(LinearityRun, ReportsHowNoisyTheReadingsWere) {
    Bench bench;
    bench.noise = 30e-6;
    LinearityRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 2});
    ASSERT_TRUE(run.Start(0, SpreadCodes(0, 65535, 9)));
    bench.Drive(run);
    ASSERT_EQ(run.CurrentState(), MeterRun::State::Finished) << run.Message();
    // Two readings, +30 and -30 uV: a standard deviation of 42.4 uV.
    EXPECT_NEAR(run.Report().noiseVolts, 30e-6 * std::sqrt(2.0), 1e-7);
    EXPECT_NE(run.Message().find("reading noise: 42.43 uV (0.139 LSB)"), std::string::npos)
        << run.Message();
}

// The board as a user may have left it, and the code the run finds in DAC A's data register.
struct BoardCase {
    const char* name;
    std::function<void(Instrument&)> prepare;
    int32_t codeBefore;
};

class SteppedInOutputOrder : public ::testing::TestWithParam<BoardCase> {};

TEST_P(SteppedInOutputOrder, FromTheLowestOutputToTheHighestAndBack) {
    Bench bench;
    GetParam().prepare(bench.sim.instrument);
    const double before = bench.sim.board.OutputVolts(0);
    LinearityRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
    ASSERT_TRUE(run.Start(0, {0, 0x8000, 0xFFFF}));
    bench.Drive(run);
    ASSERT_EQ(run.CurrentState(), MeterRun::State::Finished) << run.Message();
    EXPECT_LT(run.Points()[0].reading, -9.9);
    EXPECT_NEAR(run.Points()[1].reading, 0, 0.01);
    EXPECT_GT(run.Points()[2].reading, 9.9);
    // Back where it was, at the output too.
    EXPECT_EQ(bench.sim.board.GetRegister(0, kRegData), GetParam().codeBefore);
    EXPECT_DOUBLE_EQ(bench.sim.board.OutputVolts(0), before);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, SteppedInOutputOrder,
    ::testing::Values(BoardCase{"TwosComplement",
                                [](Instrument& in) { in.SetPin(Pin::BinaryCoding, false); },
                                0x8000},
                      // LDAC stays high and data writes do not pulse it: a write reaches the input
                      // register only, so the run loads each code itself.
                      BoardCase{"WithoutPulseAfterDataWrite",
                                [](Instrument& in) {
                                    in.SetPulseAfterDataWrite(false);
                                    in.SetDataCode(0, 0x9000);
                                    in.LoadAllChannels();
                                },
                                0x9000}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    int answeredBefore;
    MeterReading reading;
    std::string message;
};

class MeterFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(MeterFailure, EndsTheRunAndSaysWhereTheOutputIs) {
    Bench bench;
    bench.sim.instrument.SetDataCode(0, 1234);
    LinearityRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
    ASSERT_TRUE(run.Start(0, SpreadCodes(0, 65535, 10)));
    bench.Drive(run, GetParam().answeredBefore);
    ASSERT_TRUE(bench.timer.Fire() || bench.meter.pending);
    ASSERT_TRUE(bench.meter.Answer(GetParam().reading));
    EXPECT_EQ(run.CurrentState(), MeterRun::State::Failed);
    EXPECT_EQ(run.Message(), GetParam().message);
    EXPECT_EQ(bench.sim.board.GetRegister(0, kRegData), 1234);
    EXPECT_FALSE(run.Owns(0));
    EXPECT_FALSE(bench.timer.pending);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MeterFailure,
    ::testing::Values(
        FailureCase{"first",
                    0,
                    {false, 0, "no answer within 2000 ms"},
                    "the meter failed: no answer within 2000 ms; DAC A is back at code 1234"},
        FailureCase{"later",
                    7,
                    {false, 0, "not a number: 'ERR'"},
                    "the meter failed: not a number: 'ERR'; DAC A is back at code 1234"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MeterRunControl, StopEndsAtOnceAndLateAnswersChangeNothing) {
    Bench bench;
    LinearityRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
    ASSERT_TRUE(run.Start(3, SpreadCodes(0, 65535, 10)));
    bench.timer.Fire();
    ASSERT_TRUE(bench.meter.pending);
    run.Stop({});
    EXPECT_EQ(run.CurrentState(), MeterRun::State::Stopped);
    EXPECT_EQ(run.Message(), "stopped; DAC D is back at code 32768");
    EXPECT_FALSE(bench.meter.pending) << "the reading was cancelled";
    EXPECT_EQ(bench.sim.board.GetRegister(3, kRegData), 0x8000);
}

TEST(MeterRunControl, RefusesWhatCannotRun) {
    Bench bench;
    LinearityRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
    EXPECT_FALSE(run.Start(4, {0, 1}));
    EXPECT_FALSE(run.Start(0, {5}));
    EXPECT_FALSE(run.Start(0, {5, 4}));
    EXPECT_FALSE(run.Start(0, {0, 65536}));
    EXPECT_EQ(run.CurrentState(), MeterRun::State::Idle);
    ASSERT_TRUE(run.Start(0, {0, 1}));
    EXPECT_FALSE(run.Start(0, {0, 1}));
    EXPECT_EQ(run.Message(), "a meter run is already running; stop it first");
}

TEST(MeterRunControl, AnUnpluggedBoardEndsTheRunWithTheBoardsExplanation) {
    Bench bench;
    AutoCalibrationRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
    ASSERT_TRUE(run.Start(0));
    bench.timer.Fire();
    bench.sim.board.Unplug();
    ASSERT_TRUE(bench.meter.Answer({true, 0.0003, {}}));
    EXPECT_EQ(run.CurrentState(), MeterRun::State::Failed);
    EXPECT_NE(run.Message().find("DAC A: the calibration failed: "), std::string::npos)
        << run.Message();
    EXPECT_NE(run.Message().find("DAC A could not be set back to code 32768"), std::string::npos)
        << run.Message();
}

// Everyone else's writes to a driven channel, each refused by the instrument while the run holds
// its claim, and let through once the run has ended.
struct ForeignWrite {
    const char* name;
    std::function<void(Instrument&)> write;
};

class ClaimedChannel : public ::testing::TestWithParam<ForeignWrite> {};

TEST_P(ClaimedChannel, IsRefusedToOthersUntilTheRunEnds) {
    Bench bench;
    LinearityRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
    ASSERT_TRUE(run.Start(1, SpreadCodes(0, 65535, 5)));
    bench.timer.Fire();
    const auto registers = [&] {
        std::vector<int32_t> all;
        for (int16_t reg : {kRegData, kRegCoarseGain, kRegFineGain, kRegOffset})
            all.push_back(bench.sim.board.GetRegister(1, reg));
        return all;
    };
    const auto before = registers();
    int other = 0;
    {
        const Instrument::Origin origin(bench.sim.instrument, &other);
        try {
            GetParam().write(bench.sim.instrument);
            ADD_FAILURE() << "not refused";
        } catch (const InstrumentError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "DAC B is driven by the linearity test; stop it to change the output");
        }
    }
    EXPECT_EQ(registers(), before);
    EXPECT_TRUE(testing::HeldBy(bench.sim.instrument, 1, "the linearity test"));
    EXPECT_TRUE(run.Owns(1));
    bench.Drive(run);
    ASSERT_EQ(run.CurrentState(), MeterRun::State::Finished) << run.Message();
    EXPECT_FALSE(testing::HeldBy(bench.sim.instrument, 1));
    EXPECT_FALSE(run.Owns(1));
    const Instrument::Origin origin(bench.sim.instrument, &other);
    EXPECT_NO_THROW(GetParam().write(bench.sim.instrument));
}

INSTANTIATE_TEST_SUITE_P(
    Writes, ClaimedChannel,
    ::testing::Values(
        ForeignWrite{"Data", [](Instrument& in) { in.SetDataCode(1, 5); }},
        ForeignWrite{"AllData", [](Instrument& in) { in.SetDataCode(kAllChannels, 5); }},
        ForeignWrite{"Voltage", [](Instrument& in) { in.SetChannelVoltage(1, 2.0f); }},
        ForeignWrite{"Range", [](Instrument& in) { in.SetRangeCode(1, 2); }},
        ForeignWrite{"FineGain", [](Instrument& in) { in.SetFineGain(1, 3); }},
        ForeignWrite{"Offset", [](Instrument& in) { in.SetOffset(1, 3); }},
        ForeignWrite{"Clear", [](Instrument& in) { in.ClearAllChannels(); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MeterRunClaim, ARunDoesNotStartOnAChannelAnotherActivityDrives) {
    Bench bench;
    int waveform = 0;
    bench.sim.instrument.ClaimChannels(&waveform, {2}, "the waveform run");
    bench.sim.instrument.SetDataCode(0, 1234);
    AutoCalibrationRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
    EXPECT_FALSE(run.Start(kAllChannels));
    EXPECT_EQ(run.CurrentState(), MeterRun::State::Failed);
    EXPECT_EQ(run.Message(),
              "the run did not start: DAC C is driven by the waveform run already; stop it first");
    EXPECT_FALSE(testing::HeldBy(bench.sim.instrument, 0)) << "claimed a channel all the same";
    EXPECT_TRUE(testing::HeldBy(bench.sim.instrument, 2, "the waveform run"));
    EXPECT_FALSE(bench.timer.pending);
    EXPECT_EQ(bench.sim.board.GetRegister(0, kRegData), 1234);
}

TEST(MeterRunClaim, DestroyingARunningRunPutsTheOutputBackAndReleasesIt) {
    Bench bench;
    bench.sim.instrument.SetDataCode(3, 4321);
    {
        AutoCalibrationRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
        ASSERT_TRUE(run.Start(3));
        bench.timer.Fire();
        ASSERT_TRUE(bench.meter.pending);
        EXPECT_EQ(bench.sim.board.GetRegister(3, kRegData), 0x8000);
    }
    EXPECT_EQ(bench.sim.board.GetRegister(3, kRegData), 4321);
    EXPECT_FALSE(testing::HeldBy(bench.sim.instrument, 3));
    EXPECT_FALSE(bench.meter.pending);
    EXPECT_FALSE(bench.timer.pending);
    EXPECT_NO_THROW(bench.sim.instrument.SetDataCode(3, 7));
}

TEST(AutoCalibration, WorksWithTheSerialOutputDisabledAndLeavesItSo) {
    Bench enabled, disabled;
    disabled.sim.instrument.SetFunctionFlag(FunctionFlag::SdoDisable, true);
    for (Bench* bench : {&enabled, &disabled}) {
        AutoCalibrationRun run(bench->sim.instrument, bench->meter, bench->timer, {0, 1});
        ASSERT_TRUE(run.Start(1));
        bench->Drive(run);
        ASSERT_EQ(run.CurrentState(), MeterRun::State::Finished) << run.Message();
    }
    EXPECT_EQ(disabled.sim.board.GetRegister(1, kRegOffset),
              enabled.sim.board.GetRegister(1, kRegOffset));
    EXPECT_EQ(disabled.sim.board.GetRegister(1, kRegFineGain),
              enabled.sim.board.GetRegister(1, kRegFineGain));
    EXPECT_NE(enabled.sim.board.GetRegister(1, kRegFineGain), 0);
    EXPECT_TRUE(disabled.sim.instrument.FunctionFlagValue(FunctionFlag::SdoDisable));
    EXPECT_EQ(disabled.sim.board.GetRegister(1, kRegFunction) & kBitSdoDisable, kBitSdoDisable);
}

TEST(MeterRunClaim, AJumpBeyondTheRampStepEndsTheRunWithTheProtectionsReason) {
    Bench bench;
    ChannelLimits limits;
    limits.rampStep = 1.0;
    bench.sim.instrument.SetLimits(1, limits);
    LinearityRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
    run.Start(1, {0, 0xFFFF});
    EXPECT_EQ(run.CurrentState(), MeterRun::State::Failed);
    EXPECT_EQ(run.Message(),
              "DAC B could not be set to code 0: DAC B: the change moves the output by -10 V at "
              "once, more than its ramp step of 1 V; bring the output to 0 V first (Safe State) "
              "and change it there; DAC B is back at code 32768");
    EXPECT_EQ(bench.sim.board.GetRegister(1, kRegData), 0x8000);
    EXPECT_FALSE(bench.sim.instrument.Ramping());
    EXPECT_FALSE(testing::HeldBy(bench.sim.instrument, 1));
}

// The calibration drives each channel to zero scale: a channel whose limits refuse that stops the
// run before its first write, so that no other channel's gain or offset changed half-way.
TEST(AutoCalibration, ChecksEveryChannelsLimitsBeforeItsFirstWrite) {
    Bench bench;
    ChannelLimits limits;
    limits.low = -5.0;
    limits.high = 5.0;
    bench.sim.instrument.SetLimits(1, limits);
    bench.sim.instrument.SetFineGain(0, 3);
    AutoCalibrationRun run(bench.sim.instrument, bench.meter, bench.timer, {0, 1});
    EXPECT_FALSE(run.Start(kAllChannels));
    EXPECT_EQ(run.CurrentState(), MeterRun::State::Failed);
    EXPECT_EQ(
        run.Message().rfind("the run did not start: DAC B: -10 V is below its limit of -5 V", 0),
        0u)
        << run.Message();
    EXPECT_EQ(bench.sim.board.GetRegister(0, kRegFineGain), 3) << "DAC A's gain was changed";
    EXPECT_EQ(bench.sim.board.GetRegister(0, kRegData), 0x8000);
    EXPECT_FALSE(testing::HeldBy(bench.sim.instrument, 0));
    EXPECT_FALSE(bench.timer.pending);
}

}  // namespace
}  // namespace tq
