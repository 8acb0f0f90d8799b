#include "adapter/simulated/SimulatedBoard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "board/AdapterResults.h"
#include "board/BoardRequests.h"
#include "board/RegisterAccess.h"
#include "board/UsbStuff.h"
#include "core/DeviceState.h"

namespace tq::testing {
namespace {

namespace fs = std::filesystem;

class PulseHooks : public RegisterHooks {
public:
    bool PulseAfterDataWrite() const override { return pulse; }
    void ShowReadWrite(int16_t) override {}
    bool pulse = false;
};

// The program's view of the board: DeviceState, the real requests and register routines.
class SimulatedBoardTest : public ::testing::Test {
protected:
    SimulatedBoardTest() {
        ApplyStartDefaults(state);
        registers.SetHooks(&hooks);
    }

    void Start() {
        ASSERT_EQ(ConnectBoard(state, board, fs::path(TQ_FIRMWARE_IMAGE).parent_path().string()),
                  0);
    }
    int32_t Download(const std::string& path) {
        return board.Download_Firmware(1, reinterpret_cast<const uint8_t*>(path.c_str()));
    }
    // One raw transfer: returns the result and the three bytes that came out.
    std::vector<uint8_t> Raw(uint8_t request, int32_t value, int32_t index, int32_t* result) {
        uint8_t buffer[3] = {0xAA, 0xAA, 0xAA};
        *result = board.Vendor_Request(1, request, value, index, 1, 3, buffer);
        return {buffer[0], buffer[1], buffer[2]};
    }
    std::vector<uint8_t> Raw(uint8_t request, int32_t value, int32_t index = 0) {
        int32_t result = 0;
        auto bytes = Raw(request, value, index, &result);
        EXPECT_EQ(result, 3);
        return bytes;
    }
    void SetPins() { requests.SendPinWord(); }

