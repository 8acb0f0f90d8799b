// Output protection on the simulated board: every path that moves an output against DAC B limited
// to -5 V..+5 V (refused with nothing written, allowed just inside), ramps in steps on the timer,
// the safe state, and a setup that carries limits.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "adapter/simulated/SimulatedBoard.h"
#include "adapter/tracing/TracingAdapter.h"
#include "board/BoardRequests.h"
#include "instrument/Instrument.h"
#include "instrument/OutputGuard.h"
#include "instrument/Setup.h"
#include "instrument/Waveform.h"
#include "tests/support/ChannelHolder.h"
#include "tests/support/FakeClock.h"
#include "tests/support/RowNames.h"

namespace tq {
namespace {

constexpr int16_t kB = 1;

// The 16-bit binary code of `volts` on the ±10 V range.
int32_t Code(double volts) {
    return static_cast<int32_t>(std::lround(volts / 20.0 * 65536.0)) + 0x8000;
}

struct Bench {
    DeviceState state;
    SimulatedBoard board;
    TracingAdapter trace{board};
    BoardRequests requests{state, trace};
    Instrument instrument{state, requests, {"Simulated board", "SIMULATED"}};
    testing::FakeClock timer;
    // Why the last change was refused, as the windows hear it.
    std::string refused;

    Bench() {
        ApplyStartDefaults(state);
        instrument.SetPulseAfterDataWrite(true);
        EXPECT_EQ(instrument.ConnectBoard(TQ_FIRMWARE_FOLDER), 0);
        instrument.SetRampTimer(&timer);
        instrument.AddListener([this](const InstrumentChange& c) {
            if (c.kind == InstrumentChange::Kind::Refused)
                refused = c.text;
        });
        Writes();
    }

    // Stops the running ramp as its activity is stopped (the Stop of the ramp's row).
    void StopRamp() {
        const std::vector<Activity*> running = instrument.Activities();
        for (Activity* a : running)
            a->Stop({nullptr, "the ramp was stopped before its end"});
    }

    // The requests since the last call that change something on the board: pin words, pulsed
    // writes and register writes (a read's command byte has its top bit set).
    std::vector<std::string> Writes() {
        std::size_t dropped = 0;
        std::vector<std::string> writes;
        for (const std::string& line : trace.TakeLines(dropped)) {
            const bool write = line.find("req=0xDE") != std::string::npos ||
                               line.find("req=0xD9") != std::string::npos ||
                               (line.find("req=0xDD") != std::string::npos &&
                                line.find("dir=0") != std::string::npos);
            if (write)
                writes.push_back(line.substr(line.find("req=")));
        }
        return writes;
    }

    void LimitB(double low, double high, std::optional<double> step = {}, double wait = 0.0) {
        ChannelLimits limits;
        limits.low = low;
        limits.high = high;
        limits.rampStep = step;
        limits.rampWaitSeconds = wait;
        instrument.SetLimits(kB, limits);
    }

