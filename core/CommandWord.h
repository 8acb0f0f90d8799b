#pragma once
// The converter's 24-bit command word: R/W, 0, REG2..REG0, A2..A0, D15..D0.

#include <cstdint>

#include "core/CheckedInt.h"

namespace tq {

// Bits 23..16 of the word, travelling in the request value: R/W x 128 + REG x 8 + A, with
// 16-bit overflow detection.
inline int16_t CommandByte(int64_t readWrite, int64_t regSelect, int64_t address) {
    return Add16(Add16(Mul16(regSelect, 8), address), Mul16(readWrite, 128));
}

// The whole word, for display only.
inline double CommandWordValue(int64_t readWrite, int64_t regSelect, int64_t address,
                               int64_t data) {
    return static_cast<double>(address) * 65536.0 + static_cast<double>(regSelect) * 524288.0 +
           static_cast<double>(readWrite) * 8388608.0 + static_cast<double>(data);
}

}  // namespace tq
