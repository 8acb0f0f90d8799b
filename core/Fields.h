#pragma once
// The signed fields of the converter's registers: fine gain is a 6-bit and offset an 8-bit two's
// complement number (core/ConverterProfile.h says how each device uses them).

#include <cstdint>

namespace tq {

inline constexpr int kFineGainBits = 6;
inline constexpr int kOffsetBits = 8;

// The signed value of a `bits`-wide two's complement field (higher bits must be clear).
constexpr int32_t SignedField(int32_t value, int bits) {
    const int32_t half = int32_t{1} << (bits - 1);
    return value >= half ? value - 2 * half : value;
}

// The field's code of a signed value (the inverse of SignedField).
constexpr int32_t FieldCode(int32_t value, int bits) {
    return value < 0 ? value + (int32_t{1} << bits) : value;
}

}  // namespace tq
