#pragma once
// The offset and gain calibration of one channel: load 0 V and enter the meter's reading (the
// offset step), load zero scale and enter the reading again (the gain step). The arithmetic is
// pure; the Calibration object runs the steps against the instrument, in the channel's own range.

#include <cstdint>
#include <string>

#include "instrument/Instrument.h"

namespace tq {

struct Correction {
    int32_t registerValue;  // what to write to the register
    bool limited;           // the correction had to be limited to the register's range
};

// The new offset register value from its read-back and the output measured with 0 V loaded.
// The 14-bit device's 3-bit code is returned already shifted into D7..D5.
Correction OffsetCorrection(int32_t readBack, float measuredVolts, int16_t resolution,
                            float rangeVolts);
// The new fine gain register value from its read-back and the output measured at zero scale
// (a negative voltage near -range). Throws NumericError when the reading gives no usable number.
Correction GainCorrection(int32_t readBack, float measuredVolts, int16_t resolution,
                          float rangeVolts);
// The register's range as the limit messages name it, from the device's profile: the offset as
// the windows show it, the fine gain in register steps.
std::string OffsetLimitsText(int16_t resolution);
std::string FineGainLimitsText(int16_t resolution);

// A reading no channel of the board can give at the step: more than kPlausibleShare of the full
// scale from the voltage the step loads (0 V, or zero scale). Nothing is written for it.
inline constexpr double kPlausibleShare = 0.05;
class ImplausibleReadingError : public InstrumentError {
public:
    ImplausibleReadingError(const std::string& why, double expectedVolts, double toleranceVolts)
        : InstrumentError(why), expected(expectedVolts), tolerance(toleranceVolts) {}
    double expected;
    double tolerance;
};
// Throws ImplausibleReadingError when `measuredVolts` lies further than kPlausibleShare of
// `rangeVolts` from `expectedVolts`, or is no number.
void CheckReading(double measuredVolts, double expectedVolts, float rangeVolts);

// The offset register read back as all ones: the serial output is off or nothing answered.
class OffsetUnreadableError : public InstrumentError {
public:
    OffsetUnreadableError() : InstrumentError("the offset register could not be read back") {}
};

class Calibration {
public:
    enum class Step { Idle, OffsetReading, GainReading, Complete };

    explicit Calibration(Instrument& instrument) : instrument_(instrument) {}

    Step CurrentStep() const { return step_; }
    int16_t Channel() const { return channel_; }

    // Begins at the offset step for `channel` (0..3, or 4 for ALL DACs, which corrects all four
    // from DAC A's registers and range). Nothing is sent.
    void Start(int16_t channel);
    // Reads the offset register back, writes the corrected offset and moves to the gain step.
    // A read-back above 8 bits throws OffsetUnreadableError, a reading far from 0 V
    // ImplausibleReadingError; both stay at the offset step.
    Correction EnterOffsetReading(float measuredVolts);
    // Reads the fine gain back, writes the corrected fine gain and completes. A reading that
    // gives no number throws NumericError, one that is far from zero scale
    // ImplausibleReadingError; both stay at the gain step.
    Correction EnterGainReading(float measuredVolts);
    // From Complete (or any step) back to Idle.
    void Finish() { step_ = Step::Idle; }

private:
    void Expect(Step step) const;

    Instrument& instrument_;
    Step step_ = Step::Idle;
    int16_t channel_ = 0;
};

}  // namespace tq
