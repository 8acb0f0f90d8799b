#include "board/IntelHex.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "board/AdapterResults.h"

namespace tq::testing {
namespace {

namespace fs = std::filesystem;

// A classic 16-byte data record at 0x0100 and a 3-byte one at 0x0030.
constexpr const char* kRecord0100 = ":10010000214601360121470136007EFE09D2190140\n";
constexpr const char* kRecord0030 = ":0300300002337A1E\n";
constexpr const char* kEnd = ":00000001FF\n";

TEST(ParseIntelHex, ReadsDataRecordsAtTheirAddresses) {
    const FirmwareImage image = ParseIntelHex(std::string(kRecord0030) + kRecord0100 + kEnd);
    ASSERT_EQ(image.segments.size(), 2u);
    EXPECT_EQ(image.segments.at(0x30), (std::vector<uint8_t>{0x02, 0x33, 0x7A}));
    const std::vector<uint8_t>& run = image.segments.at(0x100);
    ASSERT_EQ(run.size(), 16u);
    EXPECT_EQ(run.front(), 0x21);
    EXPECT_EQ(run.back(), 0x01);
    EXPECT_EQ(image.EndAddress(), 0x110u);
    EXPECT_EQ(image.ByteCount(), 19u);
}

TEST(ParseIntelHex, JoinsAdjacentRecordsAndAcceptsCrLf) {
    // 0x0000: 01 02, 0x0002: 03 (given before its left neighbour's end is known).
    const FirmwareImage image =
        ParseIntelHex(":0100020003FA\r\n:020000000102FB\r\n:00000001FF\r\n");
    ASSERT_EQ(image.segments.size(), 1u);
    EXPECT_EQ(image.segments.at(0), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(ParseIntelHex, AddressRecordsMoveTheBase) {
    struct Case {
        const char* name;
        std::string text;
        std::map<uint32_t, std::vector<uint8_t>> expected;
    };
    const std::vector<Case> cases = {
        {"linear 0x0002", ":020000040002F8\n:01001000559A\n:00000001FF\n", {{0x20010, {0x55}}}},
        {"segment 0x1000", ":020000021000EC\n:01001000559A\n:00000001FF\n", {{0x10010, {0x55}}}},
        // A segment offset wraps within its 64 KiB instead of running into the next segment.
        {"segment wrap",
         ":020000021000EC\n:02FFFF00AABB9B\n:00000001FF\n",
         {{0x10000, {0xBB}}, {0x1FFFF, {0xAA}}}},
        {"linear does not wrap",
         ":020000040001F9\n:02FFFF00AABB9B\n:00000001FF\n",
         {{0x1FFFF, {0xAA, 0xBB}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParseIntelHex(c.text).segments, c.expected);
    }
}

TEST(ParseIntelHex, EveryMalformedRecordNamesItsLine) {
    struct Case {
        std::string text;
        int line;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"X00000001FF\n", 1, "does not start with ':'"},
        {std::string(kRecord0030) + "\n\n 00000001FF\n", 4, "does not start with ':'"},
        {":00000001F\n", 1, "odd number"},
        {":0000000GFF\n", 1, "not a hex digit"},
        {":0000\n", 1, "too short"},
        {":\n", 1, "too short"},
        {":0200000001FD\n", 1, "length 2"},
        {":0300000001FB\n", 1, "length 3"},
        {std::string(kRecord0030) + ":0300300002337A1F\n" + kEnd, 2, "bad checksum"},
        {":00000003FD\n" + std::string(kEnd), 1, "unknown record type 03"},
        {":00000005FB\n" + std::string(kEnd), 1, "unknown record type 05"},
        {std::string(kEnd) + kRecord0030, 2, "after the end-of-file"},
        {std::string(kRecord0030) + kRecord0100, 3, "end-of-file record missing"},
        {"", 1, "end-of-file record missing"},
        {":01000001AA54\n", 1, "end-of-file record with data"},
        {":0100000400FB\n" + std::string(kEnd), 1, "needs 2 data bytes"},
        {std::string(kRecord0030) + ":0100310000CE\n" + kEnd, 2, "overlaps"},
        {std::string(kRecord0030) + ":01002F0000D0\n:02002F000000CF\n" + kEnd, 3, "overlaps"},
        {std::string("\x7F"
                     "ELF\x02\x01\x01",
                     7),
         1, "does not start with ':'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ParseIntelHex(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const IntelHexError& e) {
            EXPECT_EQ(e.line(), c.line);
            const std::string what = e.what();
            EXPECT_EQ(what.rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << what;
            EXPECT_NE(what.find(c.reason), std::string::npos) << what;
        }
    }
}

TEST(IsSimulatorImage, FindsTheTagEvenAcrossRecords) {
    const std::string tag = kSimulatorImageTag;
    auto imageWith = [](const std::string& bytes) {
        FirmwareImage image;
        image.segments[0x40] = std::vector<uint8_t>(bytes.begin(), bytes.end());
        return image;
    };
    EXPECT_TRUE(IsSimulatorImage(imageWith("xx" + tag + "yy")));
    EXPECT_FALSE(IsSimulatorImage(imageWith("xx" + tag.substr(1))));
    EXPECT_FALSE(IsSimulatorImage(FirmwareImage{}));
    // "TQ" and "2604..." in two records: the reader joins them into one run.
    std::string text =
        ":02000000"
        "5451"
        "59\n";  // "TQ" at 0
    std::string rest = tag.substr(2);
    std::string hex;
    uint8_t sum = static_cast<uint8_t>(rest.size() + 2);
    char byte[3];
    for (unsigned char ch : rest) {
        std::snprintf(byte, sizeof byte, "%02X", ch);
        hex += byte;
        sum = static_cast<uint8_t>(sum + ch);
    }
    std::snprintf(byte, sizeof byte, "%02X", static_cast<uint8_t>(rest.size()));
    std::string record = std::string(":") + byte + "000200" + hex;
    std::snprintf(byte, sizeof byte, "%02X", static_cast<uint8_t>(-sum));
    text += record + byte + "\n" + kEnd;
    EXPECT_TRUE(IsSimulatorImage(ParseIntelHex(text)));
}

class LoadIntelHexFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tq_hex_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_ / "locked.hex", fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }
    std::string Write(const std::string& name, const std::string& content) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
    fs::path dir_;
};

TEST_F(LoadIntelHexFileTest, ResultCodeOfEachKindOfFile) {
    const std::string good = std::string(kRecord0030) + kRecord0100 + kEnd;
    // 16 bytes ending exactly at the top of 16 KiB, and one byte past it.
    const std::string topRecord = ":103FF00000000000000000000000000000000000C1\n";
    struct Case {
        std::string name;
        std::string path;
        int32_t expected;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"good", Write("good.hex", good), 0, ""},
        {"fills RAM exactly", Write("top.hex", topRecord + kEnd), 0, ""},
        {"missing", (dir_ / "absent.hex").string(), kResultFirmwareMissing, "not found"},
        {"directory", dir_.string(), kResultFirmwareMissing, "not a regular file"},
        {"binary", Write("binary.hex", std::string("\0\x01\x02\xFFMZ\x90\0", 8)),
         kResultFirmwareMalformed, "line 1"},
        {"truncated", Write("truncated.hex", good.substr(0, good.size() - 8)),
         kResultFirmwareMalformed, "line 3"},
        {"bad checksum", Write("checksum.hex", ":0300300002337A1F\n" + std::string(kEnd)),
         kResultFirmwareMalformed, "line 1: bad checksum"},
        {"past 16 KiB", Write("big.hex", ":0140000000BF\n" + std::string(kEnd)),
         kResultFirmwareTooLarge, "16384"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareImage image;
        std::string error = "stale";
        EXPECT_EQ(LoadIntelHexFile(c.path, kProgramRamBytes, image, error), c.expected);
        if (c.expected == 0) {
            EXPECT_TRUE(error.empty()) << error;
            EXPECT_FALSE(image.segments.empty());
        } else {
            EXPECT_NE(error.find(c.reason), std::string::npos) << error;
            EXPECT_TRUE(image.segments.empty());
        }
    }
}

TEST_F(LoadIntelHexFileTest, HugeFileIsRefusedByItsSizeOrItsStart) {
    // Files far past the size limit are refused without being read whole: as malformed when
    // their start is not HEX records (a sparse file of zeros, say), else as too large.
    const std::string record = kRecord0030;
    // 16 zero bytes at each address in turn, far past what any image holds.
    std::string records;
    for (unsigned address = 0; records.size() < (std::size_t{2} << 20); address += 16) {
        char line[64];
        const unsigned sum = 0x10 + ((address >> 8) & 0xFF) + (address & 0xFF);
        std::snprintf(line, sizeof line, ":10%04X00%032d%02X\n", address & 0xFFFF, 0,
                      (0x100 - (sum & 0xFF)) & 0xFF);
        records += line;
    }
    struct Case {
        std::string name;
        std::string content;
        uintmax_t sparseSize;  // 0: the content alone
        int32_t expected;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"zeros", "", uintmax_t{1} << 30, kResultFirmwareMalformed,
         "line 1: record does not start with ':'"},
        {"a record, then zeros", record, uintmax_t{1} << 30, kResultFirmwareMalformed,
         "line 2: record does not start with ':'"},
        {"text", "hello\n", uintmax_t{1} << 30, kResultFirmwareMalformed, "line 1"},
        {"records only", records, 0, kResultFirmwareTooLarge, "too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Write("huge.hex", c.content);
        if (c.sparseSize)
            fs::resize_file(path, c.sparseSize);
        FirmwareImage image;
        std::string error;
        EXPECT_EQ(LoadIntelHexFile(path, kProgramRamBytes, image, error), c.expected);
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST_F(LoadIntelHexFileTest, UnreadableFileIsMissing) {
    const std::string path = Write("locked.hex", std::string(kRecord0030) + kEnd);
    fs::permissions(path, fs::perms::none);
    if (std::ifstream(path).is_open())
        GTEST_SKIP() << "permissions do not apply to this user";
    FirmwareImage image;
    std::string error;
    EXPECT_EQ(LoadIntelHexFile(path, kProgramRamBytes, image, error), kResultFirmwareMissing);
    EXPECT_FALSE(error.empty());
}

TEST(FirmwareFile, OurImageLoadsAndIsTheSimulatedBoardsImage) {
    FirmwareImage image;
    std::string error;
    ASSERT_EQ(LoadIntelHexFile(TQ_FIRMWARE_IMAGE, kProgramRamBytes, image, error), 0) << error;
    EXPECT_TRUE(IsSimulatorImage(image));
    EXPECT_LE(image.EndAddress(), kProgramRamBytes);
}

}  // namespace
}  // namespace tq::testing
