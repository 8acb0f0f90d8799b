// The facade's die temperature: three readings of the board's converter with the serial output
// off, the third counts.

#include "board/BoardRequests.h"
#include "core/CheckedInt.h"
#include "instrument/Instrument.h"
#include "instrument/InstrumentCall.h"
#include "instrument/Temperature.h"

namespace tq {
namespace {

// The board's converter reads the TEMP pin in 4096 counts over 3.29 V.
constexpr int kTemperatureCounts = 4096;

// The pin reads 1.2775 V at 0 degrees C and rises 5 mV per degree.
TemperatureReading TemperatureFromCounts(int16_t counts) {
    const float volts = ToSingle(counts / static_cast<double>(kTemperatureCounts) * 3.29);
    const float celsius = ToSingle(volts / 0.005 - 1.2775 / 0.005);
    return {counts, volts, celsius};
}

}  // namespace

TemperatureReading Instrument::MeasureTemperature() {
    CallScope scope(*this);
    const bool sdoBefore = state_.FnSdoDisable != 0;
    // The readings are taken with the converter's serial data output off.
    SetFunctionFlag(FunctionFlag::SdoDisable, true);
    // The first two readings settle the board's converter; only the third counts. A reading
    // that does not fit the request's 16 bits counts as -1, outside the converter's range.
    int32_t reading = -1;
    for (int i = 0; i < kTemperatureReadings; ++i) {
        try {
            reading = requests_.ReadAdcWord();
        } catch (const NumericError&) {
            reading = -1;
        }
    }
    // Leaving the serial output off would make every later register read-back all ones.
    SetFunctionFlag(FunctionFlag::SdoDisable, sdoBefore);
    scope.Done();
    if (reading < 0 || reading >= kTemperatureCounts)
        throw ReadingError("the temperature converter's reading is outside 0 to 4095");
    return TemperatureFromCounts(static_cast<int16_t>(reading));
}

}  // namespace tq
