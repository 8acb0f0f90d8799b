#include "remote/vxi11/RpcServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <rpc/rpc_com.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/sockios.h>
#endif

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/TerminationSignals.h"
#include "remote/HostText.h"

namespace tq::rpc {
namespace {

RpcServer* current = nullptr;

// Whether libtirpc has a transport on `fd`.
bool Registered(int fd) {
    for (int i = 0; i < svc_max_pollfd; ++i)
        if (svc_pollfd[i].fd == fd)
            return true;
    return false;
}

// Bytes written to `fd` that the peer has not yet acknowledged.
std::size_t Unsent(int fd) {
#ifdef SIOCOUTQ
    int queued = 0;
    if (ioctl(fd, SIOCOUTQ, &queued) == 0 && queued > 0)
        return static_cast<std::size_t>(queued);
#else
    (void)fd;
#endif
    return 0;
}

int ListeningSocket(const QHostAddress& address, quint16 port, QString& error) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_INET;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* in = reinterpret_cast<sockaddr_in*>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *in;
    } else {
        family = AF_INET6;
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.protocol() == QAbstractSocket::IPv6Protocol
                                     ? address.toIPv6Address()
                                     : QHostAddress(QHostAddress::AnyIPv6).toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
        length = sizeof *in6;
    }
    const int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (family == AF_INET6 && address.protocol() != QAbstractSocket::IPv6Protocol) {
        const int zero = 0;  // "any address": IPv4 clients too
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        listen(fd, SOMAXCONN) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

struct RpcServer::Service {
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    Handler handler;
    int fd = -1;
    SVCXPRT* transport = nullptr;
    quint16 port = 0;
    std::unique_ptr<QSocketNotifier> notifier;
};

struct RpcServer::Peer {
    ConnectionId id = 0;
    int fd = -1;
    Service* service = nullptr;
    SVCXPRT* transport = nullptr;  // known from its first call
    std::unique_ptr<QSocketNotifier> reading;
    std::unique_ptr<QSocketNotifier> writing;
    QTimer idle;
    QElapsedTimer heard;  // since its last call
    bool awaitingReply = false;
    bool closing = false;
    bool silenced = false;  // closed for its silence
};

// A call on one of libtirpc's transports, answered through it.
class RpcServer::ServedCall : public Call {
public:
    ServedCall(Peer& connection, svc_req* request, SVCXPRT* transport)
        : connection_(connection), request_(request), transport_(transport) {}

    std::uint32_t Procedure() const override { return request_->rq_proc; }
    ConnectionId Connection() const override { return connection_.id; }
    std::string PeerHost() const override {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        if (getpeername(connection_.fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
            return {};
        return HostText(QHostAddress(reinterpret_cast<const sockaddr*>(&peer)));
    }
    bool Decode(xdrproc_t decode, void* args) override {
        return svc_getargs(transport_, decode, static_cast<char*>(args));
    }
    void Free(xdrproc_t decode, void* args) override { xdr_free(decode, static_cast<char*>(args)); }
    void Reply(xdrproc_t encode, const void* result) override {
        answered_ = true;
        svc_sendreply(transport_, encode, static_cast<char*>(const_cast<void*>(result)));
    }
    void Defer() override { deferred_ = true; }
    void NoProcedure() override {
        answered_ = true;
        svcerr_noproc(transport_);
    }
    void Garbage() override {
        answered_ = true;
        svcerr_decode(transport_);
    }
    bool Answered() const { return answered_; }
    bool Deferred() const { return deferred_; }

private:
    RpcServer::Peer& connection_;
    svc_req* request_;
    SVCXPRT* transport_;
    bool answered_ = false;
    bool deferred_ = false;
};

RpcServer::RpcServer(Limits limits) : limits_(limits) {
    Q_ASSERT(current == nullptr);
    current = this;
    // Every connection accepted from now on reads its records without blocking, none longer than
    // this.
    int maxRecord = static_cast<int>(limits_.maxRecord);
    rpc_control(RPC_SVC_CONNMAXREC_SET, &maxRecord);
    // A reply written to a client that has gone must not end the program.
    TerminationSignals::IgnoreBrokenPipe();
}

RpcServer::~RpcServer() {
    for (auto& [id, connection] : connections_) {
        connection->reading.reset();
        connection->writing.reset();
        shutdown(connection->fd, SHUT_RDWR);
        connection->closing = true;
        // libtirpc destroys a transport once it reads its end; calls still buffered are ignored.
        for (int tries = 0; tries < 64 && Registered(connection->fd); ++tries)
            svc_getreq_common(connection->fd);
    }
    connections_.clear();
    for (auto& service : services_) {
        service->notifier.reset();
        // Its callout stays with libtirpc (svc_unregister would block on the portmapper); the next
        // server of the process registers the same dispatcher again.
        SVC_DESTROY(service->transport);
    }
    current = nullptr;
}

bool RpcServer::Serve(const QHostAddress& address, quint16 port, std::uint32_t program,
                      std::uint32_t version, Handler handler, QString& error) {
    const int fd = ListeningSocket(address, port, error);
    if (fd < 0)
        return false;
    // A reply goes out in one write.
    const auto bufferSize = static_cast<u_int>(limits_.maxReply + 1024);
    SVCXPRT* transport = svc_vc_create(fd, bufferSize, bufferSize);
    if (transport == nullptr) {
        error = QStringLiteral("libtirpc cannot serve the socket");
        close(fd);
        return false;
    }
    if (!svc_register(transport, program, version, &RpcServer::Dispatch, 0)) {
        error = QStringLiteral("libtirpc cannot register the program");
        SVC_DESTROY(transport);
        return false;
    }
    auto service = std::make_unique<Service>();
    service->program = program;
    service->version = version;
    service->handler = std::move(handler);
    service->fd = fd;
    service->transport = transport;
    // libtirpc marks a listening transport's port as none: the socket says which it is.
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0)
        service->port =
            ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    service->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    Service* served = service.get();
    QObject::connect(service->notifier.get(), &QSocketNotifier::activated,
                     [this, served] { Accept(*served); });
    services_.push_back(std::move(service));
    return true;
}

quint16 RpcServer::Port(std::uint32_t program) const {
    for (const auto& service : services_)
        if (service->program == program)
            return service->port;
    return 0;
}

RpcServer::Peer* RpcServer::Find(ConnectionId id) {
    const auto it = connections_.find(id);
    return it != connections_.end() ? it->second.get() : nullptr;
}

RpcServer::Peer* RpcServer::ByDescriptor(int fd) {
    for (auto& [id, connection] : connections_)
        if (connection->fd == fd)
            return connection.get();
    return nullptr;
}

void RpcServer::Dispatch(svc_req* request, SVCXPRT* transport) {
    if (current == nullptr) {
        svcerr_noprog(transport);
        return;
    }
    current->Run(request, transport);
}

void RpcServer::Run(svc_req* request, SVCXPRT* transport) {
    Peer* connection = ByDescriptor(transport->xp_fd);
    const auto service = std::find_if(services_.begin(), services_.end(), [request](const auto& s) {
        return s->program == request->rq_prog && s->version == request->rq_vers;
    });
    // The calls of a connection being closed are left unanswered.
    if (connection == nullptr || connection->closing)
        return;
    connection->transport = transport;
    if (request->rq_proc == NULLPROC) {  // the ping of rpcinfo and of clients
        svc_sendreply(transport, Xdr(xdr_void), nullptr);
        return;
    }
    if (service == services_.end()) {
        svcerr_noprog(transport);
        return;
    }
    ServedCall call(*connection, request, transport);
    (*service)->handler(call);
    // The handler may have closed the connection; its record is in libtirpc's hands until then.
    if (call.Deferred() && !call.Answered())
        connection->awaitingReply = true;
    else if (!call.Answered())
        svcerr_systemerr(transport);
}

void RpcServer::Accept(Service& service) {
    svc_getreq_common(service.fd);
    // The transport libtirpc made for the new connection: a descriptor it watches that is not
    // ours yet.
    for (int i = 0; i < svc_max_pollfd; ++i) {
        const int fd = svc_pollfd[i].fd;
        if (fd < 0 || ByDescriptor(fd) != nullptr ||
            std::any_of(services_.begin(), services_.end(),
                        [fd](const auto& s) { return s->fd == fd; }))
            continue;
        auto connection = std::make_unique<Peer>();
        connection->id = nextId_++;
        connection->fd = fd;
        connection->service = &service;
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // Room for the replies left unread and the largest one besides (the kernel may give less
        // than asked; it counts its own overhead in it too, hence twice).
        const int room = static_cast<int>(2 * (kMaxUnsentReplies + limits_.maxReply));
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        Peer* added = connection.get();
        connection->reading = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(connection->reading.get(), &QSocketNotifier::activated,
                         [this, added] { Readable(*added); });
        connection->writing = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        connection->writing->setEnabled(false);
        QObject::connect(connection->writing.get(), &QSocketNotifier::activated,
                         [this, added] { Writable(*added); });
        connection->heard.start();
        connection->idle.setSingleShot(true);
        QObject::connect(&connection->idle, &QTimer::timeout, [this, added] { IdleCheck(*added); });
        if (idleTimeout_.count() > 0)
            connection->idle.start(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::min<std::chrono::milliseconds>(idleTimeout_, std::chrono::hours(24))));
        const auto open =
            std::count_if(connections_.begin(), connections_.end(),
                          [&service](const auto& c) { return c.second->service == &service; });
        connections_.emplace(added->id, std::move(connection));
        if (open >= limits_.maxConnections)
            Close(added->id);
    }
}

void RpcServer::Readable(Peer& connection) {
    if (connection.closing) {
        Receive(connection.fd);
        return;
    }
    if (connection.awaitingReply) {
        // Nothing more is read until the deferred call is answered; only the end of the
        // connection is looked for.
        char byte = 0;
        const ssize_t n = recv(connection.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            Close(connection.id);
        else
            connection.reading->setEnabled(false);  // a call sent ahead waits for the reply
        return;
    }
    if (Unsent(connection.fd) >= kMaxUnsentReplies) {
        // The client does not read its replies: its calls wait until it does.
        connection.reading->setEnabled(false);
        connection.writing->setEnabled(true);
        return;
    }
    connection.heard.restart();
    Receive(connection.fd);
}

void RpcServer::Writable(Peer& connection) {
    if (Unsent(connection.fd) >= kMaxUnsentReplies / 2)
        return;
    connection.writing->setEnabled(false);
    connection.reading->setEnabled(!connection.awaitingReply || connection.closing);
}

void RpcServer::Receive(int fd) {
    svc_getreq_common(fd);
    if (Registered(fd))
        return;
    if (Peer* connection = ByDescriptor(fd))
        Forget(*connection);
}

void RpcServer::Forget(Peer& connection) {
    const ConnectionId id = connection.id;
    const bool silenced = connection.silenced;
    // Possibly inside one of its notifiers' signals: they go once it has returned, and watch
    // the descriptor libtirpc has closed no more meanwhile.
    for (auto* notifier : {connection.reading.release(), connection.writing.release()}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    connections_.erase(id);
    if (closed_)
        closed_(id, silenced);
}

void RpcServer::Close(ConnectionId id) {
    Peer* connection = Find(id);
    if (connection == nullptr || connection->closing)
        return;
    connection->closing = true;
    connection->awaitingReply = false;
    connection->idle.stop();
    // libtirpc destroys the transport when it reads the end of the connection.
    shutdown(connection->fd, SHUT_RDWR);
    connection->writing->setEnabled(false);
    connection->reading->setEnabled(true);
}

bool RpcServer::Send(ConnectionId id, xdrproc_t encode, const void* result) {
    Peer* connection = Find(id);
    if (connection == nullptr || connection->closing || !connection->awaitingReply ||
        connection->transport == nullptr)
        return false;
    connection->awaitingReply = false;
    connection->heard.restart();
    const bool sent =
        svc_sendreply(connection->transport, encode, static_cast<char*>(const_cast<void*>(result)));
    connection->reading->setEnabled(!connection->writing->isEnabled());
    return sent;
}

void RpcServer::IdleCheck(Peer& connection) {
    const std::chrono::milliseconds silent(connection.heard.elapsed());
    if (connection.awaitingReply || silent < idleTimeout_) {
        const auto rest = connection.awaitingReply ? idleTimeout_ : idleTimeout_ - silent;
        connection.idle.start(std::min<std::chrono::milliseconds>(rest, std::chrono::hours(24)));
        return;
    }
    connection.silenced = true;
    Close(connection.id);
}

}  // namespace tq::rpc
