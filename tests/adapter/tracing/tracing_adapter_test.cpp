#include "adapter/tracing/TracingAdapter.h"

#include <gtest/gtest.h>

#include <functional>

#include "adapter/fake/RecordingAdapter.h"

namespace tq::testing {
namespace {

struct TraceCase {
    const char* name;
    std::function<void(RecordingAdapter&, TracingAdapter&)> call;
    std::string line;
};

TEST(TracingAdapter, LinesMatchTheTraceFormatByteForByte) {
    const std::vector<TraceCase> cases = {
        {"search",
         [](RecordingAdapter&, TracingAdapter& t) {
             int32_t count = 0;
             uint8_t list[128] = {};
             t.Search_For_Boards(0x0456, 0xB202, &count, list);
         },
         "Search_For_Boards vid=0x456 pid=0xB202 result=0"},
        {"connect",
         [](RecordingAdapter&, TracingAdapter& t) {
             int32_t handle = 0;
             t.Connect(0x0456, 0xB202, 0, &handle);
         },
         "Connect vid=0x456 pid=0xB202 board=0x0 result=0"},
        {"connect board byte",
         [](RecordingAdapter&, TracingAdapter& t) {
             int32_t handle = 0;
             t.Connect(0x0456, 0xB202, 0xAB, &handle);
         },
         "Connect vid=0x456 pid=0xB202 board=0xAB result=0"},
        {"download",
         [](RecordingAdapter&, TracingAdapter& t) {
             const char path[] = "/opt/tq 2604/TQ2604.hex";
             t.Download_Firmware(1, reinterpret_cast<const uint8_t*>(path));
         },
         "Download_Firmware path=/opt/tq 2604/TQ2604.hex result=0"},
        {"failed download",
         [](RecordingAdapter& r, TracingAdapter& t) {
             r.downloadResult = -4;
             t.Download_Firmware(1, reinterpret_cast<const uint8_t*>("x.hex"));
         },
         "Download_Firmware path=x.hex result=-4"},
        {"register read",
         [](RecordingAdapter& r, TracingAdapter& t) {
             r.QueueReply({0x00, 0x01, 0x80});
             uint8_t buffer[4] = {};
             t.Vendor_Request(1, 0xDD, 0x90, 0, 1, 3, buffer);
         },
         "Vendor_Request req=0xDD value=0x90 index=0x0 dir=1 len=3 reply=00 01 80 result=3"},
        {"write and pulse has no reply",
         [](RecordingAdapter&, TracingAdapter& t) {
             uint8_t dummy = 0;
             t.Vendor_Request(1, 0xD9, 0x11, 0xC000, 0, 0, &dummy);
         },
         "Vendor_Request req=0xD9 value=0x11 index=0xC000 dir=0 len=0 result=0"},
        {"negative value and index as unsigned patterns",
         [](RecordingAdapter&, TracingAdapter& t) {
             uint8_t dummy = 0;
             t.Vendor_Request(1, 0xDD, -1, -32768, 0, 0, &dummy);
         },
         "Vendor_Request req=0xDD value=0xFFFFFFFF index=0xFFFF8000 dir=0 len=0 result=0"},
        {"failed read shows the buffer as left",
         [](RecordingAdapter& r, TracingAdapter& t) {
             r.requestResult = -7;
             r.QueueReply({0xAB, 0x0F});
             uint8_t buffer[4] = {};
             t.Vendor_Request(1, 0xDA, 0, 0, 1, 2, buffer);
         },
         "Vendor_Request req=0xDA value=0x0 index=0x0 dir=1 len=2 reply=AB 0F result=-7"},
        {"direction request with length 0",
         [](RecordingAdapter& r, TracingAdapter& t) {
             r.requestResult = -1;
             uint8_t dummy = 0x5A;
             t.Vendor_Request(1, 0xDB, 1, 0, 1, 0, &dummy);
         },
         "Vendor_Request req=0xDB value=0x1 index=0x0 dir=1 len=0 result=-1"},
    };
    for (const TraceCase& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingAdapter inner;
        TracingAdapter tracing(inner);
        c.call(inner, tracing);
        std::size_t dropped = 99;
        EXPECT_EQ(tracing.TakeLines(dropped), std::vector<std::string>{c.line});
        EXPECT_EQ(dropped, 0u);
        EXPECT_EQ(inner.calls.size(), 1u);
    }
}

TEST(TracingAdapter, PassesResultsAndRepliesThrough) {
    RecordingAdapter inner;
    inner.handle = 7;
    TracingAdapter tracing(inner);
    int32_t handle = 0;
    EXPECT_EQ(tracing.Connect(0x456, 0xB202, 0, &handle), 0);
    EXPECT_EQ(handle, 7);
    inner.QueueReply({0x12, 0x34});
    uint8_t buffer[2] = {};
    EXPECT_EQ(tracing.Vendor_Request(7, 0xDA, 0, 0, 1, 2, buffer), 2);
    EXPECT_EQ(buffer[0], 0x12);
    EXPECT_EQ(buffer[1], 0x34);
    inner.requestResult = -3;
    uint8_t dummy = 0;
    EXPECT_EQ(tracing.Vendor_Request(7, 0xDE, 0x9F, 0, 0, 0, &dummy), -3);
}

TEST(TracingAdapter, KeepsTheNewestLinesAndCountsTheDropped) {
    RecordingAdapter inner;
    TracingAdapter tracing(inner, 3);
    uint8_t dummy = 0;
    for (int32_t i = 1; i <= 5; ++i)
        tracing.Vendor_Request(1, 0xDD, i, 0, 0, 0, &dummy);
    std::size_t dropped = 0;
    const std::vector<std::string> lines = tracing.TakeLines(dropped);
    EXPECT_EQ(dropped, 2u);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("value=0x3 "), std::string::npos) << lines[0];
    EXPECT_NE(lines[2].find("value=0x5 "), std::string::npos) << lines[2];

    // Taking the lines starts a new count.
    tracing.Vendor_Request(1, 0xDD, 6, 0, 0, 0, &dummy);
    EXPECT_EQ(tracing.TakeLines(dropped).size(), 1u);
    EXPECT_EQ(dropped, 0u);
    EXPECT_TRUE(tracing.TakeLines(dropped).empty());
}

}  // namespace
}  // namespace tq::testing
