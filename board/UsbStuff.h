#pragma once
// Finding the board, opening it and loading its controller's firmware.

#include <cstdint>
#include <string>

#include "board/Adapter.h"
#include "core/DeviceState.h"

namespace tq {

inline constexpr int32_t UsbVendorId = 0x0456;
inline constexpr int32_t UsbProductId = 0xB202;
inline constexpr const char* kFirmwareFileName = "TQ2604.hex";

// The program's folder joined with the firmware file name by the platform's separator.
std::string FirmwarePathFor(const std::string& programFolder);

// Copies `path` into state.PathBytes with a terminating 0. A path longer than 512 bytes does not
// fit: PathBytes is left untouched and false is returned.
bool PathToBytes(DeviceState& state, const std::string& path);

// Search, connect and download the firmware from the program folder. Returns the low 16 bits of
// the download result: 0 on success; -10 when the firmware path is too long (no download is
// attempted then).
int16_t ConnectBoard(DeviceState& state, Adapter& adapter, const std::string& programFolder);

// The explanation of ConnectBoard's result with what the program knows beyond the code: the
// firmware path it looked at and, for a file it could not use, why (the line of a malformed
// file). Empty for a code outside the table.
std::string ExplainConnectionResult(const DeviceState& state, int32_t code);

}  // namespace tq
