// Any text through the lenient number reader and the entry conversions: no crash, and every
// failure is one of the program's own errors.

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/Encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const double v = tq::ParseNumber(text);
    const float single = tq::ToSingle(v);
    for (int16_t n : {int16_t{16}, int16_t{14}}) {
        try {
            tq::VoltsToCode(single, n, 1, 10.0f);
            tq::VoltsToCode(single, n, 0, 10.5263f);
            tq::FineGainToCode(single, n);
            tq::OffsetToCode(single, n);
        } catch (const tq::NumericError&) {
        }
        for (const char* mode : {"Hex", "Dec"}) {
            std::string box = text;
            try {
                tq::DataCodeEntry(box, mode, n);
            } catch (const tq::NumericError&) {
            } catch (const tq::InputError&) {
            }
        }
    }
    tq::ShortText(single);
    tq::VoltageText(v);
    return 0;
}
