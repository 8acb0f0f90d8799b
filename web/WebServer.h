#pragma once
// The web page's server: Qt HTTP Server over a TCP server that keeps any client's cost bounded.
// Qt HTTP Server reads whole requests and has no limits of its own, so the TCP server enforces
// them before it reads: at most kMaxConnections at once (more are closed at once), at most
// kMaxRequestBytes received per request not yet answered and kMaxUnsentBytes waiting to be sent
// (else the connection is closed), and a connection silent for kIdle is closed; over HTTPS the same
// bounds hold from the first byte of the handshake. GET and HEAD read the page, its style and
// script, /api/state and /lxi/identification; POST to /api/signin, /api/signout and /api/change
// signs in and changes the board (docs/web.md), refused (403) unless a password was given.
// Another method is 405, another path 404.

#include <QAbstractHttpServer>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpSocket>
#include <QThreadPool>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "web/WebSessions.h"
#include "web/WebState.h"

namespace tq {

class InstrumentCommands;

struct WebAccess;

// Reads the PEM certificate (its chain after it) and its private key into `tls` and checks that
// the key belongs to the certificate; false with the reason, naming the file, in `why`.
bool ReadTls(const QString& certificateFile, const QString& keyFile, QSslConfiguration& tls,
             QString& why);

// Plain TCP until SetTls() is called; then every connection is a QSslSocket that reaches the
// HTTP server once its handshake is done.
class BoundedTcpServer : public QSslServer {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 32;
    static constexpr qint64 kMaxRequestBytes = 64 * 1024;
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;
    static constexpr std::chrono::seconds kIdle{20};

    using QSslServer::QSslServer;
    void SetTls(const QSslConfiguration& configuration) {
        setSslConfiguration(configuration);
        tls_ = true;
    }
    bool Tls() const { return tls_; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    std::vector<QPointer<QTcpSocket>> open_;  // the connections not yet closed
    bool tls_ = false;
};

class PageServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    // Takes the password out of `access` (PageServer keeps its hash).
    PageServer(InstrumentCommands& commands, WebFacts facts, WebAccess& access);
    ~PageServer() override;

    // On each address, all on one port (0: the one the first picks), over HTTPS on each when a
    // certificate was given. False with the reason in `error` when it cannot listen or read the
    // certificate.
    bool Listen(const std::vector<QHostAddress>& addresses, uint16_t port, QString& error);
    // Every address it listens on as a person reads it (IPv6 in brackets).
    QStringList Addresses() const;
    uint16_t Port() const { return tcp_.empty() ? 0 : tcp_.front()->serverPort(); }
    bool Tls() const { return tls_.has_value(); }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    // POST /api/signin, /api/signout and /api/change; GET /api/session. False: another path.
    bool HandleSignedIn(const QHttpServerRequest& request, QTcpSocket* socket);
    // The change a signed-in browser asks for, as a protocol line; nullopt when malformed.
    static std::optional<std::string> ChangeLine(const QByteArray& body);
    // The certificate and key as TLS configuration; false with the reason in `error`.
    bool ReadCertificate(QString& error);

    // The password of a sign-in is checked on a thread of checks_ (the hash takes a tenth of a
    // second or more), the answer given here once it is done. At most kMaxChecks at once, one per
    // address: more are refused at once (503, 429), so neither the windows nor any client wait.
    static constexpr int kMaxChecks = 4;
    // POST /api/signin: refused at once when its address tried too many wrong passwords or has
    // one being checked, or too many are being checked; else its password is checked.
    bool SignIn(const QHttpServerRequest& request, QTcpSocket* socket,
                WebSessions::Clock::time_point now);
    void CheckPassword(const QHttpServerRequest& request, QTcpSocket* socket,
                       const std::string& address, std::string password);
    // Back on this thread: the outcome of check `number`, answered if its browser is still there.
    void SignInChecked(quint64 number, bool right);
    struct Check {
        std::string address;
        const QHttpServerRequest* request;  // Qt HTTP Server's, one per connection
        QPointer<QTcpSocket> socket;
    };

    std::vector<std::unique_ptr<BoundedTcpServer>> tcp_;  // one on each address
    QString certificateFile_;
    QString keyFile_;
    std::optional<QSslConfiguration> tls_;  // none: plain HTTP
    std::optional<PasswordHash> password_;  // none: no sign-in
    SignInThrottle throttle_;
    std::map<quint64, Check> checking_;  // the passwords being checked, by number
    quint64 checkNumber_ = 0;
    QThreadPool checks_;
    std::unique_ptr<WebSessions> sessions_;
    WebFacts facts_;
    InstrumentCommands& commands_;
    std::unique_ptr<WebState> state_;  // made once the page's address is known
};

}  // namespace tq
