#include "web/WebServer.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace tq {
namespace {

// Scripts and styles come from the page's own files only: nothing inline, nothing from elsewhere,
// and no other site may frame it.
constexpr const char* kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

struct Asset {
    const char* path;
    const char* resource;
    const char* type;
};
constexpr Asset kAssets[] = {
    {"/", ":/web/index.html", "text/html; charset=utf-8"},
    {"/page.css", ":/web/page.css", "text/css; charset=utf-8"},
    {"/page.js", ":/web/page.js", "text/javascript; charset=utf-8"},
};

using Status = QHttpServerResponder::StatusCode;

void Answer(QHttpServerResponder responder, const QHttpServerRequest& request, Status status,
            const QByteArray& type, const QByteArray& body) {
    responder.writeStatusLine(status);
    responder.writeHeaders({{"Content-Type", type},
                            {"Content-Length", QByteArray::number(body.size())},
                            {"Content-Security-Policy", kContentSecurityPolicy},
                            {"X-Frame-Options", "DENY"},
                            {"X-Content-Type-Options", "nosniff"},
                            {"Referrer-Policy", "no-referrer"},
                            {"Cache-Control", "no-store"}});
    if (status == Status::MethodNotAllowed)
        responder.writeHeader("Allow", "GET, HEAD");
    // HEAD: the headers GET would have, without the body.
    responder.writeBody(request.method() == QHttpServerRequest::Method::Head ? QByteArray() : body);
}

}  // namespace

void BoundedTcpServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Counted here rather than by the HTTP server's signals, which it cuts off a socket whose
    // request it cannot parse.
    std::erase_if(open_, [](const QPointer<QTcpSocket>& s) {
        if (s && s->state() == QAbstractSocket::UnconnectedState)
            s->deleteLater();
        return !s || s->state() == QAbstractSocket::UnconnectedState;
    });
    if (static_cast<int>(open_.size()) >= kMaxConnections) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    open_.emplace_back(socket);
    // Qt keeps no more than this in the socket; what the HTTP server has read is counted below.
    socket->setReadBufferSize(kMaxRequestBytes);
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(kIdle);
    connect(idle, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    idle->start();
    auto received = std::make_shared<qint64>(0);
    // Connected before the HTTP server's own slot, so it runs first: a request over the bound
    // never reaches the server, whose slot is cut off before it could read it.
    connect(socket, &QTcpSocket::readyRead, socket, [socket, idle, received] {
        idle->start();
        *received += socket->bytesAvailable();
        if (*received > kMaxRequestBytes || socket->bytesToWrite() > kMaxUnsentBytes) {
            QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
            // Closed from the event loop: the HTTP server forgets the socket when it is.
            QMetaObject::invokeMethod(socket, &QTcpSocket::abort, Qt::QueuedConnection);
            socket->deleteLater();
        }
    });
    // An answer ends the request it answers: the next one is counted afresh.
    connect(socket, &QTcpSocket::bytesWritten, socket, [idle, received] {
        idle->start();
        *received = 0;
    });
    addPendingConnection(socket);
}

PageServer::PageServer(InstrumentCommands& commands, WebFacts facts)
    : facts_(std::move(facts)), commands_(commands) {}

PageServer::~PageServer() = default;

bool PageServer::Listen(const QHostAddress& address, uint16_t port, QString& error) {
    if (!tcp_.listen(address, port)) {
        error = tcp_.errorString();
        return false;
    }
    facts_.httpAddress = tcp_.serverAddress().toString().toStdString();
    facts_.httpPort = tcp_.serverPort();
    state_ = std::make_unique<WebState>(commands_, facts_);
    bind(&tcp_);
    return true;
}

bool PageServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    const auto method = request.method();
    if (method != QHttpServerRequest::Method::Get && method != QHttpServerRequest::Method::Head) {
        Answer(makeResponder(request, socket), request, Status::MethodNotAllowed,
               "text/plain; charset=utf-8",
               "Only GET and HEAD: this page shows the board, it does not change it.\n");
        return true;
    }
    const QString path = request.url().path();
    if (path == QLatin1String("/api/state")) {
        Answer(makeResponder(request, socket), request, Status::Ok, "application/json",
               QByteArray::fromStdString(state_->StateJson()));
        return true;
    }
    if (path == QLatin1String("/lxi/identification")) {
        Answer(makeResponder(request, socket), request, Status::Ok, "text/xml; charset=utf-8",
               QByteArray::fromStdString(state_->IdentificationXml()));
        return true;
    }
    for (const Asset& asset : kAssets) {
        if (path == QLatin1String(asset.path)) {
            QFile file(QLatin1String(asset.resource));
            file.open(QIODevice::ReadOnly);
            Answer(makeResponder(request, socket), request, Status::Ok, asset.type, file.readAll());
            return true;
        }
    }
    return false;
}

void PageServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    Answer(makeResponder(request, socket), request, Status::NotFound, "text/plain; charset=utf-8",
           "Not found: the page is at /, its state at /api/state.\n");
}

}  // namespace tq
