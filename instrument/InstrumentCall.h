#pragma once
// The call scope that the instrument's own files share: one user action's requests are counted
// however deeply its calls nest, and the outermost call throws when one of them failed, after
// its whole sequence was sent.

#include <string>
#include <utility>

#include "board/AdapterResults.h"
#include "instrument/Instrument.h"
#include "instrument/OutputGuard.h"

namespace tq {

// Why an activity that drove outputs ends when the board is found to have lost power.
inline constexpr const char* kPowerLossEnding =
    "the board lost power and every output was brought to 0 V";

inline std::string RequestFailureText(int32_t code) {
    const std::string_view why = ExplainRequestFailure(code);
    std::string text = "board request failed (" + std::to_string(code) + ")";
    if (!why.empty())
        text += ": " + std::string(why);
    return text;
}

// Counts the requests of one call, however deeply calls nest; the outermost one throws when a
// request failed, after its whole sequence was sent.
class Instrument::CallScope {
public:
    explicit CallScope(Instrument& instrument) : instrument_(instrument) {
        if (instrument_.callDepth_++ == 0) {
            instrument_.firstFailure_ = 0;
            instrument_.changesInCall_ = 0;
            instrument_.probeFailedInCall_ = false;
            instrument_.holdWrites_ = false;
        }
    }
    ~CallScope() { --instrument_.callDepth_; }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    void Done() {
        if (instrument_.callDepth_ == 1 && instrument_.firstFailure_ < 0) {
            const int32_t code = std::exchange(instrument_.firstFailure_, 0);
            throw RequestError(code, RequestFailureText(code));
        }
    }

private:
    Instrument& instrument_;
};

// The guard's judgement, shared by every write path.
template <typename Change>
std::optional<ConverterModel> Instrument::Admit(ChangeKind kind, Change&& change) {
    if (!guard_.Active())
        return std::nullopt;
    ConverterModel after = KnownModel(true);
    change(after);
    GuardVerdict verdict = guard_.Judge(mirror_.Model(), after, kind);
    switch (verdict.answer) {
        case GuardVerdict::Answer::Refuse:
            Refuse(verdict.channel, verdict.why);
        case GuardVerdict::Answer::Ramp:
            return after;
        case GuardVerdict::Answer::Send:
            break;
    }
    return std::nullopt;
}

}  // namespace tq
