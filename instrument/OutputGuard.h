#pragma once
// The output guard: each channel's limits, and the one judgement every path that can move an
// output asks for before anything is sent. It compares the converter before and after the change
// and answers send, ramp or refuse (with the reason a user reads).

#include <array>
#include <cstdint>
#include <string>

#include "instrument/OutputProtection.h"

namespace tq {

// How a change may reach its outputs.
enum class ChangeKind {
    AtOnce,       // it goes out as one step or not at all (pins, raw words, a run's step)
    Rampable,     // a step beyond a ramp step may go out as a ramp (data writes, LOAD, moves)
    ToSafeState,  // it may move outputs to 0 V at once whatever their ramp (CLEAR, CLR, RSTIN)
};

struct GuardVerdict {
    enum class Answer { Send, Ramp, Refuse };
    Answer answer = Answer::Send;
    int16_t channel = -1;  // Refuse: the first channel refused
    std::string why;       // Refuse: "DAC B: 3 V is above its limit of 2 V"
};

class OutputGuard {
public:
    using Limits = std::array<ChannelLimits, 4>;

    // Throws ValueRangeError (CheckChannelLimits) and keeps the old limits when they cannot work.
    void SetLimits(int16_t channel, const ChannelLimits& limits);
    const ChannelLimits& LimitsOf(int16_t channel) const {
        return limits_[static_cast<std::size_t>(channel)];
    }
    // Any channel has a limit or a ramp: with none, nothing is judged and nothing read for it.
    bool Active() const;
    // Any channel has a ramp step.
    bool Ramps() const;

    // The change from `before` to `after`.
    GuardVerdict Judge(const ConverterModel& before, const ConverterModel& after,
                       ChangeKind kind) const;
    // A whole planned configuration, against these limits and `extra` (a setup's own).
    GuardVerdict JudgePlanned(const ConverterModel& planned, const Limits* extra = nullptr) const;
    // A voltage as typed for `channel` (ALL DACs: every channel): the user reads the voltage
    // asked for in a refusal, not its code's rounding.
    GuardVerdict JudgeTyped(int16_t channel, double volts) const;

private:
    Limits limits_{};
};

}  // namespace tq
