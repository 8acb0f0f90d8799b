#include "web/WebServer.h"

#include "remote/Listening.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>

#include "web/WebLibrary.h"

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
using Headers = std::vector<std::pair<QByteArray, QByteArray>>;

void Answer(QHttpServerResponder responder, const QHttpServerRequest& request, Status status,
            const QByteArray& type, const QByteArray& body, const Headers& more = {}) {
    responder.writeStatusLine(status);
    responder.writeHeaders({{"Content-Type", type},
                            {"Content-Length", QByteArray::number(body.size())},
                            {"Content-Security-Policy", kContentSecurityPolicy},
                            {"X-Frame-Options", "DENY"},
                            {"X-Content-Type-Options", "nosniff"},
                            {"Referrer-Policy", "no-referrer"},
                            {"Cache-Control", "no-store"}});
    for (const auto& [name, value] : more)
        responder.writeHeader(name, value);
    // HEAD: the headers GET would have, without the body.
    responder.writeBody(request.method() == QHttpServerRequest::Method::Head ? QByteArray() : body);
}

// A JSON answer of the signed-in paths: {"error": text} or the given members.
void AnswerJson(QHttpServerResponder responder, const QHttpServerRequest& request, Status status,
                const nlohmann::json& body, const Headers& more = {}) {
    Answer(std::move(responder), request, status, "application/json",
           QByteArray::fromStdString(body.dump()), more);
}

nlohmann::json Refusal(const std::string& why) {
    return {{"error", why}};
}

constexpr const char* kCookie = "tq_session";

// Only the page's own requests carry the cookie, and no script reads it.
QByteArray CookieTail(bool tls) {
    return QByteArray("; Path=/; HttpOnly; SameSite=Strict") + (tls ? "; Secure" : "");
}

// The session's id from the Cookie header, or "".
std::string SessionId(const QHttpServerRequest& request) {
    for (QByteArray part : request.value("Cookie").split(';')) {
        part = part.trimmed();
        const QByteArray name = QByteArray(kCookie) + '=';
        if (part.startsWith(name))
            return part.mid(name.size()).toStdString();
    }
    return {};
}

// Neither another site's page (its Origin, or the browser's Sec-Fetch-Site) nor a page framed
// elsewhere may ask: a browser names the origin of every POST.
bool SameOrigin(const QHttpServerRequest& request, bool tls) {
    const QByteArray site = request.value("Sec-Fetch-Site");
    if (!site.isEmpty() && site != "same-origin")
        return false;
    const QByteArray origin = request.value("Origin");
    return origin.isEmpty() ||
           origin == QByteArray(tls ? "https://" : "http://") + request.value("Host");
}

// A number as the protocol reads it, shortest exact form.
std::string Number(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

}  // namespace

void BoundedTcpServer::incomingConnection(qintptr descriptor) {
    QTcpSocket* socket = tls_ ? new QSslSocket(this) : new QTcpSocket(this);
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
    auto* secure = qobject_cast<QSslSocket*>(socket);
    if (!secure) {
        addPendingConnection(socket);
        return;
    }
    // The HTTP server gets it once the handshake is done; a failed one closes it.
    secure->setSslConfiguration(sslConfiguration());
    connect(secure, &QSslSocket::encrypted, this, [this, secure] { addPendingConnection(secure); });
    connect(secure, &QSslSocket::sslErrors, secure, [secure] {
        QMetaObject::invokeMethod(secure, &QTcpSocket::abort, Qt::QueuedConnection);
    });
    secure->startServerEncryption();
}

