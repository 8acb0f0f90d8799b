// The protection's options carried out over the recording adapter: the safe state's traffic
// when the last remote client leaves, when the board answers again after failing and when the
// program ends, each only with its option on; a failure reported, not swallowed; a board that
// stops answering ends the activities on the outputs, whatever the options.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "board/AdapterResults.h"
#include "instrument/Instrument.h"
#include "instrument/SafeStatePolicy.h"
#include "instrument/TemperatureLog.h"
#include "instrument/Waveform.h"
#include "tests/support/FakeClock.h"
#include "tests/support/RecordedInstrument.h"
#include "tests/support/Requests.h"
#include "tests/support/RowNames.h"

namespace tq::testing {
namespace {

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}
bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Every data register to the 0 V code of offset binary without a pulse, then one LOAD.
const Requests kSafeState{"DD 16 32768 0 0", "DD 17 32768 0 0", "DD 18 32768 0 0",
                          "DD 19 32768 0 0", "DD 5 0 0 0"};

struct Options : ::testing::Test {
    Options() {
        t.instrument.SetPulseAfterDataWrite(true);
        t.instrument.SetRampTimer(&rampTimer);
    }
    ~Options() override { t.instrument.SetRampTimer(nullptr); }
    void Set(ProtectionOptions options) { t.instrument.SetProtectionOptions(options); }
    // What the event loop runs next: the options act from the wake-up they asked for.
    void Settle() {
        while (later.wake) {
            later.wake.reset();
            options.Step();
        }
    }
    // A write that reaches the board, or fails with `result`.
    void Write(int32_t result = 0) {
        t.adapter.requestResult = result;
        try {
            t.instrument.WriteRegister(1, kRegData, 0xC000);
        } catch (const InstrumentError&) {
        }
        t.adapter.requestResult = 0;
    }