    // Runs the ramp's waits out on the fake clock.
    void FinishRamp() {
        for (int i = 0; i < 100000 && timer.wake; ++i) {
            timer.now = *timer.wake;
            timer.wake.reset();
            instrument.RampStep();
        }
    }
};

struct PathCase {
    const char* path;
    std::function<void(Instrument&, DeviceState&)> prepare;  // before the limits are set
    std::function<void(Instrument&, DeviceState&)> refused;
    std::function<void(Instrument&, DeviceState&)> allowed;  // from the prepared state
    double allowedOutput;                                    // DAC B after it, nominally
};

void ComposedWrite(DeviceState& s, int16_t address, int16_t reg, int32_t data) {
    s.Address = address;
    s.RegSelect = reg;
    s.DataValue = data;
    s.ReadWrite = 0;
}

// Input registers written with LDAC high and no pulse: the outputs wait for a LOAD.
void Pending(Instrument& in, int32_t code) {
    in.SetPulseAfterDataWrite(false);
    in.WriteRegister(kB, kRegData, code);
}

const PathCase kPaths[] = {
    {"voltage entry", nullptr, [](Instrument& in, DeviceState&) { in.SetChannelVoltage(kB, 5.5f); },
     [](Instrument& in, DeviceState&) { in.SetChannelVoltage(kB, 5.0f); }, 5.0},
    {"ALL DACs voltage", nullptr,
     [](Instrument& in, DeviceState&) { in.SetChannelVoltage(kAllChannels, -6.0f); },
     [](Instrument& in, DeviceState&) { in.SetChannelVoltage(kAllChannels, -4.99f); }, -4.99},
    {"data entry", nullptr, [](Instrument& in, DeviceState&) { in.SetDataCode(kB, Code(5.01)); },
     [](Instrument& in, DeviceState&) { in.SetDataCode(kB, Code(4.999)); }, 4.999},
    {"offset entry", [](Instrument& in, DeviceState&) { in.SetDataCode(kB, Code(4.999)); },
     [](Instrument& in, DeviceState&) { in.SetOffset(kB, 127); },
     [](Instrument& in, DeviceState&) { in.SetOffset(kB, 3); }, 4.999 + 3 / 8.0 * 20 / 65536},
    {"fine gain entry", [](Instrument& in, DeviceState&) { in.SetDataCode(kB, Code(4.999)); },
     [](Instrument& in, DeviceState&) { in.SetFineGain(kB, 31); },
     [](Instrument& in, DeviceState&) { in.SetFineGain(kB, -20); }, 4.999 * (1 - 20 / 65536.0)},
    {"range change", [](Instrument& in, DeviceState&) { in.SetDataCode(kB, Code(4.8)); },
     [](Instrument& in, DeviceState&) { in.SetRangeCode(kB, 2); },
     [](Instrument& in, DeviceState&) { in.SetRangeCode(kB, 1); }, 4.8 * 10.2564 / 10},
    {"coding switch", [](Instrument& in, DeviceState&) { in.SetDataCode(kB, Code(4.0)); },
     [](Instrument& in, DeviceState&) { in.SetPin(Pin::BinaryCoding, false); },
     // 5 V in binary coding is -5 V in two's complement.
     [](Instrument& in, DeviceState&) {
         in.SetDataCode(kB, Code(5.0));
         in.SetPin(Pin::BinaryCoding, false);
     },
     -5.0},
    {"CLR released", [](Instrument& in, DeviceState&) { in.SetPin(Pin::Clr, false); },
     [](Instrument& in, DeviceState&) {
         in.SetDataCode(kB, Code(8.0));  // held at 0 V: allowed
         in.SetPin(Pin::Clr, true);
     },
     [](Instrument& in, DeviceState&) {
         in.SetDataCode(kB, Code(4.5));
         in.SetPin(Pin::Clr, true);
     },
     4.5},
    {"CLEAR", [](Instrument& in, DeviceState&) { in.SetDataCode(kB, Code(4.0)); }, nullptr,
     [](Instrument& in, DeviceState&) { in.ClearAllChannels(); }, 0.0},
    {"LOAD", [](Instrument& in, DeviceState&) { Pending(in, Code(7.0)); },
     [](Instrument& in, DeviceState&) { in.LoadAllChannels(); },
     [](Instrument& in, DeviceState&) {
         in.WriteRegister(kB, kRegData, Code(-4.9));
         in.LoadAllChannels();
     },
     -4.9},
    {"LDAC low", [](Instrument& in, DeviceState&) { Pending(in, Code(7.0)); },
     [](Instrument& in, DeviceState&) { in.SetPin(Pin::Ldac, false); },
     [](Instrument& in, DeviceState&) {
         in.WriteRegister(kB, kRegData, Code(3.0));
         in.SetPin(Pin::Ldac, false);
     },
     3.0},
    {"Direct Read/Write data", nullptr,
     [](Instrument& in, DeviceState&) { in.WriteRegister(kB, kRegData, Code(-7.0)); },
     [](Instrument& in, DeviceState&) { in.WriteRegister(kB, kRegData, Code(-5.0)); }, -5.0},
    {"Direct Read/Write ALL DACs", nullptr,
     [](Instrument& in, DeviceState&) { in.WriteRegister(kAllChannels, kRegData, 0xFFFF); },
     [](Instrument& in, DeviceState&) { in.WriteRegister(kAllChannels, kRegData, 0x8001); },
     20.0 / 65536},
    {"Direct Read/Write gain", [](Instrument& in, DeviceState&) { in.SetDataCode(kB, Code(4.9)); },
     [](Instrument& in, DeviceState&) { in.WriteRegister(kB, kRegCoarseGain, 2); },
     [](Instrument& in, DeviceState&) { in.WriteRegister(kB, kRegCoarseGain, 0); }, 4.9},
    {"legacy word", nullptr,
     [](Instrument& in, DeviceState& s) {
         ComposedWrite(s, kB, kRegData, Code(6.0));
         in.WriteComposedWord();
         in.LoadAllChannels();
     },
     [](Instrument& in, DeviceState& s) {
         ComposedWrite(s, kB, kRegData, Code(2.0));
         in.WriteComposedWord();
         in.LoadAllChannels();
     },
     2.0},
    {"waveform step", nullptr,
     [](Instrument& in, DeviceState&) {
         in.WriteChannelsTogether({{0, Code(9)}, {kB, Code(9)}});
     },
     [](Instrument& in, DeviceState&) {
         in.WriteChannelsTogether({{0, Code(9)}, {kB, Code(4)}});
     },
     4.0},
    // Several channels judged as one change: DAC A's write waits for DAC B's.
    {"channels as one", nullptr,
     [](Instrument& in, DeviceState&) {
         in.WriteAsOne([&] {
             in.SetDataCode(0, Code(3.0));
             in.SetChannelVoltage(kB, 4.9f);  // 5.158 V in the range set with it
             in.SetRangeCode(kB, 2);
         });
     },
     [](Instrument& in, DeviceState&) {
         in.WriteAsOne([&] {
             in.SetDataCode(0, Code(3.0));
             in.SetDataCode(kB, Code(-4.5));
         });
     },
     -4.5},
    {"setup", nullptr,
     [](Instrument& in, DeviceState&) {
         tq::Setup setup;
         setup.channels[kB].data = Code(-8.0);
         ApplySetup(in, setup);
     },
     [](Instrument& in, DeviceState&) {
         tq::Setup setup;
         setup.channels[kB].data = Code(-2.0);
         setup.channels[kB].coarseGain = 2;
         ApplySetup(in, setup);
     },
     -2.0 * 10.5263 / 10},
};

TEST(OutputProtection, EveryPathIsRefusedBeyondTheLimitAndAllowedWithin) {
    for (const PathCase& c : kPaths) {
        SCOPED_TRACE(c.path);
        if (c.refused) {
            Bench b;
            if (c.prepare)
                c.prepare(b.instrument, b.state);
            b.LimitB(-5.0, 5.0);
            b.Writes();
            const double before = b.board.OutputVolts(kB);
            std::string why;
            try {
                c.refused(b.instrument, b.state);
            } catch (const LimitError& e) {
                why = e.what();
            }
            EXPECT_EQ(why.rfind("DAC B: ", 0), 0u) << why;
            EXPECT_NE(why.find("limit of"), std::string::npos) << why;
            EXPECT_EQ(b.refused, why);
            // Only the steps before the refused one (a held write, a data write) went out.
            EXPECT_EQ(b.board.OutputVolts(kB), before);
        }
        Bench b;
        if (c.prepare)
            c.prepare(b.instrument, b.state);
        b.LimitB(-5.0, 5.0);
        EXPECT_NO_THROW(c.allowed(b.instrument, b.state));
        // The simulated amplifier of DAC B adds its own gain and offset errors.
        EXPECT_NEAR(b.board.OutputVolts(kB), c.allowedOutput, 2e-3);
    }
}

// A refused change sends nothing at all: not its write, not a part of it.
TEST(OutputProtection, RefusedChangesSendNothing) {
    const std::vector<std::function<void(Instrument&)>> changes = {
        [](Instrument& in) { in.SetChannelVoltage(kB, 3.0f); },
        [](Instrument& in) { in.SetChannelVoltage(kAllChannels, 2.5f); },
        [](Instrument& in) { in.SetDataCode(kB, Code(-2.1)); },
        [](Instrument& in) {
            in.WriteChannelsTogether({{0, Code(1)}, {kB, Code(3)}});
        },
        [](Instrument& in) {
            testing::FakeClock timer;
            WaveformRun run(in, timer);
            WavePlan plan;
            ChannelWave wave;
            wave.channel = kB;
            wave.amplitude = 2.5;  // a staircase from -2.5 V up
            plan.channels.push_back(wave);
            run.Start(plan);
        },
        [](Instrument& in) {
            tq::Setup setup;
            setup.channels[0].data = Code(1);
            setup.channels[kB].data = Code(3);
            ApplySetup(in, setup);
        },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        SCOPED_TRACE(i);
        Bench b;
        b.LimitB(-2.0, 2.0);
        b.instrument.KnownModel(true);
        b.Writes();
        EXPECT_THROW(changes[i](b.instrument), LimitError);
        EXPECT_EQ(b.Writes(), std::vector<std::string>{});
    }
    Bench b;
    b.LimitB(-2.0, 2.0);
    try {
        b.instrument.SetChannelVoltage(kB, 3.0f);
    } catch (const LimitError& e) {
        EXPECT_STREQ(e.what(), "DAC B: 3 V is above its limit of 2 V");
    }
}

TEST(OutputProtection, NoLimitsNoReadBacks) {
    Bench b;
    b.instrument.SetDataCode(kB, Code(9.0));
    // The write alone: a pulsed write of the code, as without protection.
    ASSERT_EQ(b.Writes().size(), 1u);
}

TEST(OutputProtection, ALargeChangeGoesOutAsARampOnTheTimer) {
    Bench b;
    b.LimitB(-5.0, 5.0, 1.0, 0.1);
    b.instrument.SetChannelVoltage(kB, 3.0f);
    // The first step at once, the rest on the timer; the channel refuses others meanwhile.
    EXPECT_TRUE(b.instrument.Ramping());
    EXPECT_NEAR(b.board.OutputVolts(kB), 1.0, 2e-3);
    ASSERT_TRUE(b.timer.wake);
    EXPECT_DOUBLE_EQ(*b.timer.wake, 0.1);
    EXPECT_THROW(b.instrument.SetDataCode(kB, Code(0)), InstrumentError);
    std::vector<double> outputs;
    b.Writes();
    while (b.timer.wake) {
        b.timer.now = *b.timer.wake;
        b.timer.wake.reset();
        b.instrument.RampStep();
        outputs.push_back(b.board.OutputVolts(kB));
    }
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_NEAR(outputs[0], 2.0, 2e-3);
    EXPECT_NEAR(outputs[1], 3.0, 2e-3);
    EXPECT_FALSE(b.instrument.Ramping());
    // Each step: the data register without the pulse, then one LOAD.
    const std::vector<std::string> writes = b.Writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0].rfind("req=0xDD value=0x11 ", 0), 0u) << writes[0];  // DAC B's data
    EXPECT_EQ(writes[1].rfind("req=0xDD value=0x5 ", 0), 0u) << writes[1];   // LOAD
    // Without a wait the steps go out within the call.
    Bench fast;
    fast.LimitB(-10.0, 10.0, 0.5);
    fast.instrument.SetChannelVoltage(kB, -2.0f);
    EXPECT_FALSE(fast.instrument.Ramping());
    EXPECT_EQ(fast.Writes().size(), 8u);  // 4 steps of data + LOAD
    EXPECT_NEAR(fast.board.OutputVolts(kB), -2.0, 2e-3);
}

