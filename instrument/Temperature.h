#pragma once
// The die temperature from the board converter's reading of the TEMP pin: 4096 counts over
// 3.29 V; the pin reads 1.2775 V at 0 degrees C and rises 5 mV per degree.

#include <cstdint>

#include "core/CheckedInt.h"

namespace tq {

inline constexpr int kTemperatureCounts = 4096;
inline constexpr double kTemperatureSpanVolts = 3.29;
inline constexpr double kTempVoltsAtZero = 1.2775;
inline constexpr double kTempVoltsPerDegree = 0.005;
inline constexpr int kTemperatureReadings = 3;

struct TemperatureReading {
    int16_t counts;  // the board converter's reading
    float volts;     // at the TEMP pin
    float celsius;
};

inline TemperatureReading TemperatureFromCounts(int16_t counts) {
    const float volts =
        ToSingle(counts / static_cast<double>(kTemperatureCounts) * kTemperatureSpanVolts);
    const float celsius =
        ToSingle(volts / kTempVoltsPerDegree - kTempVoltsAtZero / kTempVoltsPerDegree);
    return {counts, volts, celsius};
}

}  // namespace tq
