#pragma once
// A loopback client on a non-blocking socket, for the tests of the servers: a QTcpSocket would read
// everything that comes, and a blocking socket would stop the event loop the server runs on.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QtGlobal>
#include <cerrno>
#include <string>
#include <string_view>

#include "tests/support/EventLoop.h"

namespace tq::testing {

class RawClient {
public:
    // `ipv6`: on ::1 rather than 127.0.0.1.
    explicit RawClient(quint16 port, bool ipv6 = false) {
        fd_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(port);
        address6.sin6_addr = in6addr_loopback;
        // The kernel completes the connection without the server's event loop.
        connected_ =
            ipv6 ? connect(fd_, reinterpret_cast<sockaddr*>(&address6), sizeof address6) == 0
                 : connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~RawClient() { close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return connected_; }
    // What the socket takes now, without waiting.
    std::size_t Offer(std::string_view bytes) {
        const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            ended = true;
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    // Sends all of `bytes` while the event loop runs; false when the server ended the connection
    // first.
    bool SendAll(std::string_view bytes) {
        std::size_t sent = 0;
        WaitFor([&] { return sent == bytes.size() || ended; },
                [&] { sent += Offer(bytes.substr(sent)); });
        return sent == bytes.size();
    }
    // Appends what has arrived to `received` (or drops it); notes the end of the connection.
    void Collect(bool keep = true) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n > 0) {
                if (keep)
                    received.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                ended = true;
                reset = n < 0;
            }
            return;
        }
    }
    void EndSending() { shutdown(fd_, SHUT_WR); }
    // Ends the connection with a reset, as a client killed or timed out may.
    void Reset() {
        const linger abrupt{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
        close(fd_);
        fd_ = -1;
    }
    // The client's own port, as the server names it.
    quint16 LocalPort() const {
        sockaddr_in6 address{};  // its port where an IPv4 address has it too
        socklen_t size = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin6_port);
    }

    std::string received;
    bool ended = false;  // the server closed the connection
    bool reset = false;  // ... by resetting it

private:
    int fd_ = -1;
    bool connected_ = false;
};

}  // namespace tq::testing
