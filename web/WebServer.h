#pragma once
// The web page's server: Qt HTTP Server over a TCP server that keeps any client's cost bounded.
// Qt HTTP Server reads whole requests and has no limits of its own, so the TCP server enforces
// them before it reads: at most kMaxConnections at once (more are closed at once), at most
// kMaxRequestBytes received per request not yet answered and kMaxUnsentBytes waiting to be sent
// (else the connection is closed), and a connection silent for kIdle is closed. Every answer is
// read-only: GET and HEAD of the page, its style and script, /api/state and /lxi/identification;
// another method is 405, another path 404.

#include <QAbstractHttpServer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <chrono>
#include <memory>
#include <vector>

#include "web/WebState.h"

namespace tq {

class InstrumentCommands;

class BoundedTcpServer : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 32;
    static constexpr qint64 kMaxRequestBytes = 64 * 1024;
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;
    static constexpr std::chrono::seconds kIdle{20};

    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    std::vector<QPointer<QTcpSocket>> open_;  // the connections not yet closed
};

class PageServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    PageServer(InstrumentCommands& commands, WebFacts facts);
    ~PageServer() override;

    // False with the reason in `error` when it cannot listen.
    bool Listen(const QHostAddress& address, uint16_t port, QString& error);
    QHostAddress Address() const { return tcp_.serverAddress(); }
    uint16_t Port() const { return tcp_.serverPort(); }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    BoundedTcpServer tcp_;
    WebFacts facts_;
    InstrumentCommands& commands_;
    std::unique_ptr<WebState> state_;  // made once the page's address is known
};

}  // namespace tq
