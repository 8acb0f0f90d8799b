// Any file text through the firmware reader: an image within its records' addresses, or an
// error naming a line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "board/IntelHex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const tq::FirmwareImage image = tq::ParseIntelHex(text);
        if (image.ByteCount() > size)
            std::abort();  // every byte comes from two hex digits
        tq::IsSimulatorImage(image);
    } catch (const tq::IntelHexError& e) {
        if (e.line() < 1)
            std::abort();
    }
    return 0;
}
