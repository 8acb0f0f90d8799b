#include "instrument/Calibration.h"

#include <cmath>

#include "core/CheckedInt.h"
#include "core/ConverterCoding.h"
#include "core/Encoding.h"
#include "core/Fields.h"
#include "core/Tables.h"

namespace tq {
namespace {

// Nothing above 8 bits comes back from a converter that answers.
constexpr int32_t kLargestOffsetReadBack = 32767;

// The offset the windows show, at the ends of what the device's register holds.
struct OffsetLimits {
    float low;
    float high;
};

OffsetLimits LimitsFor(int16_t resolution) {
    const SignedSteps& offset = ProfileOf(resolution).offset;
    return {static_cast<float>(offset.LowestShown()), static_cast<float>(offset.HighestShown())};
}

// Limits `value` to low..high; true when it had to.
template <typename T>
bool Limit(T& value, T low, T high) {
    if (value < low) {
        value = low;
        return true;
    }
    if (value > high) {
        value = high;
        return true;
    }
    return false;
}

}  // namespace

std::string OffsetLimitsText(int16_t resolution) {
    const OffsetLimits limits = LimitsFor(resolution);
    return ShortText(limits.low) + " to " + ShortText(limits.high);
}

std::string FineGainLimitsText(int16_t resolution) {
    const SignedSteps& fine = ProfileOf(resolution).fineGain;
    return DecimalText(fine.Lowest()) + " to " + DecimalText(fine.Highest());
}

Correction OffsetCorrection(int32_t readBack, float measuredVolts, int16_t resolution,
                            float rangeVolts) {
    const ConverterCoding coding(resolution);
    const float measured = -measuredVolts;
    const double lsb = (2.0 * rangeVolts) / coding.CodeCount();
    const float current = ToSingle(coding.OffsetShown(coding.OffsetFieldOfRegister(readBack)));
    float newOffset = 0.0f;
    if (coding.Narrow()) {
        // nearbyint keeps an infinite correction infinite, so the limit below catches it.
        const float correction = ToSingle(std::nearbyint(ToSingle(measured / lsb)));
        newOffset = ToSingle(static_cast<double>(current) + correction);
    } else {
        const float correction = ToSingle(measured / lsb);
        newOffset = ToSingle(static_cast<double>(current) + correction);
    }
    // Only a zero range (0 / 0) could give no number at all; write offset 0 then.
    if (std::isnan(newOffset))
        newOffset = 0.0f;
    const OffsetLimits limits = LimitsFor(resolution);
    const bool limited = Limit(newOffset, limits.low, limits.high);
    const SignedSteps& field = coding.Profile().offset;
    if (coding.Narrow()) {
        const int32_t code = RoundToInt32(
            newOffset >= 0 ? newOffset : newOffset + static_cast<double>(field.Span()));
        return {coding.OffsetRegisterOfField(code), limited};
    }
    // V / 15.875 x 127 above zero, (V + 16) / 15.875 x 127 + 128 below, as the calibration has
    // always computed it (the sum in single precision).
    const double high = field.HighestShown();
    const double raw = newOffset >= 0
                           ? newOffset / high * field.Highest()
                           : (newOffset - limits.low) / high * field.Highest() - field.Lowest();
    int32_t code = RoundToInt32(raw);
    // Just below zero the nearest eighth is zero itself, whose 8-bit code is 0, not 256.
    if (code == field.Span())
        code = 0;
    return {code, limited};
}

Correction GainCorrection(int32_t readBack, float measuredVolts, int16_t resolution,
                          float rangeVolts) {
    const SignedSteps& fine = ProfileOf(resolution).fineGain;
    const int16_t code = Check16(readBack);
    const float current = static_cast<float>(SignedField(code, kFineGainBits));
    const float error = ToSingle(static_cast<double>(rangeVolts) + measuredVolts);
    // (2 x range) / 2^17 for both resolutions: the 14-bit device's gain unit is
    // (2 x range) / (2^14 x 8).
    const double unit = (2.0 * rangeVolts) / 131072.0;
    const int16_t steps = RoundToInt16(error / unit);
    int16_t newGain = RoundToInt16(static_cast<double>(steps) + current);
    const bool limited =
        Limit(newGain, static_cast<int16_t>(fine.Lowest()), static_cast<int16_t>(fine.Highest()));
    return {FieldCode(newGain, kFineGainBits), limited};
}

void CheckReading(double measuredVolts, double expectedVolts, float rangeVolts) {
    const double tolerance = kPlausibleShare * rangeVolts;
    if (std::fabs(measuredVolts - expectedVolts) <= tolerance)
        return;
    const std::string reading = std::isfinite(measuredVolts)
                                    ? "the reading " + LimitVoltsText(measuredVolts) + " V"
                                    : std::string("a reading beyond any voltage");
    throw ImplausibleReadingError(reading + " is more than " + LimitVoltsText(tolerance) + " V (" +
                                      LimitVoltsText(kPlausibleShare * 100) + " % of the \u00b1" +
                                      LimitVoltsText(rangeVolts) + " V range) from the " +
                                      LimitVoltsText(expectedVolts) + " V the step loads",
                                  expectedVolts, tolerance);
}

void Calibration::Start(int16_t channel) {
    if (channel < 0 || channel > kAllChannels)
        throw ValueRangeError("no such channel: " + std::to_string(channel));
    channel_ = channel;
    step_ = Step::OffsetReading;
}

void Calibration::Expect(Step step) const {
    if (step_ != step)
        throw InstrumentError(step == Step::OffsetReading
                                  ? "the calibration is not waiting for the offset reading"
                                  : "the calibration is not waiting for the zero-scale reading");
}

Correction Calibration::EnterOffsetReading(float measuredVolts) {
    Expect(Step::OffsetReading);
    const int32_t readBack = instrument_.ReadRegister(channel_, kRegOffset);
    if (readBack > kLargestOffsetReadBack)
        throw OffsetUnreadableError();
    const float range = instrument_.ChannelRangeVolts(channel_);
    CheckReading(measuredVolts, 0.0, range);
    const Correction c = OffsetCorrection(readBack, measuredVolts, instrument_.Resolution(), range);
    instrument_.WriteRegister(channel_, kRegOffset, c.registerValue);
    step_ = Step::GainReading;
    return c;
}

Correction Calibration::EnterGainReading(float measuredVolts) {
    Expect(Step::GainReading);
    const int32_t readBack = instrument_.ReadRegister(channel_, kRegFineGain);
    const float range = instrument_.ChannelRangeVolts(channel_);
    const Correction c = GainCorrection(readBack, measuredVolts, instrument_.Resolution(), range);
    CheckReading(measuredVolts, -static_cast<double>(range), range);
    instrument_.WriteRegister(channel_, kRegFineGain, c.registerValue);
    step_ = Step::Complete;
    return c;
}

}  // namespace tq
