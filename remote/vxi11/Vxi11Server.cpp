#include "remote/vxi11/Vxi11Server.h"

#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

#include "remote/HostText.h"
#include "remote/InstrumentCommands.h"
#include "remote/vxi11/RpcRecords.h"
#include "remote/vxi11/vxi11.h"

namespace tq {
namespace {

using Clock = vxi11::Vxi11Device::Clock;

// Each channel serves at most this many connections at once; the links of a client use one.
constexpr int kMaxConnections = 16;
// Service requests beyond this, unsent to a client that takes none, are dropped.
constexpr qint64 kMaxUnsentRequests = 4096;

vxi11::Vxi11Device::Limits DeviceLimits() {
    vxi11::Vxi11Device::Limits limits;
    limits.maxRecvSize = 256 * 1024;
    limits.maxReadSize = 64 * 1024;
    return limits;
}

}  // namespace

struct Vxi11Server::Interrupts {
    QTcpSocket socket;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t xid = 0;
};

Vxi11Server::Vxi11Server(InstrumentCommands& commands, ClientPlaces& places, QObject* parent)
    : QObject(parent),
      commands_(commands),
      places_(places),
      turns_(new QTimer(this)),
      deadline_(new QTimer(this)) {
    // Links with lines to run are served once the event loop has seen to the rest.
    turns_->setSingleShot(true);
    turns_->setInterval(0);
    connect(turns_, &QTimer::timeout, this, &Vxi11Server::ServeTurns);
    deadline_->setSingleShot(true);
    deadline_->setTimerType(Qt::PreciseTimer);
    connect(deadline_, &QTimer::timeout, this, [this] {
        if (device_)
            device_->Expire(Clock::now());
        ArmDeadline();
    });
    // A line that waits for a ramp or an activity goes on when it has ended.
    listener_ = commands_.Target().AddListener([this](const InstrumentChange& change) {
        if (!device_)
            return;
        if (change.kind == InstrumentChange::Kind::Activity && change.value == 0)
            device_->ActivityEnded();
        else
            device_->CheckServiceRequests();  // another client's change may raise a link's MSS
    });
}

Vxi11Server::~Vxi11Server() {
    commands_.Target().RemoveListener(listener_);
    Stop();
}

void Vxi11Server::Stop() {
    // The links go before the transports their deferred calls were waiting on.
    device_.reset();
    rpc_.reset();
    interrupts_.clear();
    turns_->stop();
    deadline_->stop();
}

bool Vxi11Server::Listen(const QHostAddress& address, QString& error) {
    return Listen(std::vector<QHostAddress>{address}, error);
}

bool Vxi11Server::Listen(const std::vector<QHostAddress>& addresses, QString& error) {
    const vxi11::Vxi11Device::Limits limits = DeviceLimits();
    rpc::RpcServer::Limits transport;
    // A call's header, credentials and parameters besides the data of a write.
    transport.maxRecord = limits.maxRecvSize + 4096;
    transport.maxReply = limits.maxReadSize + 256;
    transport.maxConnections = kMaxConnections;
    rpc_ = std::make_unique<rpc::RpcServer>(transport);
    rpc_->SetIdleTimeout(idleTimeout_);
    rpc_->SetClosedHandler([this](rpc::ConnectionId connection, bool idle) {
        if (device_)
            device_->ConnectionClosed(connection, idle);
        ArmDeadline();
    });
    address_ = addresses.empty() ? QHostAddress() : addresses.front();
    // Both channels on each address, each on one port: the one the first address picks.
    bool served = !addresses.empty();
    quint16 abortPort = 0;
    quint16 corePort = 0;
    for (const QHostAddress& address : addresses) {
        served = rpc_->Serve(
                     address, abortPort, DEVICE_ASYNC, DEVICE_ASYNC_VERSION,
                     [this](rpc::Call& call) {
                         device_->Abort(call);
                         ArmDeadline();
                     },
                     error) &&
                 rpc_->Serve(
                     address, corePort, DEVICE_CORE, DEVICE_CORE_VERSION,
                     [this](rpc::Call& call) {
                         device_->Core(call, Clock::now());
                         ArmDeadline();
                     },
                     error);
        if (!served) {
            if (addresses.size() > 1)
                error = QString::fromStdString(HostText(address)) + QStringLiteral(": ") + error;
            break;
        }
        abortPort = rpc_->Port(DEVICE_ASYNC);
        corePort = rpc_->Port(DEVICE_CORE);
    }
    if (!served) {
        rpc_.reset();
        return false;
    }
    device_ = std::make_unique<vxi11::Vxi11Device>(commands_, places_, *rpc_,
                                                   rpc_->Port(DEVICE_ASYNC), limits);
    device_->SetInterruptChannels(this);
    device_->SetLog(log_);
    device_->SetIdleText(DurationText(idleTimeout_));
    device_->SetWake([this] {
        if (!turns_->isActive())
            turns_->start();
    });
    return true;
}

void Vxi11Server::Register(rpc::PortmapperRegistration::Say say) {
    if (!rpc_)
        return;
    registration_ = std::make_unique<rpc::PortmapperRegistration>(
        "VXI-11", DEVICE_CORE, DEVICE_CORE_VERSION, address_, CorePort(), std::move(say),
        [this] { Stop(); });
    registration_->Start();
}

quint16 Vxi11Server::CorePort() const {
    return rpc_ ? rpc_->Port(DEVICE_CORE) : 0;
}

quint16 Vxi11Server::AbortPort() const {
    return rpc_ ? rpc_->Port(DEVICE_ASYNC) : 0;
}

void Vxi11Server::SetIdleTimeout(std::chrono::milliseconds timeout) {
    idleTimeout_ = timeout;
    if (rpc_)
        rpc_->SetIdleTimeout(timeout);
    if (device_)
        device_->SetIdleText(DurationText(timeout));
}

void Vxi11Server::SetLog(std::function<void(const std::string& line)> log) {
    log_ = std::move(log);
    if (device_)
        device_->SetLog(log_);
}

void Vxi11Server::Open(rpc::ConnectionId connection, std::uint32_t host, std::uint16_t port,
                       std::uint32_t program, std::uint32_t version) {
    auto channel = std::make_unique<Interrupts>();
    channel->program = program;
    channel->version = version;
    QTcpSocket& socket = channel->socket;
    connect(&socket, &QTcpSocket::readyRead, this, [&socket] { socket.readAll(); });
    socket.connectToHost(QHostAddress(host), port);
    interrupts_[connection] = std::move(channel);
}

void Vxi11Server::Close(rpc::ConnectionId connection) {
    interrupts_.erase(connection);
}

void Vxi11Server::Send(rpc::ConnectionId connection, const std::string& handle) {
    const auto it = interrupts_.find(connection);
    // A channel that could not be reached takes nothing; the client learns of it by polling.
    if (it == interrupts_.end() ||
        it->second->socket.state() == QAbstractSocket::UnconnectedState ||
        it->second->socket.bytesToWrite() > kMaxUnsentRequests)
        return;
    Interrupts& channel = *it->second;
    Device_SrqParms request{};
    request.handle.handle_len = static_cast<u_int>(handle.size());
    request.handle.handle_val = const_cast<char*>(handle.data());
    const std::string record =
        rpc::CallRecord(++channel.xid, channel.program, channel.version, device_intr_srq,
                        rpc::Xdr(xdr_Device_SrqParms), &request);
    channel.socket.write(record.data(), static_cast<qint64>(record.size()));
}

void Vxi11Server::ServeTurns() {
    if (device_ && device_->ServeTurns(Clock::now()))
        turns_->start();
    ArmDeadline();
}

void Vxi11Server::ArmDeadline() {
    const std::optional<Clock::time_point> next = device_ ? device_->NextDeadline() : std::nullopt;
    if (!next) {
        deadline_->stop();
        return;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
    deadline_->start(std::clamp(wait, std::chrono::milliseconds(0),
                                std::chrono::milliseconds(std::chrono::hours(24))));
}

}  // namespace tq
