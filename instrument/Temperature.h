#pragma once
// A die temperature reading: the board converter's count at the TEMP pin, the pin's voltage and
// the degrees they mean.

#include <cstdint>

namespace tq {

// The readings one measurement takes: the first ones settle the board's converter, the last
// counts.
inline constexpr int kTemperatureReadings = 3;

struct TemperatureReading {
    int16_t counts;  // the board converter's reading
    float volts;     // at the TEMP pin
    float celsius;
};

}  // namespace tq
