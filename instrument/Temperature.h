#pragma once
// A die temperature reading: the board converter's count at the TEMP pin, the pin's voltage and
// the degrees they mean.

#include <cstdint>

namespace tq {

// The readings one measurement takes: the first ones settle the board's converter, the last
// counts.
inline constexpr int kTemperatureReadings = 3;

// The board converter's lowest and highest counts: a reading there may stand for any voltage
// beyond, so it is no measurement.
inline constexpr int16_t kTemperatureCountsTop = 4095;

struct TemperatureReading {
    int16_t counts;  // the board converter's reading
    float volts;     // at the TEMP pin
    float celsius;
    bool OverRange() const { return counts >= kTemperatureCountsTop; }
    bool UnderRange() const { return counts <= 0; }
};

}  // namespace tq
