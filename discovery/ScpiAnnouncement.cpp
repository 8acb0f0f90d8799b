#include "discovery/ScpiAnnouncement.h"

namespace tq {

namespace {

constexpr std::size_t kMaxInstanceName = 63;
constexpr std::size_t kMaxTxtString = 255;

// The manufacturer field of *IDN?, so that a browser and the instrument name the board alike.
constexpr std::string_view kManufacturer = "TQ2604X-EVAL";

}  // namespace

std::string CutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return std::string(text);
    std::size_t end = maxBytes;
    // Back off continuation bytes (10xxxxxx) to the start of the character that does not fit.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

std::vector<std::pair<std::string, std::string>> BoardTxtRecords(std::string_view model,
                                                                 std::string_view serial,
                                                                 std::string_view version) {
    std::vector<std::pair<std::string, std::string>> records{
        {"txtvers", "1"},
        {"Manufacturer", std::string(kManufacturer)},
        {"Model", std::string(model)},
        {"SerialNumber", std::string(serial)},
        {"FirmwareVersion", std::string(version)},
    };
    for (auto& [key, value] : records)
        value = CutUtf8(value, kMaxTxtString - key.size() - 1);
    return records;
}

ScpiAnnouncement AnnounceBoard(std::string_view model, std::string_view serial,
                               std::string_view version, uint16_t port) {
    ScpiAnnouncement announcement;
    announcement.name =
        CutUtf8("TQ2604X evaluation board " + std::string(serial), kMaxInstanceName);
    announcement.port = port;
    announcement.txt = BoardTxtRecords(model, serial, version);
    return announcement;
}

}  // namespace tq