    RecordedInstrument t{/*pulseAfterDataWrite=*/false};
    FakeClock rampTimer;
    FakeClock runTimer;
    FakeClock later;
    WaveformRun waveform{t.instrument, runTimer};
    std::vector<std::string> reports;
    SafeStatePolicy options{t.instrument, later,
                            [this](const std::string& why) { reports.push_back(why); }};
};

struct TriggerCase {
    const char* name;
    ProtectionOptions options;
    std::function<void(Options&)> trigger;
    bool safeState;
};
void PrintTo(const TriggerCase& c, std::ostream* os) {
    *os << c.name;
}

class Triggers : public Options, public ::testing::WithParamInterface<TriggerCase> {};

TEST_P(Triggers, TheSafeStateFollowsOnlyItsOwnReasonWithItsOptionOn) {
    const TriggerCase& c = GetParam();
    Set(c.options);
    Write();
    t.adapter.Clear();
    c.trigger(*this);
    const Requests before = t.adapter.Requests();
    // Never inside the call that noticed the reason: from the event loop after it.
    for (std::size_t i = 0; i + kSafeState.size() <= before.size(); ++i)
        EXPECT_NE(Requests(before.begin() + static_cast<std::ptrdiff_t>(i),
                           before.begin() + static_cast<std::ptrdiff_t>(i + kSafeState.size())),
                  kSafeState);
    t.adapter.Clear();
    Settle();
    EXPECT_EQ(t.adapter.Requests(), c.safeState ? kSafeState : Requests{});
    EXPECT_TRUE(reports.empty());
}

const ProtectionOptions kAll{true, true, true};
const ProtectionOptions kLastClient{false, true, false};
const ProtectionOptions kBoardBack{false, false, true};
const ProtectionOptions kExitOnly{true, false, false};

void LastClientLeaves(Options& o) {
    o.options.ClientCountChanged(1);
    o.options.ClientCountChanged(0);
}
void AClientLeavesOthersStay(Options& o) {
    o.options.ClientCountChanged(2);
    o.options.ClientCountChanged(1);
}
void BoardComesBack(Options& o) {
    o.Write(-1);
    o.Write(-7);
    o.Write();  // answers again: the safe state follows once
    o.Write();
}
void BoardAnswersThroughout(Options& o) {
    o.Write();
    o.Write();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Triggers,
    ::testing::Values(TriggerCase{"last client, on", kLastClient, LastClientLeaves, true},
                      TriggerCase{"last client, off", kBoardBack, LastClientLeaves, false},
                      TriggerCase{"last client, exit only", kExitOnly, LastClientLeaves, false},
                      TriggerCase{"not the last client", kAll, AClientLeavesOthersStay, false},
                      TriggerCase{"board back, on", kBoardBack, BoardComesBack, true},
                      TriggerCase{"board back, off", kLastClient, BoardComesBack, false},
                      TriggerCase{"board never gone", kAll, BoardAnswersThroughout, false}),
    tq::testing::ByName{});

TEST_F(Options, EachReturnOfTheBoardBringsTheOutputsDownOnce) {
    Set(kBoardBack);
    for (int round = 0; round < 2; ++round) {
        Write(-1);
        Write();
        Write();
        t.adapter.Clear();
        Settle();
        EXPECT_EQ(t.adapter.Requests(), kSafeState) << round;
        // The safe state's own answers are no new return.
        t.adapter.Clear();
        Settle();
        EXPECT_TRUE(t.adapter.Requests().empty()) << round;
    }
}

TEST_F(Options, TheSafeStateStopsTheRunningWaveformFirst) {
    Set(kLastClient);
    WavePlan plan;
    plan.channels.push_back(ChannelWave{});
    waveform.Start(plan);
    ASSERT_TRUE(waveform.Running());
    LastClientLeaves(*this);
    t.adapter.Clear();
    Settle();
    EXPECT_FALSE(waveform.Running());
    EXPECT_EQ(t.adapter.Requests(), kSafeState);
}

// Whatever the options: the run on the outputs fails with the adapter's words, the log goes on.
TEST_F(Options, ALostBoardEndsTheRunOnTheOutputsNotTheLog) {
    waveform.Start({{ChannelWave{}}});
    FakeClock logTimer;
    TemperatureLog log(t.instrument, logTimer, [] { return std::chrono::system_clock::now(); });
    log.Start(1.0, [](const std::string&) { return true; });
    Write(-1);
    Settle();
    EXPECT_FALSE(waveform.Running());
    EXPECT_EQ(waveform.Outcome().ending, ActivityOutcome::Ending::Failed);
    EXPECT_EQ(waveform.OutcomeText(),
              "waveform run failed at step 2 of 16: board request failed "
              "(-1): " +
                  std::string(ExplainRequestFailure(-1)));
    EXPECT_TRUE(log.Running());
}

TEST_F(Options, AFailedSafeStateIsReported) {
    Set(kLastClient);
    Write();
    LastClientLeaves(*this);
    t.adapter.requestResult = -1;
    Settle();
    t.adapter.requestResult = 0;
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(StartsWith(
        reports[0],
        "The outputs were not brought to 0 V when the last remote client disconnected: "))
        << reports[0];
    EXPECT_TRUE(EndsWith(reports[0], "Check the board, then choose Safe State.")) << reports[0];
}

TEST_F(Options, TheProgramsEndWaitsOutTheRampWithinTheCall) {
    struct Case {
        const char* name;
        ProtectionOptions options;
        bool answered;  // a request has reached the board since start
        Requests expected;
    };
    // DAC B at +5 V (0xC000) ramps down 2.5 V a step, the others at 0 V already.
    const Requests ramped{"DD 17 40960 0 0", "DD 5 0 0 0", "DD 17 32768 0 0", "DD 5 0 0 0"};
    for (const Case& c : std::vector<Case>{{"on", kExitOnly, true, ramped},
                                           {"off", {false, true, true}, true, {}},
                                           {"board never answered", kExitOnly, false, {}}}) {
        RecordedInstrument fresh{/*pulseAfterDataWrite=*/false};
        FakeClock timer;
        FakeClock later;
        fresh.instrument.SetRampTimer(&timer);
        SafeStatePolicy ending(fresh.instrument, later, nullptr);
        fresh.instrument.SetProtectionOptions(c.options);
        fresh.instrument.SetPulseAfterDataWrite(true);
        // Every register of every channel known, as after a setup.
        fresh.adapter.requestResult = c.answered ? 0 : -1;
        for (const auto& [reg, value] : std::vector<std::pair<int16_t, int32_t>>{
                 {kRegCoarseGain, 0}, {kRegFineGain, 0}, {kRegOffset, 0}, {kRegData, 0x8000}})
            try {
                fresh.instrument.WriteRegister(kAllChannels, reg, value);
                fresh.instrument.WriteRegister(1, kRegData, 0xC000);
            } catch (const InstrumentError&) {
            }
        fresh.adapter.requestResult = 0;
        fresh.instrument.SetLimits(1, {std::nullopt, std::nullopt, 2.5, 0.01});
        fresh.adapter.Clear();
        EXPECT_EQ(ending.ProgramEnding(), std::nullopt) << c.name;
        EXPECT_FALSE(fresh.instrument.Ramping()) << c.name;
        EXPECT_FALSE(timer.wake.has_value()) << c.name;
        EXPECT_EQ(fresh.adapter.Requests(), c.expected) << c.name;
        fresh.instrument.SetRampTimer(nullptr);
    }
}

}  // namespace
}  // namespace tq::testing
