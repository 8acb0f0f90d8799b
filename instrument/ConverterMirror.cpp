#include "instrument/ConverterMirror.h"

#include <algorithm>

#include "core/Tables.h"

namespace tq {

void ConverterMirror::ReadBack(int16_t address, int16_t reg, int32_t value) {
    if (reg == kRegFunction && address == kFnControlBits && value != kSilentReadBack)
        function_ = value & kFunctionBitsMask;
    if (value == kSilentReadBack || reg < kRegData || reg > kRegOffset || address < 0 ||
        address > 7)
        return;
    Channel& k = channels_[static_cast<std::size_t>(address < kAllChannels ? address : 0)];
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

void ConverterMirror::Written(int16_t address, int16_t reg, int32_t value, bool pulse) {
    if (reg == kRegFunction && address == kFnControlBits)
        function_ = value & kFunctionBitsMask;
    ConverterModel model = Model();
    model.Write(address, reg, value, pulse);
    const bool load = pulse || (reg == kRegFunction && address == kFnLoadAll);
    const bool clear = reg == kRegFunction && address == kFnClearAll;
    for (int16_t ch = 0; ch < 4; ++ch) {
        Channel& k = channels_[static_cast<std::size_t>(ch)];
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

void ConverterMirror::Unsure(int16_t address, int16_t reg) {
    if (reg == kRegFunction) {
        if (address == kFnControlBits)
            function_.reset();
        // A CLEAR or LOAD that may not have happened leaves the DAC registers unknown.
        if (address == kFnClearAll || address == kFnLoadAll)
            for (Channel& k : channels_)
                k.dac = false;
        return;
    }
    for (int16_t ch = 0; ch < 4; ++ch) {
        if (address != ch && address != kAllChannels)
            continue;
        Channel& k = channels_[static_cast<std::size_t>(ch)];
        switch (reg) {
            case kRegData:
                k.input = k.dac = false;
                break;
            case kRegCoarseGain:
                k.coarse = false;
                break;
            case kRegFineGain:
                k.fine = false;
                break;
            case kRegOffset:
                k.offset = false;
                break;
            default:
                break;
        }
    }
}

void ConverterMirror::PowerOn() {
    for (Channel& k : channels_) {
        k.registers = ChannelRegisters{};
        k.input = k.dac = k.coarse = k.fine = k.offset = true;
    }
    function_ = 0;
}

bool ConverterMirror::AllRead() const {
    return std::all_of(channels_.begin(), channels_.end(),
                       [](const Channel& k) { return k.AllRead(); });
}

std::optional<int32_t> ConverterMirror::RangeCode(int16_t channel) const {
    if (channel < 0 || channel >= 4 || !At(channel).coarse)
        return std::nullopt;
    return At(channel).registers.coarse;
}

ConverterModel ConverterMirror::Model() const {
    ConverterModel model;
    for (std::size_t ch = 0; ch < channels_.size(); ++ch) {
        model.channels[ch] = channels_[ch].registers;
        if (!channels_[ch].dac) {
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

}  // namespace tq
