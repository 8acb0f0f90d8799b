// The facade's board link: search, connect and the firmware download, and what their results
// mean to a user; and a board that stopped answering and came back.
//
// A cable glitch keeps the converter's registers and the board's pins; a power loss puts every
// register at its power-on state and every pin low (CLR and RSTIN hold the outputs at 0 V until
// the pins are sent again, but the data registers then stand at 0x8000, -10 V in two's
// complement coding). The program tells them apart before any change of its own reaches the
// board: before the first request that could find the board back, it reads back registers
// whose known value differs from their power-on state. Their known value: a glitch. Their
// power-on value: a power loss. When nothing the program knew differs from the power-on state
// it cannot tell, and a power loss changed nothing it relies on: it sends its pins and function
// word again, as after a glitch where either may have failed.

#include <algorithm>
#include <utility>

#include "board/AdapterResults.h"
#include "board/BoardRequests.h"
#include "board/RegisterAccess.h"
#include "board/UsbStuff.h"
#include "instrument/Instrument.h"
#include "instrument/InstrumentCall.h"

namespace tq {
namespace {

// The function register's bits that read back as written; D0 and D1 read their lines' levels.
constexpr int32_t kControlBits = kBitLocalGndOffset | kBitD1Output | kBitD0Output | kBitSdoDisable;

// Bits of Instrument::unrestored_: the registers a restoration writes.
constexpr uint8_t Bit(int16_t reg) {
    return static_cast<uint8_t>(1u << reg);
}

int32_t PowerOnValue(int16_t reg) {
    return reg == kRegData ? ChannelRegisters{}.input : 0;
}

std::optional<int32_t> KnownValue(const ConverterMirror::Channel& k, int16_t reg) {
    switch (reg) {
        case kRegData:
            return k.input ? std::optional<int32_t>(k.registers.input) : std::nullopt;
        case kRegCoarseGain:
            return k.coarse ? std::optional<int32_t>(k.registers.coarse) : std::nullopt;
        case kRegFineGain:
            return k.fine ? std::optional<int32_t>(k.registers.fine) : std::nullopt;
        default:
            return k.offset ? std::optional<int32_t>(k.registers.offset) : std::nullopt;
    }
}

constexpr std::array<int16_t, 4> kProbedRegisters = {kRegData, kRegCoarseGain, kRegFineGain,
                                                     kRegOffset};
constexpr std::array<int16_t, 3> kRestoredRegisters = {kRegCoarseGain, kRegFineGain, kRegOffset};

const char* RegisterWord(int16_t reg) {
    return reg == kRegCoarseGain ? "range" : reg == kRegFineGain ? "fine gain" : "offset";
}

// What a restoration tells: the registers it still owes (bits of Bit()), and why CLR stays low.
std::string PowerLossText(const std::array<uint8_t, 4>& owed, const std::string& clrHeld) {
    std::string missing;
    for (int16_t ch = 0; ch < 4; ++ch) {
        const uint8_t registers = owed[static_cast<std::size_t>(ch)];
        if (registers == 0)
            continue;
        missing += (missing.empty() ? "" : "; ") + ChannelName(ch);
        const char* between = " ";
        for (const int16_t reg : kRestoredRegisters)
            if (registers & Bit(reg)) {
                missing += between;
                missing += RegisterWord(reg);
                between = ", ";
            }
    }
    std::string text =
        "The board lost power: outputs at 0 V, " +
        (missing.empty() ? "ranges and calibration restored" : "not restored: " + missing);
    if (!clrHeld.empty())
        text += "; CLR held low: " + clrHeld;
    return text;
}

// Sets a flag for the scope of a block, also when it throws.
class Raised {
public:
    explicit Raised(bool& flag) : flag_(flag), before_(std::exchange(flag, true)) {}
    ~Raised() { flag_ = before_; }
    Raised(const Raised&) = delete;
    Raised& operator=(const Raised&) = delete;

private:
    bool& flag_;
    bool before_;
};

}  // namespace

int16_t Instrument::ConnectBoard(const std::string& programFolder) {
    CallScope scope(*this);
    return tq::ConnectBoard(state_, requests_.BoardAdapter(), programFolder);
}

std::string Instrument::ExplainResult(int32_t code) {
    return std::string(ExplainRequestFailure(code));
}

std::string Instrument::ExplainConnectResult(int32_t code) const {
    return ExplainConnectionResult(state_, code);
}

bool Instrument::RestorationIncomplete() const {
    for (const uint8_t registers : unrestored_)
        if (registers != 0)
            return true;
    return false;
}

void Instrument::SendPins() {
    const int64_t failures = failures_;
    requests_.SendPinWord();
    pinsUnsent_ = failures_ != failures;
}

void Instrument::TakeRequestResult(int32_t result) {
    if (!rejoining_) {
        ++requestCount_;
        if (result < 0 && firstFailure_ == 0)
            firstFailure_ = result;
    }
    if (result < 0)
        ++failures_;
    // A request that found the board back without a probe before it: there was nothing to tell
    // a power loss by, or the probe found the board away earlier in this call.
    const bool back = result >= 0 && boardAway_ && !rejoining_;
    boardAway_ = result < 0;
    InstrumentChange change{InstrumentChange::Kind::RequestResult};
    change.value = result;
    Notify(change);
    if (back)
        Rejoin(false, true);
}

void Instrument::BeforeRequest(bool changes) {
    if (rejoining_)
        return;
    // One probe a call: while the board stays away, the call's own requests find that out.
    if (boardAway_ && !probeFailedInCall_ && CanTellPowerLoss())
        Rejoin(false, true);
    if (changes)
        ++changesInCall_;
}

bool Instrument::CanTellPowerLoss() const {
    if (lost_)
        return true;
    const ConverterMirror::Knowledge known = mirror_.Known();
    if (known.function && (*known.function & kControlBits) != 0)
        return true;
    for (const ConverterMirror::Channel& k : known.channels)
        for (const int16_t reg : kProbedRegisters)
            if (const auto value = KnownValue(k, reg); value && *value != PowerOnValue(reg))
                return true;
    return false;
}

void Instrument::CheckBoard() {
    if (rejoining_)
        return;
    CallScope scope(*this);
    // After a power loss the first request finds the board away and the next one finds it back.
    for (int attempt = 0; attempt < 2; ++attempt)
        if (Rejoin(true, boardAway_) != BoardFound::Away)
            break;
}

Instrument::BoardFound Instrument::Rejoin(bool contact, bool wasAway) {
    Raised rejoining(rejoining_);
    const BoardFound found = lost_ ? BoardFound::Lost : Probe(contact);
    if (found == BoardFound::Away) {
        // Whatever the last transfer did, the board's state is unclear until a probe answers.
        probeFailedInCall_ = true;
        boardAway_ = true;
        return found;
    }
    returnedAfter_ = requestCount_;
    if (found == BoardFound::Lost) {
        if (!RestoreAfterPowerLoss()) {
            probeFailedInCall_ = true;
            boardAway_ = true;
            return BoardFound::Away;
        }
        // What drove outputs stops there: its next write is refused.
        for (const Activity* activity : activities_.All())
            if (activity->DrivesOutputs() &&
                std::find(cut_.begin(), cut_.end(), activity) == cut_.end())
                cut_.push_back(activity);
        // This call's changes before the loss were undone: the rest of them is not sent.
        if (changesInCall_ > 0 && callDepth_ > 0) {
            holdWrites_ = true;
            if (firstFailure_ == 0)
                firstFailure_ = kResultIoError;
        }
    } else if (wasAway) {
        ResendAfterReturn(found);
    }
    return found;
}

Instrument::BoardFound Instrument::Probe(bool contact) {
    const ConverterMirror::Knowledge known = mirror_.Known();
    const int64_t failures = failures_;
    bool read = false;
    const auto readBack = [&](int16_t address, int16_t reg) -> std::optional<int32_t> {
        read = true;
        const int32_t value = registers_->ReadRegister(address, reg);
        if (failures_ != failures)
            return std::nullopt;
        return value;
    };
    if (known.function && (*known.function & kControlBits) != 0) {
        const int32_t bits = *known.function & kControlBits;
        const auto value = readBack(kFnControlBits, kRegFunction);
        if (!value)
            return BoardFound::Away;
        // All ones: the serial output is off, which it never is at power-on.
        if (*value == kSilentReadBack) {
            if (bits & kBitSdoDisable)
                return BoardFound::Kept;
        } else if ((*value & kControlBits) == bits) {
            return BoardFound::Kept;
        } else if ((*value & kControlBits) == 0) {
            return BoardFound::Lost;
        }
    }
    for (int16_t ch = 0; ch < kChannelCount; ++ch) {
        for (const int16_t reg : kProbedRegisters) {
            const auto expected = KnownValue(known.channels[static_cast<std::size_t>(ch)], reg);
            if (!expected || *expected == PowerOnValue(reg))
                continue;
            const auto value = readBack(ch, reg);
            if (!value)
                return BoardFound::Away;
            if (*value == *expected)
                return BoardFound::Kept;
            if (*value == PowerOnValue(reg))
                return BoardFound::Lost;
        }
    }
    if (contact && !read && !readBack(kFnControlBits, kRegFunction))
        return BoardFound::Away;
    return BoardFound::CannotTell;
}

void Instrument::ResendAfterReturn(BoardFound found) {
    const bool kept = found == BoardFound::Kept;
    // After a glitch the board holds what it held: only a pin or function word that failed while
    // it was away goes out again. When the program cannot tell, both go out.
    const bool pins = !kept || pinsUnsent_;
    const bool function = !kept || !mirror_.Known().function;
    if (pins)
        SendPins();
    if (function) {
        state_.FunctionImage = registers_->ComposeFunctionWord();
        Put(kFnControlBits, kRegFunction, state_.FunctionImage, false);
    }
    InstrumentChange change{InstrumentChange::Kind::BoardBack};
    if (!kept)
        change.text = "The board answered again: its pins and function register were sent again";
    else if (pins || function)
        change.text = std::string("The board answered again and kept its registers: its ") +
                      (pins && function ? "pins and function register were"
                       : pins           ? "pins were"
                                        : "function register was") +
                      " sent again";
    else
        change.text = "The board answered again and kept its registers and pins";
    Notify(change);
}

bool Instrument::RestoreAfterPowerLoss() {
    if (!lost_) {
        lost_ = mirror_.Known();
        for (std::size_t ch = 0; ch < unrestored_.size(); ++ch) {
            unrestored_[ch] = 0;
            for (const int16_t reg : kRestoredRegisters)
                if (const auto value = KnownValue(lost_->channels[ch], reg);
                    value && *value != PowerOnValue(reg))
                    unrestored_[ch] |= Bit(reg);
        }
    }
    const ConverterMirror::Knowledge known = *lost_;
    const std::array<uint8_t, kChannelCount> owed = unrestored_;
    // The instrument's own changes: every view shows them, the one whose call found the loss too.
    const Origin itself(*this, nullptr);
    mirror_.PowerOn();
    const int64_t failures = failures_;
    const auto answering = [&] { return failures_ == failures; };

    // The board's side of a line the converter drives lets go of it; the pins hold every output
    // at 0 V with CLR low while the registers are written.
    if (state_.FnD0Output)
        requests_.SetD0Direction(0);
    if (state_.FnD1Output)
        requests_.SetD1Direction(0);
    const int16_t clr = std::exchange(state_.ClrPin, int16_t{0});
    SendPins();
    state_.ClrPin = clr;
    if (!answering())
        return false;

    std::string held;
    state_.FunctionImage = registers_->ComposeFunctionWord();
    Put(kFnControlBits, kRegFunction, state_.FunctionImage, false);
    for (int16_t ch = 0; ch < kChannelCount && answering(); ++ch)
        for (const int16_t reg : kRestoredRegisters)
            if (answering() && (owed[static_cast<std::size_t>(ch)] & Bit(reg)))
                Put(ch, reg, *KnownValue(known.channels[static_cast<std::size_t>(ch)], reg), false);
    // Each input and DAC register at the 0 V code of the coding the pins now set.
    if (answering())
        Put(kAllChannels, kRegData, Coding().ZeroFrame(), false);
    if (answering())
        Put(kFnLoadAll, kRegFunction, 0, false);
    if (!answering()) {
        if (clr != 0)
            held = "the board stopped answering";
    } else if (clr != 0) {
        ConverterModel before = mirror_.Model();
        before.clrHigh = false;
        const GuardVerdict verdict = guard_.Judge(before, mirror_.Model(), ChangeKind::ToSafeState);
        if (verdict.answer == GuardVerdict::Answer::Refuse) {
            // The program's CLR is low now: raising it again is a change the guard judges.
            held = verdict.why;
            state_.ClrPin = 0;
        } else {
            SendPins();
            if (!answering())
                held = "the board stopped answering";
        }
    }
    if (answering())
        lost_.reset();

    InstrumentChange change{InstrumentChange::Kind::BoardBack};
    change.value = 1;
    change.text = PowerLossText(unrestored_, held);
    Notify(change);
    Notify(InstrumentChange{InstrumentChange::Kind::Pins});
    Notify(InstrumentChange{InstrumentChange::Kind::FunctionFlags});
    return true;
}

}  // namespace tq
