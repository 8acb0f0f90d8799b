#pragma once
// The converter mirror: what the program knows of every register of every channel, each one
// "known" or "not known", with the pins and function flags as the program last sent them. Every
// write and read-back that goes through the instrument updates it; the channel's range, the
// known model and the output guard all read it.

#include <array>
#include <cstdint>
#include <optional>

#include "core/DeviceState.h"
#include "instrument/OutputProtection.h"

namespace tq {

// What a read-back gives when nothing drives the serial output.
inline constexpr int32_t kSilentReadBack = 0xFFFF;

class ConverterMirror {
public:
    // Which of a channel's registers the program has seen written or read back.
    struct Channel {
        ChannelRegisters registers;
        bool input = false, dac = false, coarse = false, fine = false, offset = false;
        bool AllRead() const { return input && coarse && fine && offset; }
    };

    // The pins and function flags are those of the program's state.
    explicit ConverterMirror(const DeviceState& state) : state_(state) {}

    // A read-back of `reg` at `address` (addresses 4 to 7 answer channel A); a silent read-back
    // teaches nothing.
    void ReadBack(int16_t address, int16_t reg, int32_t value);
    // A write as it went out, `pulse` when LDAC was pulsed after it (function writes at 4 are
    // CLEAR, at 5 LOAD).
    void Written(int16_t address, int16_t reg, int32_t value, bool pulse);
    // A write whose request failed: what it would have changed is no longer known.
    void Unsure(int16_t address, int16_t reg);

    // What the program knows of the registers, to be compared or restored after the board was
    // away; the function register's control bits as last written or read back, when known.
    struct Knowledge {
        std::array<Channel, 4> channels{};
        std::optional<int32_t> function;
    };
    Knowledge Known() const { return {channels_, function_}; }
    // Every register known at the converter's power-on state (the board lost power).
    void PowerOn();

    const Channel& At(int16_t channel) const {
        return channels_[static_cast<std::size_t>(channel)];
    }
    // Every channel's readable registers are known.
    bool AllRead() const;
    // The coarse gain code the program knows the channel holds, or nothing.
    std::optional<int32_t> RangeCode(int16_t channel) const;
    // The converter as far as it is known, with the pins as sent: a DAC register the program has
    // not seen set is taken to hold the input register's code, as after any LOAD.
    ConverterModel Model() const;

private:
    const DeviceState& state_;
    std::array<Channel, 4> channels_{};
    std::optional<int32_t> function_;
};

}  // namespace tq
