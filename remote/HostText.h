#pragma once
// An address as the program writes it where a person reads it (a client named by the lock, a
// listening line): IPv4 as it is, also one that comes mapped into IPv6; IPv6 in brackets, so that
// a port may follow after a colon. And a time as the clients' log writes it.

#include <QHostAddress>
#include <chrono>
#include <string>

namespace tq {

inline std::string HostText(const QHostAddress& address) {
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        return QHostAddress(v4).toString().toStdString();
    const std::string text = address.toString().toStdString();
    return address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + text + "]" : text;
}

inline std::string Endpoint(const QHostAddress& address, quint16 port) {
    return HostText(address) + ":" + std::to_string(port);
}

// "600 s", or "300 ms" for a time that is no whole number of seconds.
inline std::string DurationText(std::chrono::milliseconds time) {
    return time.count() % 1000 == 0 ? std::to_string(time.count() / 1000) + " s"
                                    : std::to_string(time.count()) + " ms";
}

}  // namespace tq