    SimulatedBoard board;
    DeviceState state;
    BoardRequests requests{state, board};
    RegisterAccess registers{state, requests};
    PulseHooks hooks;
};

class TempDir {
public:
    TempDir() : path_(fs::temp_directory_path() / ("tq_sim_" + std::to_string(::getpid()))) {
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream(path_ / name, std::ios::binary) << content;
        return (path_ / name).string();
    }
    std::string Path(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

TEST_F(SimulatedBoardTest, DownloadResultsAndRequestsAfterThem) {
    TempDir dir;
    std::ifstream in(TQ_FIRMWARE_IMAGE);
    const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    struct Case {
        std::string name;
        std::string path;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {"good image", TQ_FIRMWARE_IMAGE, 0},
        {"missing", dir.Path("absent.hex"), kResultFirmwareMissing},
        {"bad checksum", dir.Write("sum.hex", ":0300300002337A1F\n:00000001FF\n"),
         kResultFirmwareMalformed},
        {"truncated", dir.Write("cut.hex", good.substr(0, good.size() / 2)),
         kResultFirmwareMalformed},
        {"larger than program RAM", dir.Write("big.hex", ":0140000000BF\n:00000001FF\n"),
         kResultFirmwareTooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedBoard fresh;
        uint8_t dummy = 0;
        EXPECT_EQ(fresh.Vendor_Request(1, kReqSetPins, 0x9F, 0, 0, 0, &dummy), kResultIoError);
        EXPECT_EQ(fresh.Download_Firmware(1, reinterpret_cast<const uint8_t*>(c.path.c_str())),
                  c.expected);
        EXPECT_EQ(fresh.Vendor_Request(1, kReqSetPins, 0x9F, 0, 0, 0, &dummy),
                  c.expected == 0 ? 0 : kResultIoError);
    }
}

TEST_F(SimulatedBoardTest, AFailedDownloadStopsAWorkingBoard) {
    Start();
    registers.WriteRegister(0, 2, 0x1234);
    EXPECT_FALSE(state.LastRequestFailed);
    board.FailNextDownload(1);
    EXPECT_EQ(Download(TQ_FIRMWARE_IMAGE), 1);
    registers.WriteRegister(0, 2, 0x1234);
    EXPECT_TRUE(state.LastRequestFailed);
    EXPECT_EQ(state.LastStatus, -1);
    // Only the next download was made to fail.
    EXPECT_EQ(Download(TQ_FIRMWARE_IMAGE), 0);
    EXPECT_EQ(registers.ReadRegister(0, 2), 0x1234);
}

TEST_F(SimulatedBoardTest, EveryKindOfRequestFailsBeforeTheDownload) {
    // Each request the program sends, with its own buffer length.
    struct Case {
        uint8_t request;
        int32_t value, index;
        uint8_t direction;
        int32_t length;
    };
    const std::vector<Case> cases = {{0xDD, 0x10, 0x8000, 0, 0}, {0xD9, 0x10, 0x8000, 0, 0},
                                     {0xDD, 0x90, 0, 1, 3},      {0xDD, 0, 2, 1, 2},
                                     {0xDA, 0, 0, 1, 2},         {0xDB, 1, 0, 1, 0},
                                     {0xDC, 0, 0, 1, 0},         {0xDE, 0x8F, 3, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        uint8_t buffer[3] = {0x5A, 0x5A, 0x5A};
        EXPECT_EQ(
            board.Vendor_Request(1, c.request, c.value, c.index, c.direction, c.length, buffer),
            kResultIoError);
        EXPECT_EQ(buffer[0], 0x5A);
    }
    EXPECT_EQ(board.GetRegister(0, 2), 0x8000);  // the write did not reach the converter
}

TEST_F(SimulatedBoardTest, RegistersReadBackThroughReadRegister) {
    Start();
    struct Case {
        int16_t address, reg;
        int32_t written;
        int16_t readAddress;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {0, 2, 0x1234, 0, 0x1234}, {3, 2, 0xFEDC, 3, 0xFEDC}, {1, 3, 0xFFFF, 1, 3},
        {2, 4, 0xFFFF, 2, 0x3F},   {3, 5, 0x1FF, 3, 0xFF},    {1, 0, 0x36, 1, 0x36},
        {1, 0, 0xFFC0, 1, 0},      {0, 1, 0x1234, 0, 0},      {0, 6, 0x1234, 0, 0},
        {0, 7, 0x1234, 0, 0},      {4, 3, 2, 3, 2},           {4, 2, 0x4321, 7, 0x4321},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.address) + "/" + std::to_string(c.reg));
        registers.WriteRegister(c.address, c.reg, c.written);
        EXPECT_EQ(registers.ReadRegister(c.readAddress, c.reg), c.expected);
        EXPECT_EQ(state.LastStatus, 3);
    }
}

TEST_F(SimulatedBoardTest, AllDacsWriteReachesEveryChannelAndReadsAnswerChannelA) {
    Start();
    registers.WriteRegister(0, 5, 0x11);
    registers.WriteRegister(4, 4, 0x05);
    for (int16_t ch = 0; ch < 4; ++ch)
        EXPECT_EQ(registers.ReadRegister(ch, 4), 0x05) << ch;
    registers.WriteRegister(1, 5, 0x22);
    for (int16_t address = 4; address < 8; ++address)
        EXPECT_EQ(registers.ReadRegister(address, 5), 0x11) << address;
    // Channel-register writes at 5..7 are ignored.
    registers.WriteRegister(6, 5, 0x33);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_NE(board.GetRegister(ch, 5), 0x33) << ch;
}

TEST_F(SimulatedBoardTest, ReadBackAnswersThePreviousTransfer) {
    Start();
    board.SetRegister(0, 2, 0x8001);
    struct Step {
        uint8_t request;
        int32_t value, index;
        std::vector<uint8_t> out;
    };
    const std::vector<Step> steps = {
        {0xDD, 0x90, 0, {0, 0, 0}},              // power-on: nothing was asked yet
        {0xDD, 0x90, 0, {0x00, 0x01, 0x80}},     // 0x8001, each byte reversed
        {0xDD, 0x98, 0, {0x00, 0x01, 0x80}},     // answers the data read before
        {0xDD, 0x18, 1, {0, 0, 0}},              // coarse gain of A (0) ...
        {0xDD, 0x98, 0, {0, 0, 0}},              // ... but after a write: nothing
        {0xD9, 0x98, 0, {0x00, 0x00, 0x80}},     // coarse gain 1 reversed
        {0xDD, 0x01, 0x01, {0x00, 0x00, 0x80}},  // disable the serial output after this
        {0xDD, 0x90, 0, {0xFF, 0xFF, 0xFF}},
        {0xDD, 0x90, 0, {0xFF, 0xFF, 0xFF}},
        {0xDD, 0x01, 0x00, {0xFF, 0xFF, 0xFF}},  // still disabled while this word goes in
        {0xDD, 0x90, 0, {0, 0, 0}},
        {0xDD, 0x90, 0, {0x00, 0x01, 0x80}},
    };
    int n = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(++n);
        EXPECT_EQ(Raw(s.request, s.value, s.index), s.out);
    }
}

TEST_F(SimulatedBoardTest, ReadRegisterSeesAllOnesWhileSerialOutputIsDisabled) {
    Start();
    registers.SetFunctionBit(0x01);
    EXPECT_EQ(registers.ReadRegister(0, 2), 0xFFFF);
    EXPECT_EQ(board.GetRegister(1, 0), 0x01);
    registers.WriteRegister(1, 0, 0);
    EXPECT_EQ(registers.ReadRegister(0, 2), 0x8000);
}

TEST_F(SimulatedBoardTest, LegacyReadReturnsTheLastDataWordUnreversed) {
    Start();
    registers.WriteRegister(1, 2, 0xC012);
    requests.LegacyRead();
    EXPECT_EQ(state.LastStatus, 2);
    EXPECT_EQ(state.ReceiveBuffer[0], 0x12);
    EXPECT_EQ(state.ReceiveBuffer[1], 0xC0);
}

TEST_F(SimulatedBoardTest, D0AndD1LevelsReadBackInFunctionBits3And1) {
    struct Case {
        const char* name;
        int32_t function;        // written to the function register
        int16_t drive1, drive0;  // pin word index bits
        int32_t dir1, dir0;      // direction requests (-1: none sent)
        int32_t readBack;
    };
    const std::vector<Case> cases = {
        {"inputs, board drives both high", 0x00, 1, 1, 1, 1, 0x0A},
        {"inputs, board drives D1 only", 0x00, 1, 0, -1, -1, 0x08},
        {"inputs, board drives D0 only", 0x20, 0, 1, -1, -1, 0x22},
        {"outputs: the converter's level bits", 0x16, 1, 1, 0, 0, 0x16},
        {"outputs low override the board", 0x14, 1, 1, 0, 0, 0x14},
        {"level bits of inputs are not read", 0x0A, 0, 0, 1, 1, 0x00},
        {"D1 output high, D0 input driven low", 0x18, 0, 0, 0, 1, 0x18},
        {"released by the board, nobody drives", 0x00, 1, 1, 0, 0, 0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedBoard fresh;
        DeviceState s;
        ApplyStartDefaults(s);
        BoardRequests req(s, fresh);
        RegisterAccess regs(s, req);
        ASSERT_EQ(ConnectBoard(s, fresh, fs::path(TQ_FIRMWARE_IMAGE).parent_path().string()), 0);
        s.DriveD1 = c.drive1;
        s.DriveD0 = c.drive0;
        req.SendPinWord();
        if (c.dir1 >= 0)
            req.SetD1Direction(c.dir1);
        if (c.dir0 >= 0)
            req.SetD0Direction(c.dir0);
        regs.WriteRegister(1, 0, c.function);
        EXPECT_EQ(regs.ReadRegister(1, 0), c.readBack);
        EXPECT_EQ(fresh.D1Level(), (c.readBack >> 3) & 1);
        EXPECT_EQ(fresh.D0Level(), (c.readBack >> 1) & 1);
    }
}

TEST_F(SimulatedBoardTest, LinesAreNotDrivenAtPowerOn) {
    Start();
    // The board has not been given a pin word yet, so the levels are the pull-downs'.
    board.SetRegister(1, 0, 0);
    EXPECT_EQ(board.D0Level(), 0);
    EXPECT_EQ(board.D1Level(), 0);
    state.DriveD0 = 1;
    SetPins();
    EXPECT_EQ(board.D0Level(), 1);
    EXPECT_EQ(registers.ReadRegister(1, 0), 0x02);
}

TEST_F(SimulatedBoardTest, LdacHighHoldsTheOutputUntilAPulse) {
    Start();
    const double before = board.OutputVolts(1);
    registers.WriteRegister(1, 2, 0xC000);
    EXPECT_DOUBLE_EQ(board.OutputVolts(1), before);
    EXPECT_EQ(registers.ReadRegister(1, 2), 0xC000);  // the input register took it
    hooks.pulse = true;
    registers.WriteRegister(2, 2, 0x4000);  // 0xD9: the pulse loads every channel
    EXPECT_NEAR(board.OutputVolts(1), 5.0 * (1 - 1.4e-4) - 220e-6, 1e-9);
    EXPECT_NEAR(board.OutputVolts(2), -5.0 * (1 + 3.2e-4) + 180e-6, 1e-9);
}

TEST_F(SimulatedBoardTest, LdacLowUpdatesAtOnceAndItsFallingEdgeLoadsAll) {
    Start();
    registers.WriteRegister(0, 2, 0xC000);
    registers.WriteRegister(3, 2, 0x4000);
    EXPECT_NEAR(board.OutputVolts(0), 350e-6, 1e-9);
    state.LdacPin = 0;
    SetPins();  // falling edge: both held writes come through
    EXPECT_NEAR(board.OutputVolts(0), 5.0014, 1e-9);
    EXPECT_NEAR(board.OutputVolts(3), -5.0 * (1 - 2.6e-4) - 410e-6, 1e-9);
    registers.WriteRegister(2, 2, 0xFFFF);  // no pulse needed now
    EXPECT_GT(board.OutputVolts(2), 9.99);
    SetPins();  // staying low is no edge
    state.LdacPin = 1;
    SetPins();
    registers.WriteRegister(2, 2, 0x0000);
    EXPECT_GT(board.OutputVolts(2), 9.99);
}

TEST_F(SimulatedBoardTest, LoadAndClearActOnAllChannels) {
    Start();
    for (int16_t ch = 0; ch < 4; ++ch)
        registers.WriteRegister(ch, 2, 0xFFFF);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_LT(std::abs(board.OutputVolts(ch)), 0.001) << ch;
    registers.LoadAllChannels();
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_GT(board.OutputVolts(ch), 9.99) << ch;
    registers.ClearAllChannels();
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_LT(std::abs(board.OutputVolts(ch)), 0.001) << ch;
    // In two's complement the 0 V code is 0x0000; the input registers keep their value.
    state.BinaryCoding = 0;
    SetPins();
    registers.WriteRegister(0, 2, 0xC000);
    registers.LoadAllChannels();
    EXPECT_LT(board.OutputVolts(0), -4.99);
    registers.ClearAllChannels();
    EXPECT_NEAR(board.OutputVolts(0), 350e-6, 1e-9);
    EXPECT_EQ(registers.ReadRegister(0, 2), 0xC000);
}

TEST_F(SimulatedBoardTest, OutputVoltageFollowsDataRangeFineGainAndOffset) {
    Start();
    struct Case {
        int channel;
        uint16_t data, coarse, fine, offset;
        int16_t binary;
        double volts;
    };
    const std::vector<Case> cases = {
        {0, 0xC000, 0, 0, 0, 1, 5.0014},
        {1, 0xC000, 0, 31, 0, 1, 5.001445112304688},
        {2, 0x8000, 0, 0, 0xF8, 1, -0.00012517578125},
        {3, 0xFFFF, 1, 0, 0, 1, 10.253010416891845},
        {0, 0x4000, 2, 0x20, 0, 1, -5.261335364039063},
        {1, 0xC000, 0, 0, 0, 0, -4.99952},
        {2, 0x0000, 0, 0, 0x7F, 1, -9.998175334472657},
        {3, 0x8000, 3, 0, 0, 1, -0.00041},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channel);
        state.BinaryCoding = c.binary;
        SetPins();
        const auto ch = static_cast<int16_t>(c.channel);
        registers.WriteRegister(ch, 3, c.coarse);
        registers.WriteRegister(ch, 4, c.fine);
        registers.WriteRegister(ch, 5, c.offset);
        registers.WriteRegister(ch, 2, c.data);
        registers.LoadAllChannels();
        EXPECT_NEAR(board.OutputVolts(c.channel), c.volts, 1e-9);
    }
}

TEST_F(SimulatedBoardTest, ClrOrRstinLowHoldsOutputsAtZero) {
    Start();
    board.SetRegister(4, 2, 0xF000);
    for (int16_t DeviceState::*pin : {&DeviceState::ClrPin, &DeviceState::RstinPin}) {
        state.*pin = 0;
        SetPins();
        for (int ch = 0; ch < 4; ++ch)
            EXPECT_EQ(board.OutputVolts(ch), 0.0);
        state.*pin = 1;
        SetPins();
        EXPECT_GT(board.OutputVolts(2), 8.0);
    }
}

TEST_F(SimulatedBoardTest, TemperatureReadsBackAsTheConverterCount) {
    Start();
    registers.SetFunctionBit(0x01);  // the serial output does not matter to the board converter
    struct Case {
        double celsius;
        int16_t count;
    };
    const std::vector<Case> cases = {{25, 1746}, {-40, 1341}, {150, 2524}, {500, 4095}, {-300, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.celsius);
        board.SetDieTemperature(c.celsius);
        EXPECT_EQ(requests.ReadAdcWord(), c.count);
        EXPECT_EQ(state.LastStatus, 2);
    }
    EXPECT_THROW(board.SetDieTemperature(std::nan("")), std::invalid_argument);
    EXPECT_DOUBLE_EQ(board.DieTemperature(), -300.0);
}

TEST_F(SimulatedBoardTest, UnplugFailsEveryRequestAndPlugRestoresTheBoard) {
    Start();
    registers.WriteRegister(2, 2, 0xABCD);
    registers.WriteRegister(1, 0, 0x20);
    board.Unplug();
    const std::vector<std::function<void()>> requestsOfEveryKind = {
        [&] { registers.WriteRegister(2, 2, 0x1111); },
        [&] { registers.ReadRegister(2, 2); },
        [&] { requests.WriteAndPulse(0x12, 0x1111); },
        [&] { requests.ReadAdcWord(); },
        [&] { requests.LegacyRead(); },
        [&] { requests.SendPinWord(); },
        [&] { requests.SetD0Direction(0); },
        [&] { requests.SetD1Direction(0); },
    };
    for (const auto& send : requestsOfEveryKind) {
        state.LastStatus = 0;
        send();
        EXPECT_EQ(state.LastStatus, -1);
    }
    EXPECT_EQ(Download(TQ_FIRMWARE_IMAGE), kResultIoError);
    int32_t count = 5;
    uint8_t list[128] = {};
    EXPECT_EQ(board.Search_For_Boards(UsbVendorId, UsbProductId, &count, list), kResultNoBoard);
    EXPECT_EQ(count, 0);

    board.Plug();
    EXPECT_EQ(registers.ReadRegister(2, 2), 0xABCD);
    EXPECT_EQ(registers.ReadRegister(1, 0), 0x20);
}

TEST_F(SimulatedBoardTest, GarbledRepliesAreTheNextNAndRepeatable) {
    Start();
    board.SetRegister(0, 2, 0x8001);
    int32_t result = 0;
    Raw(0xDD, 0x90, 0, &result);
    board.GarbleReplies(2);
    const auto first = Raw(0xDD, 0x90);
    requests.WriteWord(0x90, 0);  // no reply: not counted
    const auto second = Raw(0xDD, 0x90);
    const auto clean = Raw(0xDD, 0x90);
    EXPECT_NE(first, (std::vector<uint8_t>{0x00, 0x01, 0x80}));
    EXPECT_NE(first, second);
    EXPECT_EQ(clean, (std::vector<uint8_t>{0x00, 0x01, 0x80}));
    board.GarbleReplies(1);
    EXPECT_EQ(Raw(0xDD, 0x90), first);  // the same pattern every time
}

TEST_F(SimulatedBoardTest, RequestsTheFirmwareDoesNotServeFailAndChangeNothing) {
    Start();
    struct Case {
        uint8_t request;
        int32_t value, index;
        int32_t length;
    };
    const std::vector<Case> cases = {
        {0xD8, 0x10, 0x1234, 0},  {0xDD, 0x10, 0x1234, 1}, {0xD9, 0x10, 0x1234, 2},
        {0xDD, 0x10, 0x1234, 4},  {0xDD, 0x10, 0x1234, 2}, {0xDA, 0, 0, 3},
        {0xDD, 0x10, 0x1234, -1}, {0xDE, 0x8F, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.request) + " len " + std::to_string(c.length));
        uint8_t buffer[4] = {0x5A, 0x5A, 0x5A, 0x5A};
        EXPECT_EQ(board.Vendor_Request(1, c.request, c.value, c.index, 1, c.length, buffer),
                  kResultIoError);
        EXPECT_EQ(buffer[0], 0x5A);
    }
    EXPECT_EQ(board.GetRegister(0, 2), 0x8000);
    EXPECT_GT(board.OutputVolts(0), -0.001);  // LDAC stayed high: no pin word went in
}

TEST_F(SimulatedBoardTest, SearchConnectAndBenchControls) {
    int32_t count = 0;
    uint8_t list[128];
    list[0] = 0x77;
    EXPECT_EQ(board.Search_For_Boards(UsbVendorId, UsbProductId, &count, list), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list[0], 0);
    int32_t handle = 0;
    EXPECT_EQ(board.Connect(UsbVendorId, UsbProductId, 0, &handle), 0);
    EXPECT_EQ(handle, 1);

    board.SetRegister(4, 2, 0xC000);  // input and DAC registers of every channel
    EXPECT_NEAR(board.OutputVolts(3), 5.0 * (1 - 2.6e-4) - 410e-6, 1e-9);
    board.SetRegister(1, 0, 0xFF);
    EXPECT_EQ(board.GetRegister(1, 0), 0x3F);
    board.SetRegister(2, 4, 0xFF);
    EXPECT_EQ(board.GetRegister(2, 4), 0x3F);
    EXPECT_EQ(board.GetRegister(0, 6), 0);
    EXPECT_THROW(board.SetRegister(8, 2, 0), std::out_of_range);
    EXPECT_THROW(board.GetRegister(0, -1), std::out_of_range);
    EXPECT_THROW(board.OutputVolts(4), std::out_of_range);
    EXPECT_DOUBLE_EQ(board.DieTemperature(), 25.0);
}

}  // namespace
}  // namespace tq::testing
