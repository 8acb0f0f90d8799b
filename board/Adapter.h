#pragma once
// The board's USB adapter library: exactly its four functions. Everything the program knows of a
// board passes through this interface; the simulated board, the libusb adapter, the tracing
// decorator and the test fakes implement it.
//
// Results: zero or more is success (for Vendor_Request, the number of bytes transferred); a
// failure is one of the negative codes of board/AdapterResults.h.

#include <cstddef>
#include <cstdint>

namespace tq {

// The longest firmware path Download_Firmware takes, in bytes (without the terminating 0).
inline constexpr std::size_t kMaxPathBytes = 512;

class Adapter {
public:
    virtual ~Adapter() = default;

    // Writes the number of boards found to *count and identifies the first one in list[0]
    // (list points to a 128-byte buffer).
    virtual int32_t Search_For_Boards(int32_t vendorId, int32_t productId, int32_t* count,
                                      uint8_t* list) = 0;

    // Opens the board named by `board` (the list's first byte) and writes its handle.
    virtual int32_t Connect(int32_t vendorId, int32_t productId, uint8_t board,
                            int32_t* handle) = 0;

    // Loads the Intel HEX firmware file named by the zero-terminated single-byte `path` into the
    // board's controller. 0 on success.
    virtual int32_t Download_Firmware(int32_t handle, const uint8_t* path) = 0;

    // One vendor request. direction 0 = to the board, 1 = from the board; with direction 1 and
    // length n > 0 the first n bytes of `buffer` receive the reply.
    virtual int32_t Vendor_Request(int32_t handle, uint8_t request, int32_t value, int32_t index,
                                   uint8_t direction, int32_t length, uint8_t* buffer) = 0;
};

}  // namespace tq
