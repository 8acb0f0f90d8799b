#pragma once
// The addresses --listen names, without the network library: an IP address as it is, a host name
// resolved once, at start.

#include <string>
#include <vector>

namespace tq {

// Whether `text` is an IPv4 address in dotted form (192.0.2.7) or an IPv6 address (::1,
// fe80::1%eth0 with its zone).
bool IsIpAddress(const std::string& text);

// The IP addresses to listen on for `text`: an address as it is (IPv6 without brackets), a host
// name every address it resolves to, each once, in the resolver's order. `localhost` and the names
// under it are the loopback addresses 127.0.0.1 and ::1 whatever the hosts file says, as other
// network programs have it. Empty, with the reason in `error`, when the name resolves to none.
std::vector<std::string> ListenAddresses(const std::string& text, std::string& error);

}  // namespace tq
