#pragma once
// The adapter's failure codes and the one explanation text of each.

#include <cstdint>
#include <string_view>

namespace tq {

inline constexpr int32_t kResultIoError = -1;
inline constexpr int32_t kResultNoBoard = -2;
inline constexpr int32_t kResultAccessDenied = -3;
inline constexpr int32_t kResultFirmwareMissing = -4;
inline constexpr int32_t kResultFirmwareMalformed = -5;
inline constexpr int32_t kResultFirmwareTooLarge = -6;
inline constexpr int32_t kResultTimeout = -7;
inline constexpr int32_t kResultNoReenumeration = -8;
inline constexpr int32_t kResultSimulatorImage = -9;
inline constexpr int32_t kResultPathTooLong = -10;

// The explanation of a code of the table, or an empty view for any other value, as the start-up
// gives it (starting again is what helps there).
std::string_view ExplainAdapterResult(int32_t code);
// The same for a request that fails while the program runs: the program goes on by itself once
// the board answers again, so the text says what to check rather than to start again.
std::string_view ExplainRequestFailure(int32_t code);

}  // namespace tq
