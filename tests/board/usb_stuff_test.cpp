// Connecting the board: the order of the adapter calls, the firmware path and its byte form.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "adapter/fake/RecordingAdapter.h"
#include "board/AdapterResults.h"
#include "board/UsbStuff.h"
#include "core/DeviceState.h"

namespace tq::testing {
namespace {

constexpr uint8_t kOldByte = 0xAB;

std::vector<std::string> FunctionsCalled(const RecordingAdapter& adapter) {
    std::vector<std::string> names;
    for (const auto& call : adapter.calls)
        names.push_back(call.function);
    return names;
}

// A path of `length` characters, not all alike so that a shifted copy shows.
std::string PathOfLength(std::size_t length) {
    std::string path;
    for (std::size_t i = 0; i < length; ++i)
        path += static_cast<char>('a' + i % 26);
    return path;
}

TEST(PathToBytes, FitsUpToFiveHundredTwelveCharacters) {
    for (const std::size_t length :
         {std::size_t{0}, std::size_t{7}, std::size_t{18}, std::size_t{511}, std::size_t{512}}) {
        SCOPED_TRACE(length);
        DeviceState state;
        state.PathBytes.fill(kOldByte);
        const std::string path = PathOfLength(length);
        EXPECT_TRUE(PathToBytes(state, path));
        EXPECT_TRUE(std::equal(path.begin(), path.end(), state.PathBytes.begin()));
        EXPECT_EQ(state.PathBytes[length], 0);
        // Bytes past the terminator are not the routine's business.
        if (length + 1 < state.PathBytes.size()) {
            EXPECT_EQ(state.PathBytes[length + 1], kOldByte);
        }
    }
}

TEST(PathToBytes, ALongerPathIsRefusedAndTheBufferLeftAlone) {
    for (const std::size_t length : {std::size_t{513}, std::size_t{514}, std::size_t{5000}}) {
        SCOPED_TRACE(length);
        DeviceState state;
        state.PathBytes.fill(kOldByte);
        EXPECT_FALSE(PathToBytes(state, PathOfLength(length)));
        EXPECT_TRUE(std::all_of(state.PathBytes.begin(), state.PathBytes.end(),
                                [](uint8_t b) { return b == kOldByte; }));
    }
}

TEST(PathToBytes, BytesOutsideAsciiAreCopiedAsTheyAre) {
    DeviceState state;
    const std::string path = "/home/j\xC3\xBCrgen/TQ2604.hex";
    ASSERT_TRUE(PathToBytes(state, path));
    EXPECT_EQ(state.PathBytes[7], 0xC3);
    EXPECT_EQ(state.PathBytes[8], 0xBC);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(state.PathBytes.data())), path);
}

TEST(FirmwarePath, IsTheFolderJoinedWithTheFileName) {
#ifdef _WIN32
    EXPECT_EQ(FirmwarePathFor("C:\\tq"), "C:\\tq\\TQ2604.hex");
#else
    EXPECT_EQ(FirmwarePathFor("/opt/tq"), "/opt/tq/TQ2604.hex");
#endif
}

TEST(ConnectBoard, SearchesConnectsThenDownloadsAndSendsNothingElse) {
    DeviceState state;
    ApplyStartDefaults(state);
    RecordingAdapter adapter;
    adapter.handle = 42;
    const std::string folder = "/opt/tq";  // 7 characters
    EXPECT_EQ(ConnectBoard(state, adapter, folder), 0);

    EXPECT_EQ(FunctionsCalled(adapter),
              (std::vector<std::string>{"Search_For_Boards", "Connect", "Download_Firmware"}));
    EXPECT_EQ(state.BoardHandle, 42);
    const std::string expectedPath = FirmwarePathFor(folder);
    EXPECT_EQ(expectedPath.size(), 18u);
    EXPECT_TRUE(expectedPath.ends_with("TQ2604.hex"));
    EXPECT_EQ(adapter.calls[2].path, expectedPath);
    EXPECT_EQ(state.FirmwarePath, expectedPath);
    EXPECT_EQ(state.PathBytes[18], 0);
}

TEST(ConnectBoard, ReturnsTheLowSixteenBitsOfTheDownloadResult) {
    struct Row {
        int32_t download;
        int16_t returned;
    };
    // A failure whose low 16 bits are zero still reads as a failure.
    const std::vector<Row> rows{{0, 0},       {1, 1},       {-1, -1},   {-5, -5},
                                {0x10003, 3}, {0x10000, 1}, {-65536, 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.download);
        DeviceState state;
        RecordingAdapter adapter;
        adapter.downloadResult = row.download;
        EXPECT_EQ(ConnectBoard(state, adapter, "/opt/tq"), row.returned);
    }
}

TEST(ConnectBoard, RefusesAFirmwarePathThatDoesNotFit) {
    const std::string suffix = FirmwarePathFor("");  // the separator and the file name
    // A folder whose firmware path is exactly 512 characters still downloads.
    {
        DeviceState state;
        RecordingAdapter adapter;
        const std::string folder = PathOfLength(512 - suffix.size());
        EXPECT_EQ(ConnectBoard(state, adapter, folder), 0);
        ASSERT_EQ(FunctionsCalled(adapter).size(), 3u);
        EXPECT_EQ(adapter.calls[2].path.size(), 512u);
        EXPECT_EQ(state.PathBytes[512], 0);
    }
    // One character more: -10, and the download is never attempted.
    {
        DeviceState state;
        state.PathBytes.fill(kOldByte);
        RecordingAdapter adapter;
        const std::string folder = PathOfLength(513 - suffix.size());
        EXPECT_EQ(ConnectBoard(state, adapter, folder), kResultPathTooLong);
        EXPECT_EQ(FunctionsCalled(adapter),
                  (std::vector<std::string>{"Search_For_Boards", "Connect"}));
        EXPECT_TRUE(std::all_of(state.PathBytes.begin(), state.PathBytes.end(),
                                [](uint8_t b) { return b == kOldByte; }));
        EXPECT_FALSE(ExplainAdapterResult(kResultPathTooLong).empty());
    }
}

}  // namespace
}  // namespace tq::testing
