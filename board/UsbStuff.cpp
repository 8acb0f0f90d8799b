#include "board/UsbStuff.h"

#include <algorithm>
#include <array>

#include "board/AdapterResults.h"
#include "board/IntelHex.h"
#include "core/InputExcerpt.h"

namespace tq {

std::string FirmwarePathFor(const std::string& programFolder) {
#ifdef _WIN32
    constexpr char kSeparator = '\\';
#else
    constexpr char kSeparator = '/';
#endif
    return programFolder + kSeparator + kFirmwareFileName;
}

bool PathToBytes(DeviceState& state, const std::string& path) {
    // The adapter takes the path as single-byte text: the bytes the file system names it by.
    if (path.size() > kMaxPathBytes)
        return false;
    std::copy(path.begin(), path.end(), state.PathBytes.begin());
    state.PathBytes[path.size()] = 0;
    return true;
}

int16_t ConnectBoard(DeviceState& state, Adapter& adapter, const std::string& programFolder) {
    std::array<uint8_t, 128> boardList{};
    int32_t count = 0;
    adapter.Search_For_Boards(UsbVendorId, UsbProductId, &count, boardList.data());
    adapter.Connect(UsbVendorId, UsbProductId, boardList[0], &state.BoardHandle);
    state.FirmwarePath = FirmwarePathFor(programFolder);
    const std::string pathCopy = state.FirmwarePath;
    if (!PathToBytes(state, pathCopy))
        return static_cast<int16_t>(kResultPathTooLong);
    const int32_t result = adapter.Download_Firmware(state.BoardHandle, state.PathBytes.data());
    const auto low = static_cast<int16_t>(static_cast<uint32_t>(result) & 0xFFFFu);
    // Only the low 16 bits are passed on, but a failure whose low bits happen to be zero
    // (65536, say) must not read as success.
    if (result != 0 && low == 0)
        return 1;
    return low;
}

std::string ExplainConnectionResult(const DeviceState& state, int32_t code) {
    std::string text(ExplainAdapterResult(code));
    if (text.empty())
        return text;
    const std::string& path = state.FirmwarePath;
    switch (code) {
        case kResultFirmwareMissing:
        case kResultFirmwareMalformed:
        case kResultFirmwareTooLarge: {
            // The adapter answers with a code alone; reading the file again with the same reader
            // finds the same fault and says where it lies.
            FirmwareImage image;
            std::string why;
            if (LoadIntelHexFile(path, kProgramRamBytes, image, why) == code && !why.empty())
                text += " (" + std::string(code == kResultFirmwareMissing ? "expected at " : "") +
                        InputExcerpt(why, 600) + ")";
            else if (code == kResultFirmwareMissing)
                text += " (expected at " + InputExcerpt(path, 600) + ")";
            break;
        }
        case kResultSimulatorImage:
            text += " (" + InputExcerpt(path, 600) + ")";
            break;
        case kResultPathTooLong:
            text += " (" + std::to_string(path.size()) + " bytes: " + InputExcerpt(path) + ")";
            break;
        default:
            break;
    }
    return text;
}

}  // namespace tq
