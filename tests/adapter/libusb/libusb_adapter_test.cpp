#include "adapter/libusb/LibusbAdapter.h"
#include "core/DeviceState.h"
#include "instrument/Instrument.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "board/AdapterResults.h"
#include "board/BoardRequests.h"
#include "board/UsbStuff.h"
#include "tests/adapter/libusb/FakeUsbBus.h"

namespace tq::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::vector<uint8_t> kSocket{1, 4};
const std::vector<uint8_t> kOtherSocket{2};

uint8_t PatternByte(uint32_t address) {
    return static_cast<uint8_t>(address * 7 + 3);
}

struct Segment {
    uint32_t start;
    std::size_t length;
};

// Intel HEX text of the given segments filled with PatternByte, 16 bytes a record.
std::string HexText(const std::vector<Segment>& segments, const std::string& payload = {}) {
    std::ostringstream out;
    auto record = [&](uint32_t address, uint8_t type, const std::vector<uint8_t>& bytes) {
        char head[16];
        std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(bytes.size()),
                      static_cast<unsigned>(address & 0xFFFF), type);
        out << head;
        unsigned sum =
            static_cast<unsigned>(bytes.size()) + (address & 0xFF) + ((address >> 8) & 0xFF) + type;
        for (uint8_t b : bytes) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", b);
            out << hex;
            sum += b;
        }
        char check[4];
        std::snprintf(check, sizeof check, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        out << check;
    };
    for (const auto& s : segments) {
        for (std::size_t offset = 0; offset < s.length; offset += 16) {
            std::vector<uint8_t> bytes;
            for (std::size_t i = offset; i < std::min(s.length, offset + 16); ++i)
                bytes.push_back(PatternByte(static_cast<uint32_t>(s.start + i)));
            record(static_cast<uint32_t>(s.start + offset), 0, bytes);
        }
    }
    if (!payload.empty())
        record(0x2000, 0, std::vector<uint8_t>(payload.begin(), payload.end()));
    record(0, 1, {});
    return out.str();
}

class TempFile {
public:
    explicit TempFile(const std::string& text) {
        static int counter = 0;
        path_ = fs::temp_directory_path() / ("tq-libusb-test-" + std::to_string(::getpid()) + "-" +
                                             std::to_string(++counter) + ".hex");
        std::ofstream(path_) << text;
    }
    ~TempFile() { fs::remove(path_); }
    std::string Path() const { return path_.string(); }

private:
    fs::path path_;
};

const uint8_t* Bytes(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.c_str());
}

// An adapter over a fake bus that it shares with the test.
struct Rig {
    FakeUsbBus* bus;
    LibusbAdapter adapter;
    int32_t handle = 0;

    Rig() : Rig(std::make_unique<FakeUsbBus>()) {}
    explicit Rig(std::unique_ptr<FakeUsbBus> owned) : bus(owned.get()), adapter(std::move(owned)) {}

    int32_t SearchAndConnect() {
        std::array<uint8_t, 128> list{};
        int32_t count = 0;
        adapter.Search_For_Boards(UsbVendorId, UsbProductId, &count, list.data());
        return adapter.Connect(UsbVendorId, UsbProductId, list[0], &handle);
    }
    int32_t Download(const std::string& path) {
        return adapter.Download_Firmware(handle, Bytes(path));
    }
    std::vector<ControlRecord> LoadRequests() const {
        std::vector<ControlRecord> loads;
        for (const auto& t : bus->transfers)
            if (t.request == LibusbAdapter::kLoadRequest)
                loads.push_back(t);
        return loads;
    }
};

// --- Firmware download -------------------------------------------------------------------------

struct ChunkCase {
    const char* name;
    std::vector<Segment> image;
    std::vector<Segment> chunks;  // the load requests expected between reset on and off
};
void PrintTo(const ChunkCase& c, std::ostream* os) {
    *os << c.name;
}

class DownloadSequence : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(DownloadSequence, HoldsResetLoadsEveryChunkAtItsAddressAndReleases) {
    const ChunkCase& c = GetParam();
    Rig rig;
    rig.bus->Plug(0x0456, 0xB202, kSocket);
    ASSERT_EQ(rig.SearchAndConnect(), 0);
    const TempFile file(HexText(c.image));