TEST(OutputProtection, ChangesThatCannotBeRampedAreRefusedBeyondTheStep) {
    Bench b;
    b.instrument.SetDataCode(kB, Code(9.5));
    b.LimitB(-10.0, 10.0, 0.2);
    // The range moves 9.5 V by almost half a volt at once.
    EXPECT_THROW(b.instrument.SetRangeCode(kB, 2), LimitError);
    EXPECT_NE(b.refused.find("more than its ramp step of 0.2 V"), std::string::npos);
    // CLEAR brings the output to 0 V, the safe state, at once.
    EXPECT_NO_THROW(b.instrument.ClearAllChannels());
    EXPECT_NEAR(b.board.OutputVolts(kB), 0.0, 1e-3);
}

TEST(OutputProtection, SafeStateBringsEveryOutputToZero) {
    for (const bool binary : {true, false}) {
        SCOPED_TRACE(binary);
        Bench b;
        b.instrument.SetPin(Pin::BinaryCoding, binary);
        for (int16_t ch = 0; ch < 4; ++ch) {
            b.instrument.SetRangeCode(ch, ch % 3);
            b.instrument.SetDataCode(ch, 1000 + 20000 * ch);
        }
        b.Writes();
        b.instrument.GoToSafeState();
        // Four data writes without the pulse and one LOAD.
        EXPECT_EQ(b.Writes().size(), 5u);
        for (int ch = 0; ch < 4; ++ch)
            EXPECT_NEAR(b.board.OutputVolts(ch), 0.0, 1e-3) << ch;
    }
    // Ramped: 9 V down in steps of 2 V on every channel together.
    Bench b;
    for (int16_t ch = 0; ch < 4; ++ch)
        b.instrument.SetDataCode(ch, Code(ch == kB ? 9.0 : -3.0));
    ChannelLimits limits;
    limits.rampStep = 2.0;
    limits.rampWaitSeconds = 0.05;
    b.instrument.SetLimits(kB, limits);
    b.instrument.GoToSafeState();
    EXPECT_NEAR(b.board.OutputVolts(kB), 9.0 - 1.8, 2e-3);  // 5 steps of 1.8 V
    b.FinishRamp();
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_NEAR(b.board.OutputVolts(ch), 0.0, 1e-3) << ch;
}

