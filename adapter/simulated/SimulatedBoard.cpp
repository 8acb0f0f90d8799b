#include "adapter/simulated/SimulatedBoard.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>

#include "board/AdapterResults.h"
#include "board/BoardRequests.h"
#include "board/IntelHex.h"

namespace tq {

namespace {

// The register a write selects (bits 21..19 of its word).
enum RegisterSelect : int {
    kRegFunctionCode = 0,
    kRegData = 2,
    kRegCoarse = 3,
    kRegFine = 4,
    kRegOffset = 5
};

// The address (bits 18..16): with register select 0 it names a function; otherwise a channel, or
// all of them.
enum Address : int { kFnAddrControl = 1, kFnAddrClear = 4, kFnAddrLoad = 5, kAllChannels = 4 };

constexpr uint16_t kFnSdoDisabled = 0x01;
constexpr uint16_t kFnD0Level = 0x02;
constexpr uint16_t kFnD0Output = 0x04;
constexpr uint16_t kFnD1Level = 0x08;
constexpr uint16_t kFnD1Output = 0x10;
constexpr uint16_t kFnBits = 0x3F;

constexpr uint8_t kPinLdac = 0x10;
constexpr uint8_t kPinClr = 0x08;
constexpr uint8_t kPinBinary = 0x04;
constexpr uint8_t kPinRstin = 0x02;

// Half-span of the output range by coarse gain code; code 3 acts as code 0.
constexpr std::array<double, 4> kFullScale = {10.0, 10.2564, 10.5263, 10.0};

struct AmplifierError {
    double gain;
    double offsetVolts;
};
constexpr std::array<AmplifierError, 4> kAmplifierErrors = {{
    {+2.1e-4, +350e-6},
    {-1.4e-4, -220e-6},
    {+3.2e-4, +180e-6},
    {-2.6e-4, -410e-6},
}};

constexpr uint32_t kGarbleSeed = 0x2604;

void CheckCode(int value, const char* what) {
    if (value < 0 || value > 7)
        throw std::out_of_range(std::string(what) + " " + std::to_string(value) +
                                " is outside 0..7");
}

}  // namespace

int32_t SimulatedBoard::Search_For_Boards(int32_t, int32_t, int32_t* count, uint8_t* list) {
    if (count)
        *count = plugged_ ? 1 : 0;
    if (!plugged_)
        return kResultNoBoard;
    if (list)
        list[0] = 0;
    return 0;
}

int32_t SimulatedBoard::Connect(int32_t, int32_t, uint8_t, int32_t* handle) {
    if (!plugged_)
        return kResultNoBoard;
    if (handle)
        *handle = 1;
    return 0;
}

int32_t SimulatedBoard::Download_Firmware(int32_t, const uint8_t* path) {
    if (!plugged_)
        return kResultIoError;
    int32_t result;
    if (failNextDownload_) {
        failNextDownload_ = false;
        result = nextDownloadResult_;
    } else if (!path) {
        result = kResultFirmwareMissing;
    } else {
        FirmwareImage image;
        std::string error;
        result =
            LoadIntelHexFile(reinterpret_cast<const char*>(path), kProgramRamBytes, image, error);
    }
    firmwareRunning_ = result == 0;
    return result;
}

void SimulatedBoard::SetLatency(int64_t microseconds) {
    if (microseconds < 0 || microseconds > 1000000)
        throw std::out_of_range("latency " + std::to_string(microseconds) +
                                " us is outside 0 to 1000000");
    latencyMicroseconds_ = microseconds;
}

int32_t SimulatedBoard::Vendor_Request(int32_t, uint8_t request, int32_t value, int32_t index,
                                       uint8_t direction, int32_t length, uint8_t* buffer) {
    if (latencyMicroseconds_ > 0) {
        // A bare sleep overshoots by tens of microseconds; sleep short of the deadline, then spin.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::microseconds(latencyMicroseconds_);
        const auto early = deadline - std::chrono::microseconds(150);
        if (std::chrono::steady_clock::now() < early)
            std::this_thread::sleep_until(early);
        while (std::chrono::steady_clock::now() < deadline) {
        }
    }
    if (!plugged_ || !firmwareRunning_)
        return kResultIoError;
    if (awayRequests_ > 0) {
        --awayRequests_;
        return kResultIoError;
    }
    if (length < 0 || (length > 0 && !buffer))
        return kResultIoError;
    switch (request) {
        case kReqWriteWord:
            if (length == 2) {
                // Legacy read: the last data word as it went in, low byte first, not reversed.
                if (index != 2)
                    return kResultIoError;
                const uint8_t bytes[2] = {static_cast<uint8_t>(lastData_ & 0xFF),
                                          static_cast<uint8_t>(lastData_ >> 8)};
                Reply(direction, bytes, 2, buffer);
                return 2;
            }
            return Transfer(value, index, false, direction, length, buffer);
        case kReqWriteAndPulse:
            return Transfer(value, index, true, direction, length, buffer);
        case kReqReadAdc: {
            if (length != 2)
                return kResultIoError;
            const uint16_t count = TempCount();
            const uint8_t bytes[2] = {ReverseBits(static_cast<uint8_t>(count >> 8)),
                                      ReverseBits(static_cast<uint8_t>(count & 0xFF))};
            Reply(direction, bytes, 2, buffer);
            return 2;
        }
        case kReqSetD0Direction:
        case kReqSetD1Direction: {
            if (length != 0)
                return kResultIoError;
            // Value 0: the converter drives the line, so the board lets go of it.
            const int line = request == kReqSetD0Direction ? 0 : 1;
            boardDrive_[line] = value == 0 ? LineDrive::Released : LineDrive::Board;
            return 0;
        }
        case kReqSetPins:
            if (length != 0)
                return kResultIoError;
            SetPins(static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(index & 0x03));
            return 0;
        default:
            return kResultIoError;
    }
}

int32_t SimulatedBoard::Transfer(int32_t value, int32_t index, bool pulse, uint8_t direction,
                                 int32_t length, uint8_t* buffer) {
    if (length != 0 && length != 3)
        return kResultIoError;
    // What comes out during this frame was decided by the previous one.
    const uint32_t answer = (function_ & kFnSdoDisabled) ? 0xFFFFFFu : pendingAnswer_;
    const uint32_t word =
        (static_cast<uint32_t>(value) & 0xFFu) << 16 | (static_cast<uint32_t>(index) & 0xFFFFu);
    ApplyWord(word);
    if (pulse)
        LoadDacRegisters();
    if (length == 3) {
        const uint8_t bytes[3] = {ReverseBits(static_cast<uint8_t>(answer >> 16)),
                                  ReverseBits(static_cast<uint8_t>(answer >> 8)),
                                  ReverseBits(static_cast<uint8_t>(answer))};
        Reply(direction, bytes, 3, buffer);
    }
    return length;
}

void SimulatedBoard::ApplyWord(uint32_t word) {
    const bool read = word & 0x800000u;
    const int reg = static_cast<int>(word >> 19) & 7;
    const int address = static_cast<int>(word >> 16) & 7;
    const uint16_t data = static_cast<uint16_t>(word & 0xFFFF);
    lastData_ = data;
    if (read) {
        pendingAnswer_ = ReadRegisterValue(address, reg);
        return;
    }
    pendingAnswer_ = 0;
    if (reg == kRegFunctionCode) {
        if (address == kFnAddrControl)
            function_ = data & kFnBits;
        else if (address == kFnAddrClear)
            ClearDacRegisters();
        else if (address == kFnAddrLoad)
            LoadDacRegisters();
        return;
    }
    WriteChannelRegister(address, reg, data);
}

void SimulatedBoard::WriteChannelRegister(int address, int reg, uint16_t value) {
    if (reg < kRegData || reg > kRegOffset || address > kAllChannels)
        return;
    const bool ldacLow = !(pinValue_ & kPinLdac);
    const int first = address == kAllChannels ? 0 : address;
    const int last = address == kAllChannels ? 3 : address;
    for (int ch = first; ch <= last; ++ch) {
        Channel& c = channels_[ch];
        switch (reg) {
            case kRegData:
                c.input = value;
                if (ldacLow)
                    c.dac = value;
                break;
            case kRegCoarse:
                c.coarse = static_cast<uint8_t>(value & 0x03);
                break;
            case kRegFine:
                c.fine = static_cast<uint8_t>(value & 0x3F);
                break;
            case kRegOffset:
                c.offset = static_cast<uint8_t>(value & 0xFF);
                break;
        }
    }
}

uint16_t SimulatedBoard::ReadRegisterValue(int address, int reg) const {
    if (reg == kRegFunctionCode) {
        if (address != kFnAddrControl)
            return 0;
        // D1 and D0 read back as the lines' levels, whoever drives them.
        return static_cast<uint16_t>((function_ & ~(kFnD0Level | kFnD1Level)) |
                                     (LineLevel(1) ? kFnD1Level : 0) |
                                     (LineLevel(0) ? kFnD0Level : 0));
    }
    const Channel& c = channels_[address < kAllChannels ? address : 0];
    switch (reg) {
        case kRegData:
            return c.input;
        case kRegCoarse:
            return c.coarse;
        case kRegFine:
            return c.fine;
        case kRegOffset:
            return c.offset;
        default:
            return 0;
    }
}

void SimulatedBoard::LoadDacRegisters() {
    for (Channel& c : channels_)
        c.dac = c.input;
}

void SimulatedBoard::ClearDacRegisters() {
    const uint16_t zeroVolts = (pinValue_ & kPinBinary) ? 0x8000 : 0x0000;
    for (Channel& c : channels_)
        c.dac = zeroVolts;
}

void SimulatedBoard::SetPins(uint8_t value, uint8_t index) {
    const bool ldacFalls = (pinValue_ & kPinLdac) && !(value & kPinLdac);
    pinValue_ = value;
    pinIndex_ = index;
    if (ldacFalls)
        LoadDacRegisters();
    for (LineDrive& drive : boardDrive_)
        if (drive == LineDrive::Undriven)
            drive = LineDrive::Board;
}

int SimulatedBoard::LineLevel(int line) const {
    const uint16_t outputBit = line == 0 ? kFnD0Output : kFnD1Output;
    const uint16_t levelBit = line == 0 ? kFnD0Level : kFnD1Level;
    if (function_ & outputBit)
        return (function_ & levelBit) ? 1 : 0;
    if (boardDrive_[line] == LineDrive::Board)
        return (pinIndex_ >> line) & 1;
    return 0;
}

void SimulatedBoard::Reply(uint8_t direction, const uint8_t* bytes, int32_t length,
                           uint8_t* buffer) {
    if (direction != 1 || length <= 0)
        return;
    const bool garble = garbleCount_ > 0;
    if (garble)
        --garbleCount_;
    for (int32_t i = 0; i < length; ++i) {
        if (garble) {
            garbleState_ = garbleState_ * 1103515245u + 12345u;
            buffer[i] = static_cast<uint8_t>(garbleState_ >> 16);
        } else {
            buffer[i] = bytes[i];
        }
    }
}

double SimulatedBoard::OutputVolts(int channel) const {
    if (channel < 0 || channel > 3)
        throw std::out_of_range("channel " + std::to_string(channel) + " is outside 0..3");
    if (!(pinValue_ & kPinClr) || !(pinValue_ & kPinRstin))
        return 0.0;
    const Channel& c = channels_[channel];
    const double fs = kFullScale[c.coarse];
    const double lsb = 2.0 * fs / 65536.0;
    const double ideal =
        (pinValue_ & kPinBinary) ? -fs + lsb * c.dac : lsb * static_cast<int16_t>(c.dac);
    const int fine = c.fine >= 32 ? c.fine - 64 : c.fine;
    const int offset = static_cast<int8_t>(c.offset);
    const AmplifierError& e = kAmplifierErrors[channel];
    const uint16_t ordinal =
        (pinValue_ & kPinBinary) ? c.dac : static_cast<uint16_t>(c.dac ^ 0x8000);
    const double shape = nonLinear_ ? NonLinearityLsb(ordinal) * lsb : 0.0;
    return (ideal + shape) * (1.0 + fine / 65536.0 + e.gain) + offset / 8.0 * lsb + e.offsetVolts;
}

double SimulatedBoard::NonLinearityLsb(uint16_t ordinal) {
    const double x = ordinal / 65535.0;
    double lsb = kInlBowLsb * 4.0 * x * (1.0 - x);
    if (ordinal >= 0x4000)
        lsb -= 0.25;
    if (ordinal >= 0x8000)
        lsb += 0.5;
    if (ordinal >= 0xC000)
        lsb -= 0.25;
    return lsb;
}

void SimulatedBoard::SetDieTemperature(double celsius) {
    if (!std::isfinite(celsius))
        throw std::invalid_argument("temperature is not a number");
    temperature_ = celsius;
}

uint16_t SimulatedBoard::TempCount() const {
    const double volts = 1.2775 + 0.005 * temperature_;
    const double count = std::clamp(std::nearbyint(volts / 3.29 * 4096.0), 0.0, 4095.0);
    return static_cast<uint16_t>(count);
}

int SimulatedBoard::D0Level() const {
    return LineLevel(0);
}

int SimulatedBoard::D1Level() const {
    return LineLevel(1);
}

void SimulatedBoard::SetRegister(int address, int reg, uint16_t value) {
    CheckCode(address, "address");
    CheckCode(reg, "register");
    if (reg == kRegFunctionCode) {
        if (address == kFnAddrControl)
            function_ = value & kFnBits;
        return;
    }
    if (reg < kRegData || reg > kRegOffset || address > kAllChannels)
        return;
    WriteChannelRegister(address, reg, value);
    if (reg == kRegData) {
        const int first = address == kAllChannels ? 0 : address;
        const int last = address == kAllChannels ? 3 : address;
        for (int ch = first; ch <= last; ++ch)
            channels_[ch].dac = value;
    }
}

uint16_t SimulatedBoard::GetRegister(int address, int reg) const {
    CheckCode(address, "address");
    CheckCode(reg, "register");
    if (reg == kRegFunctionCode)
        return address == kFnAddrControl ? function_ : 0;
    return ReadRegisterValue(address, reg);
}

void SimulatedBoard::FailNextDownload(int32_t code) {
    failNextDownload_ = true;
    nextDownloadResult_ = code;
}

void SimulatedBoard::GarbleReplies(int count) {
    garbleCount_ = std::max(count, 0);
    garbleState_ = kGarbleSeed;
}

void SimulatedBoard::PowerCycle() {
    channels_ = {};
    function_ = 0;
    pendingAnswer_ = 0;
    lastData_ = 0;
    pinValue_ = 0;
    pinIndex_ = 0;
    boardDrive_ = {LineDrive::Undriven, LineDrive::Undriven};
    awayRequests_ = 1;
}

}  // namespace tq
