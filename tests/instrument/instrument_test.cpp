// The instrument layer against the recording adapter (exact requests) and the simulated board
// (what the outputs do).

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "adapter/fake/RecordingAdapter.h"
#include "adapter/simulated/SimulatedBoard.h"
#include "board/AdapterResults.h"
#include "board/BoardRequests.h"
#include "core/DeviceState.h"
#include "instrument/Calibration.h"
#include "instrument/Instrument.h"
#include "instrument/StartUp.h"
#include "tests/support/RecordedInstrument.h"
#include "tests/support/Requests.h"
#include "tests/support/SimulatedInstrument.h"

namespace tq {
namespace {

using testing::Pulsed;
using testing::Read;
using testing::Requests;
using testing::Write;
using Recorded = testing::RecordedInstrument;

struct TrafficCase {
    const char* name;
    std::function<void(Recorded&)> prepare;  // replies to queue, state to set
    std::function<void(Instrument&)> call;
    Requests expected;
};

class InstrumentTraffic : public ::testing::TestWithParam<TrafficCase> {};

TEST_P(InstrumentTraffic, SendsExactlyTheseRequests) {
    const TrafficCase& c = GetParam();
    Recorded r;
    if (c.prepare)
        c.prepare(r);
    c.call(r.instrument);
    EXPECT_EQ(r.adapter.Requests(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, InstrumentTraffic,
    ::testing::Values(
        // DAC B on +-10 V: its own range is read, then 5 V = 0xC000 with the pulse.
        TrafficCase{"VoltageReadsTheChannelsRange",
                    [](Recorded& r) { r.adapter.QueueRegisterRead(0); },
                    [](Instrument& i) { i.SetChannelVoltage(1, 5.0f); },
                    {Read(0x99), Read(0x99), Pulsed(0x11, 0xC000)}},
        // ALL DACs goes by DAC A's range (coarse gain 2: +-10.5263 V, 10 V = 0xF99A).
        TrafficCase{"AllDacsVoltageUsesDacAsRange",
                    [](Recorded& r) { r.adapter.QueueRegisterRead(2); },
                    [](Instrument& i) { i.SetChannelVoltage(kAllChannels, 10.0f); },
                    {Read(0x98), Read(0x98), Pulsed(0x14, 0xF99A)}},
        TrafficCase{"FourteenBitCodesGoOutTimesFour",
                    [](Recorded& r) { r.state.Resolution = 14; },
                    [](Instrument& i) { i.SetDataCode(2, 0x3FFF); },
                    {Pulsed(0x12, 0xFFFC)}},
        TrafficCase{"FineGainMinusOneIsCode63",
                    nullptr,
                    [](Instrument& i) { i.SetFineGain(3, -1); },
                    {Pulsed(0x23, 63)}},
        TrafficCase{"FourteenBitOffsetSitsInBitsSevenToFive",
                    [](Recorded& r) { r.state.Resolution = 14; },
                    [](Instrument& i) { i.SetOffset(0, -1); },
                    {Pulsed(0x28, 7 * 32)}},
        TrafficCase{"PulseOffWritesWithoutIt",
                    [](Recorded& r) { r.instrument.SetPulseAfterDataWrite(false); },
                    [](Instrument& i) { i.SetRangeCode(0, 1); },
                    {Write(0x18, 1)}},
        TrafficCase{"FunctionFlagWritesTheWholeWord",
                    [](Recorded& r) { r.state.FnD0Output = 1; },
                    [](Instrument& i) { i.SetFunctionFlag(FunctionFlag::LocalGndOffset, true); },
                    {Write(0x01, 0x24)}},
        TrafficCase{"DirectionBoardSideFirst",
                    nullptr,
                    [](Instrument& i) { i.SetD1Output(true); },
                    {"DC 0 0 1 0", Write(0x01, 0x10)}},
        TrafficCase{"ClrPinSendsThePinWord",
                    nullptr,
                    [](Instrument& i) { i.SetPin(Pin::Clr, false); },
                    {"DE 151 0 0 0"}},
        // Refused values and channels send nothing.
        TrafficCase{"DataCodeBeyondTheRegister",
                    nullptr,
                    [](Instrument& i) { EXPECT_THROW(i.SetDataCode(0, 65536), ValueRangeError); },
                    {}},
        TrafficCase{"FourteenBitDataCodeBeyondTheRegister",
                    [](Recorded& r) { r.state.Resolution = 14; },
                    [](Instrument& i) { EXPECT_THROW(i.SetDataCode(0, 16384), ValueRangeError); },
                    {}},
        TrafficCase{"CoarseGainThreeIsNoRange",
                    nullptr,
                    [](Instrument& i) { EXPECT_THROW(i.SetRangeCode(0, 3), ValueRangeError); },
                    {}},
        TrafficCase{"NoChannelFive",
                    nullptr,
                    [](Instrument& i) { EXPECT_THROW(i.SetChannelVoltage(5, 1), ValueRangeError); },
                    {}},
        TrafficCase{"ReadsNeedAChannelNotAllDacs",
                    nullptr,
                    [](Instrument& i) { EXPECT_THROW(i.DataCode(kAllChannels), ValueRangeError); },
                    {}},
        TrafficCase{"OffsetBeyondTheRegister",
                    nullptr,
                    [](Instrument& i) { EXPECT_THROW(i.SetOffset(0, 128), ValueRangeError); },
                    {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The range the program knows comes from the last write or read-back of the coarse gain that
// went through the instrument; only an unknown range is read, once.
TEST(InstrumentRange, KnownFromWritesAndReadBacksReadOnceOtherwise) {
    Recorded r;
    Instrument& i = r.instrument;
    r.adapter.QueueRegisterRead(1);
    EXPECT_FLOAT_EQ(i.ChannelRangeVolts(2), 10.2564f);
    EXPECT_EQ(r.adapter.Requests(), (Requests{Read(0x9A), Read(0x9A)}));
    r.adapter.Clear();
    EXPECT_FLOAT_EQ(i.ChannelRangeVolts(2), 10.2564f);
    i.WriteRegister(kAllChannels, kRegCoarseGain, 2);  // all four channels
    EXPECT_FLOAT_EQ(i.ChannelRangeVolts(0), 10.5263f);
    EXPECT_FLOAT_EQ(i.ChannelRangeVolts(3), 10.5263f);
    EXPECT_FLOAT_EQ(i.ChannelRangeVolts(kAllChannels), 10.5263f);  // DAC A's
    EXPECT_EQ(r.adapter.Requests(), (Requests{Pulsed(0x1C, 2)}));
    // A silent serial output's all-ones read-back is not a range: the last one known stays.
    r.adapter.QueueRegisterRead(0xFFFF);
    i.ReadRegister(1, kRegCoarseGain);
    EXPECT_EQ(i.KnownRangeCode(1), 2);
    r.adapter.QueueRegisterRead(0);
    i.ReadRegister(1, kRegCoarseGain);
    EXPECT_EQ(i.KnownRangeCode(1), 0);
    // Addresses 5 to 7 write no channel; reading them answers DAC A.
    i.WriteRegister(5, kRegCoarseGain, 1);
    EXPECT_EQ(i.KnownRangeCode(0), 2);
    r.adapter.QueueRegisterRead(1);
    i.ReadRegister(6, kRegCoarseGain);
    EXPECT_EQ(i.KnownRangeCode(0), 1);
}

// A call sends its whole sequence, then reports the first failed request with the adapter's
// code and explanation.
TEST(InstrumentFailures, ACallSendsItsSequenceThenThrowsTheAdaptersCode) {
    Recorded r;
    r.adapter.requestResult = -7;
    try {
        r.instrument.SetChannelVoltage(0, 1.0f);
        FAIL() << "no error";
    } catch (const RequestError& e) {
        EXPECT_EQ(e.Code(), -7);
        EXPECT_NE(std::string(e.what()).find("board request failed (-7): "), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(r.adapter.Requests().size(), 3u);
    r.adapter.Clear();
    r.adapter.requestResult = -1;
    try {
        r.instrument.SetPin(Pin::Rstin, false);
        FAIL() << "no error";
    } catch (const RequestError& e) {
        EXPECT_EQ(e.Code(), -1);
    }
    // The next call starts afresh.
    r.adapter.requestResult = 0;
    EXPECT_NO_THROW(r.instrument.SetPin(Pin::Rstin, true));
}

TEST(InstrumentListeners, EachChangeCarriesItsTargetValueAndOrigin) {
    Recorded r;
    std::vector<InstrumentChange> seen;
    const int id = r.instrument.AddListener([&](const InstrumentChange& c) {
        if (c.kind == InstrumentChange::Kind::Register || c.kind == InstrumentChange::Kind::Pins)
            seen.push_back(c);
    });
    const int me = 0;
    {
        const Instrument::Origin origin(r.instrument, &me);
        r.instrument.SetFineGain(2, 5);
    }
    r.instrument.SetPin(Pin::BinaryCoding, false);
    r.instrument.RemoveListener(id);
    r.instrument.SetFineGain(2, 6);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].address, 2);
    EXPECT_EQ(seen[0].reg, kRegFineGain);
    EXPECT_EQ(seen[0].value, 5);
    EXPECT_EQ(seen[0].origin, &me);
    EXPECT_EQ(seen[1].kind, InstrumentChange::Kind::Pins);
    EXPECT_EQ(seen[1].origin, nullptr);
}

// On the simulated board: what the outputs do.
using Simulated = testing::SimulatedInstrument;

TEST(InstrumentOnTheSimulatedBoard, VoltagesLandOnTheirChannelInTheirRange) {
    Simulated s;
    s.instrument.SetRangeCode(1, 2);
    const VoltageSetting set = s.instrument.SetChannelVoltage(1, 10.0f);
    EXPECT_FLOAT_EQ(set.rangeVolts, 10.5263f);
    EXPECT_NEAR(s.board.OutputVolts(1), 10.0, 0.01);
    EXPECT_NEAR(s.board.OutputVolts(0), 0.0, 0.001);  // DAC A untouched
    EXPECT_NEAR(s.instrument.ChannelVoltage(1), 10.0, 0.001);
    EXPECT_EQ(s.instrument.RangeCode(1), 2);
    s.instrument.SetFineGain(1, -3);
    s.instrument.SetOffset(1, 100);
    EXPECT_EQ(s.instrument.FineGain(1), -3);
    EXPECT_EQ(s.instrument.Offset(1), 100);
}

TEST(InstrumentOnTheSimulatedBoard, TemperatureIsAReadingOrAFailureNeverStaleBytes) {
    Simulated s;
    s.board.SetDieTemperature(40.0);
    const TemperatureReading t = s.instrument.MeasureTemperature();
    EXPECT_NEAR(t.celsius, 40.0, 0.5);
    EXPECT_EQ(s.state.FnSdoDisable, 0);  // restored
    s.board.Unplug();
    EXPECT_THROW(s.instrument.MeasureTemperature(), RequestError);
    EXPECT_EQ(s.state.FnSdoDisable, 0);
}

struct CorrectionCase {
    const char* name;
    bool offset;  // else the gain step
    int32_t readBack;
    float measured;
    int16_t resolution;
    float range;
    int32_t expected;
    bool limited;
};

class Corrections : public ::testing::TestWithParam<CorrectionCase> {};

TEST_P(Corrections, ComputeTheRegisterValue) {
    const CorrectionCase& c = GetParam();
    const Correction got = c.offset
                               ? OffsetCorrection(c.readBack, c.measured, c.resolution, c.range)
                               : GainCorrection(c.readBack, c.measured, c.resolution, c.range);
    EXPECT_EQ(got.registerValue, c.expected);
    EXPECT_EQ(got.limited, c.limited);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, Corrections,
    ::testing::Values(
        // +1 mV at 0 V on +-10 V is 3.28 LSB: offset -3.25 in eighths, code 256 - 26.
        CorrectionCase{"Offset16", true, 0, 0.001f, 16, 10.0f, 230, false},
        // The same millivolt on +-10.5263 V is fewer LSBs: the range matters.
        CorrectionCase{"Offset16WideRange", true, 0, 0.001f, 16, 10.5263f, 231, false},
        CorrectionCase{"OffsetLimited", true, 0, 1.0f, 16, 10.0f, 128, true},
        CorrectionCase{"Offset14", true, 0, -0.0025f, 14, 10.0f, 2 * 32, false},
        // Zero scale reads -9.999 V on +-10 V: the gain is 1 mV short, 6.55 units of 2^-17.
        CorrectionCase{"Gain", false, 0, -9.999f, 16, 10.0f, 7, false},
        CorrectionCase{"GainWideRange", false, 0, -10.5253f, 16, 10.5263f, 6, false},
        CorrectionCase{"GainLimited", false, 31, -9.99f, 16, 10.0f, 31, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A failed start-up explains itself with what the program knows: where it looked, which line of
// the firmware file is wrong, how long the path is in bytes.
TEST(ConnectExplanation, NamesThePathTheLineAndTheBytes) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tq-connect-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string firmware = (dir / "TQ2604.hex").string();
    struct Case {
        std::string name;
        std::function<std::string()> prepare;  // writes the firmware file; gives the folder
        int16_t result;
        std::vector<std::string> said;
    };
    const auto write = [&](const std::string& content, uintmax_t sparseSize = 0) {
        std::ofstream(firmware, std::ios::binary) << content;
        if (sparseSize)
            fs::resize_file(firmware, sparseSize);
        return dir.string();
    };
    // A firmware path of 268 characters in 748 bytes: 240 three-byte letters and 28 others.
    std::string longFolder = "/tmp/";
    for (int i = 0; i < 240; ++i)
        longFolder += "\u20AC";
    longFolder += "/abcdefghijk";
    ASSERT_EQ(longFolder.size() + 11, 748u);
    const std::vector<Case> cases{
        {"missing",
         [&] { return dir.string(); },
         -4,
         {"is missing", "(expected at " + firmware + ": file not found)"}},
        {"malformed",
         [&] { return write(":0300300002337A1E\n:0300300002337A1F\n"); },
         -5,
         {"not a well-formed Intel HEX file", firmware + ": line 2: bad checksum"}},
        {"all zeros",
         [&] { return write("", uintmax_t{4} << 20); },
         -5,
         {"not a well-formed", firmware + ": line 1: record does not start with ':'"}},
        {"path too long",
         [&] { return longFolder; },
         -10,
         {"longer than 512 bytes", "(748 bytes: /tmp/\u20AC"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(firmware);
        const std::string folder = c.prepare();
        DeviceState state;
        ApplyStartDefaults(state);
        SimulatedBoard board;
        BoardRequests requests{state, board};
        Instrument instrument{state, requests, {"Simulated board", "SIMULATED"}};
        const int16_t result = instrument.ConnectBoard(folder);
        EXPECT_EQ(result, c.result);
        const std::string text = instrument.ExplainConnectResult(result);
        for (const std::string& part : c.said)
            EXPECT_NE(text.find(part), std::string::npos) << text;
        EXPECT_EQ(text.find("characters"), std::string::npos) << text;
    }
    fs::remove_all(dir);
}

// The start-up of the windows and the headless server: each caller's step comes between the
// same requests, and data writes pulse LDAC only once the function register is taken.
class RecordedStartUp : public StartUpSteps {
public:
    explicit RecordedStartUp(Recorded& r) : r_(r) {}
    void NotConnected(const std::vector<std::string>& reasons) override {
        for (const std::string& why : reasons)
            Log("NotConnected " + why);
    }
    void Connected() override { Log("Connected"); }
    void FunctionRegisterTaken(const std::optional<std::string>& error) override {
        Log(error ? "FunctionRegisterTaken, failed" : "FunctionRegisterTaken");
    }
    void Started() override { Log("Started"); }
    std::vector<std::string> log;

private:
    // Each step with how many adapter calls came before it and whether writes pulse.
    void Log(const std::string& step) {
        log.push_back(step + " after " + std::to_string(r_.adapter.calls.size()) +
                      (r_.instrument.PulseAfterDataWrite() ? ", pulse" : ""));
    }
    Recorded& r_;
};

TEST(StartUp, TheCallersStepsComeBetweenTheSameRequests) {
    struct Case {
        const char* name;
        std::function<void(Recorded&)> prepare;
        bool started;
        std::vector<std::string> log;
        Requests requests;
        int16_t d0Output;
    };
    const std::string noBoard(ExplainAdapterResult(kResultNoBoard));
    const std::vector<Case> cases{
        {"answering board, D1 and D0 outputs",
         [](Recorded& r) { r.adapter.QueueRegisterRead(0x14); },
         true,
         {"Connected after 3", "FunctionRegisterTaken after 5", "Started after 5, pulse"},
         {Read(0x81), Read(0x81)},
         1},
        {"function register unread",
         [](Recorded& r) { r.adapter.requestResult = -1; },
         true,
         {"Connected after 3", "FunctionRegisterTaken, failed after 5", "Started after 5, pulse"},
         {Read(0x81), Read(0x81)},
         0},
        {"no board",
         [](Recorded& r) { r.adapter.downloadResult = kResultNoBoard; },
         false,
         {"NotConnected " + noBoard + " after 3",
          "NotConnected Error Downloading Firmware - Check USB connections after 3"},
         {},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorded r;
        r.instrument.SetPulseAfterDataWrite(false);
        c.prepare(r);
        RecordedStartUp steps(r);
        EXPECT_EQ(StartUp(r.instrument, "/opt/tq", steps), c.started);
        EXPECT_EQ(steps.log, c.log);
        EXPECT_EQ(r.adapter.Requests(), c.requests);
        EXPECT_EQ(r.state.FnD0Output, c.d0Output);
    }
}

}  // namespace
}  // namespace tq