namespace {

// Takes a connection's descriptor without making a socket of it.
class DescriptorCatcher : public QTcpServer {
public:
    qintptr descriptor = -1;

protected:
    void incomingConnection(qintptr handed) override { descriptor = handed; }
};

// Whether the key belongs to the certificate: Qt's TLS layer tells only when a server starts a
// handshake, so one is started on a loopback connection of its own.
bool KeyFitsCertificate(const QSslConfiguration& tls) {
    DescriptorCatcher server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return true;  // no loopback here: the first handshake tells
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!client.waitForConnected(2000) || !server.waitForNewConnection(2000) ||
        server.descriptor < 0)
        return true;
    QSslSocket probe;
    probe.setSocketDescriptor(server.descriptor);
    probe.setSslConfiguration(tls);
    probe.startServerEncryption();
    const bool fits = probe.error() != QAbstractSocket::SslInternalError &&
                      probe.error() != QAbstractSocket::SslInvalidUserDataError;
    probe.abort();
    return fits;
}

}  // namespace

bool ReadTls(const QString& certificateFile, const QString& keyFile, QSslConfiguration& tls,
             QString& why) {
    QFile certificate(certificateFile);
    if (!certificate.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("cannot read the certificate file %1: %2")
                  .arg(certificateFile, certificate.errorString());
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificate.read(1024 * 1024));
    if (chain.isEmpty()) {
        why = QStringLiteral("%1 holds no PEM certificate").arg(certificateFile);
        return false;
    }
    QFile file(keyFile);
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("cannot read the key file %1: %2").arg(keyFile, file.errorString());
        return false;
    }
    const QByteArray pem = file.read(1024 * 1024);
    QSslKey key;
    for (const auto algorithm : {QSsl::Ec, QSsl::Rsa, QSsl::Dsa, QSsl::Dh})
        if (key.isNull())
            key = QSslKey(pem, algorithm);
    if (key.isNull()) {
        why = QStringLiteral("%1 holds no PEM private key that is not encrypted").arg(keyFile);
        return false;
    }
    tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    if (!KeyFitsCertificate(tls)) {
        why = QStringLiteral(
                  "the key in %1 does not belong to the certificate in %2: give the "
                  "key the certificate was made with")
                  .arg(keyFile, certificateFile);
        return false;
    }
    return true;
}

PageServer::PageServer(InstrumentCommands& commands, WebFacts facts, WebAccess& access)
    : certificateFile_(access.certificateFile),
      keyFile_(access.keyFile),
      facts_(std::move(facts)),
      commands_(commands) {
    if (!access.password.empty()) {
        password_.emplace(access.password);
        sessions_ = std::make_unique<WebSessions>(commands, access.idle);
    }
    checks_.setMaxThreadCount(2);
}

PageServer::~PageServer() {
    // No check answers once the server is gone: those not started are dropped, the rest awaited
    // (their answers, posted to this object, go with it).
    checks_.clear();
    checks_.waitForDone();
}

bool PageServer::ReadCertificate(QString& error) {
    QSslConfiguration tls;
    if (!ReadTls(certificateFile_, keyFile_, tls, error))
        return false;
    tls_ = tls;
    return true;
}

bool PageServer::Listen(const std::vector<QHostAddress>& addresses, uint16_t port, QString& error) {
    // Read once; every address serves the same certificate.
    if (!certificateFile_.isEmpty() && !tls_ && !ReadCertificate(error))
        return false;
    const auto listener = [this] {
        tcp_.push_back(std::make_unique<BoundedTcpServer>());
        if (tls_)
            tcp_.back()->SetTls(*tls_);
        return tcp_.back().get();
    };
    if (!ListenOnEach(addresses, port, listener, error))
        return false;
    // The page names the first address it is served on.
    facts_.httpAddress = HostText(tcp_.front()->serverAddress());
    facts_.httpPort = tcp_.front()->serverPort();
    state_ = std::make_unique<WebState>(commands_, facts_);
    for (const auto& tcp : tcp_)
        bind(tcp.get());
    return true;
}

QStringList PageServer::Addresses() const {
    return ListeningAddresses(tcp_);
}

