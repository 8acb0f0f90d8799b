// The waveform commands against the simulated board with a fake clock: lists loaded, a run
// started that returns at once (or armed for a bus trigger), polled, stopped, and the run's
// channels refused to others; a client waiting for its runs, the status that follows them, and
// how each activity ended, told to the client that started it.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "board/AdapterResults.h"
#include "instrument/ListRun.h"
#include "instrument/MeterRuns.h"
#include "instrument/TemperatureLog.h"
#include "remote/InstrumentCommands.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeMeter.h"
#include "tests/support/SimulatedInstrument.h"

namespace tq {
namespace {

struct Board : testing::SimulatedInstrument {
    testing::FakeClock timer;
    WaveformRun run{instrument, timer};
    ListRun lists;  // the program's, which its windows read
    InstrumentCommands commands{instrument, &board, &run, nullptr, &lists};
    ScpiSession session{commands};
    ScpiSession other{commands};
    std::string Send(const std::string& line) { return session.Execute(line).value_or(""); }
    // The timer's next wake-up, on time.
    void Tick() {
        ASSERT_TRUE(timer.wake.has_value());
        timer.now = *timer.wake;
        run.Step();
    }
};

const std::string kNoError = "0,\"No error\"";

TEST(WaveformCommands, ListsAreLoadedAndReadBack) {
    Board b;
    const std::vector<std::pair<std::string, std::string>> exchanges = {
        {"LIST:STAT?", "IDLE,0,0,0,0,0,\"\""},
        {"SOUR1:LIST:VOLT 1,-2.5,3 V,500 MV", ""},
        {"SOUR1:LIST:VOLT?", "1,-2.5,3,0.5"},
        {"SOUR3:LIST:DATA 0,65535;SOUR3:LIST:DATA?;SOUR3:LIST:VOLT?", "0,65535;"},
        {"LIST:DWEL 20 MS;LIST:DWEL?;LIST:COUN?", "0.02;1"},
        {"LIST:COUN INF;LIST:COUN?;LIST:COUN 3;LIST:COUN?", "INF;3"},
        {"SOUR5:LIST:VOLT 1", ""},
        {"SOUR1:LIST:DATA 70000;LIST:DWEL -1;LIST:COUN 0;SOUR1:LIST:VOLT ON", ""},
        {"SOUR1:LIST:VOLT?", "1,-2.5,3,0.5"},  // refused lists leave the loaded one
        {"SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?",
         "-114,\"Header suffix out of range\";-222,\"Data out of range; 70000 is outside 0 to "
         "65535\";-222,\"Data out of range; -1 s is outside 0 s to 3600 s\";-222,\"Data out of "
         "range; 0 is outside 1 to 1000000000\";-104,\"Data type error\";" +
             kNoError},
        {"LIST:DWEL? MAX;LIST:DWEL? DEF;LIST:COUN? MAX;LIST:COUN? DEF;LIST:DWEL 1 KS;LIST:DWEL?;"
         "LIST:DWEL DEF;LIST:DWEL?",
         "3600;0.01;1000000000;1;1000;0.01"},
        {"LIST:CLE;SOUR1:LIST:VOLT?", ""},
        {"INIT", ""},
        {"SYST:ERR?",
         "-221,\"Settings conflict; no list is loaded; send SOURce<n>:LIST:VOLTage first\""},
    };
    for (const auto& [line, expected] : exchanges)
        EXPECT_EQ(b.Send(line), expected) << line;
}

// Raw bytes, NULs included.
std::string Bytes(std::initializer_list<int> bytes) {
    std::string out;
    for (const int b : bytes)
        out += static_cast<char>(b);
    return out;
}

// IEEE 754 numbers (float or double) as a block's bytes, the most significant byte first unless
// swapped.
template <typename T>
std::string Reals(const std::vector<T>& values, bool swapped = false) {
    std::string out;
    for (const T value : values) {
        const auto bits =
            std::bit_cast<std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>(value);
        for (std::size_t k = 0; k < sizeof(T); ++k)
            out += static_cast<char>(bits >> (8 * (swapped ? k : sizeof(T) - 1 - k)));
    }
    return out;
}

// A definite-length block of `bytes`.
std::string Block(const std::string& bytes) {
    const std::string length = std::to_string(bytes.size());
    return "#" + std::to_string(length.size()) + length + bytes;
}

// Codes travel as a block of 16-bit words in either byte order, each client in the format it
// chose: the block is taken whatever the format, the query answers one with INTeger,16. Volts
// travel as a block of IEEE 754 numbers, single precision unless the format is REAL,64.
TEST(WaveformCommands, CodesTravelAsBlocksInTheClientsFormat) {
    Board b;
    const std::vector<std::pair<std::string, std::string>> exchanges = {
        {"FORM?;FORM:BORD?", "ASC,0;NORM"},
        {"SOUR1:LIST:DATA #14" + Bytes({0, 1, 0xFF, 0xFE}) + ";SOUR1:LIST:DATA?", "1,65534"},
        {"FORM INT,16;FORM?;SOUR1:LIST:DATA?", "INT,16;#14" + Bytes({0, 1, 0xFF, 0xFE})},
        {"FORM:BORD SWAP;FORM:BORD?;SOUR1:LIST:DATA?", "SWAP;#14" + Bytes({1, 0, 0xFE, 0xFF})},
        // A line feed and a NUL among the bytes; SWAPped: 0x000A.
        {"SOUR2:LIST:DATA #12\n" + Bytes({0}) + ";SOUR2:LIST:DATA?;FORM:BORD NORM;SOUR2:LIST:DATA?",
         "#12\n" + Bytes({0}) + ";#12" + Bytes({0}) + "\n"},
        // Volts stay text; the codes' query of a list of volts is an empty block.
        {"SOUR3:LIST:VOLT 1,2;SOUR3:LIST:DATA?;SOUR3:LIST:VOLT?", "#10;1,2"},
        {"FORM ASC;FORM?;SOUR3:LIST:DATA?;FORM INTEGER;FORM?", "ASC,0;;INT,16"},
        {"SOUR1:LIST:DATA #13abc;SOUR1:LIST:VOLT #12ab;SOUR1:LIST:DATA #10;FORM BOGUS;FORM INT,8;"
         "FORM ASC,3;FORM:BORD BIG",
         ""},
        {"SYST:ERR?;ERR?;ERR?;ERR?;ERR?;ERR?;ERR?",
         "-104,\"Data type error; a block of 16-bit words holds an even number of bytes, not "
         "3\";-104,\"Data type error; a block of 32-bit numbers holds a multiple of 4 bytes, not "
         "2\";-222,\"Data out of range; a list holds 1 to 65536 "
         "points\";-224,\"Illegal parameter value; the formats are ASCii, INTeger,16 and REAL,32 "
         "or REAL,64\";-224,"
         "\"Illegal parameter value; INTeger takes the length 16\";-224,\"Illegal parameter "
         "value; ASCii takes the length 0\";-224,\"Illegal parameter value\""},
        {"SOUR1:LIST:DATA?", "#14" + Bytes({0, 1, 0xFF, 0xFE})},  // refused lists change nothing
        {"SYST:RES 14;SOUR1:LIST:DATA #14" + Bytes({0x3F, 0xFF, 0x40, 0}) + ";SYST:ERR?",
         "-222,\"Data out of range; point 2 (16384) is outside 0 to 16383\""},
        // REAL: volts as IEEE 754 numbers, single precision unless REAL,64; codes stay text.
        {"FORM REAL;FORM?;FORM REAL,64;FORM?;FORM real,32;FORM?;FORM:BORD NORM;SOUR3:LIST:DATA "
         "7,8;SOUR3:LIST:DATA?",
         "REAL,32;REAL,64;REAL,32;7,8"},
        // Kept as sent: text and REAL,64 exactly, answered in single precision under REAL,32.
        {"FORM ASC;SOUR2:LIST:VOLT 0.1,-1e-3;FORM REAL,64;SOUR2:LIST:VOLT?;FORM REAL;"
         "SOUR2:LIST:VOLT?",
         Block(Reals<double>({0.1, -1e-3})) + ";" + Block(Reals<float>({0.1f, -1e-3f}))},
        {"FORM REAL,64;FORM:BORD SWAP;SOUR4:LIST:VOLT " + Block(Reals<double>({0.1, -7.0}, true)) +
             ";SOUR4:LIST:VOLT?;FORM ASC;SOUR4:LIST:VOLT?;FORM:BORD NORM",
         Block(Reals<double>({0.1, -7.0}, true)) + ";0.1,-7"},
        {"FORM REAL;SOUR4:LIST:VOLT #16abcdef;SOUR4:LIST:VOLT " +
             Block(Reals<float>({1.0f, std::numeric_limits<float>::quiet_NaN()})) +
             ";FORM REAL,64;SOUR4:LIST:VOLT " + Block(Reals<double>({1e31})) + ";SOUR4:LIST:VOLT " +
             Block(Reals<float>({1.0f, -1.0f, 2.0f})) +
             ";FORM REAL,16;SYST:ERR?;ERR?;ERR?;ERR?;ERR?",
         "-104,\"Data type error; a block of 32-bit numbers holds a multiple of 4 bytes, not "
         "6\";-104,\"Data type error; point 2 is not a number\";-222,\"Data out of range; "
         "point 1 (1e+31 V) is outside -1e+30 V to 1e+30 V\";-104,\"Data type error; a block of "
         "64-bit numbers holds a multiple of 8 bytes, not 12\";-224,\"Illegal parameter value; "
         "REAL takes the length 32 or 64\""},
        {"FORM ASC;SOUR4:LIST:VOLT?", "0.1,-7"},  // refused lists change nothing
    };
    for (const auto& [line, expected] : exchanges)
        EXPECT_EQ(b.Send(line), expected) << line;
    // Each client has its own format.
    EXPECT_EQ(b.other.Execute("FORM?;FORM:BORD?;SOUR1:LIST:DATA?").value_or(""),
              "ASC,0;NORM;1,65534");
}

// The longest list in one block, read back equal and run.
TEST(WaveformCommands, SixtyFiveThousandCodesInOneBlock) {
    Board b;
    std::string words;
    std::string text;
    for (int i = 0; i < kMaxWavePoints; ++i) {
        const int code = (i * 7919) & 0xFFFF;
        words += Bytes({code >> 8, code & 0xFF});
        text += (i ? "," : "") + std::to_string(code);
    }
    const std::string block = "#6131072" + words;
    EXPECT_EQ(b.Send("FORM INT;SOUR4:LIST:DATA " + block + ";SYST:ERR?"), kNoError);
    EXPECT_EQ(b.Send("SOUR4:LIST:DATA?"), block);
    EXPECT_EQ(b.Send("FORM ASC;SOUR4:LIST:DATA?"), text);
    EXPECT_EQ(b.Send("LIST:DWEL 0;INIT;LIST:STAT?").substr(0, 16), "RUNNING,1,65536,");
    EXPECT_EQ(b.Send("SOUR4:DATA?"), "0");
    EXPECT_EQ(b.Send("ABOR;SYST:ERR?"), kNoError);

    // As many volts in single precision; one point too many is refused, the lists kept.
    std::vector<float> volts;
    for (int i = 0; i < kMaxWavePoints; ++i)
        volts.push_back(static_cast<float>((i * 7919) % 20001) / 1000.0f - 10.0f);
    const std::string reals = Block(Reals(volts));
    EXPECT_EQ(b.Send("FORM REAL,32;SOUR2:LIST:VOLT " + reals + ";SYST:ERR?"), kNoError);
    EXPECT_EQ(b.Send("SOUR2:LIST:VOLT?"), reals);
    EXPECT_EQ(b.Send("SOUR4:LIST:DATA " + text + ",1;SYST:ERR?"),
              "-223,\"Too much data; a command holds at most 65536 values\"");
    EXPECT_EQ(b.Send("SOUR2:LIST:VOLT?;FORM INT;SOUR4:LIST:DATA?"), reals + ";" + block);
}

TEST(WaveformCommands, InitiateReturnsAtOnceAndTheRunIsPolledAndAborted) {
    Board b;
    EXPECT_EQ(b.Send("SOUR1:LIST:VOLT 1,2,3;SOUR3:LIST:VOLT -4,-5;LIST:DWEL 0.01;LIST:COUN 2"), "");
    EXPECT_EQ(b.Send("INIT;LIST:STAT?"), "RUNNING,1,6,0,100,100,\"\"");
    // The first step is out: both channels together.
    EXPECT_NEAR(b.board.OutputVolts(0), 1.0, 0.002);
    EXPECT_NEAR(b.board.OutputVolts(2), -4.0, 0.002);
    b.Tick();
    b.Tick();
    EXPECT_NEAR(b.board.OutputVolts(0), 3.0, 0.002);
    EXPECT_NEAR(b.board.OutputVolts(2), -4.0, 0.002);  // the shorter list repeats
    // Another client cannot move a channel of the run, nor start a second run.
    EXPECT_EQ(b.other.Execute("SOUR1:VOLT 0;SOUR2:VOLT 2;INIT;SYST:ERR?;SYST:ERR?").value_or(""),
              "-221,\"Settings conflict; DAC A is driven by the waveform run; stop it to change "
              "the output\";-221,\"Settings conflict; a waveform run is running already; stop it "
              "first\"");
    EXPECT_NEAR(b.board.OutputVolts(0), 3.0, 0.002);
    EXPECT_NEAR(b.board.OutputVolts(1), 2.0, 0.002);  // DAC B is free
    EXPECT_EQ(b.Send("ABOR;LIST:STAT?"), "STOPPED,3,6,0,100,100,\"\"");
    EXPECT_FALSE(b.timer.wake.has_value());
    EXPECT_EQ(b.Send("SOUR1:VOLT 0;SYST:ERR?"), kNoError);
    EXPECT_NEAR(b.board.OutputVolts(0), 0.0, 0.002);
}

TEST(WaveformCommands, AnOutOfRangePointIsRefusedBeforeTheRun) {
    Board b;
    EXPECT_EQ(b.Send("SOUR2:LIST:VOLT 1,11;INIT;LIST:STAT?"), "IDLE,0,0,0,0,0,\"\"");
    EXPECT_EQ(b.Send("SYST:ERR?"),
              "-222,\"Data out of range; DAC B point 2 (11 V) is outside the channel's range, "
              "-10 V to 10 V\"");
    EXPECT_NEAR(b.board.OutputVolts(1), 0.0, 0.002);
}

TEST(WaveformCommands, ARunToItsEndFinishes) {
    Board b;
    EXPECT_EQ(b.Send("SOUR4:LIST:DATA 0,65535;LIST:DWEL 0;INIT"), "");
    b.Tick();
    EXPECT_EQ(b.Send("LIST:STAT?").substr(0, 17), "FINISHED,2,2,0,0,");
    EXPECT_EQ(b.Send("SOUR4:DATA?"), "65535");
}

// The lists are the program's: what one client loads is in the ListRun the program handed in,
// where its windows read it, and the other clients see a change made there.
TEST(WaveformCommands, TheListsAreTheProgramsListRun) {
    Board b;
    ListRun& lists = b.lists;
    EXPECT_EQ(b.Send("SOUR2:LIST:VOLT 1,2 V;LIST:DWEL 5 MS;LIST:COUN INF"), "");
    ASSERT_TRUE(lists.List(1).has_value());
    EXPECT_EQ(lists.List(1)->list, (std::vector<double>{1.0, 2.0}));
    EXPECT_FALSE(lists.List(0).has_value());
    EXPECT_DOUBLE_EQ(lists.DwellSeconds(), 0.005);
    EXPECT_EQ(lists.Periods(), 0);

    lists.Clear();
    ChannelWave codes;
    codes.channel = 3;
    codes.shape = WaveShape::List;
    codes.codes = true;
    codes.list = {0, 65535};
    lists.Load(codes);
    EXPECT_EQ(b.other.Execute("SOUR2:LIST:VOLT?;SOUR4:LIST:DATA?"), ";0,65535");

    // What the layer cannot take changes nothing: no channel 4, no empty list, no NaN dwell.
    ChannelWave beyond = codes;
    beyond.channel = 4;
    ChannelWave empty = codes;
    empty.list.clear();
    EXPECT_THROW(lists.Load(beyond), ValueRangeError);
    EXPECT_THROW(lists.Load(empty), ValueRangeError);
    EXPECT_THROW(lists.SetDwellSeconds(std::nan("")), ValueRangeError);
    EXPECT_THROW(lists.SetPeriods(-1), ValueRangeError);
    const WavePlan plan = lists.Plan();
    ASSERT_EQ(plan.channels.size(), 1u);
    EXPECT_EQ(plan.channels[0].channel, 3);
    EXPECT_EQ(plan.periods, 0);
    EXPECT_DOUBLE_EQ(plan.dwellSeconds, 0.005);
}

// Handed no lists (a program without windows to show them), the commands keep lists of their own.
TEST(WaveformCommands, WithoutTheProgramsListsTheCommandsKeepTheirOwn) {
    Board b;
    InstrumentCommands own{b.instrument, &b.board, &b.run};
    ScpiSession session{own};
    EXPECT_EQ(session.Execute("SOUR1:LIST:VOLT 1,2;SOUR1:LIST:VOLT?"), "1,2");
    EXPECT_FALSE(b.lists.List(0).has_value());
}

TEST(WaveformCommands, WithoutARunTheCommandsDoNotExist) {
    testing::SimulatedInstrument sim;
    InstrumentCommands commands{sim.instrument, &sim.board};
    ScpiSession session{commands};
    EXPECT_EQ(session.Execute("INIT;SYST:ERR?").value_or(""), "-113,\"Undefined header\"");
}

// Two clients of the server's kind, whose lines hold while they wait, beside every activity the
// protocol starts: a list run, a meter run and ramps, each on a clock the test moves; and the
// temperature log, which drives no output.
struct Waiting : testing::SimulatedInstrument {
    testing::FakeClock runTimer;
    testing::FakeClock rampTimer;
    WaveformRun run{instrument, runTimer};
    ListRun lists;
    testing::FakeMeter meter;
    testing::FakeClock meterTimer;
    MeterRuns meterRuns{instrument, meter, meterTimer};
    testing::FakeClock logTimer;
    TemperatureLog log{instrument, logTimer, [] { return std::chrono::system_clock::now(); }};
    InstrumentCommands commands{instrument, &board, &run, &meterRuns, &lists};
    ScpiSession a{commands};
    ScpiSession b{commands};
    Waiting() { instrument.SetRampTimer(&rampTimer); }
    ~Waiting() { instrument.SetRampTimer(nullptr); }

