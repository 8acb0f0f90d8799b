#include "instrument/Instrument.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "adapter/intel_hex/IntelHex.h"
#include "board/AdapterResults.h"
#include "board/BoardRequests.h"
#include "board/RegisterAccess.h"
#include "board/UsbStuff.h"
#include "core/CheckedInt.h"
#include "core/CommandWord.h"
#include "core/Encoding.h"
#include "core/Fields.h"
#include "core/InputExcerpt.h"
#include "instrument/Temperature.h"

namespace tq {
namespace {

// What a read-back gives when nothing drives the serial output.
constexpr int32_t kSilentReadBack = 0xFFFF;

std::string VoltsText(float volts) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(volts));
    return text;
}

std::string RequestFailureText(int32_t code) {
    const std::string_view why = ExplainAdapterResult(code);
    std::string text = "board request failed (" + std::to_string(code) + ")";
    if (!why.empty())
        text += ": " + std::string(why);
    return text;
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

// Gives a flag a value for a scope and puts back the one it had.
class FlagScope {
public:
    FlagScope(bool& flag, bool value) : flag_(flag), before_(std::exchange(flag, value)) {}
    ~FlagScope() { flag_ = before_; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
    bool before_;
};

}  // namespace

// Counts the requests of one call, however deeply calls nest; the outermost one throws when a
// request failed, after its whole sequence was sent.
class Instrument::CallScope {
public:
    explicit CallScope(Instrument& instrument) : instrument_(instrument) {
        if (instrument_.callDepth_++ == 0)
            instrument_.firstFailure_ = 0;
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

// What the register routines ask of their caller: the pulse setting and the R/W cell.
class Instrument::Hooks : public RegisterHooks {
public:
    explicit Hooks(Instrument& instrument) : instrument_(instrument) {}
    bool PulseAfterDataWrite() const override {
        return instrument_.PulseAfterDataWrite() && !instrument_.withoutPulse_;
    }
    void ShowReadWrite(int16_t readWrite) override { instrument_.ShowReadWrite(readWrite); }

private:
    Instrument& instrument_;
};

Instrument::Instrument(DeviceState& state, BoardRequests& requests, BoardIdentity identity)
    : state_(state),
      requests_(requests),
      identity_(std::move(identity)),
      hooks_(std::make_unique<Hooks>(*this)),
      registers_(std::make_unique<RegisterAccess>(state, requests)) {
    registers_->SetHooks(hooks_.get());
    observer_ = requests_.AddObserver([this](int32_t result) {
        if (result < 0 && firstFailure_ == 0)
            firstFailure_ = result;
        InstrumentChange change{InstrumentChange::Kind::RequestResult};
        change.value = result;
        Notify(change);
    });
}

Instrument::~Instrument() {
    requests_.RemoveObserver(observer_);
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

int16_t Instrument::ConnectBoard(const std::string& programFolder) {
    CallScope scope(*this);
    return tq::ConnectBoard(state_, requests_.BoardAdapter(), programFolder);
}

std::string Instrument::ExplainResult(int32_t code) {
    return std::string(ExplainAdapterResult(code));
}

std::string Instrument::ExplainConnectResult(int32_t code) const {
    std::string text(ExplainAdapterResult(code));
    if (text.empty())
        return text;
    const std::string& path = state_.FirmwarePath;
    switch (code) {
        case kResultFirmwareMissing:
        case kResultFirmwareMalformed:
        case kResultFirmwareTooLarge: {
            // The adapter answers with a code alone; reading the file again with the same reader
            // finds the same fault and says where it lies.
            FirmwareImage image;
            std::string why;
            if (LoadIntelHexFile(path, kProgramRamBytes, image, why) == code && !why.empty())
                text += " (" + std::string(code == kResultFirmwareMissing ? "expected at " : "") +
                        InputExcerpt(why, 600) + ")";
            else if (code == kResultFirmwareMissing)
                text += " (expected at " + InputExcerpt(path, 600) + ")";
            break;
        }
        case kResultSimulatorImage:
            text += " (" + InputExcerpt(path, 600) + ")";
            break;
        case kResultPathTooLong:
            text += " (" + std::to_string(path.size()) + " bytes: " + InputExcerpt(path) + ")";
            break;
        default:
            break;
    }
    return text;
}

void Instrument::SetResolution(int16_t bits) {
    if (bits != 16 && bits != 14)
        throw ValueRangeError("the resolution is 16 or 14 bits, not " + std::to_string(bits));
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
}

void Instrument::Remember(int16_t address, int16_t reg, int32_t value, bool readBack) {
    if (readBack && value != kSilentReadBack && reg >= kRegData && reg <= kRegOffset) {
        // Addresses 4 to 7 read back channel A.
        KnownChannel& k = known_[static_cast<std::size_t>(address < kAllChannels ? address : 0)];
        switch (reg) {
            case kRegData:
                k.registers.input = value & 0xFFFF;
                k.input = true;
                break;
            case kRegCoarseGain:
                k.registers.coarse = value & 3;
                k.coarse = true;
                break;
            case kRegFineGain:
                k.registers.fine = value & 0x3F;
                k.fine = true;
                break;
            default:
                k.registers.offset = value & 0xFF;
                k.offset = true;
                break;
        }
    }
    if (reg == kRegCoarseGain && !(readBack && value == kSilentReadBack)) {
        if (address >= 0 && address < kChannelCount)
            knownRange_[static_cast<std::size_t>(address)] = value & 3;
        else if (address == kAllChannels && !readBack)
            knownRange_.fill(value & 3);
        else if (address >= kAllChannels && address < 8 && readBack)
            // Addresses 4 to 7 read back channel A.
            knownRange_[0] = value & 3;
    }
    InstrumentChange change{InstrumentChange::Kind::Register};
    change.address = address;
    change.reg = reg;
    change.value = value;
    change.readBack = readBack;
    Notify(change);
}

void Instrument::WriteRegister(int16_t address, int16_t reg, int32_t data) {
    CheckNotOwned(address, reg);
    CallScope scope(*this);
    const bool pulse = reg != kRegFunction && hooks_->PulseAfterDataWrite();
    const bool movesOutputs =
        (reg >= kRegData && reg <= kRegOffset) ||
        (reg == kRegFunction && (address == kFnClearAll || address == kFnLoadAll));
    if (movesOutputs && LimitsActive() && !guardOff_) {
        ConverterModel after = KnownModel(true);
        after.Write(address, reg, data, pulse);
        const bool rampable = reg == kRegData || (reg == kRegFunction && address == kFnLoadAll);
        const bool toSafeState = reg == kRegFunction && address == kFnClearAll;
        if (GuardChange(after, rampable, toSafeState)) {
            StartRamp(after, origin_);
            scope.Done();
            return;
        }
    }
    registers_->WriteRegister(address, reg, data);
    TrackWrite(address, reg, data, pulse);
    Remember(address, reg, data, false);
    scope.Done();
}

int32_t Instrument::ReadRegister(int16_t address, int16_t reg) {
    CallScope scope(*this);
    const int32_t value = registers_->ReadRegister(address, reg);
    Remember(address, reg, value, true);
    scope.Done();
    return value;
}

int32_t Instrument::WriteDataRegister(int16_t address, int32_t code) {
    const int32_t written = state_.Resolution == 14 ? Mul32(code, 4) : code;
    WriteRegister(address, kRegData, written);
    return written;
}

VoltageSetting Instrument::SetChannelVoltage(int16_t address, float volts, float rangeForCode3,
                                             bool refuseBeyondRange) {
    CheckChannel(address, true);
    // Refused before the range read-back, so that nothing at all is sent.
    CheckNotOwned(address, kRegData);
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
    for (int16_t ch = 0; ch < kChannelCount; ++ch)
        if (ch == address || address == kAllChannels)
            if (const auto why =
                    LimitViolation(ch, limited.volts, limits_[static_cast<std::size_t>(ch)]))
                Refuse(ch, *why);
    WriteDataRegister(address, limited.code);
    scope.Done();
    return {limited.volts, limited.code, range};
}

float Instrument::ChannelVoltage(int16_t channel) {
    CallScope scope(*this);
    const int32_t code = DataCode(channel);
    const int32_t coarse = RangeCode(channel);
    scope.Done();
    const float range = RangeVoltsForCode(coarse).value_or(10.0f);
    return CodeToVolts(code, state_.Resolution, range, state_.BinaryCoding);
}

void Instrument::SetDataCode(int16_t address, int32_t code) {
    CheckChannel(address, true);
    const int32_t top = state_.Resolution == 14 ? 16383 : 65535;
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
    return state_.Resolution == 14 ? RoundToInt32(raw / 4.0) : raw;
}

void Instrument::SetRangeCode(int16_t address, int32_t code) {
    CheckChannel(address, true);
    if (code < 0 || code > 2)
        throw ValueRangeError("coarse gain code " + std::to_string(code) +
                              " is not a range (0, 1 or 2)");
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
    if (channel < 0 || channel >= kChannelCount)
        return std::nullopt;
    return knownRange_[static_cast<std::size_t>(channel)];
}

float Instrument::ChannelRangeVolts(int16_t channel) {
    const int16_t rangeChannel = channel >= 0 && channel < kChannelCount ? channel : 0;
    std::optional<int32_t> code = KnownRangeCode(rangeChannel);
    if (!code)
        code = RangeCode(rangeChannel);
    // Code 3 acts as code 0.
    return RangeVoltsForCode(*code).value_or(10.0f);
}

void Instrument::SetFineGain(int16_t address, int32_t value) {
    CheckChannel(address, true);
    if (value < -32 || value > 31)
        throw ValueRangeError("fine gain " + std::to_string(value) + " is outside -32 to 31");
    CallScope scope(*this);
    WriteRegister(address, kRegFineGain, FieldCode(value, kFineGainBits));
    scope.Done();
}

int32_t Instrument::FineGain(int16_t channel) {
    CheckChannel(channel, false);
    CallScope scope(*this);
    const int32_t code = ReadRegister(channel, kRegFineGain);
    scope.Done();
    return SignedField(code & 0x3F, kFineGainBits);
}

void Instrument::SetOffset(int16_t address, int32_t value) {
    CheckChannel(address, true);
    const bool narrow = state_.Resolution == 14;
    const int32_t low = narrow ? -4 : -128;
    const int32_t high = narrow ? 3 : 127;
    if (value < low || value > high)
        throw ValueRangeError("offset " + std::to_string(value) + " is outside " +
                              std::to_string(low) + " to " + std::to_string(high));
    CallScope scope(*this);
    const int32_t code =
        narrow ? FieldCode(value, kOffsetBits14) * kOffsetShift14 : FieldCode(value, kOffsetBits);
    WriteRegister(address, kRegOffset, code);
    scope.Done();
}

int32_t Instrument::Offset(int16_t channel) {
    CheckChannel(channel, false);
    CallScope scope(*this);
    const int32_t code = ReadRegister(channel, kRegOffset) & 0xFF;
    scope.Done();
    if (state_.Resolution == 14)
        return SignedField(code / kOffsetShift14, kOffsetBits14);
    return SignedField(code, kOffsetBits);
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
    CallScope scope(*this);
    const bool movesOutputs =
        pin == Pin::Ldac || pin == Pin::Clr || pin == Pin::Rstin || pin == Pin::BinaryCoding;
    if (movesOutputs && LimitsActive() && !guardOff_) {
        ConverterModel after = KnownModel(true);
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
        GuardChange(after, false, !high && (pin == Pin::Clr || pin == Pin::Rstin));
    }
    // LDAC falling loads every DAC register from its input register.
    if (pin == Pin::Ldac && !high && state_.LdacPin != 0)
        TrackWrite(kFnLoadAll, kRegFunction, 0, false);
    state_.*PinField(pin) = high ? 1 : 0;
    requests_.SendPinWord();
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

void Instrument::CheckNotOwned(int16_t address, int16_t reg) {
    const bool channelRegister =
        reg == kRegData || reg == kRegCoarseGain || reg == kRegFineGain || reg == kRegOffset;
    // CLEAR moves every output. (LOAD moves none a run drives: nobody else writes their input.)
    const bool clear = reg == kRegFunction && address == kFnClearAll;
    if (!channelRegister && !clear)
        return;
    for (int16_t channel = 0; channel < kChannelCount; ++channel) {
        const bool hit =
            clear || address == channel || (channelRegister && address == kAllChannels);
        if (hit && ramp_ && ramp_->moving[static_cast<std::size_t>(channel)] && origin_ != &ramp_) {
            InstrumentChange change{InstrumentChange::Kind::Refused};
            change.address = channel;
            Notify(change);
            throw InstrumentError(ChannelName(channel) +
                                  " is ramping to its new output; wait for the ramp to end");
        }
        const Claim& claim = claims_[static_cast<std::size_t>(channel)];
        // A ramp writes for whoever started it.
        const bool ownRamp = ramp_ && origin_ == &ramp_ && ramp_->origin == claim.owner;
        if (claim.owner == nullptr || claim.owner == origin_ || ownRamp)
            continue;
        if (!hit)
            continue;
        // The windows swallow instrument errors in their handlers; this lets one of them say why.
        InstrumentChange change{InstrumentChange::Kind::Refused};
        change.address = channel;
        Notify(change);
        throw InstrumentError("DAC " + std::string(1, static_cast<char>('A' + channel)) +
                              " is driven by " + claim.name + "; stop it to change the output");
    }
}

void Instrument::ClaimChannels(const void* owner, const std::vector<int16_t>& channels,
                               const std::string& ownerName) {
    for (const int16_t channel : channels) {
        CheckChannel(channel, false);
        const Claim& claim = claims_[static_cast<std::size_t>(channel)];
        if (claim.owner != nullptr && claim.owner != owner)
            throw InstrumentError("DAC " + std::string(1, static_cast<char>('A' + channel)) +
                                  " is driven by " + claim.name + " already");
    }
    for (const int16_t channel : channels)
        claims_[static_cast<std::size_t>(channel)] = {owner, ownerName};
}

void Instrument::ReleaseChannels(const void* owner) {
    for (Claim& claim : claims_)
        if (claim.owner == owner)
            claim = {};
}

std::optional<std::string> Instrument::ChannelOwner(int16_t channel) const {
    if (channel < 0 || channel >= kChannelCount)
        return std::nullopt;
    const Claim& claim = claims_[static_cast<std::size_t>(channel)];
    if (claim.owner == nullptr)
        return std::nullopt;
    return claim.name;
}

void Instrument::WriteChannelsTogether(const std::vector<std::pair<int16_t, int32_t>>& codes) {
    CheckCodesTogether(codes);
    CallScope scope(*this);
    if (LimitsActive() && !guardOff_)
        GuardChange(ModelAfterCodes(codes), false);
    WriteCodesTogether(codes);
    scope.Done();
}

void Instrument::MoveChannelsTogether(const std::vector<std::pair<int16_t, int32_t>>& codes) {
    CheckCodesTogether(codes);
    CallScope scope(*this);
    if (LimitsActive() && !guardOff_) {
        const ConverterModel after = ModelAfterCodes(codes);
        if (GuardChange(after, true)) {
            StartRamp(after, origin_);
            scope.Done();
            return;
        }
    }
    WriteCodesTogether(codes);
    scope.Done();
}

void Instrument::CheckCodesTogether(const std::vector<std::pair<int16_t, int32_t>>& codes) {
    const int32_t top = state_.Resolution == 14 ? 16383 : 65535;
    for (const auto& [channel, code] : codes) {
        CheckChannel(channel, false);
        CheckNotOwned(channel, kRegData);
        if (code < 0 || code > top)
            throw ValueRangeError("data code " + std::to_string(code) + " is outside 0 to " +
                                  std::to_string(top));
    }
}

ConverterModel Instrument::ModelAfterCodes(const std::vector<std::pair<int16_t, int32_t>>& codes) {
    ConverterModel after = KnownModel(true);
    for (const auto& [channel, code] : codes)
        after.Write(channel, kRegData, state_.Resolution == 14 ? code * 4 : code, false);
    after.Load();
    return after;
}

void Instrument::WriteCodesTogether(const std::vector<std::pair<int16_t, int32_t>>& codes) {
    CallScope scope(*this);
    {
        // The whole change was judged at once; its single writes are not judged again.
        const FlagScope unguarded(guardOff_, true);
        const FlagScope unpulsed(withoutPulse_, true);
        for (const auto& [channel, code] : codes)
            WriteDataRegister(channel, code);
        LoadAllChannels();
    }
    scope.Done();
}

TemperatureReading Instrument::MeasureTemperature() {
    CallScope scope(*this);
    const bool sdoBefore = state_.FnSdoDisable != 0;
    // The readings are taken with the converter's serial data output off.
    SetFunctionFlag(FunctionFlag::SdoDisable, true);
    // The first two readings settle the board's converter; only the third counts. A reading
    // that does not fit the request's 16 bits counts as -1, outside the converter's range.
    int32_t reading = -1;
    for (int i = 0; i < kTemperatureReadings; ++i) {
        try {
            reading = requests_.ReadAdcWord();
        } catch (const NumericError&) {
            reading = -1;
        }
    }
    // Leaving the serial output off would make every later register read-back all ones.
    SetFunctionFlag(FunctionFlag::SdoDisable, sdoBefore);
    scope.Done();
    if (reading < 0 || reading >= kTemperatureCounts)
        throw ReadingError("the temperature converter's reading is outside 0 to 4095");
    return TemperatureFromCounts(static_cast<int16_t>(reading));
}

void Instrument::WriteComposedWord() {
    // The word as composed: the protection's read-backs below set the R/W cell on their way.
    const int16_t readWrite = state_.ReadWrite;
    const int16_t address = state_.Address;
    const int16_t reg = state_.RegSelect;
    const int32_t data = state_.DataValue;
    const bool write = readWrite == 0;
    if (write)
        CheckNotOwned(address, reg);
    CallScope scope(*this);
    if (write && LimitsActive() && !guardOff_) {
        ConverterModel after = KnownModel(true);
        after.Write(address, reg, data, false);
        GuardChange(after, false, reg == kRegFunction && address == kFnClearAll);
        state_.ReadWrite = readWrite;
        ShowReadWrite(readWrite);
    }
    requests_.WriteWord(CommandByte(readWrite, reg, address), data);
    if (write)
        TrackWrite(address, reg, data, false);
    scope.Done();
}

std::array<uint8_t, 2> Instrument::LegacyRead() {
    CallScope scope(*this);
    requests_.LegacyRead();
    scope.Done();
    return {state_.ReceiveBuffer[0], state_.ReceiveBuffer[1]};
}

// --- output protection ---

void Instrument::SetLimits(int16_t channel, const ChannelLimits& limits) {
    CheckChannelLimits(channel, limits);
    limits_[static_cast<std::size_t>(channel)] = limits;
    InstrumentChange change{InstrumentChange::Kind::Protection};
    change.address = channel;
    Notify(change);
}

const ChannelLimits& Instrument::Limits(int16_t channel) const {
    CheckChannel(channel, false);
    return limits_[static_cast<std::size_t>(channel)];
}

bool Instrument::LimitsActive() const {
    return std::any_of(limits_.begin(), limits_.end(),
                       [](const ChannelLimits& limits) { return limits.Active(); });
}

void Instrument::SetProtectionOptions(const ProtectionOptions& options) {
    protectionOptions_ = options;
    InstrumentChange change{InstrumentChange::Kind::Protection};
    change.address = -1;
    Notify(change);
}

ConverterModel Instrument::ModelWithPins() const {
    ConverterModel model;
    for (std::size_t ch = 0; ch < known_.size(); ++ch) {
        model.channels[ch] = known_[ch].registers;
        if (!known_[ch].dac) {
            // The DAC register cannot be read: until a write or LOAD sets it, it is taken to hold
            // what the input register does, as after any LOAD.
            model.channels[ch].dac = model.channels[ch].input;
            model.dacAssumed[ch] = true;
        }
    }
    model.ldacHigh = state_.LdacPin != 0;
    model.clrHigh = state_.ClrPin != 0;
    model.rstinHigh = state_.RstinPin != 0;
    model.binaryCoding = state_.BinaryCoding != 0;
    return model;
}

ConverterModel Instrument::KnownModel(bool readUnknown) {
    const auto unknown = [this] {
        return std::any_of(known_.begin(), known_.end(), [](const KnownChannel& k) {
            return !(k.input && k.coarse && k.fine && k.offset);
        });
    };
    if (readUnknown && unknown()) {
        CallScope scope(*this);
        WithSerialOutput([&] {
            for (int16_t ch = 0; ch < kChannelCount; ++ch) {
                const KnownChannel& k = known_[static_cast<std::size_t>(ch)];
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
        });
        // Nothing is judged, and so nothing written, on a guess.
        if (firstFailure_ < 0) {
            const int32_t code = std::exchange(firstFailure_, 0);
            throw RequestError(code, RequestFailureText(code));
        }
        if (unknown())
            throw InstrumentError(
                "the output protection cannot read the channels' registers back (the serial "
                "output answers all ones); nothing was written");
        scope.Done();
    }
    return ModelWithPins();
}

void Instrument::TrackWrite(int16_t address, int16_t reg, int32_t value, bool pulse) {
    ConverterModel model = ModelWithPins();
    model.Write(address, reg, value, pulse);
    const bool load = pulse || (reg == kRegFunction && address == kFnLoadAll);
    const bool clear = reg == kRegFunction && address == kFnClearAll;
    for (int16_t ch = 0; ch < kChannelCount; ++ch) {
        KnownChannel& k = known_[static_cast<std::size_t>(ch)];
        k.registers = model.channels[static_cast<std::size_t>(ch)];
        if (reg != kRegFunction && (address == ch || address == kAllChannels)) {
            switch (reg) {
                case kRegData:
                    k.input = true;
                    k.dac = k.dac || !model.ldacHigh;
                    break;
                case kRegCoarseGain:
                    k.coarse = true;
                    break;
                case kRegFineGain:
                    k.fine = true;
                    break;
                case kRegOffset:
                    k.offset = true;
                    break;
                default:
                    break;
            }
        }
        if (load)
            k.dac = k.input;
        if (clear)
            k.dac = true;
    }
}

bool Instrument::GuardChange(const ConverterModel& after, bool rampable, bool toSafeState) {
    const ConverterModel before = ModelWithPins();
    bool ramp = false;
    for (int16_t ch = 0; ch < kChannelCount; ++ch) {
        const ChannelLimits& limits = limits_[static_cast<std::size_t>(ch)];
        const double from = before.Output(ch);
        const double to = after.Output(ch);
        // An output whose DAC register was only assumed is judged whenever the change sets it.
        const auto index = static_cast<std::size_t>(ch);
        const bool learnt = before.dacAssumed[index] && !after.dacAssumed[index];
        if (!limits.Active() || (to == from && !learnt))
            continue;
        // A code is the nearest to the voltage typed: half an LSB beyond a limit is the limit.
        const double halfLsb = 0.5 * after.LsbVolts(ch);
        if (const auto why = LimitViolation(ch, to, limits, halfLsb))
            Refuse(ch, *why);
        if (!limits.rampStep || std::fabs(to - from) <= *limits.rampStep + halfLsb)
            continue;
        if (rampable)
            ramp = true;
        else if (!toSafeState)
            Refuse(ch, ChannelName(ch) + ": the change moves the output by " +
                           LimitVoltsText(to - from) + " V at once, more than its ramp step of " +
                           LimitVoltsText(*limits.rampStep) +
                           " V; bring the output to 0 V first (Safe State) and change it there");
    }
    return ramp;
}

void Instrument::Refuse(int16_t channel, const std::string& why) {
    lastRefusal_ = why;
    InstrumentChange change{InstrumentChange::Kind::Refused};
    change.address = channel;
    change.value = 1;
    Notify(change);
    throw LimitError(why);
}

void Instrument::CheckPlannedOutputs(const ConverterModel& planned,
                                     const std::array<ChannelLimits, kChannelCount>* extra) {
    for (int16_t ch = 0; ch < kChannelCount; ++ch) {
        const double volts = planned.Output(ch);
        const double halfLsb = 0.5 * planned.LsbVolts(ch);
        const auto index = static_cast<std::size_t>(ch);
        if (const auto why = LimitViolation(ch, volts, limits_[index], halfLsb))
            Refuse(ch, *why);
        if (extra)
            if (const auto why = LimitViolation(ch, volts, (*extra)[index], halfLsb))
                Refuse(ch, *why);
    }
}

const void* Instrument::RampOrigin() const {
    return ramp_ ? ramp_->origin : nullptr;
}

void Instrument::StartRamp(const ConverterModel& target, const void* origin) {
    const ConverterModel before = ModelWithPins();
    Ramp ramp;
    ramp.binaryCoding = target.binaryCoding;
    ramp.origin = origin;
    for (int16_t ch = 0; ch < kChannelCount; ++ch) {
        const auto index = static_cast<std::size_t>(ch);
        const ChannelRegisters& from = before.channels[index];
        const ChannelRegisters& to = target.channels[index];
        ramp.from[index] = OrdinalOfCode(from.dac, ramp.binaryCoding);
        ramp.to[index] = OrdinalOfCode(to.dac, ramp.binaryCoding);
        ramp.finalInput[index] = to.input;
        ramp.moving[index] = ramp.from[index] != ramp.to[index] || from.input != to.input;
        const ChannelLimits& limits = limits_[index];
        if (!ramp.moving[index] || !limits.rampStep)
            continue;
        // A code's rounding does not make a step of its own.
        const double swing =
            std::fabs(target.Output(ch) - before.Output(ch)) - 0.5 * target.LsbVolts(ch);
        const double steps = std::max(1.0, std::ceil(swing / *limits.rampStep));
        ramp.steps = std::max(ramp.steps, static_cast<int>(std::min(steps, 65536.0)));
        ramp.waitSeconds = std::max(ramp.waitSeconds, limits.rampWaitSeconds);
    }
    ramp_ = ramp;
    rampError_.clear();
    InstrumentChange change{InstrumentChange::Kind::Ramp};
    change.value = 1;
    Notify(change);
    SendRampStep();
    ContinueRamp();
}

void Instrument::SendRampStep() {
    Ramp& ramp = *ramp_;
    ++ramp.done;
    std::vector<std::pair<int16_t, int32_t>> codes;
    const bool narrow = state_.Resolution == 14;
    for (int16_t ch = 0; ch < kChannelCount; ++ch) {
        const auto index = static_cast<std::size_t>(ch);
        if (!ramp.moving[index])
            continue;
        int32_t frame = ramp.finalInput[index];
        if (ramp.done < ramp.steps) {
            const double share = static_cast<double>(ramp.done) / ramp.steps;
            int32_t ordinal =
                RoundToInt32(ramp.from[index] + (ramp.to[index] - ramp.from[index]) * share);
            if (narrow)
                ordinal &= ~3;  // the 14-bit device takes codes in steps of 4 here
            frame = CodeOfOrdinal(ordinal, ramp.binaryCoding);
        }
        codes.emplace_back(ch, narrow ? frame / 4 : frame);
    }
    const Origin own(*this, &ramp_);
    try {
        WriteCodesTogether(codes);
    } catch (const InstrumentError& e) {
        EndRamp(e.what());
        throw;
    }
    if (ramp.done >= ramp.steps)
        EndRamp({});
}

void Instrument::ContinueRamp() {
    while (ramp_) {
        const double wait = ramp_->waitSeconds;
        if (wait > 0.0 && rampTimer_ && !waitInCall_) {
            rampTimer_->WakeAt(rampTimer_->Now() + wait);
            return;
        }
        if (wait > 0.0 && waitInCall_)
            std::this_thread::sleep_for(std::chrono::duration<double>(wait));
        SendRampStep();
    }
}

void Instrument::RampStep() {
    if (!ramp_)
        return;
    try {
        SendRampStep();
        ContinueRamp();
    } catch (const InstrumentError&) {
        // EndRamp kept why; the listeners have been told.
    }
}

void Instrument::EndRamp(const std::string& error) {
    if (!ramp_)
        return;
    ramp_.reset();
    rampError_ = error;
    if (rampTimer_)
        rampTimer_->Cancel();
    InstrumentChange change{InstrumentChange::Kind::Ramp};
    change.value = 0;
    Notify(change);
}

void Instrument::StopRamp() {
    EndRamp("the ramp was stopped before its end");
}

void Instrument::GoToSafeState() {
    EndRamp("the safe state took over");
    // The safe state goes before any activity's claim.
    claims_.fill({});
    CallScope scope(*this);
    const int32_t zero = state_.BinaryCoding != 0 ? 0x8000 : 0;
    const int32_t zeroCode = state_.Resolution == 14 ? zero / 4 : zero;
    std::vector<std::pair<int16_t, int32_t>> codes;
    for (int16_t ch = 0; ch < kChannelCount; ++ch)
        codes.emplace_back(ch, zeroCode);
    const bool ramps = std::any_of(limits_.begin(), limits_.end(),
                                   [](const ChannelLimits& limits) { return limits.rampStep; });
    if (ramps) {
        ConverterModel target = KnownModel(true);
        for (ChannelRegisters& c : target.channels)
            c.input = zero;
        target.Load();
        StartRamp(target, origin_);
    } else {
        WriteCodesTogether(codes);
    }
    scope.Done();
}

void Instrument::GoToSafeStateAndWait() {
    const FlagScope inCall(waitInCall_, true);
    GoToSafeState();
}

}  // namespace tq
