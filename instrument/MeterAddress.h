#pragma once
// The forms of a bench meter's address, read without opening anything: a LAN meter's
// TCPIP::host::port::SOCKET and a USB meter's /dev/usbtmcN. The meter links open what these
// accept; a setting checks its address with them when it is given.

#include <cstdint>
#include <string>

namespace tq {

// The forms an address takes, as error messages name them.
inline constexpr const char* kMeterAddressForms =
    "TCPIP::host::port::SOCKET (a LAN meter, port 5025 on most) or /dev/usbtmcN (a USB meter "
    "through Linux's usbtmc driver)";

struct SocketAddress {
    std::string host;
    uint16_t port = 0;
};
// TCPIP::host::port::SOCKET (also TCPIP0::...); the error says what is wrong with it.
bool ParseSocketAddress(const std::string& text, SocketAddress& address, std::string& error);

// /dev/usbtmcN; the error says what is wrong with it.
bool ParseUsbtmcAddress(const std::string& text, std::string& path, std::string& error);

// Whether `address` is of either form, or empty (no meter); the error names the forms it takes
// first, then what was given.
bool CheckMeterAddress(const std::string& address, std::string& error);

}  // namespace tq
