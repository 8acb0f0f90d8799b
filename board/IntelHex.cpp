#include "board/IntelHex.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

#include "board/AdapterResults.h"

namespace tq {

IntelHexError::IntelHexError(int line, const std::string& reason)
    : std::runtime_error("line " + std::to_string(line) + ": " + reason), line_(line) {}

uint32_t FirmwareImage::EndAddress() const {
    if (segments.empty())
        return 0;
    const auto& [start, bytes] = *segments.rbegin();
    return start + static_cast<uint32_t>(bytes.size());
}

std::size_t FirmwareImage::ByteCount() const {
    std::size_t count = 0;
    for (const auto& [start, bytes] : segments)
        count += bytes.size();
    return count;
}

namespace {

constexpr uint8_t kTypeData = 0x00;
constexpr uint8_t kTypeEnd = 0x01;
constexpr uint8_t kTypeSegment = 0x02;
constexpr uint8_t kTypeLinear = 0x04;

std::optional<uint8_t> HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<uint8_t>(c - 'a' + 10);
    return std::nullopt;
}

std::string HexByte(uint8_t b) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[b >> 4], kDigits[b & 0xF]};
}

// The bytes of one record line (without the start code); throws for anything but pairs of hex
// digits.
std::vector<uint8_t> DecodeRecord(std::string_view digits, int line) {
    if (digits.size() % 2 != 0)
        throw IntelHexError(line, "odd number of hex digits");
    std::vector<uint8_t> bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const auto hi = HexDigit(digits[i]);
        const auto lo = HexDigit(digits[i + 1]);
        if (!hi || !lo)
            throw IntelHexError(line, "not a hex digit");
        bytes.push_back(static_cast<uint8_t>(*hi << 4 | *lo));
    }
    // Length, two address bytes, type and checksum at the least.
    if (bytes.size() < 5)
        throw IntelHexError(line, "record too short");
    return bytes;
}

// Adds one contiguous run, merging it with its neighbours. Bytes given twice would leave the
// image depending on record order, so an overlap is refused.
void AddRun(FirmwareImage& image, uint32_t address, const uint8_t* data, std::size_t size,
            int line) {
    if (size == 0)
        return;
    auto& segments = image.segments;
    const uint64_t end = static_cast<uint64_t>(address) + size;
    if (end > (uint64_t{1} << 32))
        throw IntelHexError(line, "data beyond the 4 GiB address space");
    auto next = segments.upper_bound(address);
    if (next != segments.end() && next->first < end)
        throw IntelHexError(line, "data overlaps an earlier record");
    auto prev = next == segments.begin() ? segments.end() : std::prev(next);
    if (prev != segments.end()) {
        const uint64_t prevEnd = static_cast<uint64_t>(prev->first) + prev->second.size();
        if (prevEnd > address)
            throw IntelHexError(line, "data overlaps an earlier record");
        if (prevEnd == address) {
            prev->second.insert(prev->second.end(), data, data + size);
        } else {
            prev = segments.emplace(address, std::vector<uint8_t>(data, data + size)).first;
        }
    } else {
        prev = segments.emplace(address, std::vector<uint8_t>(data, data + size)).first;
    }
    if (next != segments.end() && next->first == end) {
        prev->second.insert(prev->second.end(), next->second.begin(), next->second.end());
        segments.erase(next);
    }
}

}  // namespace

