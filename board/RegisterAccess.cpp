#include "board/RegisterAccess.h"

#include "core/CommandWord.h"

namespace tq {

void RegisterAccess::ShowReadWrite() {
    if (hooks_)
        hooks_->ShowReadWrite(state_.ReadWrite);
}

void RegisterAccess::WriteRegister(int16_t address, int16_t regSelect, int32_t data) {
    WriteRegister(address, regSelect, data, hooks_ && hooks_->PulseAfterDataWrite());
}

void RegisterAccess::WriteRegister(int16_t address, int16_t regSelect, int32_t data, bool pulse) {
    state_.ReadWrite = 0;
    ShowReadWrite();
    const int16_t commandByte = CommandByte(state_.ReadWrite, regSelect, address);
    if (regSelect != kRegFunction && pulse)
        requests_.WriteAndPulse(commandByte, data);
    else
        requests_.WriteWord(commandByte, data);
    if (hooks_)
        hooks_->WordSent(0, regSelect, address, data);
}

int32_t RegisterAccess::ReadRegister(int16_t address, int16_t regSelect) {
    state_.ReadWrite = 1;
    ShowReadWrite();
    const int16_t commandByte = CommandByte(1, regSelect, address);
    requests_.ReadWord(commandByte);
    requests_.ReadWord(commandByte);
    const auto& b = state_.ReceiveBuffer;
    const int32_t word = (static_cast<int32_t>(ReverseBits(b[0])) << 16) |
                         (static_cast<int32_t>(ReverseBits(b[1])) << 8) | ReverseBits(b[2]);
    const int32_t value = word & 0xFFFF;
    state_.LastReadBack = value;
    if (hooks_)
        hooks_->WordSent(1, regSelect, address, value);
    return value;
}

void RegisterAccess::SetFunctionBit(int32_t mask) {
    int32_t image = ReadRegister(kFnControlBits, kRegFunction);
    image |= mask;
    state_.FunctionImage = image;
    WriteRegister(kFnControlBits, kRegFunction, state_.FunctionImage);
}

void RegisterAccess::ClearFunctionBit(int32_t mask) {
    int32_t image = ReadRegister(kFnControlBits, kRegFunction);
    image &= ~mask;
    state_.FunctionImage = image;
    WriteRegister(kFnControlBits, kRegFunction, state_.FunctionImage);
}

void RegisterAccess::RunFunctionBitOperation(const FunctionBitOperation& operation) {
    if (operation.set)
        SetFunctionBit(operation.mask);
    else
        ClearFunctionBit(operation.mask);
}

void RegisterAccess::ClearAllChannels() {
    WriteRegister(kFnClearAll, kRegFunction, 0);
}

void RegisterAccess::LoadAllChannels() {
    WriteRegister(kFnLoadAll, kRegFunction, 0);
}

int32_t RegisterAccess::ComposeFunctionWord() const {
    const DeviceState& s = state_;
    return s.FnSdoDisable + 2 * s.FnD0High + 4 * s.FnD0Output + 8 * s.FnD1High + 16 * s.FnD1Output +
           32 * s.FnLocalGndOffset;
}

void RegisterAccess::WriteFunctionFlags() {
    state_.FunctionImage = ComposeFunctionWord();
    WriteRegister(kFnControlBits, kRegFunction, state_.FunctionImage);
}

}  // namespace tq
