#include "adapter/fake/RecordingAdapter.h"

#include <algorithm>
#include <cstring>

#include "board/BoardRequests.h"
#include "core/Printed.h"

namespace tq {

std::string RecordedCall::Brief() const {
    return Printed("%02X %d %d %u %d", request, value, index, static_cast<unsigned>(direction),
                   length);
}

int32_t RecordingAdapter::Search_For_Boards(int32_t, int32_t, int32_t* count, uint8_t* list) {
    RecordedCall call;
    call.function = "Search_For_Boards";
    calls.push_back(call);
    *count = 1;
    list[0] = 0;
    return 0;
}

int32_t RecordingAdapter::Connect(int32_t, int32_t, uint8_t, int32_t* handleOut) {
    RecordedCall call;
    call.function = "Connect";
    calls.push_back(call);
    *handleOut = handle;
    return 0;
}

int32_t RecordingAdapter::Download_Firmware(int32_t, const uint8_t* path) {
    RecordedCall call;
    call.function = "Download_Firmware";
    call.path = reinterpret_cast<const char*>(path);
    calls.push_back(call);
    return downloadResult;
}

int32_t RecordingAdapter::Vendor_Request(int32_t, uint8_t request, int32_t value, int32_t index,
                                         uint8_t direction, int32_t length, uint8_t* buffer) {
    calls.push_back({"Vendor_Request", request, value, index, direction, length, ""});
    if (direction == 1 && length > 0) {
        std::fill(buffer, buffer + length, uint8_t{0});
        if (!replies_.empty()) {
            const auto& reply = replies_.front();
            std::copy_n(reply.begin(), std::min<std::size_t>(reply.size(), length), buffer);
            replies_.pop_front();
        }
        return requestResult < 0 ? requestResult : length;
    }
    return requestResult;
}

void RecordingAdapter::QueueReply(std::vector<uint8_t> bytes) {
    replies_.push_back(std::move(bytes));
}

void RecordingAdapter::QueueRegisterRead(uint16_t value) {
    QueueReply({0, 0, 0});
    QueueReply({0, ReverseBits(static_cast<uint8_t>(value >> 8)),
                ReverseBits(static_cast<uint8_t>(value & 0xFF))});
}

void RecordingAdapter::QueueAdcReading(uint16_t count) {
    QueueReply({ReverseBits(static_cast<uint8_t>(count >> 8)),
                ReverseBits(static_cast<uint8_t>(count & 0xFF))});
}

std::vector<std::string> RecordingAdapter::Requests() const {
    std::vector<std::string> out;
    for (const auto& c : calls)
        if (c.function == "Vendor_Request")
            out.push_back(c.Brief());
    return out;
}

}  // namespace tq
