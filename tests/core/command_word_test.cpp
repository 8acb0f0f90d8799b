// Command words, checked arithmetic, the 14-bit alignment and the start defaults.

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "core/CheckedInt.h"
#include "core/CommandWord.h"
#include "core/DeviceState.h"
#include "core/Encoding.h"
#include "core/Tables.h"

namespace tq::testing {
namespace {

TEST(CommandWord, WordsOfTheConverter) {
    struct Row {
        int readWrite;
        int regSelect;
        int address;
        int32_t data;
        int16_t commandByte;
        double word;
    };
    const std::vector<Row> rows{
        {0, kRegData, 0, 0x8000, 0x10, 0x108000},  // write channel A's data register
        {1, kRegData, 0, 0, 0x90, 0x900000},       // read it back
        {0, kRegFunction, kFnControlBits, 0x21, 0x01, 0x010021},
        {1, kRegCoarseGain, 0, 0, 152, 0x980000},
        {0, kRegFunction, kFnClearAll, 0, 0x04, 0x040000},
        {0, kRegFunction, kFnLoadAll, 0, 0x05, 0x050000},
        {0, kRegOffset, kAllChannels, 0xFF, 0x2C, 0x2C00FF},
        {1, 7, 7, 0xFFFF, 0xBF, 0xBFFFFF},  // bit 22 stays 0
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.word);
        EXPECT_EQ(CommandByte(row.readWrite, row.regSelect, row.address), row.commandByte);
        EXPECT_EQ(CommandWordValue(row.readWrite, row.regSelect, row.address, row.data), row.word);
        EXPECT_EQ(row.commandByte * 65536.0 + row.data, row.word);
    }
}

TEST(CommandWord, CommandByteOutsideSixteenBitsIsAnError) {
    EXPECT_EQ(CommandByte(0, 4095, 7), 32767);
    EXPECT_THROW(CommandByte(0, 4096, 0), NumericError);
    EXPECT_THROW(CommandByte(0, 4095, 8), NumericError);
    EXPECT_THROW(CommandByte(1, 4095, 0), NumericError);
    EXPECT_THROW(CommandByte(0, 0, 32768), NumericError);
    EXPECT_THROW(CommandByte(0, -4096, -1), NumericError);
    EXPECT_THROW(CommandByte(300, 0, 0), NumericError);
}

TEST(CheckedArithmetic, OverflowRaisesInsteadOfWrapping) {
    const std::vector<std::function<int64_t()>> overflowing{
        [] { return Add16(32767, 1); },
        [] { return Add16(-32768, -1); },
        [] { return Mul16(16384, 2); },
        [] { return Mul16(-129, 256); },
        [] { return Check16(65535); },
        [] { return Add32(std::numeric_limits<int32_t>::max(), 1); },
        [] { return Sub32(std::numeric_limits<int32_t>::min(), 1); },
        [] { return Mul32(65536, 32768); },
        [] { return Mul32(-65536, 32769); },
        [] { return Check32(4294967295LL); },
    };
    for (std::size_t i = 0; i < overflowing.size(); ++i)
        EXPECT_THROW(overflowing[i](), NumericError) << "case " << i;
    EXPECT_EQ(Add16(32766, 1), 32767);
    EXPECT_EQ(Mul16(-128, 256), -32768);
    EXPECT_EQ(Mul32(-65536, 32768), std::numeric_limits<int32_t>::min());
}

TEST(CheckedArithmetic, RoundingIsToNearestTiesToEven) {
    struct Row {
        double value;
        int32_t rounded;
    };
    const std::vector<Row> rows{
        {2.5, 2},
        {3.5, 4},
        {63.5, 64},
        {-0.5, 0},
        {-1.5, -2},
        {0.49999999999999994, 0},
        {2147483647.4, 2147483647},
        {-2147483648.5, -2147483648},
    };
    for (const auto& row : rows)
        EXPECT_EQ(RoundToInt32(row.value), row.rounded) << row.value;
    for (const double bad :
         {2147483647.5, -2147483649.0, 1e12, std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
        EXPECT_THROW(RoundToInt32(bad), NumericError) << bad;
    EXPECT_THROW(RoundToInt16(32767.5), NumericError);
    EXPECT_EQ(ToSingle(1e300), std::numeric_limits<float>::infinity());
    EXPECT_EQ(ToSingle(-1e300), -std::numeric_limits<float>::infinity());
}

TEST(FourteenBitAlignment, CodesAreWrittenTimesFourAndReadBackDividedByFour) {
    struct Row {
        int32_t code;
        int32_t written;
    };
    for (const Row& row : std::vector<Row>{{8191, 0x7FFC}, {16383, 0xFFFC}, {0, 0}, {1, 4}}) {
        std::string text = HexText(row.code);
        const int32_t code = DataCodeEntry(text, "Hex", 14);
        EXPECT_EQ(Mul32(code, 4), row.written) << row.code;
    }
    struct ReadRow {
        int32_t readBack;
        int32_t stored;
    };
    const std::vector<ReadRow> reads{
        {32766, 8192}, {32764, 8191}, {32762, 8190}, {2, 0}, {6, 2}, {65535, 16384}, {65533, 16383},
    };
    for (const auto& row : reads)
        EXPECT_EQ(RoundToInt32(row.readBack / 4.0), row.stored) << row.readBack;
}

TEST(StartDefaults, EveryFieldAsTheProgramStarts) {
    DeviceState s;
    s.Resolution = 14;
    s.PinFixed6 = s.PinFixed5 = s.DriveD0 = s.DriveD1 = 1;
    s.LdacPin = s.ClrPin = s.BinaryCoding = s.RstinPin = 0;
    s.DataValue = 77;
    s.Address = 3;
    s.RegSelect = 5;
    s.ReadWrite = 1;
    s.FnLocalGndOffset = s.FnD1Output = s.FnD1High = 1;
    s.FnD0Output = s.FnD0High = s.FnSdoDisable = 1;
    s.NumberMode = "Dec";
    s.RangeVolts = 10.5263f;
    ApplyStartDefaults(s);

    EXPECT_EQ(s.NumberMode, "Hex");
    EXPECT_EQ(s.Resolution, 16);
    EXPECT_EQ(s.RangeVolts, 10.0f);
    const std::vector<int> pins{s.PinFixed7,    s.PinFixed6, s.PinFixed5, s.LdacPin, s.ClrPin,
                                s.BinaryCoding, s.RstinPin,  s.PinFixed0, s.DriveD1, s.DriveD0};
    EXPECT_EQ(pins, (std::vector<int>{1, 0, 0, 1, 1, 1, 1, 1, 0, 0}));
    const std::vector<int> composed{s.DataValue, s.Address, s.RegSelect, s.ReadWrite};
    EXPECT_EQ(composed, (std::vector<int>{0, 0, 0, 0}));
    const std::vector<int> functionFlags{s.FnLocalGndOffset, s.FnD1Output, s.FnD1High,
                                         s.FnD0Output,       s.FnD0High,   s.FnSdoDisable};
    EXPECT_EQ(functionFlags, (std::vector<int>(6, 0)));
}

}  // namespace
}  // namespace tq::testing
