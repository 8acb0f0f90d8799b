#pragma once
// What the web page's library offers the program that loads it (app/WebLibrary.h):
// libtq2604x-eval-web.so beside the program, the page, /api/state, the LXI identification and the
// signed-in changes over Qt HTTP Server. Loaded only when --http is given, so every other run maps
// neither it nor Qt HTTP Server. It reads and changes the instrument through the command tree the
// program hands it.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtPlugin>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "web/WebState.h"

namespace tq {

class InstrumentCommands;

inline constexpr const char* kWebLibraryName = "libtq2604x-eval-web.so";

class WebServer {
public:
    virtual ~WebServer() = default;
    // On each of `addresses` (IP addresses), all on one port; port 0 picks a free one. False with
    // the reason in `error`.
    virtual bool Listen(const QStringList& addresses, uint16_t port, QString& error) = 0;
    // Every address it listens on as a person reads it (IPv6 in brackets).
    virtual QStringList Addresses() const = 0;
    virtual uint16_t Port() const = 0;
    // The addresses it listens on that other computers can reach, as Addresses() names them.
    virtual QStringList AddressesBeyondLoopback() const = 0;
    bool BeyondLoopback() const { return !AddressesBeyondLoopback().isEmpty(); }
    // "https" or "http".
    virtual QString Scheme() const = 0;
};

// Who may change the board from the page, and how the page is served.
struct WebAccess {
    // The sign-in password; empty: no sign-in, and every change from the page is refused. The
    // server keeps only a salted hash of it and overwrites this copy.
    std::string password;
    // A signed-in browser that asks nothing for this long is signed out; 0: never.
    std::chrono::seconds idle{600};
    // Both given: HTTPS with this certificate (PEM, the chain after it) and its private key.
    QString certificateFile;
    QString keyFile;
};

class WebLibrary {
public:
    virtual ~WebLibrary() = default;
    // `facts`: where else the program is reached; the page's own address is the server's.
    virtual std::unique_ptr<WebServer> Server(InstrumentCommands& commands, WebFacts facts,
                                              WebAccess& access) = 0;
    // Whether the certificate and key files serve HTTPS: both readable, PEM, and the key the
    // certificate's own. False with the reason, naming the file or both, in `why`.
    virtual bool CheckTls(const QString& certificateFile, const QString& keyFile, QString& why) = 0;
};

}  // namespace tq

Q_DECLARE_INTERFACE(tq::WebLibrary, TQ_WEB_LIBRARY_IID)
