#pragma once
// An address as the program writes it where a person reads it (a client named by the lock, a
// listening line): IPv4 as it is, also one that comes mapped into IPv6; IPv6 in brackets, so that
// a port may follow after a colon.

#include <QHostAddress>
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

}  // namespace tq
