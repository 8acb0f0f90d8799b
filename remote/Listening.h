#pragma once
// The addresses the servers listen on (the raw socket, VXI-11, the web page): the resolved text of
// --listen as addresses, and a TCP server on each of them, all on one port.

#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <vector>

#include "remote/HostText.h"

namespace tq {

// `texts` (IP addresses) as addresses; false with the one that is none in `error`.
inline bool HostAddresses(const QStringList& texts, std::vector<QHostAddress>& addresses,
                          QString& error) {
    addresses.clear();
    for (const QString& text : texts) {
        const QHostAddress address(text);
        if (address.isNull()) {
            error = QStringLiteral("%1 is not an IP address").arg(text);
            return false;
        }
        addresses.push_back(address);
    }
    if (addresses.empty())
        error = QStringLiteral("no address to listen on");
    return !addresses.empty();
}

// Listens on each address with a server `make` gives, all on `port`; 0: the one the first address
// picks. False with the address and the reason in `error` when one cannot listen.
template <class Make>
bool ListenOnEach(const std::vector<QHostAddress>& addresses, quint16 port, Make make,
                  QString& error) {
    for (const QHostAddress& address : addresses) {
        QTcpServer* server = make();
        if (!server->listen(address, port)) {
            error = QStringLiteral("%1: %2").arg(QString::fromStdString(HostText(address)),
                                                 server->errorString());
            return false;
        }
        port = server->serverPort();
    }
    return true;
}

// Each listening address as a person reads it (IPv6 in brackets).
template <class Servers>
QStringList ListeningAddresses(const Servers& servers) {
    QStringList texts;
    for (const auto& server : servers)
        texts.append(QString::fromStdString(HostText(server->serverAddress())));
    return texts;
}

}  // namespace tq
