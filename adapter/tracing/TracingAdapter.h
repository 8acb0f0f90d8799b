#pragma once
// Records every adapter call as one trace line, then passes it on:
//   Search_For_Boards vid=0x456 pid=0xB202 result=0
//   Connect vid=0x456 pid=0xB202 board=0x0 result=0
//   Download_Firmware path=<the path as passed> result=0
//   Vendor_Request req=0xDD value=0x90 index=0x0 dir=1 len=3 reply=00 01 80 result=3
// Hexadecimal is upper case with 0x and no leading zeros; value and index as their unsigned
// 32-bit pattern; reply= (only when len > 0) shows the len buffer bytes as the call left them.

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "board/Adapter.h"
#include "board/TrafficTrace.h"

namespace tq {

class TracingAdapter : public Adapter, public TrafficTrace {
public:
    explicit TracingAdapter(Adapter& inner, std::size_t maxLines = 100000);

    int32_t Search_For_Boards(int32_t vendorId, int32_t productId, int32_t* count,
                              uint8_t* list) override;
    int32_t Connect(int32_t vendorId, int32_t productId, uint8_t board, int32_t* handle) override;
    int32_t Download_Firmware(int32_t handle, const uint8_t* path) override;
    int32_t Vendor_Request(int32_t handle, uint8_t request, int32_t value, int32_t index,
                           uint8_t direction, int32_t length, uint8_t* buffer) override;

    // The lines since the last call (oldest first); `dropped` receives how many older lines were
    // dropped to keep at most maxLines.
    std::vector<std::string> TakeLines(std::size_t& dropped) override;

private:
    void Add(std::string line);

    Adapter& inner_;
    std::size_t maxLines_;
    std::deque<std::string> lines_;
    std::size_t dropped_ = 0;
};

}  // namespace tq
