#include "instrument/MeterAddress.h"

#include <charconv>
#include <limits>
#include <vector>

#include "core/InputExcerpt.h"

namespace tq {
namespace {

std::vector<std::string> SplitAt(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + separator.size();
    }
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace

bool ParseSocketAddress(const std::string& text, SocketAddress& address, std::string& error) {
    const std::vector<std::string> parts = SplitAt(text, "::");
    const std::string board = parts.empty() ? "" : Upper(parts[0]);
    const bool tcpip = board.rfind("TCPIP", 0) == 0 &&
                       board.find_first_not_of("0123456789", 5) == std::string::npos;
    if (parts.size() != 4 || !tcpip || Upper(parts[3]) != "SOCKET") {
        error = "the meter's address " + QuotedInput(text) +
                " is not of the form TCPIP::host::port::SOCKET";
        return false;
    }
    if (parts[1].empty()) {
        error = "the meter's address names no host";
        return false;
    }
    constexpr unsigned kHighestPort = std::numeric_limits<uint16_t>::max();
    unsigned port = 0;
    const std::string& p = parts[2];
    auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), port);
    if (ec != std::errc() || end != p.data() + p.size() || port == 0 || port > kHighestPort) {
        error = "the meter's port " + QuotedInput(p) + " is not a number from 1 to " +
                std::to_string(kHighestPort);
        return false;
    }
    address = {parts[1], static_cast<uint16_t>(port)};
    return true;
}

bool ParseUsbtmcAddress(const std::string& text, std::string& path, std::string& error) {
    const std::string prefix = "/dev/usbtmc";
    const std::string number = text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : "";
    if (number.empty() || number.size() > 3 ||
        number.find_first_not_of("0123456789") != std::string::npos) {
        error = "the meter's address " + QuotedInput(text) + " is not of the form /dev/usbtmcN";
        return false;
    }
    path = text;
    return true;
}

bool CheckMeterAddress(const std::string& address, std::string& error) {
    if (address.empty())
        return true;
    const std::string forms = std::string("a meter's address is ") + kMeterAddressForms;
    std::string why;
    if (Upper(address.substr(0, 5)) == "TCPIP") {
        SocketAddress socket;
        if (ParseSocketAddress(address, socket, why))
            return true;
        error = forms + "; " + why;
        return false;
    }
    std::string path;
    if (ParseUsbtmcAddress(address, path, why))
        return true;
    error = forms + ", not " + QuotedInput(address, 40);
    return false;
}

}  // namespace tq
