#pragma once
// The one record the windows and the board routines share. Created once by the program entry and
// handed by reference to everything that needs it; there is no global instance.

#include <array>
#include <cstdint>
#include <string>

namespace tq {

struct DeviceState {
    int16_t Resolution = 0;  // 16 for the TQ2604, 14 for the TQ2404

    // Pin word value bits 7..0 and index bits 1..0 (each 0 or 1).
    int16_t PinFixed7 = 0;
    int16_t PinFixed6 = 0;
    int16_t PinFixed5 = 0;
    int16_t LdacPin = 0;
    int16_t ClrPin = 0;
    int16_t BinaryCoding = 0;  // 1 = straight binary, 0 = two's complement
    int16_t RstinPin = 0;
    int16_t PinFixed0 = 0;
    int16_t DriveD1 = 0;
    int16_t DriveD0 = 0;

    // The command word being composed.
    int32_t DataValue = 0;
    int16_t Address = 0;
    int16_t RegSelect = 0;
    int16_t ReadWrite = 0;

    // Function register control bits 5..0.
    int16_t FnLocalGndOffset = 0;
    int16_t FnD1Output = 0;
    int16_t FnD1High = 0;
    int16_t FnD0Output = 0;
    int16_t FnD0High = 0;
    int16_t FnSdoDisable = 0;
    int32_t FunctionImage = 0;

    int32_t LastReadBack = 0;
    int32_t CoarseReadBack = 0;
    std::string NumberMode;  // "Hex" or "Dec"
    float RangeVolts = 0.0f;
    std::array<std::string, 6> FunctionChoices{};

    int32_t BoardHandle = 0;
    int16_t LastStatus = 0;          // low 16 bits of the last request's result
    bool LastRequestFailed = false;  // whether that result was negative (for the status bar)
    std::string FirmwarePath;
    std::array<uint8_t, 513> PathBytes{};
    std::array<uint8_t, 4> ReceiveBuffer{};
};

// The defaults the program starts from on every run.
inline void ApplyStartDefaults(DeviceState& s) {
    s.NumberMode = "Hex";
    s.PinFixed7 = s.LdacPin = s.ClrPin = s.BinaryCoding = s.RstinPin = s.PinFixed0 = 1;
    s.PinFixed6 = s.PinFixed5 = s.DriveD1 = s.DriveD0 = 0;
    s.DataValue = 0;
    s.Address = s.RegSelect = s.ReadWrite = 0;
    s.FnLocalGndOffset = s.FnD1Output = s.FnD1High = s.FnD0Output = s.FnD0High = s.FnSdoDisable = 0;
    s.RangeVolts = 10.0f;
    s.Resolution = 16;
}

}  // namespace tq
