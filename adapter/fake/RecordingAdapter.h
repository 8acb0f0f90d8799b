#pragma once
// A test adapter: records every call and answers read requests from a script.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "board/Adapter.h"

namespace tq {

struct RecordedCall {
    std::string function;  // "Search_For_Boards", "Connect", "Download_Firmware", "Vendor_Request"
    uint8_t request = 0;
    int32_t value = 0;
    int32_t index = 0;
    uint8_t direction = 0;
    int32_t length = 0;
    std::string path;  // Download_Firmware only

    // "D9 16 32768 0 0": request in hex, then value, index, direction, length in decimal.
    std::string Brief() const;
};

class RecordingAdapter : public Adapter {
public:
    int32_t Search_For_Boards(int32_t vendorId, int32_t productId, int32_t* count,
                              uint8_t* list) override;
    int32_t Connect(int32_t vendorId, int32_t productId, uint8_t board, int32_t* handle) override;
    int32_t Download_Firmware(int32_t handle, const uint8_t* path) override;
    int32_t Vendor_Request(int32_t handle, uint8_t request, int32_t value, int32_t index,
                           uint8_t direction, int32_t length, uint8_t* buffer) override;

    // The next read request (direction 1, length > 0) copies these bytes into its buffer.
    // Without a queued reply the buffer is zero-filled.
    void QueueReply(std::vector<uint8_t> bytes);
    // Queue the two transfers of a register read-back so that it yields `value`.
    void QueueRegisterRead(uint16_t value);
    // Queue a board converter reading of `count` (two bit-reversed bytes, high first).
    void QueueAdcReading(uint16_t count);

    // Every call in order, and only the Vendor_Request calls as Brief() texts.
    std::vector<RecordedCall> calls;
    std::vector<std::string> Requests() const;
    void Clear() { calls.clear(); }

    int32_t downloadResult = 0;
    int32_t requestResult = 0;  // the result of requests without a reply; negative to fail all
    int32_t handle = 1;

private:
    std::deque<std::vector<uint8_t>> replies_;
};

}  // namespace tq
