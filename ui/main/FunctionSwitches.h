#pragma once
// What the composer and the temperature panel need from the function register switches.
// Setting a switch from code never runs its change handler and sends nothing.

#include <cstdint>

namespace tq {

class FunctionSwitches {
public:
    virtual ~FunctionSwitches() = default;
    // The SDO switch (Toggle7): true shows "Disabled", false "Enabled".
    virtual void SetSdoSwitch(bool disabled) = 0;
    // Set the six function switches from the bits of a function word (bit 5 Toggle1, 4 Toggle3,
    // 3 Toggle5, 2 Toggle4, 1 Toggle6, 0 Toggle7). The flags in DeviceState are not changed.
    virtual void MirrorFunctionBits(int32_t image) = 0;
};

}  // namespace tq
