#pragma once
// Telling an IP address from other text without the network library: what --listen accepts.

#include <string>

namespace tq {

// Whether `text` is an IPv4 address in dotted form (192.0.2.7) or an IPv6 address (::1,
// fe80::1%eth0 with its zone).
bool IsIpAddress(const std::string& text);

}  // namespace tq
