#pragma once
// Intel HEX firmware images: data (00), end of file (01), extended segment address (02) and
// extended linear address (04) records, every checksum verified.

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tq {

// A malformed file; what() names the line ("line 3: bad checksum").
class IntelHexError : public std::runtime_error {
public:
    IntelHexError(int line, const std::string& reason);
    int line() const { return line_; }

private:
    int line_;
};

struct FirmwareImage {
    // Contiguous runs of bytes by their start address.
    std::map<uint32_t, std::vector<uint8_t>> segments;
    uint32_t EndAddress() const;  // one past the highest byte; 0 for an empty image
    std::size_t ByteCount() const;
};

// Parse the text of a file. Throws IntelHexError.
FirmwareImage ParseIntelHex(const std::string& text);

// The board controller's program RAM: the largest image a download accepts.
inline constexpr std::size_t kProgramRamBytes = 16 * 1024;

// Read and parse a file. Returns 0 and fills `image`, or an adapter result code: -4 missing or
// unreadable (a directory, no permission), -5 malformed, -6 larger than `maxBytes` of program
// RAM (files much larger than any image are refused without reading them whole). `error`
// receives a readable reason.
int32_t LoadIntelHexFile(const std::string& path, std::size_t maxBytes, FirmwareImage& image,
                         std::string& error);

// The simulated board's own image carries this text in its data, so that the libusb adapter can
// refuse to load it into a real board.
inline constexpr const char* kSimulatorImageTag = "TQ2604X SIMULATED BOARD IMAGE";
bool IsSimulatorImage(const FirmwareImage& image);

}  // namespace tq
