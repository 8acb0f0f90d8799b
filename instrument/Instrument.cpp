#include "instrument/Instrument.h"
#include "instrument/InstrumentCall.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <utility>

#include "board/AdapterResults.h"
#include "board/BoardRequests.h"
#include "board/RegisterAccess.h"
#include "board/UsbStuff.h"
#include "core/CheckedInt.h"
#include "core/CommandWord.h"
#include "core/Encoding.h"
#include "core/Fields.h"
#include "core/Printed.h"
#include "instrument/Ramp.h"

namespace tq {
namespace {

std::string VoltsText(float volts) {
    return Printed("%g", static_cast<double>(volts));
}

int16_t DeviceState::*PinField(Pin pin) {
    switch (pin) {
        case Pin::Ldac:
            return &DeviceState::LdacPin;
        case Pin::Clr:
            return &DeviceState::ClrPin;
        case Pin::Rstin:
            return &DeviceState::RstinPin;
        case Pin::BinaryCoding:
            return &DeviceState::BinaryCoding;
        case Pin::DriveD0:
            return &DeviceState::DriveD0;
        case Pin::DriveD1:
            return &DeviceState::DriveD1;
    }
    return &DeviceState::LdacPin;
}

int16_t DeviceState::*FlagField(FunctionFlag flag) {
    switch (flag) {
        case FunctionFlag::LocalGndOffset:
            return &DeviceState::FnLocalGndOffset;
        case FunctionFlag::D1Output:
            return &DeviceState::FnD1Output;
        case FunctionFlag::D1High:
            return &DeviceState::FnD1High;
        case FunctionFlag::D0Output:
            return &DeviceState::FnD0Output;
        case FunctionFlag::D0High:
            return &DeviceState::FnD0High;
        case FunctionFlag::SdoDisable:
            return &DeviceState::FnSdoDisable;
    }
    return &DeviceState::FnSdoDisable;
}

}  // namespace

// What the register routines ask of their caller: the pulse setting and the R/W cell.
class Instrument::Hooks : public RegisterHooks {
public:
    explicit Hooks(Instrument& instrument) : instrument_(instrument) {}
    bool PulseAfterDataWrite() const override { return instrument_.PulseAfterDataWrite(); }
    void ShowReadWrite(int16_t readWrite) override { instrument_.ShowReadWrite(readWrite); }
    void WordSent(int16_t readWrite, int16_t regSelect, int16_t address, int32_t data) override {
        InstrumentChange change{InstrumentChange::Kind::Word};
        change.readBack = readWrite != 0;
        change.reg = regSelect;
        change.address = address;
        change.value = data;
        instrument_.Notify(change);
    }

private:
    Instrument& instrument_;
};

Instrument::Instrument(DeviceState& state, BoardRequests& requests, BoardIdentity identity)
    : state_(state),
      requests_(requests),
      identity_(std::move(identity)),
      hooks_(std::make_unique<Hooks>(*this)),
      registers_(std::make_unique<RegisterAccess>(state, requests)),
      mirror_(state) {
    registers_->SetHooks(hooks_.get());
    observer_ = requests_.AddObserver([this](int32_t result) { TakeRequestResult(result); });
    requests_.SetGate([this](bool changes) { BeforeRequest(changes); });
}

Instrument::~Instrument() {
    requests_.RemoveObserver(observer_);
    requests_.SetGate(nullptr);
}

int Instrument::AddListener(Listener listener) {
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void Instrument::RemoveListener(int id) {
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

Instrument::Origin::Origin(Instrument& instrument, const void* origin)
    : instrument_(instrument), previous_(instrument.origin_) {
    instrument_.origin_ = origin;
}

Instrument::Origin::~Origin() {
    instrument_.origin_ = previous_;
}

void Instrument::Notify(InstrumentChange change) {
    change.origin = origin_;
    // A listener may remove itself; walk a copy.
    const auto listeners = listeners_;
    for (const auto& [id, listener] : listeners)
        listener(change);
}

void Instrument::ShowReadWrite(int16_t readWrite) {
    InstrumentChange change{InstrumentChange::Kind::ReadWrite};
    change.value = readWrite;
    Notify(change);
}

void Instrument::CheckChannel(int16_t channel, bool allowAll) {
    const int16_t last = allowAll ? kAllChannels : kChannelCount - 1;
    if (channel < 0 || channel > last)
        throw ValueRangeError(
            "no such channel: " + std::to_string(channel) +
            (allowAll ? " (DAC A to D are 0 to 3, ALL DACs 4)" : " (DAC A to D are 0 to 3)"));
}

void Instrument::SetResolution(int16_t bits) {
    if (!FindProfile(bits))
        throw ValueRangeError("the resolution is " + ResolutionsText() + " bits, not " +
                              std::to_string(bits));
    state_.Resolution = bits;
    InstrumentChange change{InstrumentChange::Kind::Resolution};
    change.value = bits;
    Notify(change);
}

void Instrument::SetPulseAfterDataWrite(bool on) {
    pulseAfterDataWrite_ = on;
    InstrumentChange change{InstrumentChange::Kind::PulseAfterDataWrite};
    change.value = on ? 1 : 0;
    Notify(change);
    // While writes pulse LDAC the pin itself stays high.
    if (on && state_.LdacPin == 0)
        SetPin(Pin::Ldac, true);
}

void Instrument::CheckDigitalLevel(int line) const {
    if (!FunctionFlagValue(line == 0 ? FunctionFlag::D0Output : FunctionFlag::D1Output))
        throw InstrumentError("D" + std::to_string(line) +
                              " is an input: the converter sets its level only as an output");
}

void Instrument::CheckDigitalDrive(int line) const {
    if (FunctionFlagValue(line == 0 ? FunctionFlag::D0Output : FunctionFlag::D1Output))
        throw InstrumentError("D" + std::to_string(line) +
                              " is an output of the converter: the board drives it only as an "
                              "input");
}

// --- the one write path ---

void Instrument::CheckClaims(int16_t address, int16_t reg) {
    const auto refusal = claims_.Check(address, reg, origin_);
    if (!refusal)
        return;
    // The windows swallow instrument errors in their handlers; this lets one of them say why.
    InstrumentChange change{InstrumentChange::Kind::Refused};
    change.address = refusal->channel;
    change.text = refusal->why;
    Notify(change);
    throw InstrumentError(refusal->why);
}

void Instrument::Refuse(int16_t channel, const std::string& why) {
    InstrumentChange change{InstrumentChange::Kind::Refused};
    change.address = channel;
    change.value = 1;
    change.text = why;
    Notify(change);
    throw LimitError(why);
}

void Instrument::Send(int16_t address, int16_t reg, int32_t data, bool pulse) {
    // The board lost power after this call's first changes: every output was brought to 0 V,
    // and the rest of the change would leave them somewhere else.
    if (holdWrites_)
        return;
    if (std::find(cut_.begin(), cut_.end(), origin_) != cut_.end())
        throw InstrumentError(kPowerLossEnding);
    Put(address, reg, data, pulse);
}

void Instrument::Put(int16_t address, int16_t reg, int32_t data, bool pulse) {
    const int64_t failures = failures_;
    registers_->WriteRegister(address, reg, data, pulse);
    if (failures_ != failures) {
        mirror_.Unsure(address, reg);
    } else {
        mirror_.Written(address, reg, data, pulse);
        if (reg >= kRegCoarseGain && reg <= kRegOffset)
            for (int16_t ch = 0; ch < kChannelCount; ++ch)
                if (address == ch || address == kAllChannels)
                    unrestored_[static_cast<std::size_t>(ch)] &= static_cast<uint8_t>(~(1u << reg));
    }
    InstrumentChange change{InstrumentChange::Kind::Register};
    change.address = address;
    change.reg = reg;
    change.value = data;
    Notify(change);
}

void Instrument::WriteRegister(int16_t address, int16_t reg, int32_t data) {
    CheckClaims(address, reg);
    if (heldBack_ && reg >= kRegData && reg <= kRegOffset) {
        heldBack_->targets.emplace_back(address, reg);
        heldBack_->data.push_back(data);
        return;
    }
    CallScope scope(*this);
    const bool pulse = reg != kRegFunction && pulseAfterDataWrite_;
    const bool clear = reg == kRegFunction && address == kFnClearAll;
    const bool load = reg == kRegFunction && address == kFnLoadAll;
    if ((reg >= kRegData && reg <= kRegOffset) || clear || load) {
        const ChangeKind kind = reg == kRegData || load ? ChangeKind::Rampable
                                : clear                 ? ChangeKind::ToSafeState
                                                        : ChangeKind::AtOnce;
        const auto ramp =
            Admit(kind, [&](ConverterModel& after) { after.Write(address, reg, data, pulse); });
        if (ramp) {
            StartRamp(*ramp);
            scope.Done();
            return;
        }
    }
    Send(address, reg, data, pulse);
    scope.Done();
}

int32_t Instrument::ReadRegister(int16_t address, int16_t reg) {
    CallScope scope(*this);
    const int32_t failureBefore = firstFailure_;
    const int64_t start = requestCount_;
    int64_t failures = failures_;
    int32_t value = registers_->ReadRegister(address, reg);
    // A board that came back during the read answered the program's own requests, not the read:
    // it is taken again, and only the second read's outcome counts.
    if (returnedAfter_ > start) {
        firstFailure_ = failureBefore;
        failures = failures_;
        value = registers_->ReadRegister(address, reg);
    }
    if (failures_ == failures)
        mirror_.ReadBack(address, reg, value);
    InstrumentChange change{InstrumentChange::Kind::Register};
    change.address = address;
    change.reg = reg;
    change.value = value;
    change.readBack = true;
    Notify(change);
    scope.Done();
    return value;
}

int32_t Instrument::WriteDataRegister(int16_t address, int32_t code) {
    const int32_t written = Coding().FrameOfCode(code);
    WriteRegister(address, kRegData, written);
    return written;
}

VoltageSetting Instrument::SetChannelVoltage(int16_t address, float volts, float rangeForCode3,
                                             bool refuseBeyondRange) {
    CheckChannel(address, true);
    // Refused before the range read-back, so that nothing at all is sent.
    CheckClaims(address, kRegData);
    CallScope scope(*this);
    // The range is that of the channel; "ALL DACs" goes by DAC A's.
    const int16_t rangeChannel = address < kAllChannels ? address : 0;
    const int16_t coarse = Check16(ReadRegister(rangeChannel, kRegCoarseGain));
    const float range = RangeVoltsForCode(coarse).value_or(rangeForCode3);
    if (refuseBeyondRange && !(std::fabs(volts) <= range))
        throw ValueRangeError(VoltsText(volts) + " V is outside the channel's range, -" +
                              VoltsText(range) + " V to " + VoltsText(range) + " V");
    const LimitedVolts limited = VoltsToCode(volts, state_.Resolution, state_.BinaryCoding, range);
    // The voltage asked for is what the user reads in a refusal, not its code's rounding.
    if (const GuardVerdict verdict = guard_.JudgeTyped(address, limited.volts);
        verdict.answer == GuardVerdict::Answer::Refuse)
        Refuse(verdict.channel, verdict.why);
    WriteDataRegister(address, limited.code);
    scope.Done();
    return {limited.volts, limited.code, range};
}

float Instrument::ChannelVoltage(int16_t channel) {
    CallScope scope(*this);
    const int32_t code = DataCode(channel);
    const int32_t coarse = RangeCode(channel);
    scope.Done();
    const float range = FullScaleOfCode(coarse);
    return CodeToVolts(code, state_.Resolution, range, state_.BinaryCoding);
}

void Instrument::SetDataCode(int16_t address, int32_t code) {
    CheckChannel(address, true);
    const int32_t top = Coding().TopCode();
    if (code < 0 || code > top)
        throw ValueRangeError("data code " + std::to_string(code) + " is outside 0 to " +
                              std::to_string(top));
    CallScope scope(*this);
    WriteDataRegister(address, code);
    scope.Done();
}

int32_t Instrument::DataCode(int16_t channel) {
    CheckChannel(channel, false);
    CallScope scope(*this);
    const int32_t raw = ReadRegister(channel, kRegData);
    scope.Done();
    return Coding().CodeOfFrame(raw);
}

void Instrument::SetRangeCode(int16_t address, int32_t code) {
    CheckChannel(address, true);
    if (!RangeVoltsForCode(code)) {
        std::string codes;
        const auto& ranges = Profile().ranges;
        for (std::size_t i = 0; i < ranges.size(); ++i)
            codes += (i == 0                   ? ""
                      : i + 1 == ranges.size() ? " or "
                                               : ", ") +
                     std::to_string(ranges[i].code);
        throw ValueRangeError("coarse gain code " + std::to_string(code) + " is not a range (" +
                              codes + ")");
    }
    CallScope scope(*this);
    WriteRegister(address, kRegCoarseGain, code);
    scope.Done();
}

int32_t Instrument::RangeCode(int16_t channel) {
    CheckChannel(channel, false);
    CallScope scope(*this);
    const int32_t code = ReadRegister(channel, kRegCoarseGain) & 3;
    scope.Done();
    return code;
}

std::optional<int32_t> Instrument::KnownRangeCode(int16_t channel) const {
    return mirror_.RangeCode(channel);
}

float Instrument::ChannelRangeVolts(int16_t channel) {
    const int16_t rangeChannel = channel >= 0 && channel < kChannelCount ? channel : 0;
    std::optional<int32_t> code = KnownRangeCode(rangeChannel);
    if (!code)
        code = RangeCode(rangeChannel);
    // Code 3 acts as code 0.
    return FullScaleOfCode(*code);
}

void Instrument::SetFineGain(int16_t address, int32_t value) {
    CheckChannel(address, true);
    const SignedSteps& fine = Profile().fineGain;
    if (value < fine.Lowest() || value > fine.Highest())
        throw ValueRangeError("fine gain " + std::to_string(value) + " is outside " +
                              std::to_string(fine.Lowest()) + " to " +
                              std::to_string(fine.Highest()));
    CallScope scope(*this);
    WriteRegister(address, kRegFineGain, FieldCode(value, fine.bits));
    scope.Done();
}

int32_t Instrument::FineGain(int16_t channel) {
    CheckChannel(channel, false);
    CallScope scope(*this);
    const int32_t code = ReadRegister(channel, kRegFineGain);
    scope.Done();
    const int bits = Profile().fineGain.bits;
    return SignedField(code & ((int32_t{1} << bits) - 1), bits);
}

void Instrument::SetOffset(int16_t address, int32_t value) {
    CheckChannel(address, true);
    const ConverterCoding coding = Coding();
    const int32_t low = coding.LowestOffsetSteps();
    const int32_t high = coding.HighestOffsetSteps();
    if (value < low || value > high)
        throw ValueRangeError("offset " + std::to_string(value) + " is outside " +
                              std::to_string(low) + " to " + std::to_string(high));
    CallScope scope(*this);
    WriteRegister(address, kRegOffset, coding.OffsetRegisterOfSteps(value));
    scope.Done();
}

int32_t Instrument::Offset(int16_t channel) {
    CheckChannel(channel, false);
    CallScope scope(*this);
    const int32_t code = ReadRegister(channel, kRegOffset) & 0xFF;
    scope.Done();
    return Coding().OffsetSteps(Coding().OffsetFieldOfRegister(code));
}

void Instrument::WriteFunctionFlags() {
    CallScope scope(*this);
    state_.FunctionImage = registers_->ComposeFunctionWord();
    WriteRegister(kFnControlBits, kRegFunction, state_.FunctionImage);
    Notify(InstrumentChange{InstrumentChange::Kind::FunctionFlags});
    scope.Done();
}

void Instrument::SetFunctionFlag(FunctionFlag flag, bool on) {
    state_.*FlagField(flag) = on ? 1 : 0;
    WriteFunctionFlags();
}

bool Instrument::FunctionFlagValue(FunctionFlag flag) const {
    return state_.*FlagField(flag) != 0;
}

void Instrument::RunFunctionBitOperation(const FunctionBitOperation& operation) {
    CallScope scope(*this);
    int32_t image = ReadRegister(kFnControlBits, kRegFunction);
    image = operation.set ? (image | operation.mask) : (image & ~operation.mask);
    state_.FunctionImage = image;
    WriteRegister(kFnControlBits, kRegFunction, state_.FunctionImage);
    scope.Done();
}

void Instrument::NoOperation(int16_t reg) {
    WriteRegister(kFnNoOperation, reg, 0);
}

void Instrument::ClearAllChannels() {
    WriteRegister(kFnClearAll, kRegFunction, 0);
}

void Instrument::LoadAllChannels() {
    WriteRegister(kFnLoadAll, kRegFunction, 0);
}

void Instrument::SetPin(Pin pin, bool high) {
    if (pin == Pin::Ldac && !high && pulseAfterDataWrite_)
        throw InstrumentError(
            "LDAC stays high while data writes pulse it; turn Pulse After Data Write off first");
    CallScope scope(*this);
    if (pin == Pin::Ldac || pin == Pin::Clr || pin == Pin::Rstin || pin == Pin::BinaryCoding) {
        const bool toZero = !high && (pin == Pin::Clr || pin == Pin::Rstin);
        Admit(toZero ? ChangeKind::ToSafeState : ChangeKind::AtOnce, [&](ConverterModel& after) {
            const bool ldacFalls = after.ldacHigh && pin == Pin::Ldac && !high;
            switch (pin) {
                case Pin::Ldac:
                    after.ldacHigh = high;
                    break;
                case Pin::Clr:
                    after.clrHigh = high;
                    break;
                case Pin::Rstin:
                    after.rstinHigh = high;
                    break;
                default:
                    after.binaryCoding = high;
                    break;
            }
            if (ldacFalls)
                after.Load();
        });
    }
    // LDAC falling loads every DAC register from its input register.
    if (pin == Pin::Ldac && !high && state_.LdacPin != 0)
        mirror_.Written(kFnLoadAll, kRegFunction, 0, false);
    state_.*PinField(pin) = high ? 1 : 0;
    SendPins();
    Notify(InstrumentChange{InstrumentChange::Kind::Pins});
    scope.Done();
}

bool Instrument::PinValue(Pin pin) const {
    return state_.*PinField(pin) != 0;
}

void Instrument::SetD0Output(bool output) {
    CallScope scope(*this);
    requests_.SetD0Direction(output ? 0 : 1);
    InstrumentChange change{InstrumentChange::Kind::D0Direction};
    change.value = output ? 1 : 0;
    Notify(change);
    SetFunctionFlag(FunctionFlag::D0Output, output);
    scope.Done();
}

void Instrument::SetD1Output(bool output) {
    CallScope scope(*this);
    requests_.SetD1Direction(output ? 0 : 1);
    InstrumentChange change{InstrumentChange::Kind::D1Direction};
    change.value = output ? 1 : 0;
    Notify(change);
    SetFunctionFlag(FunctionFlag::D1Output, output);
    scope.Done();
}

int32_t Instrument::ReadFunctionRegister() {
    CallScope scope(*this);
    DeviceState& s = state_;
    const int32_t first = ReadRegister(kFnControlBits, kRegFunction);
    // FFFF is what a silent serial output reads as, not the register: writing it back would make
    // D0 and D1 outputs behind the switches' backs. Enable SDO on the word the flags make.
    const int32_t basis = first == kSilentReadBack ? registers_->ComposeFunctionWord() : first;
    s.FunctionImage = basis & ~kBitSdoDisable;
    WriteRegister(kFnControlBits, kRegFunction, s.FunctionImage);
    s.FunctionImage = ReadRegister(kFnControlBits, kRegFunction);
    s.DriveD1 = (s.FunctionImage & kBitD1High) ? 1 : 0;
    s.DriveD0 = (s.FunctionImage & kBitD0High) ? 1 : 0;
    s.FnSdoDisable = 0;
    Notify(InstrumentChange{InstrumentChange::Kind::FunctionFlags});
    Notify(InstrumentChange{InstrumentChange::Kind::Pins});
    scope.Done();
    return s.FunctionImage;
}

int32_t Instrument::AdoptFunctionRegister() {
    CallScope scope(*this);
    const int32_t value = ReadRegister(kFnControlBits, kRegFunction);
    DeviceState& s = state_;
    const int32_t image = value == kSilentReadBack ? 0 : (value & kFunctionBitsMask);
    s.FunctionImage = image;
    s.FnLocalGndOffset = (image & kBitLocalGndOffset) ? 1 : 0;
    s.FnD1Output = (image & kBitD1Output) ? 1 : 0;
    s.FnD1High = (image & kBitD1High) ? 1 : 0;
    s.FnD0Output = (image & kBitD0Output) ? 1 : 0;
    s.FnD0High = (image & kBitD0High) ? 1 : 0;
    s.FnSdoDisable = (image & kBitSdoDisable) ? 1 : 0;
    Notify(InstrumentChange{InstrumentChange::Kind::FunctionFlags});
    scope.Done();
    return image;
}

// --- channel claims and activities ---

void Instrument::ClaimChannels(const void* owner, const std::vector<int16_t>& channels,
                               const std::string& ownerName) {
    claims_.Claim(owner, channels, ownerName,
                  " is driven by " + ownerName + "; stop it to change the output");
}

void Instrument::ReleaseChannels(const void* owner) {
    claims_.Release(owner);
}

void Instrument::BeginActivity(Activity& activity, int64_t total) {
    ClaimChannels(&activity, activity.Channels(), activity.Name());
    Announce(activity, total);
}

void Instrument::Announce(Activity& activity, int64_t total) {
    // A new activity writes, whatever the power loss cut before (its address may be an old one's).
    std::erase(cut_, static_cast<const void*>(&activity));
    activity.starter_ = origin_;
    activity.done_ = 0;
    activity.total_ = total;
    activity.progress_.clear();
    activity.outcome_ = {};
    activities_.Add(activity);
    InstrumentChange change{InstrumentChange::Kind::Activity};
    change.value = 1;
    change.activity = &activity;
    Notify(change);
}

void Instrument::AdvanceActivity(Activity& activity, int64_t done, int64_t total,
                                 std::string progress) {
    if (!activities_.Running(activity))
        return;
    activity.done_ = done;
    activity.total_ = total;
    activity.progress_ = std::move(progress);
    InstrumentChange change{InstrumentChange::Kind::Activity};
    change.value = 2;
    change.activity = &activity;
    Notify(change);
}

void Instrument::EndActivity(Activity& activity, ActivityOutcome outcome) {
    claims_.Release(&activity);
    if (!activities_.Remove(activity))
        return;
    activity.outcome_ = std::move(outcome);
    InstrumentChange change{InstrumentChange::Kind::Activity};
    change.value = 0;
    change.text = activity.outcome_.ending == ActivityOutcome::Ending::Finished
                      ? std::string()
                      : activity.outcome_.why;
    change.activity = &activity;
    Notify(change);
}

void Instrument::StopActivitiesOnOutputs(const StopReason& reason) {
    // A stop may end others (a run's end releases what it held): each is looked at as it is now.
    const std::vector<Activity*> running = activities_.All();
    for (Activity* activity : running) {
        const auto& now = activities_.All();
        if (std::find(now.begin(), now.end(), activity) != now.end() && activity->DrivesOutputs())
            activity->Stop(reason);
    }
}

void Instrument::WriteChannelsTogether(const std::vector<std::pair<int16_t, int32_t>>& codes) {
    CheckCodesTogether(codes);
    CallScope scope(*this);
    Admit(ChangeKind::AtOnce, [&](ConverterModel& after) {
        for (const auto& [channel, code] : codes)
            after.Write(channel, kRegData, Coding().FrameOfCode(code), false);
        after.Load();
    });
    SendCodesTogether(codes);
    scope.Done();
}

void Instrument::MoveChannelsTogether(const std::vector<std::pair<int16_t, int32_t>>& codes) {
    CheckCodesTogether(codes);
    CallScope scope(*this);
    const auto ramp = Admit(ChangeKind::Rampable, [&](ConverterModel& after) {
        for (const auto& [channel, code] : codes)
            after.Write(channel, kRegData, Coding().FrameOfCode(code), false);
        after.Load();
    });
    if (ramp)
        StartRamp(*ramp);
    else
        SendCodesTogether(codes);
    scope.Done();
}

void Instrument::CheckCodesTogether(const std::vector<std::pair<int16_t, int32_t>>& codes) {
    const int32_t top = Coding().TopCode();
    for (const auto& [channel, code] : codes) {
        CheckChannel(channel, false);
        CheckClaims(channel, kRegData);
        if (code < 0 || code > top)
            throw ValueRangeError("data code " + std::to_string(code) + " is outside 0 to " +
                                  std::to_string(top));
    }
}

// The whole change was judged at once: its single writes go out without a pulse, then one LOAD.
void Instrument::SendCodesTogether(const std::vector<std::pair<int16_t, int32_t>>& codes) {
    CallScope scope(*this);
    for (const auto& [channel, code] : codes)
        Send(channel, kRegData, Coding().FrameOfCode(code), false);
    Send(kFnLoadAll, kRegFunction, 0, false);
    scope.Done();
}

// --- output protection ---

void Instrument::SetLimits(int16_t channel, const ChannelLimits& limits) {
    if (heldBack_) {
        CheckChannel(channel, false);
        CheckChannelLimits(channel, limits);
        heldBack_->limits.emplace_back(channel, limits);
        return;
    }
    guard_.SetLimits(channel, limits);
    InstrumentChange change{InstrumentChange::Kind::Protection};
    change.address = channel;
    Notify(change);
}

const ChannelLimits& Instrument::Limits(int16_t channel) const {
    CheckChannel(channel, false);
    return guard_.LimitsOf(channel);
}

void Instrument::SetPowerOnStatusClear(bool on) {
    powerOnStatusClear_ = on;
    InstrumentChange change{InstrumentChange::Kind::Protection};
    change.address = -1;
    Notify(change);
}

void Instrument::WriteAsOne(const std::function<void()>& calls) {
    if (heldBack_) {
        calls();
        return;
    }
    HeldBack held;
    heldBack_ = &held;
    try {
        calls();
    } catch (...) {
        heldBack_ = nullptr;
        throw;
    }
    heldBack_ = nullptr;
    for (const auto& [channel, limits] : held.limits)
        SetLimits(channel, limits);
    if (held.targets.empty())
        return;
    CallScope scope(*this);
    const bool pulse = pulseAfterDataWrite_;
    const bool moves = std::any_of(held.targets.begin(), held.targets.end(),
                                   [](const auto& t) { return t.second == kRegData; });
    const auto ramp =
        Admit(moves ? ChangeKind::Rampable : ChangeKind::AtOnce, [&](ConverterModel& after) {
            for (std::size_t i = 0; i < held.targets.size(); ++i)
                after.Write(held.targets[i].first, held.targets[i].second, held.data[i], pulse);
        });
    if (ramp) {
        StartRamp(*ramp);
    } else {
        for (std::size_t i = 0; i < held.targets.size(); ++i)
            Send(held.targets[i].first, held.targets[i].second, held.data[i], pulse);
    }
    scope.Done();
}

void Instrument::SetProtectionOptions(const ProtectionOptions& options) {
    protectionOptions_ = options;
    InstrumentChange change{InstrumentChange::Kind::Protection};
    change.address = -1;
    Notify(change);
}

ConverterModel Instrument::KnownModel(bool readUnknown) {
    if (readUnknown && !mirror_.AllRead()) {
        CallScope scope(*this);
        const auto readUnknownRegisters = [&] {
            for (int16_t ch = 0; ch < kChannelCount; ++ch) {
                const ConverterMirror::Channel& k = mirror_.At(ch);
                if (!k.input)
                    ReadRegister(ch, kRegData);
                if (!k.coarse)
                    ReadRegister(ch, kRegCoarseGain);
                if (!k.fine)
                    ReadRegister(ch, kRegFineGain);
                if (!k.offset)
                    ReadRegister(ch, kRegOffset);
            }
            return 0;
        };
        WithSerialOutput(readUnknownRegisters);
        // Nothing is judged, and so nothing written, on a guess.
        if (firstFailure_ < 0) {
            const int32_t code = std::exchange(firstFailure_, 0);
            throw RequestError(code, RequestFailureText(code));
        }
        if (!mirror_.AllRead())
            throw InstrumentError(
                "the output protection cannot read the channels' registers back (the serial "
                "output answers all ones); nothing was written");
        scope.Done();
    }
    return mirror_.Model();
}

void Instrument::CheckChange(const ConverterModel& before, const ConverterModel& after,
                             ChangeKind kind) {
    const GuardVerdict verdict = guard_.Judge(before, after, kind);
    if (verdict.answer == GuardVerdict::Answer::Refuse)
        Refuse(verdict.channel, verdict.why);
}

void Instrument::CheckPlannedOutputs(const ConverterModel& planned,
                                     const std::array<ChannelLimits, kChannelCount>* extra) {
    const GuardVerdict verdict = guard_.JudgePlanned(planned, extra);
    if (verdict.answer == GuardVerdict::Answer::Refuse)
        Refuse(verdict.channel, verdict.why);
}

}  // namespace tq
