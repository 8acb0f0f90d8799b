#pragma once
// Register writes and read-backs through the 24-bit command word, the function register's
// read-modify-write operations and the two broadcast commands.

#include <cstdint>

#include "board/BoardRequests.h"
#include "core/DeviceState.h"
#include "core/Tables.h"

namespace tq {

// What the register routines need from the main window.
class RegisterHooks {
public:
    virtual ~RegisterHooks() = default;
    // Whether "Pulse After Data Write" is checked.
    virtual bool PulseAfterDataWrite() const = 0;
    // Show the R/W bit of the word just sent in the command word display.
    virtual void ShowReadWrite(int16_t readWrite) = 0;
    // The whole word once it has gone: for a read, `data` is the register's value read back.
    virtual void WordSent(int16_t /*readWrite*/, int16_t /*regSelect*/, int16_t /*address*/,
                          int32_t /*data*/) {}
};

class RegisterAccess {
public:
    RegisterAccess(DeviceState& state, BoardRequests& requests)
        : state_(state), requests_(requests) {}

    // Without hooks (no main window yet) writes are never pulsed and nothing is shown.
    void SetHooks(RegisterHooks* hooks) { hooks_ = hooks; }

    // One word with R/W = 0: 0xD9 (write and pulse) when the register is not the function
    // register and "Pulse After Data Write" is checked, else 0xDD. `data` goes out unchanged.
    void WriteRegister(int16_t address, int16_t regSelect, int32_t data);
    // The same with the pulse decided by the caller (never for the function register).
    void WriteRegister(int16_t address, int16_t regSelect, int32_t data, bool pulse);

    // Sends the read word twice; the second reply carries the register. Returns 0..65535 and
    // stores it in LastReadBack.
    int32_t ReadRegister(int16_t address, int16_t regSelect);

    // Read the function register, set or clear `mask`, keep every other bit, write it back.
    void SetFunctionBit(int32_t mask);
    void ClearFunctionBit(int32_t mask);
    void RunFunctionBitOperation(const FunctionBitOperation& operation);

    void ClearAllChannels();
    void LoadAllChannels();

    // The function register word built from the six function flags.
    int32_t ComposeFunctionWord() const;
    // Compose the word, store it in FunctionImage and write it to address 1, register 0.
    void WriteFunctionFlags();

    DeviceState& State() { return state_; }
    BoardRequests& Requests() { return requests_; }

private:
    void ShowReadWrite();

    DeviceState& state_;
    BoardRequests& requests_;
    RegisterHooks* hooks_ = nullptr;
};

}  // namespace tq
