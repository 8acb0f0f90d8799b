// The board requests as they reach the adapter: code, value, index, direction and length.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "adapter/fake/RecordingAdapter.h"
#include "board/BoardRequests.h"
#include "core/CheckedInt.h"
#include "core/DeviceState.h"

namespace tq::testing {
namespace {

// Also remembers the handle of every request, which the plain recording leaves out.
class HandleRecordingAdapter : public RecordingAdapter {
public:
    int32_t Vendor_Request(int32_t handle, uint8_t request, int32_t value, int32_t index,
                           uint8_t direction, int32_t length, uint8_t* buffer) override {
        handles.push_back(handle);
        return RecordingAdapter::Vendor_Request(handle, request, value, index, direction, length,
                                                buffer);
    }
    std::vector<int32_t> handles;
};

struct Board {
    DeviceState state;
    HandleRecordingAdapter adapter;
    BoardRequests requests{state, adapter};
    Board() { ApplyStartDefaults(state); }
};

TEST(ReverseBits, MirrorsTheByte) {
    struct Row {
        uint8_t in;
        uint8_t out;
    };
    const std::vector<Row> rows{{0x01, 0x80}, {0x0F, 0xF0}, {0xA5, 0xA5}, {0x00, 0x00},
                                {0xFF, 0xFF}, {0x80, 0x01}, {0x12, 0x48}, {0x08, 0x10}};
    for (const auto& row : rows) {
        const uint8_t in = row.in;
        EXPECT_EQ(ReverseBits(in), row.out) << int{row.in};
        EXPECT_EQ(in, row.in);
    }
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<uint8_t>(b);
        EXPECT_EQ(ReverseBits(ReverseBits(byte)), byte) << b;
    }
    for (int bit = 0; bit < 8; ++bit)
        EXPECT_EQ(ReverseBits(static_cast<uint8_t>(1u << bit)), 1u << (7 - bit)) << bit;
}

TEST(SendPinWord, CarriesAllTenFlags) {
    struct Row {
        std::string name;
        std::function<void(DeviceState&)> change;
        std::string request;
    };
    const std::vector<Row> rows{
        {"start defaults", [](DeviceState&) {}, "DE 159 0 0 0"},
        {"LDAC low", [](DeviceState& s) { s.LdacPin = 0; }, "DE 143 0 0 0"},
        {"CLR low", [](DeviceState& s) { s.ClrPin = 0; }, "DE 151 0 0 0"},
        {"two's complement", [](DeviceState& s) { s.BinaryCoding = 0; }, "DE 155 0 0 0"},
        {"RSTIN low", [](DeviceState& s) { s.RstinPin = 0; }, "DE 157 0 0 0"},
        {"drive D0", [](DeviceState& s) { s.DriveD0 = 1; }, "DE 159 1 0 0"},
        {"drive D1", [](DeviceState& s) { s.DriveD1 = 1; }, "DE 159 2 0 0"},
        {"drive both", [](DeviceState& s) { s.DriveD0 = s.DriveD1 = 1; }, "DE 159 3 0 0"},
        {"all low",
         [](DeviceState& s) {
             s.PinFixed7 = s.LdacPin = s.ClrPin = s.BinaryCoding = s.RstinPin = s.PinFixed0 = 0;
         },
         "DE 0 0 0 0"},
        {"all high", [](DeviceState& s) { s.PinFixed6 = s.PinFixed5 = s.DriveD0 = s.DriveD1 = 1; },
         "DE 255 3 0 0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Board board;
        row.change(board.state);
        board.requests.SendPinWord();
        EXPECT_EQ(board.adapter.Requests(), std::vector<std::string>{row.request});
    }
}

TEST(Requests, EachRequestHasItsShape) {
    struct Row {
        std::string name;
        std::function<void(BoardRequests&)> send;
        std::string request;
    };
    const std::vector<Row> rows{
        {"write word", [](BoardRequests& r) { r.WriteWord(0x11, 0xC000); }, "DD 17 49152 0 0"},
        {"write and pulse", [](BoardRequests& r) { r.WriteAndPulse(0x10, 0x8000); },
         "D9 16 32768 0 0"},
        {"negative data keeps its pattern", [](BoardRequests& r) { r.WriteWord(0x12, -1); },
         "DD 18 -1 0 0"},
        {"register read", [](BoardRequests& r) { r.ReadWord(0x98); }, "DD 152 0 1 3"},
        {"legacy read", [](BoardRequests& r) { r.LegacyRead(); }, "DD 0 2 1 2"},
        {"D0 as output", [](BoardRequests& r) { r.SetD0Direction(0); }, "DB 0 0 1 0"},
        {"D0 as input", [](BoardRequests& r) { r.SetD0Direction(1); }, "DB 1 0 1 0"},
        {"D1 as output", [](BoardRequests& r) { r.SetD1Direction(0); }, "DC 0 0 1 0"},
        {"D1 as input", [](BoardRequests& r) { r.SetD1Direction(1); }, "DC 1 0 1 0"},
        {"converter reading", [](BoardRequests& r) { r.ReadAdcWord(); }, "DA 0 0 1 2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Board board;
        board.state.BoardHandle = 7;
        row.send(board.requests);
        EXPECT_EQ(board.adapter.Requests(), std::vector<std::string>{row.request});
        EXPECT_EQ(board.adapter.handles, std::vector<int32_t>{7});
    }
}

TEST(ReadAdcWord, AssemblesTheReversedBytesHighFirst) {
    struct Row {
        uint8_t first;
        uint8_t second;
        int16_t count;
    };
    const std::vector<Row> rows{
        {0x00, 0x08, 16},     {0x80, 0x00, 256},    {0x00, 0x01, 128},
        {0xF0, 0xFF, 0x0FFF}, {0xFE, 0xFF, 0x7FFF}, {0x00, 0x00, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.count);
        Board board;
        board.adapter.QueueReply({row.first, row.second});
        EXPECT_EQ(board.requests.ReadAdcWord(), row.count);
        EXPECT_EQ(board.state.LastStatus, 2);
    }
}

TEST(ReadAdcWord, AReadingBeyondSixteenSignedBitsIsANumericError) {
    for (const uint8_t first : {uint8_t{0x01}, uint8_t{0x0F}, uint8_t{0xFF}}) {
        SCOPED_TRACE(int{first});
        Board board;
        board.adapter.QueueReply({first, 0x00});
        EXPECT_THROW(board.requests.ReadAdcWord(), NumericError);
        // The request went out and its result is kept even though the value was refused.
        EXPECT_EQ(board.adapter.Requests(), std::vector<std::string>{"DA 0 0 1 2"});
        EXPECT_EQ(board.state.LastStatus, 2);
    }
}

TEST(LastStatus, KeepsTheLowSixteenBitsAndWhetherTheRequestFailed) {
    struct Row {
        int32_t result;
        int16_t status;
        bool failed;
    };
    const std::vector<Row> rows{
        {0, 0, false},
        {-1, -1, true},
        {-10, -10, true},
        {0x12345, 0x2345, false},
        {0x18000, -32768, false},
        {-65536, 0, true},
        {std::numeric_limits<int32_t>::min(), 0, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.result);
        Board board;
        board.state.LastStatus = 99;
        board.adapter.requestResult = row.result;
        board.requests.WriteWord(0x10, 0);
        EXPECT_EQ(board.state.LastStatus, row.status);
        EXPECT_EQ(board.state.LastRequestFailed, row.failed);
    }
}

TEST(LastStatus, AFailureIsForgottenByTheNextGoodRequest) {
    Board board;
    board.adapter.requestResult = -1;
    board.requests.SendPinWord();
    EXPECT_TRUE(board.state.LastRequestFailed);
    board.adapter.requestResult = 0;
    board.requests.ReadWord(0x90);
    EXPECT_FALSE(board.state.LastRequestFailed);
    EXPECT_EQ(board.state.LastStatus, 3);
}

TEST(Observers, EachIsCalledOncePerRequestWithItsResult) {
    Board board;
    std::vector<int32_t> first;
    std::vector<int16_t> statusSeen;
    int second = 0;
    board.requests.AddObserver([&](int32_t result) {
        first.push_back(result);
        statusSeen.push_back(board.state.LastStatus);
    });
    board.requests.AddObserver([&](int32_t) { ++second; });

    board.requests.WriteWord(0x10, 1);
    board.requests.ReadWord(0x90);
    board.requests.ReadAdcWord();
    board.adapter.requestResult = -1;
    board.requests.SendPinWord();

    EXPECT_EQ(first, (std::vector<int32_t>{0, 3, 2, -1}));
    EXPECT_EQ(statusSeen, (std::vector<int16_t>{0, 3, 2, -1}));
    EXPECT_EQ(second, 4);
}

}  // namespace
}  // namespace tq::testing