    ASSERT_EQ(rig.Download(file.Path()), 0);

    const auto loads = rig.LoadRequests();
    ASSERT_EQ(loads.size(), c.chunks.size() + 2);
    EXPECT_EQ(loads.front().value, 0xE600);
    EXPECT_EQ(loads.front().data, std::vector<uint8_t>{1});
    EXPECT_EQ(loads.back().value, 0xE600);
    EXPECT_EQ(loads.back().data, std::vector<uint8_t>{0});
    for (std::size_t i = 0; i < c.chunks.size(); ++i) {
        const ControlRecord& r = loads[i + 1];
        SCOPED_TRACE("chunk " + std::to_string(i));
        EXPECT_EQ(r.requestType, 0x40);
        EXPECT_EQ(r.index, 0);
        EXPECT_EQ(r.value, c.chunks[i].start);
        ASSERT_EQ(r.length, c.chunks[i].length);
        ASSERT_EQ(r.data.size(), c.chunks[i].length);
        for (std::size_t k = 0; k < r.data.size(); ++k)
            ASSERT_EQ(r.data[k], PatternByte(static_cast<uint32_t>(c.chunks[i].start + k)))
                << "byte " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, DownloadSequence,
    ::testing::Values(
        ChunkCase{"OneRecord", {{0x0000, 5}}, {{0x0000, 5}}},
        ChunkCase{"ExactlyOneChunk", {{0x0100, 1024}}, {{0x0100, 1024}}},
        ChunkCase{
            "SplitIntoChunks", {{0x0000, 2500}}, {{0x0000, 1024}, {0x0400, 1024}, {0x0800, 452}}},
        ChunkCase{"TwoSegments", {{0x0000, 20}, {0x3FF0, 16}}, {{0x0000, 20}, {0x3FF0, 16}}}),
    [](const auto& info) { return info.param.name; });

struct ReturnCase {
    const char* name;
    UsbStatus releaseStatus;
    std::chrono::milliseconds linger;
    std::optional<std::chrono::milliseconds> returnAfter;
    UsbStatus openAfterReturn;
    int32_t expected;
    std::chrono::milliseconds minWait;
    std::chrono::milliseconds maxWait;
};
void PrintTo(const ReturnCase& c, std::ostream* os) {
    *os << c.name;
}

class DownloadReturn : public ::testing::TestWithParam<ReturnCase> {};

TEST_P(DownloadReturn, WaitsForTheBoardOnItsSocketWithinTheBound) {
    const ReturnCase& c = GetParam();
    Rig rig;
    rig.bus->Plug(0x0456, 0xB202, kSocket);
    rig.bus->releaseStatus = c.releaseStatus;
    rig.bus->lingerAfterRelease = c.linger;
    rig.bus->returnAfterRelease = c.returnAfter;
    rig.bus->openStatusAfterReturn = c.openAfterReturn;
    ASSERT_EQ(rig.SearchAndConnect(), 0);
    const uint8_t oldAddress = rig.bus->devices[0].info.address;
    const TempFile file(HexText({{0, 64}}));

    EXPECT_EQ(rig.Download(file.Path()), c.expected);
    EXPECT_GE(rig.bus->elapsed, c.minWait);
    EXPECT_LE(rig.bus->elapsed, c.maxWait);

    // The board that came back takes the requests, at its new address.
    std::array<uint8_t, 4> buffer{};
    const int32_t result =
        rig.adapter.Vendor_Request(rig.handle, kReqWriteWord, 0x11, 0, 0, 0, buffer.data());
    if (c.expected == 0) {
        EXPECT_EQ(result, 0);
        EXPECT_NE(rig.bus->transfers.back().address, oldAddress);
        EXPECT_EQ(rig.bus->transfers.back().request, kReqWriteWord);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boards, DownloadReturn,
    ::testing::Values(
        ReturnCase{"BackSoon", UsbStatus::kIo, 0ms, 300ms, UsbStatus::kOk, 0, 300ms, 400ms},
        ReturnCase{"BackJustBeforeTheBound", UsbStatus::kIo, 0ms, 4900ms, UsbStatus::kOk, 0, 4900ms,
                   5000ms},
        ReturnCase{"ReleaseAnswered", UsbStatus::kOk, 0ms, 200ms, UsbStatus::kOk, 0, 200ms, 300ms},
        ReturnCase{"ReleaseFoundItGone", UsbStatus::kNoDevice, 0ms, 200ms, UsbStatus::kOk, 0, 200ms,
                   300ms},
        ReturnCase{"OldAddressListedForAWhile", UsbStatus::kIo, 250ms, 600ms, UsbStatus::kOk, 0,
                   600ms, 700ms},
        ReturnCase{"NeverBack", UsbStatus::kIo, 0ms, std::nullopt, UsbStatus::kOk,
                   kResultNoReenumeration, 5000ms, 5100ms},
        ReturnCase{"NeverLeaves", UsbStatus::kOk, 1h, std::nullopt, UsbStatus::kOk,
                   kResultNoReenumeration, 5000ms, 5100ms},
        ReturnCase{"BackWithoutPermission", UsbStatus::kIo, 0ms, 300ms, UsbStatus::kAccess,
                   kResultAccessDenied, 5000ms, 5100ms},
        ReturnCase{"ReleaseTimedOut", UsbStatus::kTimeout, 0ms, 300ms, UsbStatus::kOk,
                   kResultTimeout, 0ms, 0ms}),
    [](const auto& info) { return info.param.name; });

struct FileCase {
    const char* name;
    std::string text;  // empty: no file at all
    int32_t expected;
};
void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.name;
}

class DownloadRefusal : public ::testing::TestWithParam<FileCase> {};

TEST_P(DownloadRefusal, SendsNothingToTheBoard) {
    const FileCase& c = GetParam();
    Rig rig;
    rig.bus->Plug(0x0456, 0xB202, kSocket);
    ASSERT_EQ(rig.SearchAndConnect(), 0);
    std::optional<TempFile> file;
    std::string path = "/nonexistent/folder/TQ2604.hex";
    if (!c.text.empty()) {
        file.emplace(c.text);
        path = file->Path();
    }
    EXPECT_EQ(rig.Download(path), c.expected);
    EXPECT_TRUE(rig.bus->transfers.empty());
    EXPECT_TRUE(rig.bus->devices[0].ram.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, DownloadRefusal,
    ::testing::Values(FileCase{"Missing", "", kResultFirmwareMissing},
                      FileCase{"Malformed", ":10000000FFFF\n", kResultFirmwareMalformed},
                      FileCase{"BeyondProgramRam", HexText({{0x3FF8, 16}}),
                               kResultFirmwareTooLarge},
                      FileCase{"SimulatedBoardImage", HexText({{0, 16}}, kSimulatorImageTag),
                               kResultSimulatorImage}),
    [](const auto& info) { return info.param.name; });

TEST(LibusbDownload, RefusesAPathWithoutTerminatorWithin512Bytes) {
    Rig rig;
    rig.bus->Plug(0x0456, 0xB202, kSocket);
    ASSERT_EQ(rig.SearchAndConnect(), 0);
    const std::string longPath(600, 'a');
    EXPECT_EQ(rig.Download(longPath), kResultPathTooLong);
    EXPECT_TRUE(rig.bus->transfers.empty());
}

TEST(LibusbDownload, LeavesTheImageInProgramRam) {
    Rig rig;
    rig.bus->Plug(0x0456, 0xB202, kSocket);
    ASSERT_EQ(rig.SearchAndConnect(), 0);
    const TempFile file(HexText({{0x0010, 40}}));
    ASSERT_EQ(rig.Download(file.Path()), 0);
    const auto& ram = rig.bus->devices[0].ram;
    ASSERT_EQ(ram.size(), 40u);
    for (const auto& [address, byte] : ram)
        EXPECT_EQ(byte, PatternByte(address));
}

// --- Finding and opening the board ---------------------------------------------------------------

struct OpenCase {
    const char* name;
    std::vector<std::pair<uint16_t, uint16_t>> attached;
    UsbStatus openStatus;
    int32_t search;
    int32_t count;
    int32_t connect;
    int32_t download;  // with a good image
};
void PrintTo(const OpenCase& c, std::ostream* os) {
    *os << c.name;
}

class BoardOpening : public ::testing::TestWithParam<OpenCase> {};

TEST_P(BoardOpening, ReportsWhyNoBoardCanBeUsed) {
    const OpenCase& c = GetParam();
    Rig rig;
    for (std::size_t i = 0; i < c.attached.size(); ++i) {
        rig.bus->Plug(c.attached[i].first, c.attached[i].second, {static_cast<uint8_t>(i + 1)});
        rig.bus->devices.back().openStatus = c.openStatus;
    }
    std::array<uint8_t, 128> list{};
    int32_t count = -1;
    EXPECT_EQ(rig.adapter.Search_For_Boards(UsbVendorId, UsbProductId, &count, list.data()),
              c.search);
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(rig.adapter.Connect(UsbVendorId, UsbProductId, list[0], &rig.handle), c.connect);
    const TempFile file(HexText({{0, 16}}));
    EXPECT_EQ(rig.Download(file.Path()), c.download);
    // The start-up can explain every failure to the user.
    if (c.download != 0) {
        EXPECT_FALSE(ExplainAdapterResult(c.download).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Buses, BoardOpening,
    ::testing::Values(
        OpenCase{"NothingAttached",
                 {},
                 UsbStatus::kOk,
                 kResultNoBoard,
                 0,
                 kResultNoBoard,
                 kResultNoBoard},
        OpenCase{"OnlyOtherDevices",
                 {{0x04B4, 0x8613}, {0x0456, 0xB203}},
                 UsbStatus::kOk,
                 kResultNoBoard,
                 0,
                 kResultNoBoard,
                 kResultNoBoard},
        OpenCase{"NoPermission",
                 {{0x0456, 0xB202}},
                 UsbStatus::kAccess,
                 0,
                 1,
                 kResultAccessDenied,
                 kResultAccessDenied},
        OpenCase{"HeldByAnotherProgram",
                 {{0x0456, 0xB202}},
                 UsbStatus::kBusy,
                 0,
                 1,
                 kResultIoError,
                 kResultIoError},
        OpenCase{"Usable", {{0x04B4, 0x8613}, {0x0456, 0xB202}}, UsbStatus::kOk, 0, 1, 0, 0}),
    [](const auto& info) { return info.param.name; });

TEST(LibusbConnect, OpensTheFirstOfSeveralBoards) {
    Rig rig;
    rig.bus->Plug(0x0456, 0xB202, {3});
    rig.bus->Plug(0x0456, 0xB202, {4});
    std::array<uint8_t, 128> list{};
    int32_t count = 0;
    ASSERT_EQ(rig.adapter.Search_For_Boards(UsbVendorId, UsbProductId, &count, list.data()), 0);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(rig.adapter.Connect(UsbVendorId, UsbProductId, list[0], &rig.handle), 0);
    EXPECT_EQ(rig.handle, LibusbAdapter::kBoardHandle);
    uint8_t dummy = 0;
    rig.adapter.Vendor_Request(rig.handle, kReqSetPins, 0x9F, 0, 0, 0, &dummy);
    ASSERT_EQ(rig.bus->transfers.size(), 1u);
    EXPECT_EQ(rig.bus->transfers[0].address, rig.bus->devices[0].info.address);
}

TEST(LibusbConnect, ClosesEverythingItOpened) {
    auto owned = std::make_unique<FakeUsbBus>();
    owned->Plug(0x0456, 0xB202, kSocket);
    const auto handles = owned->openHandles;
    auto adapter = std::make_unique<LibusbAdapter>(std::move(owned));
    int32_t handle = 0;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(adapter->Search_For_Boards(UsbVendorId, UsbProductId, nullptr, nullptr), 0);
        ASSERT_EQ(adapter->Connect(UsbVendorId, UsbProductId, 0, &handle), 0);
        EXPECT_EQ(*handles, 1) << "connection " << i;
    }
    const TempFile file(HexText({{0, 16}}));
    ASSERT_EQ(adapter->Download_Firmware(handle, Bytes(file.Path())), 0);
    EXPECT_EQ(*handles, 1);
    adapter.reset();
    EXPECT_EQ(*handles, 0);
}

// --- Vendor requests ---------------------------------------------------------------------------

struct RequestCase {
    const char* name;
    std::function<void(BoardRequests&)> send;
    uint8_t requestType;
    uint8_t request;
    uint16_t value;
    uint16_t index;
    uint16_t length;
};
void PrintTo(const RequestCase& c, std::ostream* os) {
    *os << c.name;
}

class BoardRequestTransfer : public ::testing::TestWithParam<RequestCase> {};

TEST_P(BoardRequestTransfer, IsOneVendorControlTransfer) {
    const RequestCase& c = GetParam();
    Rig rig;
    rig.bus->Plug(0x0456, 0xB202, kSocket);
    DeviceState state;
    ApplyStartDefaults(state);
    ASSERT_EQ(rig.adapter.Search_For_Boards(UsbVendorId, UsbProductId, nullptr, nullptr), 0);
    ASSERT_EQ(rig.adapter.Connect(UsbVendorId, UsbProductId, 0, &state.BoardHandle), 0);
    BoardRequests requests(state, rig.adapter);

    c.send(requests);

    ASSERT_EQ(rig.bus->transfers.size(), 1u);
    const ControlRecord& t = rig.bus->transfers[0];
    EXPECT_EQ(t.requestType, c.requestType);
    EXPECT_EQ(t.request, c.request);
    EXPECT_EQ(t.value, c.value);
    EXPECT_EQ(t.index, c.index);
    EXPECT_EQ(t.length, c.length);
    EXPECT_EQ(state.LastStatus, c.length);
    EXPECT_FALSE(state.LastRequestFailed);
}

INSTANTIATE_TEST_SUITE_P(
    RequestSet, BoardRequestTransfer,
    ::testing::Values(
        RequestCase{"WriteWord", [](auto& r) { r.WriteWord(0x11, 0xC000); }, 0x40, 0xDD, 0x11,
                    0xC000, 0},
        RequestCase{"WriteWordNegativeData", [](auto& r) { r.WriteWord(0x11, -2); }, 0x40, 0xDD,
                    0x11, 0xFFFE, 0},
        RequestCase{"WriteAndPulse", [](auto& r) { r.WriteAndPulse(0x1C, 0x8000); }, 0x40, 0xD9,
                    0x1C, 0x8000, 0},
        RequestCase{"ReadWord", [](auto& r) { r.ReadWord(0x90); }, 0xC0, 0xDD, 0x90, 0, 3},
        RequestCase{"LegacyRead", [](auto& r) { r.LegacyRead(); }, 0xC0, 0xDD, 0, 2, 2},
        RequestCase{"SendPinWord", [](auto& r) { r.SendPinWord(); }, 0x40, 0xDE, 0x9F, 0, 0},
        RequestCase{"SendPinWordDrivingD0D1",
                    [](auto& r) {
                        r.State().DriveD0 = r.State().DriveD1 = 1;
                        r.State().LdacPin = 0;
                        r.SendPinWord();
                    },
                    0x40, 0xDE, 0x8F, 3, 0},
        RequestCase{"SetD0DirectionInput", [](auto& r) { r.SetD0Direction(1); }, 0xC0, 0xDB, 1, 0,
                    0},
        RequestCase{"SetD1DirectionOutput", [](auto& r) { r.SetD1Direction(0); }, 0xC0, 0xDC, 0, 0,
                    0},
        RequestCase{"ReadAdc", [](auto& r) { r.ReadAdcWord(); }, 0xC0, 0xDA, 0, 0, 2}),
    [](const auto& info) { return info.param.name; });

TEST(LibusbRequest, ReplyReachesTheReceiveBuffer) {
    Rig rig;
    rig.bus->Plug(0x0456, 0xB202, kSocket);
    rig.bus->reply = {0x00, 0x01, 0x80};
    DeviceState state;
    ASSERT_EQ(rig.SearchAndConnect(), 0);
    state.BoardHandle = rig.handle;
    BoardRequests requests(state, rig.adapter);
    requests.ReadWord(0x90);
    EXPECT_EQ(state.ReceiveBuffer[0], 0x00);
    EXPECT_EQ(state.ReceiveBuffer[1], 0x01);
    EXPECT_EQ(state.ReceiveBuffer[2], 0x80);
    EXPECT_EQ(state.LastStatus, 3);
}

struct FailureCase {
    const char* name;
    UsbStatus status;
    int32_t expected;
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class RequestFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(RequestFailure, MapsToTheAdapterCodeAndTheBoardStaysUsable) {
    const FailureCase& c = GetParam();
    Rig rig;
    rig.bus->Plug(0x0456, 0xB202, kSocket);
    ASSERT_EQ(rig.SearchAndConnect(), 0);
    rig.bus->failNext = {c.status};
    std::array<uint8_t, 4> buffer{};
    EXPECT_EQ(rig.adapter.Vendor_Request(rig.handle, kReqWriteWord, 0x90, 0, 1, 3, buffer.data()),
              c.expected);
    EXPECT_EQ(rig.adapter.Vendor_Request(rig.handle, kReqWriteWord, 0x90, 0, 1, 3, buffer.data()),
              3);
    EXPECT_EQ(rig.bus->opens, 1) << "a board still on the bus keeps its handle";
}

INSTANTIATE_TEST_SUITE_P(Statuses, RequestFailure,
                         ::testing::Values(FailureCase{"Timeout", UsbStatus::kTimeout,
                                                       kResultTimeout},
                                           FailureCase{"Stall", UsbStatus::kPipe, kResultIoError},
                                           FailureCase{"IoError", UsbStatus::kIo, kResultIoError}),
                         [](const auto& info) { return info.param.name; });

TEST(LibusbRequest, RefusesWhatCannotBeSent) {
    Rig rig;
    rig.bus->Plug(0x0456, 0xB202, kSocket);
    uint8_t dummy = 0;
    EXPECT_EQ(rig.adapter.Vendor_Request(1, kReqSetPins, 0x9F, 0, 0, 0, &dummy), kResultIoError)
        << "before Connect";
    ASSERT_EQ(rig.SearchAndConnect(), 0);
    EXPECT_EQ(rig.adapter.Vendor_Request(rig.handle + 1, kReqSetPins, 0x9F, 0, 0, 0, &dummy),
              kResultIoError);
    EXPECT_EQ(rig.adapter.Vendor_Request(rig.handle, kReqSetPins, 0x9F, 0, 0, 3, nullptr),
              kResultIoError);
    EXPECT_EQ(rig.adapter.Vendor_Request(rig.handle, kReqSetPins, 0x9F, 0, 2, 0, &dummy),
              kResultIoError);
    EXPECT_TRUE(rig.bus->transfers.empty());
}

// --- Unplug and plug back ----------------------------------------------------------------------

struct ReplugCase {
    const char* name;
    uint16_t releaseBefore;  // what the board reported before its first download
    uint16_t releaseBack;    // what it reports when plugged back
    std::vector<uint8_t> socketBack;
    bool reloads;
};
void PrintTo(const ReplugCase& c, std::ostream* os) {
    *os << c.name;
}

class Replug : public ::testing::TestWithParam<ReplugCase> {};

TEST_P(Replug, FailsWhileAwayAndResumesWhenTheBoardReturns) {
    const ReplugCase& c = GetParam();
    Rig rig;
    const std::size_t board = rig.bus->Plug(0x0456, 0xB202, kSocket, c.releaseBefore);
    ASSERT_EQ(rig.SearchAndConnect(), 0);
    const TempFile file(HexText({{0, 40}}));
    ASSERT_EQ(rig.Download(file.Path()), 0);

    rig.bus->Unplug(board);
    std::array<uint8_t, 4> buffer{};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(
            rig.adapter.Vendor_Request(rig.handle, kReqWriteWord, 0x90, 0, 1, 3, buffer.data()),
            kResultIoError);
    EXPECT_EQ(*rig.bus->openHandles, 0);

    rig.bus->Replug(board, c.releaseBack, c.socketBack);
    rig.bus->transfers.clear();
    rig.bus->devices[board].ram.clear();
    EXPECT_EQ(rig.adapter.Vendor_Request(rig.handle, kReqWriteWord, 0x90, 0, 1, 3, buffer.data()),
              3);
    EXPECT_EQ(rig.bus->transfers.back().request, kReqWriteWord);
    EXPECT_EQ(rig.bus->transfers.back().address, rig.bus->devices[board].info.address);
    EXPECT_EQ(rig.bus->devices[board].ram.size(), c.reloads ? 40u : 0u);
    EXPECT_EQ(*rig.bus->openHandles, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, Replug,
    ::testing::Values(
        ReplugCase{"StillRunningFirmware", kBareRelease, kRunningRelease, kSocket, false},
        ReplugCase{"LostItsFirmware", kBareRelease, kBareRelease, kSocket, true},
        ReplugCase{"CannotTellSoLoadsAgain", kRunningRelease, kRunningRelease, kSocket, true},
        ReplugCase{"MovedToAnotherSocket", kBareRelease, kRunningRelease, kOtherSocket, false}),
    [](const auto& info) { return info.param.name; });

TEST(LibusbReplug, AnIoErrorFromAVanishingBoardClosesItUntilItReturns) {
    Rig rig;
    const std::size_t board = rig.bus->Plug(0x0456, 0xB202, kSocket);
    ASSERT_EQ(rig.SearchAndConnect(), 0);
    rig.bus->vanishOnNextRequest = true;
    uint8_t dummy = 0;
    EXPECT_EQ(rig.adapter.Vendor_Request(rig.handle, kReqSetPins, 0x9F, 0, 0, 0, &dummy),
              kResultIoError);
    EXPECT_EQ(*rig.bus->openHandles, 0);
    rig.bus->Replug(board, kBareRelease, kSocket);
    EXPECT_EQ(rig.adapter.Vendor_Request(rig.handle, kReqSetPins, 0x9F, 0, 0, 0, &dummy), 0);
}

// A board that comes back as the bare controller (it lost power) gets its firmware again, then
// the instrument's pins and function word before the request that found it goes on.
TEST(LibusbReplug, ABoardBackFromAPowerLossGetsItsFirmwareThenThePinsAndFunctionWord) {
    Rig rig;
    const std::size_t board = rig.bus->Plug(0x0456, 0xB202, kSocket, kBareRelease);
    ASSERT_EQ(rig.SearchAndConnect(), 0);
    const TempFile file(HexText({{0, 40}}));
    ASSERT_EQ(rig.Download(file.Path()), 0);
    DeviceState state;
    ApplyStartDefaults(state);
    state.BoardHandle = rig.handle;
    BoardRequests requests(state, rig.adapter);
    Instrument instrument(state, requests, {"Test board", "1-4"});

    rig.bus->Unplug(board);
    EXPECT_THROW(instrument.SetDataCode(0, 0x1234), RequestError);
    rig.bus->Replug(board, kBareRelease, kSocket);
    rig.bus->transfers.clear();
    rig.bus->devices[board].ram.clear();
    instrument.SetDataCode(0, 0x1234);

    EXPECT_EQ(rig.bus->devices[board].ram.size(), 40u) << "the firmware was not loaded again";
    std::vector<uint8_t> boardRequests;
    for (const auto& t : rig.bus->transfers)
        if (t.request != LibusbAdapter::kLoadRequest)
            boardRequests.push_back(t.request);
    // The data write that found the board, then the pin word and the function word.
    EXPECT_EQ(boardRequests, (std::vector<uint8_t>{kReqWriteWord, kReqSetPins, kReqWriteWord}));
}

// --- The libusb transport itself ----------------------------------------------------------------

TEST(LibusbTransport, ADeviceNoBusHasIsNeitherListedNorOpened) {
    // Runs on the machine's own bus, with or without USB support; no device has these ids.
    LibusbAdapter adapter;
    std::array<uint8_t, 128> list{};
    int32_t count = -1;
    EXPECT_EQ(adapter.Search_For_Boards(0xFFFF, 0xFFFF, &count, list.data()), kResultNoBoard);
    EXPECT_EQ(count, 0);
    int32_t handle = -1;
    EXPECT_EQ(adapter.Connect(0xFFFF, 0xFFFF, list[0], &handle), kResultNoBoard);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(adapter.Download_Firmware(handle, Bytes("/nonexistent/TQ2604.hex")), kResultNoBoard);
    uint8_t dummy = 0;
    EXPECT_EQ(adapter.Vendor_Request(handle, kReqSetPins, 0x9F, 0, 0, 0, &dummy), kResultIoError);

    const auto transport = MakeLibusbTransport();
    UsbDeviceInfo nowhere;
    nowhere.bus = 255;
    nowhere.address = 255;
    std::unique_ptr<UsbDeviceHandle> handleOut;
    EXPECT_EQ(transport->Open(nowhere, handleOut), UsbStatus::kNoDevice);
    EXPECT_EQ(handleOut, nullptr);
}

// --- Packaging ---------------------------------------------------------------------------------

TEST(LibusbPermissions, TheAccessDeniedHintNamesTheInstalledRuleFile) {
    const std::string text(ExplainAdapterResult(kResultAccessDenied));
    const auto end = text.find(".rules");
    ASSERT_NE(end, std::string::npos);
    const auto begin = text.rfind(' ', end) + 1;
    const fs::path rule =
        fs::path(TQ_SOURCE_DIR) / "packaging" / "udev" / text.substr(begin, end + 6 - begin);
    std::ifstream in(rule);
    ASSERT_TRUE(in) << rule;
    const std::string rules((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(rules.find("ATTR{idVendor}==\"0456\""), std::string::npos);
    EXPECT_NE(rules.find("ATTR{idProduct}==\"b202\""), std::string::npos);
    EXPECT_NE(rules.find("TAG+=\"uaccess\""), std::string::npos);
    EXPECT_NE(text.find("udevadm"), std::string::npos);
}

}  // namespace
}  // namespace tq::testing

namespace tq::testing {
namespace {

// Several boards on one computer: each is known by where it is plugged in, and keeps that place
// when it comes back after its firmware download.
TEST(LibusbBoardChoice, ListsBoardsAndConnectsTheChosenOneByItsPlace) {
    Rig rig;
    rig.bus->Plug(0x0456, 0xB202, {3});
    rig.bus->Plug(0x04B4, 0x8613, {5});  // another kind of device
    const std::size_t second = rig.bus->Plug(0x0456, 0xB202, {4, 2});
    rig.bus->devices[second].serial = "TQ-0007";
    const auto listing = rig.adapter.ListBoards();
    ASSERT_EQ(listing.size(), 2u);
    EXPECT_EQ(listing[0].location, "1-3");
    EXPECT_EQ(listing[0].serial, "");
    EXPECT_EQ(listing[1].location, "1-4.2");
    EXPECT_EQ(listing[1].serial, "TQ-0007");

    rig.adapter.SelectLocation("1-4.2");
    ASSERT_EQ(rig.SearchAndConnect(), 0);
    EXPECT_EQ(rig.adapter.ConnectedLocation(), "1-4.2");
    const TempFile file(HexText({{0, 64}}));
    ASSERT_EQ(rig.Download(file.Path()), 0);
    std::array<uint8_t, 4> buffer{};
    EXPECT_EQ(rig.adapter.Vendor_Request(rig.handle, kReqWriteWord, 0x11, 0, 0, 0, buffer.data()),
              0);
    EXPECT_EQ(rig.bus->transfers.back().address, rig.bus->devices[second].info.address);
    EXPECT_EQ(rig.adapter.ConnectedLocation(), "1-4.2");

    Rig elsewhere;
    elsewhere.bus->Plug(0x0456, 0xB202, {3});
    elsewhere.adapter.SelectLocation("2-1");
    EXPECT_EQ(elsewhere.SearchAndConnect(), kResultNoBoard);
    EXPECT_EQ(elsewhere.adapter.ConnectedLocation(), "");
}

}  // namespace
}  // namespace tq::testing
