#pragma once
// Conversions between what a user types and register codes, and the text forms of codes and
// values. Pure functions: nothing here talks to the board.
//
// Typed values are single precision; arithmetic on them is double precision; every conversion to
// an integer code rounds to nearest, ties to even. Rounding failures raise NumericError
// (core/CheckedInt.h); unreadable hexadecimal raises InputError.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/CheckedInt.h"
#include "core/DeviceState.h"

namespace tq {

// Text that cannot be read as the number the entry expects.
class InputError : public std::runtime_error {
public:
    explicit InputError(const std::string& what) : std::runtime_error(what) {}
};

// Lenient number reading; never fails. Blanks, tabs and line feeds are ignored anywhere; the
// longest leading decimal number (sign, digits, one full stop, E or D exponent) is read, or
// &H / &O hexadecimal or octal digits. Nothing readable gives 0. Too large a decimal number
// reads as +-infinity; an &H/&O value above FFFFFFFF reads as +infinity.
double ParseNumber(std::string_view text);

// Strict hexadecimal: one to eight hex digits and nothing else, value within the signed 32-bit
// range; anything else throws InputError.
int32_t ParseHex(std::string_view text);

// Text forms.
std::string HexText4(int32_t value);     // upper-case hex, zero-padded to at least 4 digits
std::string HexText(int32_t value);      // upper-case hex, no padding ("0", "1A", "8000")
std::string DecimalText(int64_t value);  // "0", "65535", "-7"
std::string ShortText(float value);      // at most 7 significant digits: "31", "-0.5", "1.1"
std::string VoltageText(double value);   // pattern "0.0000": "-10.0000", "9.9997"
std::string VoltageText3(double value);  // pattern "#.000": "1.402", ".800", "-.500"
std::string WholeText(double value);     // nearest whole number: "25", "-256", and "0" for zero

// Sets state.RangeVolts (or the range given) from a coarse gain code; a code without a range
// leaves it.
void RangeFromCode(DeviceState& state, int64_t code);
void RangeFromCode(float& rangeVolts, int64_t code);

struct LimitedVolts {
    float volts;   // the voltage after limiting to -FS..+FS
    int32_t code;  // the N-bit code (not yet multiplied by 4 for N = 14)
};
// binaryCoding: 1 = offset binary, 0 = two's complement.
LimitedVolts VoltsToCode(float volts, int16_t resolution, int16_t binaryCoding, float fullScale);

// The voltage a channel outputs for an N-bit code in the given coding (two's-complement codes are
// read as signed).
float CodeToVolts(int64_t code, int16_t resolution, float fullScale, int16_t binaryCoding);

// A typed data code: "Hex" mode reads ParseHex (an empty text first becomes "0"), "Dec" mode
// rounds ParseNumber; then limited to 0..2^N-1. `text` is updated to "0" when it was empty in
// hexadecimal mode. Throws InputError / NumericError.
int32_t DataCodeEntry(std::string& text, std::string_view numberMode, int16_t resolution);

// The function word entry: as DataCodeEntry, limited to 0..63.
int32_t FunctionWordEntry(std::string& text, std::string_view numberMode);

struct LimitedValue {
    float value;   // the typed value after limiting
    int32_t code;  // the value to write to the register
};
LimitedValue FineGainToCode(float value, int16_t resolution);
// For N = 14 the returned code is the value to write (the 3-bit code x 32).
LimitedValue OffsetToCode(float value, int16_t resolution);

}  // namespace tq
