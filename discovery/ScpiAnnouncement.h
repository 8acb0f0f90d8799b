#pragma once
// What the protocol server tells the LAN about itself over DNS-SD: the service instance's name and
// the TXT records that LXI instruments publish with their SCPI services, so that `lxi discover -m`
// and VISA browsers list the board as they list a bench instrument. Standard library only.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tq {

inline constexpr std::string_view kScpiRawServiceType = "_scpi-raw._tcp";
// The web page, as browsers of web servers and of LXI instruments look for it.
inline constexpr std::string_view kHttpServiceType = "_http._tcp";
inline constexpr std::string_view kLxiServiceType = "_lxi._tcp";

struct ScpiAnnouncement {
    std::string name;      // the instance name: "TQ2604X evaluation board SIMULATED"
    uint16_t port = 0;     // the protocol's; 0: not served
    uint16_t webPort = 0;  // the web page's; 0: not served
    std::vector<std::pair<std::string, std::string>> txt;  // key, value, in this order
};

// The board's announcement, with the fields of its *IDN? answer: model "TQ2604X" or "TQ2404",
// serial "SIMULATED" or the USB location, the program's version.
ScpiAnnouncement AnnounceBoard(std::string_view model, std::string_view serial,
                               std::string_view version, uint16_t port);

// The TXT records alone, for an update when the model changes.
std::vector<std::pair<std::string, std::string>> BoardTxtRecords(std::string_view model,
                                                                 std::string_view serial,
                                                                 std::string_view version);

// DNS-SD allows at most 63 bytes in an instance name and 255 in one TXT string: longer text is cut
// at a character boundary of its UTF-8, so the record stays valid whatever the serial holds.
std::string CutUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace tq
