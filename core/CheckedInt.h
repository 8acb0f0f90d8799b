#pragma once
// Checked 16-bit and 32-bit arithmetic: a result outside the type's range raises NumericError
// instead of wrapping. Conversions of floating values to codes round to nearest, ties to even.

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

namespace tq {

// A value that does not fit its type, or a floating-point fault (overflow, NaN, division by zero).
class NumericError : public std::runtime_error {
public:
    explicit NumericError(const std::string& what) : std::runtime_error(what) {}
};

inline int16_t Check16(int64_t v) {
    if (v < std::numeric_limits<int16_t>::min() || v > std::numeric_limits<int16_t>::max())
        throw NumericError("16-bit overflow: " + std::to_string(v));
    return static_cast<int16_t>(v);
}

inline int32_t Check32(int64_t v) {
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        throw NumericError("32-bit overflow: " + std::to_string(v));
    return static_cast<int32_t>(v);
}

inline int16_t Add16(int64_t a, int64_t b) {
    return Check16(a + b);
}
inline int16_t Mul16(int64_t a, int64_t b) {
    return Check16(a * b);
}
inline int32_t Add32(int64_t a, int64_t b) {
    return Check32(a + b);
}
inline int32_t Sub32(int64_t a, int64_t b) {
    return Check32(a - b);
}
inline int32_t Mul32(int64_t a, int64_t b) {
    return Check32(a * b);
}

// Round to the nearest integer, ties to even; NaN, infinities and results outside the signed
// 32-bit range are numeric failures.
inline int32_t RoundToInt32(double v) {
    if (!std::isfinite(v))
        throw NumericError("not a finite number");
    const double r = std::nearbyint(v);  // the default rounding mode is to nearest, ties to even
    if (r < -2147483648.0 || r > 2147483647.0)
        throw NumericError("value out of the 32-bit range");
    return static_cast<int32_t>(r);
}

inline int16_t RoundToInt16(double v) {
    return Check16(RoundToInt32(v));
}

// A double rounded to single precision. Values beyond the float range become infinities of
// their sign, which the callers' limits clamp.
inline float ToSingle(double v) {
    if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max())
        return v > 0 ? std::numeric_limits<float>::infinity()
                     : -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

}  // namespace tq
