#pragma once
// The device in use (its profile, core/ConverterProfile.h) with the board's data coding, and
// every rule that follows from them: the top code, the code of 0 V, the 14-bit frame (the TQ2404
// takes its code in D15..D2 of the 16-bit data register and its 3-bit offset in D7..D5), a code's
// ordinal (its place from the most negative output up) and the fine gain and offset values the
// windows show for register codes. The typed-value entries themselves (FineGainToCode,
// OffsetToCode) are in core/Encoding.h.

#include <cstdint>

#include "core/CheckedInt.h"
#include "core/ConverterProfile.h"
#include "core/Fields.h"

namespace tq {

class ConverterCoding {
public:
    // The device of `resolution` (ProfileOf: an unknown one counts as the default device).
    // `binaryCoding`: offset binary; otherwise two's complement.
    constexpr explicit ConverterCoding(int resolution, bool binaryCoding = false)
        : profile_(&ProfileOf(resolution)), bits_(profile_->resolution), binary_(binaryCoding) {}

    constexpr const ConverterProfile& Profile() const { return *profile_; }
    constexpr int Bits() const { return bits_; }
    // Narrower than the 16-bit data register: codes travel in its top bits.
    constexpr bool Narrow() const { return bits_ < kFrameBits; }
    constexpr bool Binary() const { return binary_; }

    // 2^N codes, 0 to TopCode(); the code of mid-scale is MidCode().
    constexpr int32_t CodeCount() const { return int32_t{1} << bits_; }
    constexpr int32_t TopCode() const { return CodeCount() - 1; }
    constexpr int32_t MidCode() const { return int32_t{1} << (bits_ - 1); }

    // The N-bit code of 0 V, and the data register value that carries it.
    constexpr int32_t ZeroCode() const { return binary_ ? MidCode() : 0; }
    constexpr int32_t ZeroFrame() const { return binary_ ? int32_t{1} << (kFrameBits - 1) : 0; }

    // The data register value for an N-bit code: x 4 on the 14-bit device. A product beyond the
    // 32-bit range is a NumericError.
    int32_t FrameOfCode(int32_t code) const { return Narrow() ? Mul32(code, FrameScale()) : code; }
    // The N-bit code of a data register value: / 4 on the 14-bit device, rounded to the nearest,
    // ties to even (a read-back of 32766 is 8192).
    int32_t CodeOfFrame(int32_t frame) const {
        return Narrow() ? RoundToInt32(frame / static_cast<double>(FrameScale())) : frame;
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
    constexpr ConverterCoding FrameCoding() const { return ConverterCoding(kFrameBits, binary_); }

    // Fine gain: a 6-bit two's-complement code in D5..D0 on both devices (not shifted); one step
    // per unit shown on the 16-bit device, four (0.25) on the 14-bit one. `code` as read or
    // written; codes of 32 and above are negative.
    constexpr double FineGainShown(int32_t code) const {
        const SignedSteps& f = profile_->fineGain;
        const int32_t v = SignedField(code, f.bits);
        return f.stepsPerUnit == 1 ? v : static_cast<double>(v) / f.stepsPerUnit;
    }

    // Offset. The field code is what the register holds on the 16-bit device (8 bits, eight
    // steps per unit shown) and the register / 32 on the 14-bit device (3 bits in D7..D5, one
    // step per unit), rounded to the nearest, ties to even.
    constexpr int OffsetBits() const { return profile_->offset.bits; }
    int32_t OffsetFieldOfRegister(int32_t reg) const {
        const int32_t scale = profile_->offset.scale;
        return scale == 1 ? reg : RoundToInt32(reg / static_cast<double>(scale));
    }
    int32_t OffsetRegisterOfField(int32_t field) const {
        const int32_t scale = profile_->offset.scale;
        return scale == 1 ? field : Mul32(field, scale);
    }
    // The signed offset step count of a field code (-128..127, or -4..3 on the 14-bit device),
    // and the value shown for it (steps / 8 on the 16-bit device).
    constexpr int32_t OffsetSteps(int32_t field) const { return SignedField(field, OffsetBits()); }
    constexpr double OffsetShown(int32_t field) const {
        const int32_t steps = OffsetSteps(field);
        const int perUnit = profile_->offset.stepsPerUnit;
        return perUnit == 1 ? steps : static_cast<double>(steps) / perUnit;
    }
    // The range of signed offset steps, and the register value for a step count within it.
    constexpr int32_t LowestOffsetSteps() const { return profile_->offset.Lowest(); }
    constexpr int32_t HighestOffsetSteps() const { return profile_->offset.Highest(); }
    int32_t OffsetRegisterOfSteps(int32_t steps) const {
        return OffsetRegisterOfField(FieldCode(steps, OffsetBits()));
    }

private:
    // The data register's width, which a narrower device's codes fill from the top.
    static constexpr int kFrameBits = 16;
    constexpr int32_t FrameScale() const { return int32_t{1} << (kFrameBits - bits_); }

    const ConverterProfile* profile_;
    int bits_;
    bool binary_;
};

}  // namespace tq
