// Register writes, read-backs and the function register operations, request by request.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter/fake/RecordingAdapter.h"
#include "board/BoardRequests.h"
#include "board/RegisterAccess.h"
#include "core/CheckedInt.h"
#include "core/DeviceState.h"
#include "core/Tables.h"
#include "tests/support/Requests.h"

namespace tq::testing {
namespace {

class FakeHooks : public RegisterHooks {
public:
    bool PulseAfterDataWrite() const override { return pulse; }
    void ShowReadWrite(int16_t readWrite) override { shown.push_back(readWrite); }

    bool pulse = true;
    std::vector<int16_t> shown;
};

struct Registers {
    DeviceState state;
    RecordingAdapter adapter;
    BoardRequests requests{state, adapter};
    RegisterAccess registers{state, requests};
    FakeHooks hooks;
    Registers() {
        ApplyStartDefaults(state);
        registers.SetHooks(&hooks);
    }
};

const FunctionBitOperation& Operation(std::string_view text) {
    for (const auto& op : kFunctionBitOperations)
        if (op.text == text)
            return op;
    throw std::invalid_argument(std::string(text));
}

TEST(WriteRegister, PulsesOnlyDataWritesWithTheBoxChecked) {
    struct Row {
        int16_t address;
        int16_t regSelect;
        int32_t data;
        bool pulse;
        std::string request;
    };
    const std::vector<Row> rows{
        {0, kRegData, 32768, true, "D9 16 32768 0 0"},
        {0, kRegData, 32768, false, "DD 16 32768 0 0"},
        {1, kRegData, 0xC000, true, "D9 17 49152 0 0"},
        {1, kRegCoarseGain, 2, true, "D9 25 2 0 0"},
        {3, kRegFineGain, 63, true, "D9 35 63 0 0"},
        {kAllChannels, kRegOffset, 255, true, "D9 44 255 0 0"},
        {kAllChannels, kRegOffset, 255, false, "DD 44 255 0 0"},
        {kFnControlBits, kRegFunction, 0x21, true, "DD 1 33 0 0"},
        {kFnControlBits, kRegFunction, 0x21, false, "DD 1 33 0 0"},
        {kFnNoOperation, kRegFunction, 0, true, "DD 0 0 0 0"},
        {0, kRegData, -1, false, "DD 16 -1 0 0"},
        {0, kRegData, 0x12345, true, "D9 16 74565 0 0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request);
        Registers r;
        r.state.ReadWrite = 1;
        r.hooks.pulse = row.pulse;
        r.registers.WriteRegister(row.address, row.regSelect, row.data);
        EXPECT_EQ(r.adapter.Requests(), std::vector<std::string>{row.request});
        EXPECT_EQ(r.state.ReadWrite, 0);
        EXPECT_EQ(r.hooks.shown, std::vector<int16_t>{0});
    }
}

TEST(WriteRegister, WithoutAWindowNothingIsPulsed) {
    Registers r;
    r.registers.SetHooks(nullptr);
    r.registers.WriteRegister(0, kRegData, 0x8000);
    EXPECT_EQ(r.adapter.Requests(), std::vector<std::string>{"DD 16 32768 0 0"});
}

TEST(WriteRegister, ACommandByteBeyondSixteenBitsSendsNothing) {
    Registers r;
    EXPECT_THROW(r.registers.WriteRegister(32767, 1, 0), NumericError);
    EXPECT_THROW(r.registers.WriteRegister(0, 4096, 0), NumericError);
    EXPECT_THROW(r.registers.ReadRegister(32700, 10), NumericError);
    EXPECT_TRUE(r.adapter.Requests().empty());
}

TEST(ReadRegister, SendsTheReadTwiceAndTakesTheSecondReply) {
    Registers r;
    r.adapter.QueueReply({0xFF, 0xFF, 0xFF});  // the first reply answers an earlier word
    r.adapter.QueueReply({0x00, 0x01, 0x80});
    EXPECT_EQ(r.registers.ReadRegister(0, kRegData), 32769);
    EXPECT_EQ(r.adapter.Requests(), (std::vector<std::string>{"DD 144 0 1 3", "DD 144 0 1 3"}));
    EXPECT_EQ(r.state.LastReadBack, 32769);
    EXPECT_EQ(r.state.ReadWrite, 1);
    EXPECT_EQ(r.hooks.shown, std::vector<int16_t>{1});
}

TEST(ReadRegister, ValueComesFromTheLastTwoReversedBytes) {
    struct Row {
        int16_t address;
        int16_t regSelect;
        std::vector<uint8_t> reply;
        int32_t value;
        std::string request;
    };
    const std::vector<Row> rows{
        {0, kRegCoarseGain, {0x00, 0x00, 0x40}, 2, "DD 152 0 1 3"},
        {0, kRegData, {0xFF, 0x01, 0x80}, 32769, "DD 144 0 1 3"},
        {3, kRegOffset, {0x00, 0xFF, 0xFF}, 65535, "DD 171 0 1 3"},
        {kFnControlBits, kRegFunction, {0x00, 0x00, 0x84}, 0x21, "DD 129 0 1 3"},
        {2, kRegFineGain, {0x00, 0x00, 0x00}, 0, "DD 162 0 1 3"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request);
        Registers r;
        r.adapter.QueueReply({0x12, 0x34, 0x56});
        r.adapter.QueueReply(row.reply);
        EXPECT_EQ(r.registers.ReadRegister(row.address, row.regSelect), row.value);
        EXPECT_EQ(r.adapter.Requests(), (std::vector<std::string>{row.request, row.request}));
    }
}

TEST(FunctionBits, WorkedExamples) {
    struct Row {
        std::string_view operation;
        uint16_t readBack;
        int32_t written;
    };
    const std::vector<Row> rows{
        {"Disable SDO Output", 0x20, 0x21},
        {"Set D1 as Input", 0x18, 0x08},
        {"Local Ground Offset Adjust Enable", 0x00, 0x20},
        {"Enable SDO Output", 0xFFFF, 0xFFFE},
        {"Set D0", 0xFFC0, 0xFFC2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.operation));
        Registers r;
        r.adapter.QueueRegisterRead(row.readBack);
        r.registers.RunFunctionBitOperation(Operation(row.operation));
        EXPECT_EQ(r.adapter.Requests(), (std::vector<std::string>{"DD 129 0 1 3", "DD 129 0 1 3",
                                                                  Write(1, row.written)}));
        EXPECT_EQ(r.state.FunctionImage, row.written);
    }
}

// Every operation changes its own bit only, whatever else the register reads back, and is never
// pulsed even with "Pulse After Data Write" checked.
TEST(FunctionBits, EachOperationChangesOnlyItsBit) {
    const std::vector<uint16_t> readBacks{0x0000, 0x003F, 0xFFC0, 0xA5A5, 0x5A5A, 0xFFFF};
    for (const auto& op : kFunctionBitOperations) {
        for (const uint16_t readBack : readBacks) {
            SCOPED_TRACE(std::string(op.text) + " on " + std::to_string(readBack));
            Registers r;
            r.state.FnSdoDisable = 1;
            r.adapter.QueueRegisterRead(readBack);
            r.registers.RunFunctionBitOperation(op);

            const auto requests = r.adapter.Requests();
            ASSERT_EQ(requests.size(), 3u);
            EXPECT_EQ(requests[0], "DD 129 0 1 3");
            EXPECT_EQ(requests[1], "DD 129 0 1 3");
            const int32_t written = r.adapter.calls.back().index;
            EXPECT_EQ(requests[2], Write(1, written));
            EXPECT_EQ(written & ~op.mask, readBack & ~op.mask);
            EXPECT_EQ((written & op.mask) != 0, op.set);
            EXPECT_EQ(r.state.FunctionImage, written);
            EXPECT_EQ(r.hooks.shown, (std::vector<int16_t>{1, 0}));
            EXPECT_EQ(r.state.FnSdoDisable, 1);  // the switches' flags are not touched
        }
    }
}

TEST(BroadcastCommands, ClearAndLoadAllChannels) {
    Registers r;
    r.registers.ClearAllChannels();
    r.registers.LoadAllChannels();
    EXPECT_EQ(r.adapter.Requests(), (std::vector<std::string>{Write(4, 0), Write(5, 0)}));
    EXPECT_EQ(r.hooks.shown, (std::vector<int16_t>{0, 0}));
}

TEST(FunctionFlags, EachFlagIsItsBitOfTheWord) {
    struct Row {
        int16_t DeviceState::*flag;
        int32_t bit;
    };
    const std::vector<Row> rows{
        {&DeviceState::FnLocalGndOffset, 0x20}, {&DeviceState::FnD1Output, 0x10},
        {&DeviceState::FnD1High, 0x08},         {&DeviceState::FnD0Output, 0x04},
        {&DeviceState::FnD0High, 0x02},         {&DeviceState::FnSdoDisable, 0x01},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bit);
        Registers r;
        r.state.*row.flag = 1;
        r.registers.WriteFunctionFlags();
        EXPECT_EQ(r.adapter.Requests(), std::vector<std::string>{Write(1, row.bit)});
        EXPECT_EQ(r.state.FunctionImage, row.bit);
    }
    Registers all;
    for (const auto& row : rows)
        all.state.*row.flag = 1;
    all.registers.WriteFunctionFlags();
    EXPECT_EQ(all.adapter.Requests(), std::vector<std::string>{Write(1, 0x3F)});
}

}  // namespace
}  // namespace tq::testing
