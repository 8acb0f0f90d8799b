#pragma once
// Output protection: each channel's allowed window of output voltages and its ramp, the options
// that bring the outputs to the safe state (every output at 0 V), and the converter's output as
// the register contents and pins make it, so that a change can be judged before it is sent.
//
// With no limits set nothing here is consulted: every action sends what it always has.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/ConverterCoding.h"

namespace tq {

struct ChannelLimits {
    std::optional<double> low;       // the lowest allowed output in volts (at most 0 V)
    std::optional<double> high;      // the highest allowed output in volts (at least 0 V)
    std::optional<double> rampStep;  // the largest single change of the output in volts
    double rampWaitSeconds = 0.0;    // between two steps of a ramp

    bool Active() const { return low || high || rampStep; }
    bool operator==(const ChannelLimits&) const = default;
};

// Options of ours, all off by default: when the outputs go to the safe state by themselves.
struct ProtectionOptions {
    bool safeOnExit = false;        // when the program ends
    bool safeOnLastClient = false;  // when the last remote client disconnects
    bool safeOnBoardBack = false;   // when the board stops responding and then answers again
    bool operator==(const ProtectionOptions&) const = default;
};

inline constexpr double kMaxRampWaitSeconds = 10.0;

// Throws ValueRangeError naming the channel when the limits cannot work: a window that does not
// hold 0 V, a bound beyond the widest range, a step that is not positive, a wait beyond
// kMaxRampWaitSeconds.
void CheckChannelLimits(int16_t channel, const ChannelLimits& limits);

// "DAC B" for 1.
std::string ChannelName(int16_t channel);
// Volts as a user reads them: "3", "-2.5", "1.99997".
std::string LimitVoltsText(double volts);
// "-2 V to 2 V, ramp 0.5 V every 0.1 s"; "no limits" when none is set.
std::string DescribeLimits(const ChannelLimits& limits);
// Why `volts` is refused on the channel ("DAC B: 3 V is above its limit of 2 V"), or nothing
// when it is within the window. `slack` widens the window (half an LSB for a code's rounding).
std::optional<std::string> LimitViolation(int16_t channel, double volts,
                                          const ChannelLimits& limits, double slack = 0.0);
// The same as a window words it after the value: "above DAC B's limit of 2 V", or nothing.
std::optional<std::string> LimitBreach(int16_t channel, double volts, const ChannelLimits& limits);

// --- the converter's output as its registers and pins make it ---

// Register contents as the converter holds them (16-bit frames: a 14-bit code shifted left by 2).
struct ChannelRegisters {
    int32_t input = 0x8000;  // the data (input) register
    int32_t dac = 0x8000;    // the DAC register, which the output follows
    int32_t coarse = 0;
    int32_t fine = 0;
    int32_t offset = 0;
};

struct ConverterModel {
    std::array<ChannelRegisters, 4> channels{};
    bool ldacHigh = true;
    bool clrHigh = true;
    bool rstinHigh = true;
    bool binaryCoding = true;
    // A DAC register the program has not seen set, taken to hold the input register's code.
    std::array<bool, 4> dacAssumed{};

    // The nominal output of a channel, without the amplifier's own gain and offset errors:
    // 0 V while CLR or RSTIN is low.
    double Output(int16_t channel) const;
    // One LSB of the channel's range in volts.
    double LsbVolts(int16_t channel) const;
    // The data code of 0 V in the current coding (16-bit frame).
    int32_t ZeroCode() const { return ConverterCoding(16, binaryCoding).ZeroFrame(); }

    // A register write (address 0..3, 4 for all channels; function writes at 4 CLEAR and 5
    // LOAD), `pulse` when LDAC is pulsed after it.
    void Write(int16_t address, int16_t reg, int32_t value, bool pulse);
    // The DAC registers take the input registers.
    void Load();
};

}  // namespace tq
