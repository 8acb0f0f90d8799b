#pragma once
// ONC RPC services over TCP with libtirpc's transports, on the program's event loop: each
// listening socket and each connection is watched by a QSocketNotifier (as the Avahi client's
// sockets are), and a call runs when its record has come whole. No thread, and the event loop
// never waits on a client:
// - records are read without blocking (rpc_control(RPC_SVC_CONNMAXREC_SET): libtirpc then takes
//   what has arrived and runs a call only once its record is whole); a record longer than
//   Limits::maxRecord, or one that does not decode as a call, ends its connection;
// - a call is read only while the replies its connection has not taken are fewer than
//   kMaxUnsentReplies bytes, and the connection's send buffer holds that and the largest reply
//   besides, so a reply is always written at once (libtirpc's writer would otherwise wait for a
//   client that does not read);
// - a call that cannot be answered yet (a read waiting for an answer) is deferred: its connection
//   keeps it and takes no further call until its reply is sent (Send()).
// A connection silent for the idle timeout is closed, and at most Limits::maxConnections are open
// per service: more are closed at once. libtirpc keeps one table of services and transports per
// process, so there is one RpcServer at a time.

#include <QHostAddress>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "remote/vxi11/RpcCall.h"

class QSocketNotifier;
class QTimer;

namespace tq::rpc {

class RpcServer : public Replies {
public:
    using Handler = std::function<void(Call&)>;
    struct Limits {
        std::size_t maxRecord = 64 * 1024;  // the longest call record taken
        std::size_t maxReply = 64 * 1024;   // the longest reply sent
        int maxConnections = 16;            // per service
    };
    // What a connection may leave unread of its replies before its next call waits.
    static constexpr std::size_t kMaxUnsentReplies = 128 * 1024;

    explicit RpcServer(Limits limits);
    ~RpcServer() override;
    RpcServer(const RpcServer&) = delete;
    RpcServer& operator=(const RpcServer&) = delete;

    // Serves `program` `version` on a TCP port of `address` (0: a free one). False with the reason
    // in `error`.
    bool Serve(const QHostAddress& address, quint16 port, std::uint32_t program,
               std::uint32_t version, Handler handler, QString& error);
    // The port of a service; 0 when it is not served.
    quint16 Port(std::uint32_t program) const;

    bool Send(ConnectionId connection, xdrproc_t encode, const void* result) override;
    // Ends a connection; the closed handler hears of it once it has gone.
    void Close(ConnectionId connection);
    // Told when a connection has ended: by its peer, by a broken record, by Close() or the idle
    // timeout (`idle`).
    using Closed = std::function<void(ConnectionId, bool idle)>;
    void SetClosedHandler(Closed closed) { closed_ = std::move(closed); }
    // A connection that sends no call for this long is closed (one whose call is deferred is not
    // silent); zero: never.
    void SetIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout_ = timeout; }
    int ConnectionCount() const { return static_cast<int>(connections_.size()); }

private:
    struct Service;
    struct Peer;
    class ServedCall;
    friend class ServedCall;
    static void Dispatch(svc_req* request, SVCXPRT* transport);
    void Run(svc_req* request, SVCXPRT* transport);
    void Accept(Service& service);
    void Readable(Peer& connection);
    void Writable(Peer& connection);
    // libtirpc's reading of `fd`: a call, a connection accepted, or a transport destroyed.
    void Receive(int fd);
    void Forget(Peer& connection);
    void IdleCheck(Peer& connection);
    Peer* Find(ConnectionId id);
    Peer* ByDescriptor(int fd);

    Limits limits_;
    std::vector<std::unique_ptr<Service>> services_;
    std::map<ConnectionId, std::unique_ptr<Peer>> connections_;
    ConnectionId nextId_ = 1;
    Closed closed_;
    std::chrono::milliseconds idleTimeout_{0};
};

}  // namespace tq::rpc
