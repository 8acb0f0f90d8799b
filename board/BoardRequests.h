#pragma once
// The board's vendor requests. Every request stores the low 16 bits of its result in
// DeviceState::LastStatus (and whether it failed in LastRequestFailed); nothing else is checked.

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "board/Adapter.h"
#include "core/DeviceState.h"

namespace tq {

// Request codes.
inline constexpr uint8_t kReqWriteAndPulse = 0xD9;
inline constexpr uint8_t kReqReadAdc = 0xDA;
inline constexpr uint8_t kReqSetD0Direction = 0xDB;
inline constexpr uint8_t kReqSetD1Direction = 0xDC;
inline constexpr uint8_t kReqWriteWord = 0xDD;
inline constexpr uint8_t kReqSetPins = 0xDE;

// Bit i moves to bit 7 - i: the board returns every read byte in reversed bit order.
uint8_t ReverseBits(const uint8_t& b);

class BoardRequests {
public:
    BoardRequests(DeviceState& state, Adapter& adapter) : state_(state), adapter_(adapter) {}

    // 0xDD: shift the 24-bit word commandByte x 65536 + data into the converter.
    void WriteWord(int32_t commandByte, int32_t data);
    // 0xD9: the same, then pulse LDAC.
    void WriteAndPulse(int32_t commandByte, int32_t data);
    // 0xDD read form: shift the word out and take 3 bytes back into ReceiveBuffer.
    void ReadWord(int32_t commandByte);
    // 0xDD legacy read: two bytes into ReceiveBuffer.
    void LegacyRead();
    // 0xDE with the pin word built from the ten pin flags.
    void SendPinWord();
    // 0xDB / 0xDC: 0 when the converter's pin becomes an output, 1 when it becomes an input.
    void SetD0Direction(int32_t value);
    void SetD1Direction(int32_t value);
    // 0xDA: the board converter's reading of the TEMP pin. A reversed first byte of 128 or more
    // does not fit the signed 16-bit result and raises NumericError.
    int16_t ReadAdcWord();

    int16_t PinWordValue() const;
    int16_t PinWordIndex() const;

    // Called with the result of every request, after LastStatus is stored. Returns an id for
    // RemoveObserver.
    int AddObserver(std::function<void(int32_t result)> observer);
    void RemoveObserver(int id);

    // Called before every request (`changes`: it has no reply, so it may change the board). It
    // may send requests of its own; it is not called for those. One gate at most.
    void SetGate(std::function<void(bool changes)> gate) { gate_ = std::move(gate); }

    DeviceState& State() { return state_; }
    Adapter& BoardAdapter() { return adapter_; }

private:
    int32_t Send(uint8_t request, int32_t value, int32_t index, uint8_t direction, int32_t length,
                 uint8_t* buffer);
    int32_t SendWithoutReply(uint8_t request, int32_t value, int32_t index, uint8_t direction);

    DeviceState& state_;
    Adapter& adapter_;
    std::vector<std::pair<int, std::function<void(int32_t)>>> observers_;
    int nextObserver_ = 1;
    std::function<void(bool)> gate_;
    bool inGate_ = false;
};

}  // namespace tq