std::optional<std::string> PageServer::ChangeLine(const QByteArray& body) {
    const nlohmann::json change = nlohmann::json::parse(body.toStdString(), nullptr, false);
    if (!change.is_object() || !change.contains("action") || !change["action"].is_string())
        return std::nullopt;
    const std::string action = change["action"];
    // Only numbers reach the line: nothing a browser sends is run as text.
    const auto whole = [&change](const char* name, int lowest, int highest) -> std::optional<int> {
        if (!change.contains(name) || !change[name].is_number_integer())
            return std::nullopt;
        const int64_t value = change[name];
        if (value < lowest || value > highest)
            return std::nullopt;
        return static_cast<int>(value);
    };
    if (action == "voltage") {
        const auto channel = whole("channel", 1, 4);
        if (!channel || !change.contains("volts") || !change["volts"].is_number() ||
            !std::isfinite(change["volts"].get<double>()))
            return std::nullopt;
        return "SOUR" + std::to_string(*channel) + ":VOLT " + Number(change["volts"]);
    }
    if (action == "recall") {
        const auto slot = whole("slot", 0, 999);
        return slot ? std::optional<std::string>("*RCL " + std::to_string(*slot)) : std::nullopt;
    }
    if (action == "abort")
        return "ABOR";
    if (action == "safe")
        return "OUTP:SAFE";
    return std::nullopt;
}

bool PageServer::HandleSignedIn(const QHttpServerRequest& request, QTcpSocket* socket) {
    const QString path = request.url().path();
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    const auto now = WebSessions::Clock::now();
    const std::string id = SessionId(request);
    const auto answer = [&](Status status, const nlohmann::json& body, const Headers& more = {}) {
        AnswerJson(makeResponder(request, socket), request, status, body, more);
        return true;
    };
    if (path == QLatin1String("/api/session") && !post) {
        WebSessions::Session* session = sessions_ ? sessions_->Find(id, now) : nullptr;
        return answer(Status::Ok, {{"signIn", sessions_ != nullptr},
                                   {"signedIn", session != nullptr},
                                   {"token", session ? nlohmann::json(session->token) : nullptr}});
    }
    const bool action = path == QLatin1String("/api/signin") ||
                        path == QLatin1String("/api/signout") ||
                        path == QLatin1String("/api/change");
    if (!action)
        return false;
    if (!post)
        return answer(Status::MethodNotAllowed, Refusal("Only POST changes the board"),
                      {{"Allow", "POST"}});
    if (!sessions_)
        return answer(Status::Forbidden,
                      Refusal("Changes from this page are off: the program was started without "
                              "--http-password-file"));
    if (!SameOrigin(request, Tls()))
        return answer(Status::Forbidden, Refusal("Refused: the request comes from another site"));
    const QByteArray cookieTail = CookieTail(Tls());

    if (path == QLatin1String("/api/signin"))
        return SignIn(request, socket, now);

    WebSessions::Session* session = sessions_->Find(id, now);
    if (!session)
        return answer(Status::Forbidden,
                      Refusal("Not signed in (or signed out after a while unused): sign in again"));
    if (request.value("X-TQ-Token").toStdString() != session->token)
        return answer(Status::Forbidden,
                      Refusal("Refused: the request lacks this session's token"));
    if (path == QLatin1String("/api/signout")) {
        sessions_->Close(id);
        return answer(Status::Ok, {{"signedIn", false}},
                      {{"Set-Cookie", QByteArray(kCookie) + "=; Max-Age=0" + cookieTail}});
    }
    const std::optional<std::string> line = ChangeLine(request.body());
    if (!line)
        return answer(Status::BadRequest,
                      Refusal("Not a change this page makes: a voltage, a setup slot, Safe State "
                              "or stopping a run"));
    const std::string errors = WebSessions::Run(*session, *line);
    if (!errors.empty())
        return answer(Status::Conflict, Refusal(errors));
    return answer(Status::Ok, {{"done", *line}});
}

