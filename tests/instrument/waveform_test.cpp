// The waveform engine: points of each shape, the plan's checks, the exact requests of each step,
// its pacing on a fake clock, Stop, the channels it owns, and the outputs on the simulated board.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "adapter/simulated/SimulatedBoard.h"
#include "instrument/Instrument.h"
#include "instrument/Waveform.h"
#include "tests/support/ChannelHolder.h"
#include "tests/support/FakeClock.h"
#include "tests/support/RecordedInstrument.h"
#include "tests/support/Requests.h"
#include "tests/support/SimulatedInstrument.h"

namespace tq {
namespace {

using testing::Requests;
using testing::Write;
const std::string kLoad = Write(0x05, 0);

struct Recorded : testing::RecordedInstrument {
    testing::FakeClock timer{100.0};
    WaveformRun run{instrument, timer};
    Recorded() {
        // Every range known (+-10 V), so that a run reads nothing before its first step.
        instrument.SetRangeCode(kAllChannels, 0);
        adapter.Clear();
    }
    // Lets the timer fire once, `late` seconds after the wake-up it was asked for.
    void Fire(double late = 0.0) {
        ASSERT_TRUE(timer.wake.has_value());
        timer.now = std::max(timer.now, *timer.wake + late);
        run.Step();
    }
};

ChannelWave Shape(int16_t channel, WaveShape shape, double amplitude, int32_t points) {
    ChannelWave wave;
    wave.channel = channel;
    wave.shape = shape;
    wave.amplitude = amplitude;
    wave.points = points;
    return wave;
}

// A staircase of 3 steps on DAC A and a triangle of 4 points on DAC C, 10 ms a step.
WavePlan StairAndTriangle(int64_t periods) {
    WavePlan plan;
    plan.channels = {Shape(0, WaveShape::Staircase, 5.0, 3), Shape(2, WaveShape::Triangle, 5.0, 4)};
    plan.dwellSeconds = 0.01;
    plan.periods = periods;
    return plan;
}

struct PointCase {
    WaveShape shape;
    int32_t points;
    std::vector<double> expected;  // amplitude 2, offset 1
};

TEST(WavePoints, EachShapeGivesItsPeriod) {
    const std::vector<PointCase> cases = {
        {WaveShape::Staircase, 5, {-1, 0, 1, 2, 3}}, {WaveShape::Ramp, 4, {-1, 0, 1, 2}},
        {WaveShape::Triangle, 4, {-1, 1, 3, 1}},     {WaveShape::Sine, 4, {1, 3, 1, -1}},
        {WaveShape::Square, 4, {3, 3, -1, -1}},      {WaveShape::Staircase, 1, {-1}},
    };
    for (const PointCase& c : cases) {
        ChannelWave wave = Shape(0, c.shape, 2.0, c.points);
        wave.offset = 1.0;
        ASSERT_EQ(WavePointCount(wave), c.points);
        for (int32_t i = 0; i < c.points; ++i)
            EXPECT_NEAR(WavePoint(wave, i), c.expected[static_cast<std::size_t>(i)], 1e-12)
                << static_cast<int>(c.shape) << " point " << i;
    }
    ChannelWave list = Shape(0, WaveShape::List, 0.0, 0);
    list.list = {0.5, -2.0, 7.0};
    EXPECT_EQ(WavePointCount(list), 3);
    EXPECT_EQ(WavePoint(list, 1), -2.0);
    EXPECT_EQ(WavePoint(list, 4), -2.0);  // the list repeats
}

struct RefusedCase {
    const char* name;
    WavePlan plan;
    std::string says;
};

TEST(WavePlanChecks, RefusesBeforeAnythingIsSentAndSaysWhere) {
    auto with = [](std::function<void(WavePlan&)> change) {
        WavePlan plan = StairAndTriangle(1);
        change(plan);
        return plan;
    };
    const std::vector<RefusedCase> cases = {
        {"OutOfRangePoint", with([](WavePlan& p) { p.channels[1].amplitude = 12.0; }),
         "DAC C point 1 (-12 V) is outside the channel's range, -10 V to 10 V"},
        {"ListPointBeyondRange", with([](WavePlan& p) {
             p.channels[0].shape = WaveShape::List;
             p.channels[0].list = {1.0, 2.0, 10.5};
         }),
         "DAC A point 3 (10.5 V)"},
        {"CodeBeyondTheTop", with([](WavePlan& p) {
             p.channels[0].codes = true;
             p.channels[0].offset = 60000;
             p.channels[0].amplitude = 6000;
         }),
         "DAC A point 3 (66000) is outside the codes 0 to 65535"},
        {"EmptyList", with([](WavePlan& p) { p.channels[0].shape = WaveShape::List; }),
         "DAC A: 0 points per period"},
        {"TwiceTheSameChannel", with([](WavePlan& p) { p.channels[1].channel = 0; }),
         "DAC A is given twice"},
        {"NoChannel", with([](WavePlan& p) { p.channels.clear(); }), "no channel is selected"},
        {"NegativeDwell", with([](WavePlan& p) { p.dwellSeconds = -1; }), "dwell"},
        {"NaNAmplitude", with([](WavePlan& p) { p.channels[0].amplitude = NAN; }), "numbers"},
        {"TooManyPoints", with([](WavePlan& p) { p.channels[0].points = kMaxWavePoints + 1; }),
         "points per period"},
    };
    for (const RefusedCase& c : cases) {
        Recorded r;
        try {
            r.run.Start(c.plan);
            ADD_FAILURE() << c.name << ": started";
        } catch (const ValueRangeError& error) {
            EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos)
                << c.name << ": " << error.what();
        }
        EXPECT_TRUE(r.adapter.Requests().empty()) << c.name;
        EXPECT_FALSE(r.run.Running()) << c.name;
        EXPECT_FALSE(testing::HeldBy(r.instrument, 0).has_value()) << c.name;
    }
}

TEST(WaveformRunTraffic, EachStepWritesItsChannelsWithoutPulseThenOneLoad) {
    Recorded r;
    r.run.Start(StairAndTriangle(1));
    for (int i = 0; i < 3; ++i)
        r.Fire();
    EXPECT_EQ(r.run.Status().state, RunState::Finished);
    // A: -5, 0, 5 and again -5; C: -5, 0, 5, 0 (a triangle's period is 4 points).
    const Requests expected = {
        Write(0x10, 0x4000), Write(0x12, 0x4000), kLoad,  //
        Write(0x10, 0x8000), Write(0x12, 0x8000), kLoad,  //
        Write(0x10, 0xC000), Write(0x12, 0xC000), kLoad,  //
        Write(0x10, 0x4000), Write(0x12, 0x8000), kLoad,
    };
    EXPECT_EQ(r.adapter.Requests(), expected);
    EXPECT_FALSE(r.timer.wake.has_value());
    EXPECT_TRUE(r.instrument.PulseAfterDataWrite());  // the user's setting is left alone
}

TEST(WaveformRunTraffic, FourteenBitCodesGoOutTimesFour) {
    Recorded r;
    r.state.Resolution = 14;
    WavePlan plan;
    ChannelWave wave = Shape(3, WaveShape::List, 0, 0);
    wave.codes = true;
    wave.list = {16383, 1};
    plan.channels = {wave};
    plan.dwellSeconds = 0;
    r.run.Start(plan);
    r.Fire();
    EXPECT_EQ(r.adapter.Requests(), (Requests{Write(0x13, 0xFFFC), kLoad, Write(0x13, 4), kLoad}));
}

TEST(WaveformRunPacing, StepsKeepTheScheduleAndLateOnesAreCounted) {
    Recorded r;
    r.run.Start(StairAndTriangle(0));
    ASSERT_TRUE(r.timer.wake.has_value());
    EXPECT_DOUBLE_EQ(*r.timer.wake, 100.01);
    r.Fire();  // on time
    EXPECT_DOUBLE_EQ(*r.timer.wake, 100.02);
    r.Fire(0.015);                            // sent after the next one was due
    EXPECT_DOUBLE_EQ(*r.timer.wake, 100.03);  // the schedule does not slip
    r.Fire();
    r.Fire(0.004);  // late, but within its own slot
    RunStatus status = r.run.Status();
    EXPECT_EQ(status.state, RunState::Running);
    EXPECT_EQ(status.stepsDone, 5);
    EXPECT_EQ(status.totalSteps, 0);
    EXPECT_EQ(status.lateSteps, 1);
    EXPECT_DOUBLE_EQ(status.askedRate, 100.0);
    EXPECT_NEAR(status.achievedRate, 100.0, 1e-6);
}

TEST(WaveformRunPacing, AsFastAsTheLinkAllowsIsLimitedByTheRequests) {
    Recorded r;
    // Each request takes 250 us of the fake clock.
    r.instrument.AddListener([&r](const InstrumentChange& change) {
        if (change.kind == InstrumentChange::Kind::RequestResult)
            r.timer.now += 250e-6;
    });
    WavePlan plan;
    for (int16_t channel = 0; channel < kChannelCount; ++channel)
        plan.channels.push_back(Shape(channel, WaveShape::Staircase, 5.0, 10));
    plan.dwellSeconds = 0;
    plan.periods = 2;
    r.run.Start(plan);
    while (r.timer.wake)
        r.Fire();
    const RunStatus status = r.run.Status();
    EXPECT_EQ(status.state, RunState::Finished);
    EXPECT_EQ(status.stepsDone, 20);
    EXPECT_EQ(status.lateSteps, 0);
    EXPECT_DOUBLE_EQ(status.askedRate, 0.0);
    // Five requests a step: 1.25 ms.
    EXPECT_NEAR(status.achievedRate, 800.0, 1e-6);
    EXPECT_EQ(r.adapter.Requests().size(), 100u);
}

TEST(WaveformRunStop, EndsBeforeTheNextStepAndFreesTheChannels) {
    Recorded r;
    r.run.Start(StairAndTriangle(0));
    r.Fire();
    r.run.Stop({});
    const std::size_t sent = r.adapter.Requests().size();
    EXPECT_EQ(sent, 6u);
    EXPECT_FALSE(r.timer.wake.has_value());
    r.run.Step();  // a wake-up already on its way does nothing
    EXPECT_EQ(r.adapter.Requests().size(), sent);
    EXPECT_EQ(r.run.Status().state, RunState::Stopped);
    EXPECT_EQ(r.run.Status().stepsDone, 2);
    EXPECT_NO_THROW(r.instrument.SetDataCode(0, 5));
    EXPECT_NO_THROW(r.run.Start(StairAndTriangle(1)));  // and it can start again
}

TEST(WaveformRunOwnership, OtherWritesToItsChannelsAreRefusedAndNothingIsSent) {
    Recorded r;
    r.run.Start(StairAndTriangle(0));
    r.adapter.Clear();
    const int viewer = 0;
    Instrument::Origin origin(r.instrument, &viewer);
    const std::vector<std::pair<const char*, std::function<void()>>> refused = {
        {"DAC A", [&] { r.instrument.SetDataCode(0, 1); }},
        {"DAC C", [&] { r.instrument.SetChannelVoltage(2, 1.0f); }},
        {"DAC A", [&] { r.instrument.SetDataCode(kAllChannels, 1); }},
        {"DAC C", [&] { r.instrument.SetRangeCode(2, 1); }},
        {"DAC A", [&] { r.instrument.SetOffset(0, 1); }},
        {"DAC A", [&] { r.instrument.ClearAllChannels(); }},
        {"DAC C",
         [&] {
             r.instrument.WriteChannelsTogether({{1, 5}, {2, 5}});
         }},
    };
    for (const auto& [channel, write] : refused) {
        try {
            write();
            ADD_FAILURE() << channel << ": written";
        } catch (const InstrumentError& error) {
            const std::string text = error.what();
            EXPECT_NE(text.find(std::string(channel) + " is driven by the waveform run"),
                      std::string::npos)
                << text;
        }
    }
    EXPECT_EQ(r.adapter.Requests(), Requests{});
    r.adapter.Clear();
    r.instrument.SetDataCode(1, 7);  // DAC B is free
    r.instrument.LoadAllChannels();  // moves nothing the run did not put there
    EXPECT_EQ(r.adapter.Requests(), (Requests{"D9 17 7 0 0", kLoad}));
    WaveformRun second(r.instrument, r.timer);
    EXPECT_THROW(second.Start(StairAndTriangle(1)), InstrumentError);
}

TEST(WaveformRunFailure, AFailedRequestEndsTheRunWithItsReason) {
    Recorded r;
    r.run.Start(StairAndTriangle(0));
    r.adapter.requestResult = -1;
    r.Fire();
    const RunStatus status = r.run.Status();
    EXPECT_EQ(status.state, RunState::Failed);
    EXPECT_NE(status.error.find("step 2: board request failed (-1)"), std::string::npos)
        << status.error;
    EXPECT_FALSE(testing::HeldBy(r.instrument, 0).has_value());
}

TEST(WaveformOnTheSimulatedBoard, OutputsFollowTheSetPointsTogether) {
    testing::SimulatedInstrument sim;
    SimulatedBoard& board = sim.board;
    Instrument& instrument = sim.instrument;
    instrument.SetRangeCode(2, 2);  // DAC C on +-10.5263 V
    testing::FakeClock timer{100.0};
    WaveformRun run(instrument, timer);
    WavePlan plan;
    plan.channels = {Shape(0, WaveShape::Triangle, 8.0, 8),
                     Shape(2, WaveShape::Staircase, 10.0, 5)};
    plan.dwellSeconds = 0.001;
    plan.periods = 2;
    run.Start(plan);
    // Steps run over the longer period (8); the staircase repeats within it.
    for (int step = 0;; ++step) {
        EXPECT_NEAR(board.OutputVolts(0), WavePoint(plan.channels[0], step), 0.002) << step;
        EXPECT_NEAR(board.OutputVolts(2), WavePoint(plan.channels[1], step % 8 % 5), 0.005) << step;
        EXPECT_NEAR(board.OutputVolts(1), 0.0, 0.001);
        if (!timer.wake)
            break;
        timer.now = *timer.wake;
        run.Step();
    }
    EXPECT_EQ(run.Status().stepsDone, 16);
    EXPECT_EQ(run.Status().state, RunState::Finished);
}

TEST(VoltsList, ReadsOneValueALineAndNamesABadLine) {
    EXPECT_EQ(ParseVoltsList("# volts\n1.5\n\n-2,comment\r\n 3e-1\n"),
              (std::vector<double>{1.5, -2.0, 0.3}));
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"1\nvolts\n", "line 2 holds no number: volts"},
        {"1\n2x\n", "line 2"},
        {"nan\n", "line 1"},
        {"# nothing\n", "holds no values"},
    };
    for (const auto& [text, says] : bad) {
        try {
            ParseVoltsList(text);
            ADD_FAILURE() << text;
        } catch (const ValueRangeError& error) {
            EXPECT_NE(std::string(error.what()).find(says), std::string::npos) << error.what();
        }
    }
}

}  // namespace
}  // namespace tq
