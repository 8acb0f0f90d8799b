// Any text through the strict hexadecimal reader: a value that prints back the same, or an
// input failure.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/Encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const int32_t v = tq::ParseHex(text);
        // A value read must print back as the same digits (without leading zeros).
        if (v < 0 || tq::ParseHex(tq::HexText(v)) != v)
            std::abort();
    } catch (const tq::InputError&) {
    }
    return 0;
}
