#include "platform/IpAddress.h"

#include <algorithm>
#include <cctype>

#ifdef _WIN32
// inet_pton came with Windows Vista.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#endif

namespace tq {

bool IsIpAddress(const std::string& text) {
    unsigned char address[16];
    if (inet_pton(AF_INET, text.c_str(), address) == 1)
        return true;
    // An IPv6 address may name its zone (the interface) after '%'.
    const std::string::size_type zone = text.find('%');
    if (zone != std::string::npos && zone + 1 == text.size())
        return false;
    return inet_pton(AF_INET6, text.substr(0, zone).c_str(), address) == 1;
}

namespace {

bool IsLocalhost(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    const std::string suffix = ".localhost";
    return name == "localhost" ||
           (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0);
}

}  // namespace

std::vector<std::string> ListenAddresses(const std::string& text, std::string& error) {
    if (text.size() > 2 && text.front() == '[' && text.back() == ']' &&
        IsIpAddress(text.substr(1, text.size() - 2)))
        return {text.substr(1, text.size() - 2)};
    if (IsIpAddress(text))
        return {text};
    if (IsLocalhost(text))
        return {"127.0.0.1", "::1"};
    // Not left to the resolver, which reads 192.0.2 as 192.0.0.2.
    if (text.find(':') != std::string::npos ||
        text.find_first_not_of("0123456789.") == std::string::npos) {
        error = "not an IP address";
        return {};
    }
#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        error = "the network cannot be used";
        return {};
    }
#endif
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(text.c_str(), nullptr, &hints, &found);
    std::vector<std::string> addresses;
    if (status != 0) {
        error = gai_strerror(status);
    } else {
        for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
            char host[NI_MAXHOST];
            if (getnameinfo(a->ai_addr, static_cast<socklen_t>(a->ai_addrlen), host, sizeof host,
                            nullptr, 0, NI_NUMERICHOST) != 0)
                continue;
            if (std::find(addresses.begin(), addresses.end(), host) == addresses.end())
                addresses.emplace_back(host);
        }
        freeaddrinfo(found);
        if (addresses.empty())
            error = "it has no IP address";
    }
#ifdef _WIN32
    WSACleanup();
#endif
    return addresses;
}

}  // namespace tq