TEST(OutputProtection, SetupCarriesLimitsAndRampsOutOfTheHold) {
    Bench b;
    b.LimitB(-3.0, 3.0, 0.5, 0.01);
    const tq::Setup saved = CaptureSetup(b.instrument);
    ASSERT_TRUE(saved.protection);
    const tq::Setup read = SetupFromJson(SetupToJson(saved));
    ASSERT_TRUE(read.protection);
    EXPECT_EQ(read.protection->limits[kB], b.instrument.Limits(kB));

    // A setup's own limits are judged with the ones in effect: the narrower wins.
    tq::Setup other;
    other.channels[kB].data = Code(2.5);
    other.protection = SetupProtection{};
    other.protection->limits[kB].high = 2.0;
    EXPECT_THROW(ApplySetup(b.instrument, other), LimitError);
    EXPECT_EQ(b.instrument.Limits(kB).high, 3.0);

    // Within both: the outputs leave the hold at 0 V and ramp to the setup's code.
    other.channels[kB].data = Code(1.9);
    ApplySetup(b.instrument, other);
    EXPECT_EQ(b.instrument.Limits(kB).high, 2.0);
    EXPECT_FALSE(b.instrument.Limits(kB).rampStep);
    EXPECT_NEAR(b.board.OutputVolts(kB), 1.9, 2e-3);

    Bench ramped;
    ramped.LimitB(-3.0, 3.0, 0.5, 0.01);
    tq::Setup setup;
    setup.channels[kB].data = Code(2.9);
    ApplySetup(ramped.instrument, setup);
    EXPECT_TRUE(ramped.instrument.Ramping());
    ramped.FinishRamp();
    EXPECT_NEAR(ramped.board.OutputVolts(kB), 2.9, 2e-3);

    EXPECT_THROW(SetupFromJson(R"({"format": 1, "protection": {"limits": {"B": )"
                               R"({"lowMicrovolts": 1000000}}}})"),
                 SetupError);
}

