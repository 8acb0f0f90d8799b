#pragma once
// What the web page shows, read from the instrument without changing it: the board's identity and
// addresses, every channel's output, code, range, limits and ramp and who drives it, the pins and
// coding, the die temperature, the board's link, the running activities and the last outcomes.
// Given as the JSON document of /api/state (docs/web.md) and as the LXI identification document.
// Outputs come from what the program knows of the registers, so a page that is open costs the
// board nothing but one temperature measurement every few seconds (and one read-back of a register
// the program has not seen).

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "instrument/JsonText.h"

namespace tq {

class InstrumentCommands;
struct InstrumentChange;

// Where the program can be reached, as the page and the identification document name it.
struct WebFacts {
    std::string hostName;
    std::string httpAddress;  // the address the page is served on (IPv6 in brackets)
    uint16_t httpPort = 0;
    std::string scpiAddress;  // IPv6 in brackets; empty: the protocol is not served
    uint16_t scpiPort = 0;
    bool vxi11 = false;  // VXI-11 beside the raw socket, found through the portmapper
    // The name the LAN knows the board by once it is advertised, or "".
    std::function<std::string()> mdnsName;
};

class WebState {
public:
    using Clock = std::chrono::steady_clock;

    WebState(InstrumentCommands& commands, WebFacts facts);
    ~WebState();
    WebState(const WebState&) = delete;
    WebState& operator=(const WebState&) = delete;

    // /api/state, one line of JSON.
    std::string StateJson();
    // /lxi/identification.
    std::string IdentificationXml() const;

    static constexpr std::chrono::seconds kTemperatureAge{2};
    // How many outcomes the page keeps: the newest.
    static constexpr std::size_t kOutcomes = 8;

private:
    struct Outcome {
        std::string when;  // UTC, ISO 8601
        std::string kind;  // "activity", "power", "link"
        std::string text;
    };
    void Observe(const InstrumentChange& change);
    void Remember(std::string kind, std::string text);
    // Registers not yet known, and the die temperature, at most every kTemperatureAge.
    void ReadFromBoard();
    std::string Starter(const void* origin) const;
    // The parts of /api/state.
    JsonDocument IdentityJson() const;
    JsonDocument ChannelJson(int16_t channel) const;
    JsonDocument ActivitiesJson() const;
    // The VISA resource strings that reach the instrument: VXI-11's first, then the raw socket's.
    std::vector<std::string> ResourceStrings() const;

    InstrumentCommands& commands_;
    WebFacts facts_;
    int listener_ = 0;
    std::deque<Outcome> outcomes_;
    // The origin of each data register's last write since the page's server started.
    std::array<std::optional<const void*>, 4> lastSetBy_{};
    int32_t lastResult_ = 0;  // the last board request's result
    std::optional<double> celsius_;
    std::string temperatureProblem_;
    std::optional<Clock::time_point> measured_;
};

}  // namespace tq