namespace {

// The records of `text`. With `whole` false the text is the start of a longer file: the line it
// ends in part way is only checked for its characters, and the end-of-file record may follow.
FirmwareImage ParseRecords(std::string_view text, bool whole) {
    FirmwareImage image;
    bool ended = false;
    bool segmentMode = false;  // 02 records wrap offsets within 64 KiB; 04 records do not
    uint32_t base = 0;
    int line = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t eol = text.find('\n', pos);
        std::string_view record(text.data() + pos,
                                (eol == std::string::npos ? text.size() : eol) - pos);
        pos = eol == std::string::npos ? text.size() : eol + 1;
        ++line;
        if (!whole && eol == std::string::npos) {
            if (record.front() != ':')
                throw IntelHexError(line, "record does not start with ':'");
            for (const char c : record.substr(1))
                if (!HexDigit(c) && c != '\r')
                    throw IntelHexError(line, "not a hex digit");
            break;
        }
        while (!record.empty() &&
               (record.back() == '\r' || record.back() == ' ' || record.back() == '\t'))
            record.remove_suffix(1);
        if (record.empty())
            continue;
        if (ended)
            throw IntelHexError(line, "data after the end-of-file record");
        if (record.front() != ':')
            throw IntelHexError(line, "record does not start with ':'");

        const std::vector<uint8_t> bytes = DecodeRecord(record.substr(1), line);
        const std::size_t length = bytes[0];
        if (bytes.size() != length + 5)
            throw IntelHexError(line, "record length " + std::to_string(length) +
                                          " does not match its " +
                                          std::to_string(bytes.size() - 5) + " data bytes");
        uint8_t sum = 0;
        for (uint8_t b : bytes)
            sum = static_cast<uint8_t>(sum + b);
        if (sum != 0)
            throw IntelHexError(line, "bad checksum");

        const uint32_t offset = static_cast<uint32_t>(bytes[1]) << 8 | bytes[2];
        const uint8_t type = bytes[3];
        const uint8_t* data = bytes.data() + 4;
        switch (type) {
            case kTypeData:
                if (segmentMode && offset + length > 0x10000) {
                    // The offset wraps around within the 64 KiB segment.
                    const std::size_t first = 0x10000 - offset;
                    AddRun(image, base + offset, data, first, line);
                    AddRun(image, base, data + first, length - first, line);
                } else {
                    AddRun(image, base + offset, data, length, line);
                }
                break;
            case kTypeEnd:
                if (length != 0)
                    throw IntelHexError(line, "end-of-file record with data");
                ended = true;
                break;
            case kTypeSegment:
            case kTypeLinear: {
                if (length != 2)
                    throw IntelHexError(
                        line, "address record needs 2 data bytes, has " + std::to_string(length));
                const uint32_t value = static_cast<uint32_t>(data[0]) << 8 | data[1];
                segmentMode = type == kTypeSegment;
                base = segmentMode ? value << 4 : value << 16;
                break;
            }
            default:
                throw IntelHexError(line, "unknown record type " + HexByte(type));
        }
    }
    if (whole && !ended)
        throw IntelHexError(line + 1, "end-of-file record missing");
    return image;
}

}  // namespace

FirmwareImage ParseIntelHex(const std::string& text) {
    return ParseRecords(text, true);
}

int32_t LoadIntelHexFile(const std::string& path, std::size_t maxBytes, FirmwareImage& image,
                         std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        error = path + ": file not found";
        return kResultFirmwareMissing;
    }
    if (status.type() == fs::file_type::none) {
        error = path + ": " + ec.message();
        return kResultFirmwareMissing;
    }
    if (!fs::is_regular_file(status)) {
        error = path + ": not a regular file";
        return kResultFirmwareMissing;
    }
    // Each image byte takes two digits plus at most a record's overhead; a file far beyond that
    // cannot hold an image that fits, so it is refused before any of it is read.
    const uint64_t sizeLimit = std::max<uint64_t>(1 << 20, uint64_t{maxBytes} * 16);
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = path + ": " + ec.message();
        return kResultFirmwareMissing;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be opened for reading";
        return kResultFirmwareMissing;
    }
    if (size > sizeLimit) {
        // Too large only if it is a HEX file at all: a file of zeros or of anything else is
        // malformed, and its start tells.
        std::string head(64 * 1024, '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<std::size_t>(in.gcount()));
        try {
            ParseRecords(head, false);
        } catch (const IntelHexError& e) {
            error = path + ": " + e.what();
            return kResultFirmwareMalformed;
        }
        error = path + ": file of " + std::to_string(size) +
                " bytes is too large for an image of " + std::to_string(maxBytes) + " bytes";
        return kResultFirmwareTooLarge;
    }
    // Read in pieces up to one byte past the limit: the file may have grown since its size was
    // taken.
    std::string text;
    text.reserve(static_cast<std::size_t>(size));
    char piece[65536];
    while (text.size() <= sizeLimit && in.read(piece, sizeof piece).gcount() > 0)
        text.append(piece, static_cast<std::size_t>(in.gcount()));
    if (in.bad()) {
        error = path + ": read error";
        return kResultFirmwareMissing;
    }
    if (text.size() > sizeLimit) {
        error = path + ": file is too large for an image of " + std::to_string(maxBytes) + " bytes";
        return kResultFirmwareTooLarge;
    }
    FirmwareImage parsed;
    try {
        parsed = ParseIntelHex(text);
    } catch (const IntelHexError& e) {
        error = path + ": " + e.what();
        return kResultFirmwareMalformed;
    }
    if (parsed.EndAddress() > maxBytes) {
        error = path + ": image ends at address " + std::to_string(parsed.EndAddress()) +
                ", beyond the " + std::to_string(maxBytes) + " bytes of program RAM";
        return kResultFirmwareTooLarge;
    }
    image = std::move(parsed);
    error.clear();
    return 0;
}

bool IsSimulatorImage(const FirmwareImage& image) {
    const std::string_view tag(kSimulatorImageTag);
    for (const auto& [start, bytes] : image.segments) {
        if (std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end()) != bytes.end())
            return true;
    }
    return false;
}

}  // namespace tq