bool PageServer::SignIn(const QHttpServerRequest& request, QTcpSocket* socket,
                        WebSessions::Clock::time_point now) {
    const auto answer = [&](Status status, const nlohmann::json& body, const Headers& more = {}) {
        AnswerJson(makeResponder(request, socket), request, status, body, more);
        return true;
    };
    const std::string address = request.remoteAddress().toString().toStdString();
    const auto wait = throttle_.Wait(address, now);
    if (wait > wait.zero()) {
        const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait).count();
        return answer(Status::TooManyRequests,
                      Refusal("Too many wrong passwords from " + address + ": try again in " +
                              std::to_string(seconds) + " s"),
                      {{"Retry-After", QByteArray::number(seconds)}});
    }
    if (std::any_of(checking_.begin(), checking_.end(),
                    [&address](const auto& c) { return c.second.address == address; }))
        return answer(Status::TooManyRequests,
                      Refusal("A password from " + address + " is being checked: try again in 1 s"),
                      {{"Retry-After", "1"}});
    if (checking_.size() >= kMaxChecks)
        return answer(Status::ServiceUnavailable,
                      Refusal("Too many sign-ins are being checked at once: try again in 1 s"),
                      {{"Retry-After", "1"}});
    nlohmann::json form = nlohmann::json::parse(request.body().toStdString(), nullptr, false);
    if (!form.is_object() || !form.contains("password") || !form["password"].is_string()) {
        throttle_.Failed(address, now);
        return answer(Status::Forbidden, Refusal("Wrong password"));
    }
    CheckPassword(request, socket, address, std::move(form["password"].get_ref<std::string&>()));
    return true;
}

void PageServer::CheckPassword(const QHttpServerRequest& request, QTcpSocket* socket,
                               const std::string& address, std::string password) {
    const quint64 number = ++checkNumber_;
    checking_.emplace(number, Check{address, &request, socket});
    // The thread sees only copies (the hash, the password tried) and hands back the outcome.
    checks_.start([this, number, hash = *password_, password = std::move(password)]() mutable {
        const bool right = hash.Matches(password);
        std::fill(password.begin(), password.end(), '\0');
        QMetaObject::invokeMethod(
            this, [this, number, right] { SignInChecked(number, right); }, Qt::QueuedConnection);
    });
}

void PageServer::SignInChecked(quint64 number, bool right) {
    const auto now = WebSessions::Clock::now();
    const auto found = checking_.find(number);
    const Check check = found->second;
    checking_.erase(found);
    if (right)
        throttle_.Succeeded(check.address);
    else
        throttle_.Failed(check.address, now);
    // The request lives as long as its connection; a browser gone meanwhile gets no session.
    if (!check.socket || check.socket->state() != QAbstractSocket::ConnectedState)
        return;
    const QHttpServerRequest& request = *check.request;
    if (!right) {
        AnswerJson(makeResponder(request, check.socket), request, Status::Forbidden,
                   Refusal("Wrong password"));
        return;
    }
    if (const std::string id = SessionId(request); !id.empty())
        sessions_->Close(id);
    const std::string opened = sessions_->Open(check.address, now);
    const QByteArray cookie =
        QByteArray(kCookie) + '=' + QByteArray::fromStdString(opened) + CookieTail(Tls());
    AnswerJson(makeResponder(request, check.socket), request, Status::Ok,
               {{"token", sessions_->Find(opened, now)->token}}, {{"Set-Cookie", cookie}});
}

bool PageServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    if (HandleSignedIn(request, socket))
        return true;
    const auto method = request.method();
    if (method != QHttpServerRequest::Method::Get && method != QHttpServerRequest::Method::Head) {
        Answer(makeResponder(request, socket), request, Status::MethodNotAllowed,
               "text/plain; charset=utf-8",
               "Only GET and HEAD here: changes go to /api/change, signed in.\n",
               {{"Allow", "GET, HEAD"}});
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
