#include "board/BoardRequests.h"

#include "core/CheckedInt.h"

namespace tq {

uint8_t ReverseBits(const uint8_t& b) {
    uint8_t result = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1u << i))
            result ^= static_cast<uint8_t>(1u << (7 - i));
    return result;
}

int32_t BoardRequests::Send(uint8_t request, int32_t value, int32_t index, uint8_t direction,
                            int32_t length, uint8_t* buffer) {
    if (gate_ && !inGate_) {
        inGate_ = true;
        try {
            gate_(length == 0);
        } catch (...) {
            inGate_ = false;
            throw;
        }
        inGate_ = false;
    }
    const int32_t result = adapter_.Vendor_Request(state_.BoardHandle, request, value, index,
                                                   direction, length, buffer);
    state_.LastStatus = static_cast<int16_t>(static_cast<uint32_t>(result) & 0xFFFFu);
    state_.LastRequestFailed = result < 0;
    for (const auto& [id, observer] : observers_)
        observer(result);
    return result;
}

int32_t BoardRequests::SendWithoutReply(uint8_t request, int32_t value, int32_t index,
                                        uint8_t direction) {
    uint8_t dummy = 0;
    return Send(request, value, index, direction, 0, &dummy);
}

void BoardRequests::WriteWord(int32_t commandByte, int32_t data) {
    SendWithoutReply(kReqWriteWord, commandByte, data, 0);
}

void BoardRequests::WriteAndPulse(int32_t commandByte, int32_t data) {
    SendWithoutReply(kReqWriteAndPulse, commandByte, data, 0);
}

void BoardRequests::ReadWord(int32_t commandByte) {
    Send(kReqWriteWord, commandByte, 0, 1, 3, state_.ReceiveBuffer.data());
}

void BoardRequests::LegacyRead() {
    Send(kReqWriteWord, 0, 2, 1, 2, state_.ReceiveBuffer.data());
}

int16_t BoardRequests::PinWordValue() const {
    const DeviceState& s = state_;
    int16_t v = Mul16(s.PinFixed7, 128);
    v = Add16(v, Mul16(s.PinFixed6, 64));
    v = Add16(v, Mul16(s.PinFixed5, 32));
    v = Add16(v, Mul16(s.LdacPin, 16));
    v = Add16(v, Mul16(s.ClrPin, 8));
    v = Add16(v, Mul16(s.BinaryCoding, 4));
    v = Add16(v, Mul16(s.RstinPin, 2));
    return Add16(v, s.PinFixed0);
}

int16_t BoardRequests::PinWordIndex() const {
    return Add16(Mul16(state_.DriveD1, 2), state_.DriveD0);
}

void BoardRequests::SendPinWord() {
    SendWithoutReply(kReqSetPins, PinWordValue(), PinWordIndex(), 0);
}

void BoardRequests::SetD0Direction(int32_t value) {
    SendWithoutReply(kReqSetD0Direction, value, 0, 1);
}

void BoardRequests::SetD1Direction(int32_t value) {
    SendWithoutReply(kReqSetD1Direction, value, 0, 1);
}

int16_t BoardRequests::ReadAdcWord() {
    Send(kReqReadAdc, 0, 0, 1, 2, state_.ReceiveBuffer.data());
    const int32_t low = ReverseBits(state_.ReceiveBuffer[1]);
    const int32_t high = ReverseBits(state_.ReceiveBuffer[0]);
    return Check16(static_cast<int64_t>(high) * 256 + low);
}

int BoardRequests::AddObserver(std::function<void(int32_t result)> observer) {
    observers_.emplace_back(nextObserver_, std::move(observer));
    return nextObserver_++;
}

void BoardRequests::RemoveObserver(int id) {
    std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

}  // namespace tq