TEST(OutputProtection, LimitsThatCannotWorkAreRefused) {
    const struct {
        ChannelLimits limits;
        const char* says;
    } cases[] = {
        {{1.0, 5.0, {}, 0.0}, "must hold 0 V"},
        {{-5.0, -1.0, {}, 0.0}, "must hold 0 V"},
        {{-11.0, 5.0, {}, 0.0}, "within -10.5263 V"},
        {{{}, {}, 0.0, 0.0}, "ramp step must be above 0 V"},
        {{{}, {}, 1.0, 11.0}, "wait between ramp steps"},
    };
    Bench b;
    for (const auto& c : cases) {
        try {
            b.instrument.SetLimits(kB, c.limits);
            ADD_FAILURE() << c.says;
        } catch (const ValueRangeError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
        EXPECT_FALSE(b.instrument.LimitsActive());
    }
}

}  // namespace
}  // namespace tq

namespace tq {
namespace {

// The guard's judgement of a change of DAC B's output, from 0 V, with DAC B limited to ±5 V and
// a ramp step of 1 V: every kind of change against each answer.
struct GuardCase {
    const char* name;
    double to;  // DAC B's output after the change, in volts (±10 V range): the nearest code's
    ChangeKind kind;
    GuardVerdict::Answer answer;
    const char* why;  // the start of the reason, for a refusal
};

const GuardCase kGuardCases[] = {
    {"a step within the ramp step is sent", 0.9, ChangeKind::AtOnce, GuardVerdict::Answer::Send,
     ""},
    {"half an LSB beyond the step counts as within it", 1.0 + 0.5 * 20.0 / 65536,
     ChangeKind::AtOnce, GuardVerdict::Answer::Send, ""},
    {"a rampable change beyond the step ramps", 4.0, ChangeKind::Rampable,
     GuardVerdict::Answer::Ramp, ""},
    {"a change that cannot ramp is refused beyond the step", 4.0, ChangeKind::AtOnce,
     GuardVerdict::Answer::Refuse, "DAC B: the change moves the output by 3.99994 V at once"},
    {"the safe state may go to 0 V at once", 4.0, ChangeKind::ToSafeState,
     GuardVerdict::Answer::Send, ""},
    {"beyond the limit is refused whatever the kind", 6.0, ChangeKind::Rampable,
     GuardVerdict::Answer::Refuse, "DAC B: 6.00006 V is above its limit of 5 V"},
    {"below the lower limit too", -5.5, ChangeKind::ToSafeState, GuardVerdict::Answer::Refuse,
     "DAC B: -5.49988 V is below its limit of -5 V"},
};

class Guard : public ::testing::TestWithParam<GuardCase> {};

TEST_P(Guard, AnswersSendRampOrRefuse) {
    const GuardCase& c = GetParam();
    OutputGuard guard;
    ChannelLimits limits;
    limits.low = -5.0;
    limits.high = 5.0;
    limits.rampStep = 1.0;
    guard.SetLimits(kB, limits);
    ConverterModel before;  // every channel at 0 V, nothing assumed
    before.dacAssumed.fill(false);
    ConverterModel after = before;
    const int32_t code = static_cast<int32_t>(std::lround(c.to / 20.0 * 65536.0)) + 0x8000;
    after.channels[kB].input = after.channels[kB].dac = code;
    const GuardVerdict verdict = guard.Judge(before, after, c.kind);
    EXPECT_EQ(verdict.answer, c.answer) << c.name;
    EXPECT_EQ(verdict.why.rfind(c.why, 0), 0u) << c.name << ": " << verdict.why;
    if (c.answer == GuardVerdict::Answer::Refuse) {
        EXPECT_EQ(verdict.channel, kB) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, Guard, ::testing::ValuesIn(kGuardCases), tq::testing::ByName{});

// The activity registry's notifications: what a view hears of each kind of activity, in order,
// with the channels it claims while it runs and why it ended.
struct ActivityCase {
    const char* name;
    std::function<void(Bench&)> run;
    std::vector<std::string> heard;  // "begin <name> [channels]", "advance d/t", "end <why>"
};

std::string Channels(const Activity& a) {
    std::string text;
    for (int16_t ch : a.Channels())
        text += std::string(text.empty() ? "" : " ") + ChannelName(ch);
    return "[" + text + "]";
}

const ActivityCase kActivityCases[] = {
    {"a ramp claims what it moves and advances by steps",
     [](Bench& b) {
         b.LimitB(-10, 10, 2.0);
         b.instrument.SetChannelVoltage(kB, 5.0f);
     },
     {"begin a ramp [DAC B] 0/3", "advance 1/3", "advance 2/3", "end "}},
    {"a stopped ramp ends with why",
     [](Bench& b) {
         b.LimitB(-10, 10, 1.0, 0.5);
         b.instrument.SetChannelVoltage(kB, 3.0f);
         b.StopRamp();
     },
     {"begin a ramp [DAC B] 0/3", "advance 1/3", "end the ramp was stopped before its end"}},
    {"a waveform run of two steps",
     [](Bench& b) {
         WaveformRun run(b.instrument, b.timer);
         WavePlan plan;
         ChannelWave wave;
         wave.channel = 0;
         wave.shape = WaveShape::List;
         wave.codes = true;
         wave.list = {4096, 8192};
         plan.channels = {wave};
         plan.periods = 1;
         plan.dwellSeconds = 0.01;
         run.Start(plan);
         for (int i = 0; i < 10 && b.timer.wake; ++i) {
             b.timer.now = *b.timer.wake;
             b.timer.wake.reset();
             run.Step();
         }
     },
     {"begin the waveform run [DAC A] 0/2", "advance 1/2", "end "}},
};

class Activities : public ::testing::TestWithParam<ActivityCase> {};

TEST_P(Activities, TellWhatRunsAndWhyItEnded) {
    const ActivityCase& c = GetParam();
    Bench b;
    std::vector<std::string> heard;
    b.instrument.AddListener([&](const InstrumentChange& change) {
        if (change.kind != InstrumentChange::Kind::Activity)
            return;
        const Activity& a = *change.activity;
        if (change.value == 1)
            heard.push_back("begin " + std::string(a.Name()) + " " + Channels(a) + " " +
                            std::to_string(a.Done()) + "/" + std::to_string(a.Total()));
        else if (change.value == 2)
            heard.push_back("advance " + std::to_string(a.Done()) + "/" +
                            std::to_string(a.Total()));
        else
            heard.push_back("end " + change.text);
    });
    c.run(b);
    EXPECT_EQ(heard, c.heard) << c.name;
    EXPECT_TRUE(b.instrument.Activities().empty()) << c.name;
    for (int16_t ch = 0; ch < kChannelCount; ++ch)
        EXPECT_FALSE(testing::HeldBy(b.instrument, ch)) << c.name << ": " << ChannelName(ch);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Activities, ::testing::ValuesIn(kActivityCases),
                         tq::testing::ByName{});

}  // namespace
}  // namespace tq

namespace tq {
namespace {

// A board that lost power and came back: before the call that finds it answering goes on, the
// program reads back DAC A's range (known, not the power-on one), finds the power-on value and,
// with CLR held low, sends the pins, the function word, the range and each data register's 0 V
// code of the coding, then releases CLR. The range read that found the board back is taken
// again, so 5 V typed for DAC A on ±10.5263 V lands without an error.
struct ReturnCase {
    const char* name;
    bool limits;   // DAC B limited: every change is judged, on what the program knows
    bool twos;     // two's complement coding: the 0 V code is 0, not the power-on 0x8000
    int cutAfter;  // the board stops answering at this request after the power cycle (0: never)
    std::vector<std::string> restoration;  // the changes it sends, up to the data write
};

class BoardReturn : public ::testing::TestWithParam<ReturnCase> {};

std::size_t Find(const std::vector<std::string>& lines, const std::string& part,
                 std::size_t from = 0) {
    for (std::size_t i = from; i < lines.size(); ++i)
        if (lines[i].find(part) != std::string::npos)
            return i;
    return lines.size();
}

const std::string kRestored =
    "The board lost power: outputs at 0 V, ranges and calibration restored";

TEST_P(BoardReturn, RestoresWithClrHeldLowBeforeTheCallGoesOn) {
    const ReturnCase& c = GetParam();
    Bench b;
    b.instrument.SetRangeCode(0, 2);
    if (c.twos)
        b.instrument.SetPin(Pin::BinaryCoding, false);
    if (c.limits)
        b.LimitB(-6, 6);
    std::vector<std::string> heard;
    int results = 0;
    b.instrument.AddListener([&](const InstrumentChange& change) {
        if (change.kind == InstrumentChange::Kind::BoardBack)
            heard.push_back(change.text);
        if (change.kind == InstrumentChange::Kind::RequestResult && ++results == c.cutAfter)
            b.board.Unplug();
    });
    b.board.PowerCycle();
    std::size_t dropped = 0;
    b.trace.TakeLines(dropped);

    if (c.cutAfter > 0) {
        EXPECT_THROW(b.instrument.SetChannelVoltage(0, 5.0f), RequestError);
        EXPECT_EQ(heard, std::vector<std::string>{"The board lost power: outputs at 0 V, not "
                                                  "restored: DAC A range; CLR held low: the "
                                                  "board stopped answering"});
        EXPECT_TRUE(b.instrument.RestorationIncomplete());
        EXPECT_EQ(b.board.OutputVolts(0), 0.0);
        b.board.Plug();
        b.Writes();
    }
    EXPECT_NO_THROW(b.instrument.SetChannelVoltage(0, 5.0f));
    const std::vector<std::string> lines = b.trace.TakeLines(dropped);
    ASSERT_FALSE(lines.empty());
    if (c.cutAfter == 0) {
        EXPECT_NE(lines.front().find("result=-1"), std::string::npos) << lines.front();
        EXPECT_LT(Find(lines, "req=0xDD value=0x98"), Find(lines, "req=0xDE")) << "probed first";
    }
    std::vector<std::string> writes;
    for (const std::string& line : lines)
        if (line.find("dir=0") != std::string::npos && line.find("result=0") != std::string::npos)
            writes.push_back(
                line.substr(line.find("req="), line.find(" dir=") - line.find("req=")));
    EXPECT_EQ(writes, c.restoration);
    // The range read that found the board back is taken again, after the restoration.
    EXPECT_LT(Find(lines, "req=0xDD value=0x98", Find(lines, "req=0xDD value=0x5 ")),
              Find(lines, "req=0xD9 value=0x10"));
    EXPECT_EQ(heard.back(), kRestored);
    EXPECT_EQ(heard.size(), c.cutAfter > 0 ? 2u : 1u) << "one notice a restoration";
    EXPECT_FALSE(b.instrument.RestorationIncomplete());
    EXPECT_NEAR(b.board.OutputVolts(0), 5.0, 0.002);
    for (int16_t ch = 1; ch < 4; ++ch)
        EXPECT_NEAR(b.board.OutputVolts(ch), 0.0, 0.001) << ch;
}

const std::vector<std::string> kBinaryRestoration = {
    "req=0xDE value=0x97 index=0x0",   "req=0xDD value=0x1 index=0x0",
    "req=0xDD value=0x18 index=0x2",   "req=0xDD value=0x14 index=0x8000",
    "req=0xDD value=0x5 index=0x0",    "req=0xDE value=0x9F index=0x0",
    "req=0xD9 value=0x10 index=0xBCCD"};

INSTANTIATE_TEST_SUITE_P(
    Cases, BoardReturn,
    ::testing::Values(ReturnCase{"Binary", false, false, 0, kBinaryRestoration},
                      ReturnCase{"BinaryWithLimits", true, false, 0, kBinaryRestoration},
                      ReturnCase{"TwosComplement",
                                 false,
                                 true,
                                 0,
                                 {"req=0xDE value=0x93 index=0x0", "req=0xDD value=0x1 index=0x0",
                                  "req=0xDD value=0x18 index=0x2", "req=0xDD value=0x14 index=0x0",
                                  "req=0xDD value=0x5 index=0x0", "req=0xDE value=0x9B index=0x0",
                                  "req=0xD9 value=0x10 index=0x3CCD"}},
                      // Cut after the probe, the pin word and the function word: the range is owed,
                      // CLR stays low, and the next return makes the whole restoration.
                      ReturnCase{"CutShort", false, false, 5, kBinaryRestoration}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tq
