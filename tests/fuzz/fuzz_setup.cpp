// Any file text through the setup reader: a setup, or a SetupError saying where and why; nothing
// else may come out of it. A setup it accepts is written and read back to the same text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "instrument/Setup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tq::Setup setup;
    try {
        setup = tq::SetupFromJson(text);
    } catch (const tq::SetupError& e) {
        if (std::string_view(e.what()).empty())
            std::abort();
        return 0;
    }
    for (const int indent : {0, 2}) {
        const std::string written = tq::SetupToJson(setup, indent);
        try {
            if (tq::SetupToJson(tq::SetupFromJson(written), indent) != written)
                std::abort();
        } catch (const tq::SetupError&) {
            std::abort();  // the program could not open a setup it saved
        }
    }
    return 0;
}
