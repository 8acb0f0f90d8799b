#include "platform/IpAddress.h"

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

}  // namespace tq
