#pragma once
// The converter's resolution and data coding, and every rule that follows from them: the top
// code, the code of 0 V, the 14-bit frame (the TQ2404 takes its code in D15..D2 of the 16-bit
// data register and its 3-bit offset in D7..D5), a code's ordinal (its place from the most
// negative output up) and the fine gain and offset values the windows show for register codes.
// The typed-value entries themselves (FineGainToCode, OffsetToCode) are in core/Encoding.h.

#include <cstdint>

#include "core/CheckedInt.h"
#include "core/Fields.h"

namespace tq {

class ConverterCoding {
public:
    // `resolution` 14 is the TQ2404; anything else counts as the 16-bit TQ2604X, as the program
    // has always treated it. `binaryCoding`: offset binary; otherwise two's complement.
    constexpr explicit ConverterCoding(int resolution, bool binaryCoding = false)
        : bits_(resolution == 14 ? 14 : 16), binary_(binaryCoding) {}

    constexpr int Bits() const { return bits_; }
    constexpr bool Narrow() const { return bits_ == 14; }
    constexpr bool Binary() const { return binary_; }

    // 2^N codes, 0 to TopCode(); the code of mid-scale is MidCode().
    constexpr int32_t CodeCount() const { return int32_t{1} << bits_; }
    constexpr int32_t TopCode() const { return CodeCount() - 1; }
    constexpr int32_t MidCode() const { return int32_t{1} << (bits_ - 1); }

    // The N-bit code of 0 V, and the data register value that carries it.
    constexpr int32_t ZeroCode() const { return binary_ ? MidCode() : 0; }
    constexpr int32_t ZeroFrame() const { return binary_ ? 0x8000 : 0; }

    // The data register value for an N-bit code: x 4 on the 14-bit device. A product beyond the
    // 32-bit range is a NumericError.
    int32_t FrameOfCode(int32_t code) const { return Narrow() ? Mul32(code, 4) : code; }
    // The N-bit code of a data register value: / 4 on the 14-bit device, rounded to the nearest,
    // ties to even (a read-back of 32766 is 8192).
    int32_t CodeOfFrame(int32_t frame) const {
        return Narrow() ? RoundToInt32(frame / 4.0) : frame;
    }

    // A code's place from the most negative output up (0..TopCode()), and back: the code itself
    // in offset binary, the code with its top bit flipped in two's complement. Bits above the
    // code are dropped.
    constexpr int32_t OrdinalOfCode(int32_t code) const {
        return (binary_ ? code : code ^ MidCode()) & TopCode();
    }
    constexpr int32_t CodeOfOrdinal(int32_t ordinal) const { return OrdinalOfCode(ordinal); }

    // The 16-bit data register's own coding, whatever the device: its ordinals order register
    // values as the outputs they give.
    constexpr ConverterCoding FrameCoding() const { return ConverterCoding(16, binary_); }

    // Fine gain: a 6-bit two's-complement code in D5..D0 on both devices (not shifted); one step
    // per unit shown on the 16-bit device, four (0.25) on the 14-bit one. `code` as read or
    // written; codes of 32 and above are negative.
    constexpr double FineGainShown(int32_t code) const {
        const int32_t v = SignedField(code, kFineGainBits);
        return Narrow() ? v / 4.0 : v;
    }

    // Offset. The field code is what the register holds on the 16-bit device (8 bits, eight
    // steps per unit shown) and the register / 32 on the 14-bit device (3 bits in D7..D5, one
    // step per unit), rounded to the nearest, ties to even.
    constexpr int OffsetBits() const { return Narrow() ? kOffsetBits14 : kOffsetBits; }
    int32_t OffsetFieldOfRegister(int32_t reg) const {
        return Narrow() ? RoundToInt32(reg / static_cast<double>(kOffsetShift14)) : reg;
    }
    int32_t OffsetRegisterOfField(int32_t field) const {
        return Narrow() ? Mul32(field, kOffsetShift14) : field;
    }
    // The signed offset step count of a field code (-128..127, or -4..3 on the 14-bit device),
    // and the value shown for it (steps / 8 on the 16-bit device).
    constexpr int32_t OffsetSteps(int32_t field) const { return SignedField(field, OffsetBits()); }
    constexpr double OffsetShown(int32_t field) const {
        const int32_t steps = OffsetSteps(field);
        return Narrow() ? steps : steps / 8.0;
    }
    // The range of signed offset steps, and the register value for a step count within it.
    constexpr int32_t LowestOffsetSteps() const { return -(int32_t{1} << (OffsetBits() - 1)); }
    constexpr int32_t HighestOffsetSteps() const { return (int32_t{1} << (OffsetBits() - 1)) - 1; }
    int32_t OffsetRegisterOfSteps(int32_t steps) const {
        return OffsetRegisterOfField(FieldCode(steps, OffsetBits()));
    }

private:
    int bits_;
    bool binary_;
};

}  // namespace tq
