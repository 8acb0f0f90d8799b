#include "core/Encoding.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "core/ConverterCoding.h"
#include "core/Printed.h"
#include "core/Tables.h"

namespace tq {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsIgnoredBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// Upper-case hexadecimal digits of the 32-bit pattern, no padding.
std::string HexDigits(int32_t value) {
    return Printed("%X", static_cast<unsigned>(static_cast<uint32_t>(value)));
}

// &H / &O digits (after the prefix), read as the bit pattern of a signed integer: 16 bits when
// the value fits them (FFFF is -1), else 32 bits (FFFFFFFF is -1). A wider value is no integer
// of the program; it reads as +infinity and the callers' limits and roundings deal with it.
double ParsePrefixedInteger(std::string_view digits, int base) {
    constexpr uint64_t kMax32 = 0xFFFFFFFFull;
    uint64_t value = 0;
    bool tooLarge = false;
    for (char c : digits) {
        const int d = HexDigitValue(c);
        if (d < 0 || d >= base)
            break;
        if (!tooLarge) {
            value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
            tooLarge = value > kMax32;
        }
    }
    if (tooLarge)
        return std::numeric_limits<double>::infinity();
    if (value <= 0xFFFFu)
        return static_cast<int16_t>(static_cast<uint16_t>(value));
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// Decimal number at the start of `s` (blanks already removed): sign, digits with at most one
// full stop, an E or D exponent. Read without the C library's locale-dependent routines.
double ParseDecimal(std::string_view s) {
    std::size_t pos = 0;
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-'))
        negative = s[pos++] == '-';

    const std::size_t intStart = pos;
    while (pos < s.size() && IsDigit(s[pos]))
        ++pos;
    const std::string_view intDigits = s.substr(intStart, pos - intStart);
    std::string_view fracDigits;
    if (pos < s.size() && s[pos] == '.') {
        const std::size_t fracStart = ++pos;
        while (pos < s.size() && IsDigit(s[pos]))
            ++pos;
        fracDigits = s.substr(fracStart, pos - fracStart);
    }
    if (intDigits.empty() && fracDigits.empty())
        return 0.0;

    // An exponent only counts when it has digits: "1e" and "1e+" read as 1. Its value saturates;
    // anything beyond a few thousand already decides between infinity and zero.
    constexpr int64_t kExponentCap = 1'000'000'000;
    int64_t exponent = 0;
    if (pos < s.size() && (s[pos] == 'E' || s[pos] == 'e' || s[pos] == 'D' || s[pos] == 'd')) {
        std::size_t p = pos + 1;
        bool expNegative = false;
        if (p < s.size() && (s[p] == '+' || s[p] == '-'))
            expNegative = s[p++] == '-';
        if (p < s.size() && IsDigit(s[p])) {
            for (; p < s.size() && IsDigit(s[p]); ++p)
                exponent = std::min(exponent * 10 + (s[p] - '0'), kExponentCap);
            if (expNegative)
                exponent = -exponent;
        }
    }

    // Significant digits d1 d2 ... with the value 0.d1d2... x 10^scale.
    std::string digits;
    digits.reserve(intDigits.size() + fracDigits.size());
    digits.append(intDigits);
    digits.append(fracDigits);
    const std::size_t firstNonZero = digits.find_first_not_of('0');
    if (firstNonZero == std::string::npos)
        return 0.0;
    const std::size_t lastNonZero = digits.find_last_not_of('0');
    const int64_t scale =
        static_cast<int64_t>(intDigits.size()) - static_cast<int64_t>(firstNonZero) + exponent;

    const double infinity = std::numeric_limits<double>::infinity();
    double magnitude = 0.0;
    if (scale > 400) {
        magnitude = infinity;
    } else if (scale >= -400) {
        std::string normal = "0.";
        normal.append(digits, firstNonZero, lastNonZero - firstNonZero + 1);
        normal += 'e';
        normal += std::to_string(scale);
        const auto [end, error] =
            std::from_chars(normal.data(), normal.data() + normal.size(), magnitude);
        (void)end;
        if (error == std::errc::result_out_of_range)
            magnitude = scale > 0 ? infinity : 0.0;
    }
    if (magnitude == 0.0)
        return 0.0;
    return negative ? -magnitude : magnitude;
}

// `value` rounded to `decimals` places, half away from zero, as sign, whole digits and decimal
// digits. The digits come from the exact binary value, so the rounding never depends on an
// earlier decimal approximation.
struct DecimalParts {
    bool negative = false;
    std::string whole;     // at least one digit
    std::string fraction;  // exactly `decimals` digits
};

DecimalParts RoundDecimal(double value, int decimals) {
    DecimalParts parts;
    // 1075 places hold every bit of a finite double exactly, so the digits below are the value's
    // own and a tie is recognised as one.
    constexpr int kExactPlaces = 1075;
    const double magnitude = std::fabs(value);
    // The longest text: 309 whole digits, the point and the places.
    std::array<char, 1400> buffer;
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                            std::chars_format::fixed, kExactPlaces);
    (void)error;
    const std::string text(buffer.data(), end);

    const std::size_t point = text.find('.');
    std::string digits = text.substr(0, point) + text.substr(point + 1);
    const std::size_t keep = point + static_cast<std::size_t>(decimals);
    const bool roundUp = digits[keep] >= '5';
    digits.resize(keep);
    if (roundUp) {
        std::size_t i = digits.size();
        while (i > 0 && digits[i - 1] == '9')
            digits[--i] = '0';
        if (i == 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[i - 1];
    }
    const std::size_t newWhole = digits.size() - static_cast<std::size_t>(decimals);
    parts.whole = digits.substr(0, newWhole);
    parts.fraction = digits.substr(newWhole);
    // A value that rounds to zero shows without a sign.
    parts.negative = std::signbit(value) && digits.find_first_not_of('0') != std::string::npos;
    return parts;
}

std::string NonFiniteText(double value) {
    if (std::isnan(value))
        return "NaN";
    return value > 0 ? "Infinity" : "-Infinity";
}

int32_t LimitCode(int32_t code, int32_t highest) {
    if (code > highest)
        code = highest;
    if (code < 0)
        code = 0;
    return code;
}

// Hex mode reads strictly (an empty box counts as "0"); Dec mode rounds the lenient reading.
int32_t ReadTypedCode(std::string& text, std::string_view numberMode) {
    if (numberMode == "Hex") {
        if (text.empty())
            text.assign(1, '0');  // assign(1, c): GCC 12 warns falsely about operator= here
        return ParseHex(text);
    }
    return RoundToInt32(ParseNumber(text));
}

double PowerOfTwo(int exponent) {
    return std::ldexp(1.0, exponent);
}

}  // namespace

double ParseNumber(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    for (char c : text)
        if (!IsIgnoredBlank(c))
            s += c;

    if (s.size() >= 2 && s[0] == '&') {
        if (s[1] == 'H' || s[1] == 'h')
            return ParsePrefixedInteger(std::string_view(s).substr(2), 16);
        if (s[1] == 'O' || s[1] == 'o')
            return ParsePrefixedInteger(std::string_view(s).substr(2), 8);
    }
    return ParseDecimal(s);
}

int32_t ParseHex(std::string_view text) {
    if (text.empty() || text.size() > 8)
        throw InputError("not a hexadecimal number of one to eight digits");
    uint32_t value = 0;
    for (char c : text) {
        const int d = HexDigitValue(c);
        if (d < 0)
            throw InputError("not a hexadecimal number of one to eight digits");
        value = value * 16 + static_cast<uint32_t>(d);
    }
    if (value > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
        throw InputError("hexadecimal number beyond the signed 32-bit range");
    return static_cast<int32_t>(value);
}

std::string HexText4(int32_t value) {
    std::string digits = HexDigits(value);
    if (digits.size() < 4)
        digits.insert(0, 4 - digits.size(), '0');
    return digits;
}

std::string HexText(int32_t value) {
    return HexDigits(value);
}

std::string DecimalText(int64_t value) {
    return std::to_string(value);
}

std::string ShortText(float value) {
    if (!std::isfinite(value))
        return NonFiniteText(value);
    if (value == 0.0f)
        return "0";  // also for -0, which a typed "-0" produces
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 7);
    (void)error;  // 64 characters always hold seven digits and an exponent
    std::string text(buffer, end);
    // Very small or large values keep the exponent form; show it as the entry boxes read it.
    for (char& c : text)
        if (c == 'e')
            c = 'E';
    return text;
}

std::string VoltageText(double value) {
    if (!std::isfinite(value))
        return NonFiniteText(value);
    const DecimalParts parts = RoundDecimal(value, 4);
    return (parts.negative ? "-" : "") + parts.whole + "." + parts.fraction;
}

std::string VoltageText3(double value) {
    if (!std::isfinite(value))
        return NonFiniteText(value);
    const DecimalParts parts = RoundDecimal(value, 3);
    // "#.000": no leading zero before the point.
    const std::string whole = parts.whole == "0" ? "" : parts.whole;
    return (parts.negative ? "-" : "") + whole + "." + parts.fraction;
}

std::string WholeText(double value) {
    if (!std::isfinite(value))
        return NonFiniteText(value);
    const DecimalParts parts = RoundDecimal(value, 0);
    return (parts.negative ? "-" : "") + parts.whole;
}

void RangeFromCode(DeviceState& state, int64_t code) {
    RangeFromCode(state.RangeVolts, code);
}

void RangeFromCode(float& rangeVolts, int64_t code) {
    if (const auto volts = RangeVoltsForCode(code))
        rangeVolts = *volts;
}

LimitedVolts VoltsToCode(float volts, int16_t resolution, int16_t binaryCoding, float fullScale) {
    if (volts > fullScale)
        volts = fullScale;
    if (volts < -fullScale)
        volts = -fullScale;
    const double v = volts;
    const double fs = fullScale;
    const double span = PowerOfTwo(resolution);
    const double half = PowerOfTwo(resolution - 1);

    int32_t code = 0;
    if (binaryCoding == 1) {
        code = RoundToInt32(span * (fs + v) / (2.0 * fs));
    } else if (v >= 0) {
        code = RoundToInt32(half * v / fs);
        if (code > half - 1)
            code = static_cast<int32_t>(half - 1);
    } else {
        code = RoundToInt32(span + half * v / fs);
    }
    if (code == span)
        code = static_cast<int32_t>(span - 1);
    return {volts, code};
}

float CodeToVolts(int64_t code, int16_t resolution, float fullScale, int16_t binaryCoding) {
    const double fs = fullScale;
    const double span = PowerOfTwo(resolution);
    const double c = static_cast<double>(code);
    if (binaryCoding == 1)
        return ToSingle(2.0 * fs * c / span - fs);
    const double signedCode = c < span / 2 ? c : c - span;
    return ToSingle(2.0 * fs * signedCode / span);
}

int32_t DataCodeEntry(std::string& text, std::string_view numberMode, int16_t resolution) {
    return LimitCode(ReadTypedCode(text, numberMode), ConverterCoding(resolution).TopCode());
}

int32_t FunctionWordEntry(std::string& text, std::string_view numberMode) {
    return LimitCode(ReadTypedCode(text, numberMode), kFunctionBitsMask);
}

namespace {

// A value typed in a signed field's shown units: limited to what the field holds, then its code
// (the step count, plus 2^bits when negative). The shown ends and the steps are binary fractions,
// so the limits are exact and 8 x V keeps the ties (0.0625 -> 0.5) that V / 15.875 x 127 would
// blur.
LimitedValue CodeOfShown(float value, const SignedSteps& field) {
    const auto highest = static_cast<float>(field.HighestShown());
    const auto lowest = static_cast<float>(field.LowestShown());
    if (value > highest)
        value = highest;
    if (value < lowest)
        value = lowest;
    const double steps = static_cast<double>(value) * field.stepsPerUnit;
    const int32_t code = steps >= 0 ? RoundToInt32(steps) : RoundToInt32(steps + field.Span());
    return {value, code};
}

}  // namespace

// The 16-bit device takes whole steps, the 14-bit device quarter steps; the field is a 6-bit
// two's-complement number either way, written as it is.
LimitedValue FineGainToCode(float value, int16_t resolution) {
    return CodeOfShown(value, ConverterCoding(resolution).Profile().fineGain);
}

// Eight steps per unit on the 16-bit device; one on the 14-bit one, whose 3-bit field is written
// in D7..D5.
LimitedValue OffsetToCode(float value, int16_t resolution) {
    const ConverterCoding coding(resolution);
    LimitedValue limited = CodeOfShown(value, coding.Profile().offset);
    limited.code = coding.OffsetRegisterOfField(limited.code);
    return limited;
}

}  // namespace tq