    static std::string Send(ScpiSession& session, const std::string& line) {
        if (!session.Start(line))
            return "(held)";
        return session.TakeResponse().value_or("");
    }
    // What client A's held line answers once it ends: "(held)" while it still holds.
    std::string ResumeA() {
        if (!a.Holding())
            return "";
        return a.Resume() ? a.TakeResponse().value_or("") : "(held)";
    }
    // The next thing due: a ramp step, a list step or a meter's settling and reading.
    void Tick() {
        if (rampTimer.wake) {
            rampTimer.now = *rampTimer.wake;
            instrument.RampStep();
        } else if (runTimer.wake) {
            runTimer.now = *runTimer.wake;
            run.Step();
        } else if (!meterTimer.Fire()) {
            ASSERT_FALSE(meter.channels.empty()) << "nothing is due";
            ASSERT_TRUE(meter.Answer({true, board.OutputVolts(meter.channels.back()), {}}))
                << "nothing is due";
        }
    }
    // "B:<line>" is client B's; "<tick>" moves the clock to the next thing due and "<A>" looks
    // again at A's held line (the server does both when an activity ends), answering what A's
    // line answers if it ends then, "<B>" the same for B; "<unplug>" unplugs the board, "<log>"
    // starts the temperature log; any other line is client A's.
    std::string Exchange(const std::string& line) {
        if (line.rfind("B:", 0) == 0)
            return Send(b, line.substr(2));
        if (line == "<tick>")
            Tick();
        if (line == "<tick>" || line == "<A>")
            return ResumeA();
        if (line == "<B>")
            return b.Resume() ? b.TakeResponse().value_or("") : "(held)";
        if (line == "<unplug>")
            board.Unplug();
        if (line == "<log>")
            log.Start(1.0, [](const std::string&) { return true; });
        if (line == "<unplug>" || line == "<log>")
            return "";
        return Send(a, line);
    }
};

struct WaitingCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> exchanges;
};

class WaitingConversation : public ::testing::TestWithParam<WaitingCase> {};

TEST_P(WaitingConversation, AnswersAsExpected) {
    Waiting w;
    for (const auto& [line, expected] : GetParam().exchanges)
        EXPECT_EQ(w.Exchange(line), expected) << line;
}

const std::string kMeter = "MET:ADDR \"TCPIP::127.0.0.1::5025::SOCKET\";MET:OPEN;MET:COUN 1;";

INSTANTIATE_TEST_SUITE_P(
    Runs, WaitingConversation,
    ::testing::Values(
        // *OPC? waits for the run this client started; the other client is answered meanwhile.
        WaitingCase{"OpcWaitsForAListRun",
                    {{"SOUR1:LIST:VOLT 1,2,3;STAT:OPER:ENAB 8", ""},
                     {"INIT;*OPC?;SOUR1:DATA?", "(held)"},
                     {"B:*OPC?;STAT:OPER:COND?;SOUR1:DATA?", "1;8;36045"},
                     {"<tick>", "(held)"},
                     {"<tick>", "1;42598"},
                     {"*STB?;STAT:OPER?;STAT:OPER:COND?;*STB?", "128;8;0;0"}}},
        // The bus trigger: INIT arms (nothing pending yet), *TRG starts, *OPC? waits.
        WaitingCase{"BusTriggerArmsAndStarts",
                    {{"TRIG:SOUR BUS;TRIG:SOUR?;SOUR2:LIST:DATA 0,65535,0;LIST:DWEL 0", "BUS"},
                     {"INIT;LIST:STAT?;STAT:OPER:COND?;*OPC?;SOUR2:DATA?",
                      "ARMED,0,3,0,0,0,\"\";32;1;32768"},
                     {"*TRG;*OPC?;SOUR2:DATA?", "(held)"},
                     {"<tick>", "(held)"},
                     {"<tick>", "1;0"},
                     {"LIST:STAT?;STAT:OPER?;TRIG:SOUR?", "FINISHED,3,3,0,0,0,\"\";40;BUS"},
                     {"*TRG;TRIG;SYST:ERR?;SYST:ERR?;*ESR?",
                      "-211,\"Trigger ignored\";-211,\"Trigger ignored\";16"}}},
        // Armed by A, triggered by B: the run is A's to wait for.
        WaitingCase{"AnotherClientsTriggerStartsThisClientsRun",
                    {{"TRIG:SOUR BUS;SOUR1:LIST:VOLT 1,2;INIT", ""},
                     {"B:TRIG:SOUR?;TRIG;*OPC?;LIST:STAT?", "BUS;1;RUNNING,1,2,0,100,100,\"\""},
                     {"*WAI;SOUR1:DATA?", "(held)"},
                     {"<tick>", "39322"}}},
        WaitingCase{
            "AnArmedRunWaitsAsItWasArmed",
            {{"TRIG:SOUR BUS;SOUR1:LIST:VOLT 1,2;INIT;INIT;TRIG:SOUR IMM;TRIG:SOUR?", "BUS"},
             {"SYST:ERR:ALL?",
              "-213,\"Init ignored\",-221,\"Settings conflict; the list run is armed "
              "and waits for its trigger; ABORt it first\""},
             {"ABOR;LIST:STAT?;STAT:OPER:COND?;*TRG;SYST:ERR?",
              "IDLE,0,0,0,0,0,\"\";0;-211,\"Trigger ignored\""},
             // A point beyond the range is refused when the run is armed.
             {"SOUR2:LIST:VOLT 11;INIT;LIST:STAT?;SYST:ERR?",
              "IDLE,0,0,0,0,0,\"\";-222,\"Data out of range; DAC B point 1 (11 V) is "
              "outside the channel's range, -10 V to 10 V\""},
             // *RST disarms and brings the lists and the trigger back to their start.
             {"SOUR2:LIST:VOLT 1;LIST:COUN 5;LIST:DWEL 1;INIT;*RST;LIST:STAT?",
              "IDLE,0,0,0,0,0,\"\""},
             {"TRIG:SOUR?;LIST:COUN?;LIST:DWEL?;SOUR1:LIST:VOLT?", "IMM;1;0.01;"}}},
        // A run that repeats is pending until someone aborts it.
        WaitingCase{"EndlessRunPendingUntilAborted",
                    {{"SOUR1:LIST:VOLT 1,2;LIST:COUN INF;INIT;*OPC;*WAI;*ESR?", "(held)"},
                     {"<tick>", "(held)"},
                     {"B:ABOR;*ESR?", "0"},
                     {"<A>", "1"},
                     {"LIST:STAT?", "STOPPED,2,0,0,100,100,\"\""}}},
        // A power loss that another client's request finds ends the run where it left the
        // outputs, at 0 V: its next step is refused, and the client waiting for it is answered.
        WaitingCase{"APowerLossEndsTheRunAtZero",
                    {{"SOUR2:LIST:VOLT 1,2;LIST:COUN INF;INIT;*OPC?", "(held)"},
                     {"<tick>", "(held)"},
                     {"B:BENC:POW:CYCL;*ESR?;BENC:VOLT2?", "136;-0.00022"},
                     {"<tick>", "1"},
                     {"LIST:STAT?;BENC:VOLT2?",
                      "FAILED,2,0,0,100,100,\"step 3: the board lost power and every output was "
                      "brought to 0 V\";-0.00022"}}},
        // *OPC sets its event when the last pending operation ends; *CLS cancels it.
        WaitingCase{"OpcEventAtTheEnd",
                    {{"SOUR1:LIST:VOLT 1,2;INIT;*OPC;*ESR?", "0"},
                     {"<tick>", ""},
                     {"*ESR?;*ESR?", "1;0"},
                     {"INIT;*OPC;*CLS", ""},
                     {"<tick>", ""},
                     {"*ESR?", "0"}}},
        // Meter runs: calibrating and measuring, pending for the client that started them.
        WaitingCase{"MeterRunsAreOperations",
                    {{kMeter + "MET:LIN 3,3;STAT:OPER:COND?;*OPC?", "(held)"},
                     {"B:STAT:OPER:COND?;*OPC?;MET:PROG?", "16;1;RUNNING,0,3"},
                     {"<tick>", "(held)"},
                     {"<tick>", "(held)"},
                     {"<tick>", "(held)"},
                     {"<tick>", "(held)"},
                     {"<tick>", "(held)"},
                     {"<tick>", "16;1"},
                     {"MET:CAL 2;STAT:OPER:COND?;STAT:OPER?;MET:STOP;STAT:OPER:COND?", "1;17;0"}}},
        // *RST's safe state ramps: the start state follows once the ramp has ended, and the
        // client's lines wait for it.
        WaitingCase{"ResetWaitsForTheSafeStatesRamp",
                    {{"SOUR:COD TWOS;SOUR:ALL:VOLT 0;SOUR2:VOLT:RAMP:STEP 0.5;"
                      "SOUR2:VOLT:RAMP:WAIT 10 MS",
                      ""},
                     {"SOUR2:VOLT 1;STAT:OPER:COND?", "(held)"},
                     {"B:STAT:OPER:COND?", "256"},
                     {"<tick>", "0"},
                     {"*RST;SOUR:COD?", "(held)"},
                     {"B:SOUR:COD?;SOUR2:DATA?", "TWOS;1638"},
                     {"<tick>", "BIN"},
                     {"SOUR2:DATA?;SYST:ERR?;STAT:OPER?", "32768;0,\"No error\";256"}}},
        // Another client's safe state takes that ramp over: the start state does not follow.
        WaitingCase{
            "AResetWhoseRampIsTakenOver",
            {{"SOUR:COD TWOS;SOUR:ALL:DATA 0;SOUR2:VOLT:RAMP:STEP 0.5;SOUR2:VOLT:RAMP:WAIT 10 MS",
              ""},
             {"SOUR2:VOLT 1;*OPC?", "(held)"},
             {"<tick>", "1"},
             {"*RST;SOUR:COD?;SYST:ERR?", "(held)"},
             {"B:OUTP:SAFE;SOUR2:DATA?", "0"},
             {"<A>",
              "TWOS;-221,\"Settings conflict; *RST stopped before the start state: the "
              "safe state took over\""}}}),
    [](const auto& info) { return std::string(info.param.name); });

// How an activity ended reaches its starter alone, before its *OPC? answers, ESR bit 4 with it;
// its own stop and ABORt of a run until stopped are no failure. The safe state stops every kind
// on the outputs; the temperature log goes on.
const std::string kLost = "board request failed (-1): " + std::string(ExplainRequestFailure(-1));
const std::string kRamp = "SOUR1:VOLT:RAMP:STEP 1;SOUR1:VOLT:RAMP:WAIT 10 MS";
const std::string kRampStepRefusal =
    "DAC B: the change moves the output by 2.74994 V at once, more than its ramp step of 0.5 V; "
    "bring the output to 0 V first (Safe State) and change it there";

INSTANTIATE_TEST_SUITE_P(
    Outcomes, WaitingConversation,
    ::testing::Values(
        WaitingCase{"ARampCutByALostBoard",
                    {{kRamp, ""},
                     {"SOUR1:VOLT 9;:SYST:ERR?;*ESR?;*OPC?", "(held)"},
                     {"<tick>", "(held)"},
                     {"<unplug>", ""},
                     {"<tick>", "-200,\"Execution error; DAC A ramp stopped at 2 V of 9 V: " +
                                    kLost + "\";16;1"},
                     {"B:SYST:ERR?", kNoError}}},
        WaitingCase{"ARampCutByAnotherClientsSafeState",
                    {{"<log>", ""},
                     {kRamp + ";STAT:OPER:COND?", "16"},
                     {"SOUR1:VOLT 9;:SYST:ERR?;*ESR?;*OPC?", "(held)"},
                     {"<tick>", "(held)"},
                     {"B:OUTP:SAFE;SYST:ERR?", "(held)"},
                     {"<A>",
                      "-200,\"Execution error; DAC A ramp stopped at 2 V of 9 V: another "
                      "client's OUTPut:SAFE\";16;1"},
                     {"<tick>", ""},
                     {"<B>", kNoError}}},
        WaitingCase{"ARampCutByAnotherClientsReset",
                    {{kRamp, ""},
                     {"SOUR1:VOLT 9;:SYST:ERR?;*ESR?;*OPC?", "(held)"},
                     {"<tick>", "(held)"},
                     {"B:*RST;SYST:ERR?", "(held)"},
                     {"<A>",
                      "-200,\"Execution error; DAC A ramp stopped at 2 V of 9 V: another "
                      "client's *RST\";16;1"},
                     {"<tick>", ""},
                     {"<B>", kNoError}}},
        WaitingCase{"AListRunFailedByARampStepRefusal",
                    {{"SOUR2:VOLT:RAMP:STEP 0.5;SOUR2:LIST:VOLT 0,0.25,3", ""},
                     {"INIT;*OPC?;:SYST:ERR?;*ESR?", "(held)"},
                     {"<tick>", "(held)"},
                     {"<tick>", "1;-200,\"Execution error; list run failed at step 3 of 3: " +
                                    kRampStepRefusal + "\";16"},
                     {"B:SYST:ERR?", kNoError}}},
        WaitingCase{"AListRunFailedByALostBoard",
                    {{"SOUR1:LIST:VOLT 1,2,3", ""},
                     {"INIT;*OPC?;:SYST:ERR?;*ESR?", "(held)"},
                     {"<unplug>", ""},
                     {"<tick>", "1;-200,\"Execution error; list run failed at step 2 of 3: " +
                                    kLost + "\";16"},
                     {"B:SYST:ERR?", kNoError}}},
        WaitingCase{
            "ARunItsStarterAborts",
            {{"SOUR1:LIST:VOLT 1,2,3;INIT;ABOR;*OPC?;:SYST:ERR?;*ESR?", "1;0,\"No error\";0"},
             {"B:SYST:ERR?", kNoError}}},
        WaitingCase{"ARunUntilStoppedEndedByAnotherClientsAbort",
                    {{"SOUR1:LIST:VOLT 1,2;LIST:COUN INF", ""},
                     {"INIT;*OPC?;:SYST:ERR?;*ESR?", "(held)"},
                     {"<tick>", "(held)"},
                     {"B:ABOR;SYST:ERR?", kNoError},
                     {"<A>", "1;0,\"No error\";0"}}},
        WaitingCase{"AListRunStoppedByAnotherClientsReset",
                    {{"<log>", ""},
                     {"SOUR1:LIST:VOLT 1,2,3,4,5", ""},
                     {"INIT;*OPC?;:SYST:ERR?;*ESR?", "(held)"},
                     {"<tick>", "(held)"},
                     {"B:*RST;STAT:OPER:COND?;SYST:ERR?", "16;" + kNoError},
                     {"<A>",
                      "1;-200,\"Execution error; list run stopped at step 2 of 5: another "
                      "client's *RST\";16"}}},
        WaitingCase{"TheSafeStateStopsALinearityTestNotTheLog",
                    {{"<log>", ""},
                     {kMeter + "MET:LIN 3,3;MET:PROG?", "RUNNING,0,3"},
                     {"B:OUTP:SAFE;STAT:OPER:COND?;SYST:ERR?", "16;" + kNoError},
                     {"MET:PROG?;SYST:ERR?",
                      "STOPPED,0,3;-200,\"Execution error; linearity test stopped at step 1 "
                      "of 3: another client's OUTPut:SAFE\""}}},
        WaitingCase{"TheSafeStateStopsACalibrationNotTheLog",
                    {{"<log>", ""},
                     {kMeter + "MET:CAL 2;STAT:OPER:COND?", "17"},
                     {"B:*RST;STAT:OPER:COND?;SYST:ERR?", "16;" + kNoError},
                     {"MET:PROG?;SYST:ERR?",
                      "STOPPED,0,4;-200,\"Execution error; automatic calibration stopped at "
                      "step 1 of 4: another client's *RST\""}}}),
    [](const auto& info) { return std::string(info.param.name); });

// A client that leaves while its run goes on: no client after it takes its origin, so none is
// made to wait for that run.
TEST(WaitingConversation, AGoneClientsRunIsNobodyElses) {
    Waiting w;
    w.lists.Load({0, WaveShape::List, false, 1.0, 0.0, 16, {1.0, 2.0}});
    w.lists.SetPeriods(0);
    auto gone = std::make_unique<ScpiSession>(w.commands);
    ASSERT_EQ(Waiting::Send(*gone, "INIT"), "");
    gone.reset();
    ASSERT_EQ(w.instrument.Activities().size(), 1u);
    const void* startedBy = w.instrument.Activities().front()->Starter();
    std::vector<const void*> origins;
    const int listener = w.instrument.AddListener([&](const InstrumentChange& change) {
        if (change.kind == InstrumentChange::Kind::Register)
            origins.push_back(change.origin);
    });
    for (int i = 0; i < 200; ++i) {
        ScpiSession next(w.commands);
        ASSERT_EQ(Waiting::Send(next, "SOUR2:DATA 100;*OPC?"), "1") << i;
    }
    w.instrument.RemoveListener(listener);
    EXPECT_EQ(std::count(origins.begin(), origins.end(), startedBy), 0);
    EXPECT_EQ(Waiting::Send(w.b, "ABOR;LIST:STAT?").substr(0, 8), "STOPPED,");
}

// A setup's Generator definition goes to the Generator, never into SYSTem:SETup? or *SAV.
TEST(WaveformCommands, ASetupsDefinitionReachesTheGeneratorOnly) {
    Board b;
    int offered = 0;
    b.run.SetDefinitionListener([&offered](const WaveformDefinition&) { ++offered; });
    const std::string json =
        R"({"format":1,"waveform":{"periods":4,"channels":{"B":{"on":true,"shape":"Sine"}}}})";
    const std::string size = std::to_string(json.size());
    const std::string block = "#" + std::to_string(size.size()) + size + json;
    EXPECT_EQ(b.Send("SYST:SET " + block + ";SYST:ERR?"), kNoError);
    EXPECT_EQ(offered, 1);
    EXPECT_TRUE(b.run.Definition() && b.run.Definition()->channels[1].on);
    EXPECT_FALSE(b.run.Running());
    EXPECT_EQ(b.Send("SYST:SET?").find("waveform"), std::string::npos);
    EXPECT_EQ(b.Send("*SAV 3;*RCL 3;SYST:ERR?"), kNoError);
    EXPECT_EQ(offered, 1);  // the slot holds none: nothing to hand on
}

}  // namespace
}  // namespace tq
