#include "remote/vxi11/PortmapperRegistration.h"

#include <arpa/inet.h>
#include <rpc/rpc.h>
#include <rpc/rpcb_prot.h>

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <cstring>
#include <random>

#include "remote/vxi11/RpcRecords.h"

namespace tq::rpc {
namespace {

// The address a dump of the portmapper's table maps `wanted`'s program, version and network to,
// "" when none.
std::string MappedAddress(const rp__list* list, const rpcb& wanted) {
    std::string address;
    for (const rp__list* entry = list; entry != nullptr; entry = entry->rpcb_next) {
        const rpcb& map = entry->rpcb_map;
        if (map.r_prog == wanted.r_prog && map.r_vers == wanted.r_vers && map.r_netid != nullptr &&
            std::strcmp(map.r_netid, wanted.r_netid) == 0)
            address = map.r_addr != nullptr ? map.r_addr : "";
    }
    return address;
}

// The port and host of a universal address; host "" for a wildcard.
std::pair<QHostAddress, quint16> FromUniversal(const std::string& universal) {
    const std::size_t low = universal.rfind('.');
    const std::size_t high =
        low == std::string::npos || low == 0 ? std::string::npos : universal.rfind('.', low - 1);
    if (high == std::string::npos)
        return {QHostAddress(), 0};
    const int port =
        std::atoi(universal.c_str() + high + 1) * 256 + std::atoi(universal.c_str() + low + 1);
    QHostAddress host(QString::fromStdString(universal.substr(0, high)));
    if (host == QHostAddress::AnyIPv4)
        host = QHostAddress::LocalHost;
    else if (host == QHostAddress::AnyIPv6)
        host = QHostAddress::LocalHostIPv6;
    return {host, static_cast<quint16>(port)};
}

}  // namespace

struct PortmapperRegistration::Exchange {
    QLocalSocket* socket = nullptr;  // deleted later: it ends inside its own signals
    std::string received;
    Procedure procedure = Procedure::Set;
    std::uint32_t xid = 0;
    Answered answered;
};

PortmapperRegistration::PortmapperRegistration(std::string name, std::uint32_t program,
                                               std::uint32_t version, const QHostAddress& address,
                                               quint16 port, Say say, std::function<void()> taken)
    : name_(std::move(name)),
      program_(program),
      version_(version),
      netid_(address.protocol() == QAbstractSocket::IPv4Protocol ? "tcp" : "tcp6"),
      address_(UniversalAddress(address, port)),
      port_(port),
      say_(std::move(say)),
      taken_(std::move(taken)),
      next_(new QTimer(this)),
      deadline_(new QTimer(this)),
      xid_(std::random_device{}()) {
    next_->setSingleShot(true);
    deadline_->setSingleShot(true);
    connect(deadline_, &QTimer::timeout, this,
            [this] { Unanswered("the portmapper (rpcbind) does not answer"); });
}

PortmapperRegistration::~PortmapperRegistration() {
    if (exchange_)
        exchange_->socket->abort();
    if (state_ != State::Registered)
        return;
    // The program is ending: the one wait that is allowed, bounded.
    QLocalSocket socket;
    const QDeadlineTimer until(kAnswerTime);
    socket.connectToServer(QStringLiteral(_PATH_RPCBINDSOCK));
    if (!socket.waitForConnected(static_cast<int>(until.remainingTime())))
        return;
    const std::string call = Call(++xid_, Procedure::Unset);
    socket.write(call.data(), static_cast<qint64>(call.size()));
    socket.flush();
    std::string received;
    while (!TakeRecord(received) &&
           socket.waitForReadyRead(static_cast<int>(std::max<qint64>(0, until.remainingTime()))))
        received += socket.readAll().toStdString();
}

std::string PortmapperRegistration::Call(std::uint32_t xid, Procedure procedure) {
    rpcb mapping = Mapping();
    // A dump takes no arguments.
    const bool dump = procedure == Procedure::Dump;
    return CallRecord(xid, RPCBPROG, RPCBVERS, static_cast<std::uint32_t>(procedure),
                      dump ? nullptr : Xdr(xdr_rpcb), &mapping);
}

rpcb PortmapperRegistration::Mapping() {
    // The owner is the portmapper's to fill in: it names the user of the local socket's peer.
    return rpcb{program_, version_, netid_.data(), address_.data(), const_cast<char*>("")};
}

std::string PortmapperRegistration::UniversalAddress(const QHostAddress& address, quint16 port) {
    QString host = address.toString();
    if (address == QHostAddress::Any)
        host = QStringLiteral("::");
    return host.toStdString() + "." + std::to_string(port >> 8) + "." + std::to_string(port & 0xFF);
}

void PortmapperRegistration::Start() {
    connect(next_, &QTimer::timeout, this, [this] {
        if (state_ == State::Registered)
            Ask(Procedure::Dump, [this](const auto& answer) { Checked(answer); });
        else
            Attempt();
    });
    Attempt();
}

void PortmapperRegistration::Attempt() {
    state_ = State::Trying;
    Ask(Procedure::Set, [this](const auto& answer) { WasSet(answer); });
}

void PortmapperRegistration::Retry(std::chrono::milliseconds after) {
    next_->start(after);
}

void PortmapperRegistration::Ask(Procedure procedure, Answered answered) {
    exchange_ = std::make_unique<Exchange>();
    exchange_->socket = new QLocalSocket(this);
    exchange_->procedure = procedure;
    exchange_->xid = ++xid_;
    exchange_->answered = std::move(answered);
    QLocalSocket* socket = exchange_->socket;
    connect(socket, &QLocalSocket::connected, this, [this, socket] {
        const std::string call = Call(exchange_->xid, exchange_->procedure);
        socket->write(call.data(), static_cast<qint64>(call.size()));
    });
    connect(socket, &QLocalSocket::readyRead, this, &PortmapperRegistration::Received);
    connect(
        socket, &QLocalSocket::errorOccurred, this,
        [this, socket](QLocalSocket::LocalSocketError e) {
            if (e == QLocalSocket::ServerNotFoundError || e == QLocalSocket::ConnectionRefusedError)
                Unanswered("no portmapper (rpcbind) is running");
            else
                Unanswered("the portmapper (rpcbind) cannot be reached: " +
                           socket->errorString().toStdString());
        });
    deadline_->start(kAnswerTime);
    socket->connectToServer(QStringLiteral(_PATH_RPCBINDSOCK));
}

void PortmapperRegistration::Received() {
    if (!exchange_)
        return;
    exchange_->received += exchange_->socket->readAll().toStdString();
    std::optional<std::string> record = TakeRecord(exchange_->received);
    if (!record)
        return;
    bool_t flag = 0;
    rpcblist_ptr list = nullptr;
    const bool dump = exchange_->procedure == Procedure::Dump;
    std::optional<std::string> result;
    if (DecodeReply(std::move(*record), exchange_->xid,
                    dump ? Xdr(xdr_rpcblist_ptr) : Xdr(xdr_bool),
                    dump ? static_cast<void*>(&list) : &flag))
        result = dump ? MappedAddress(list, Mapping()) : std::string(flag ? "1" : "0");
    else
        why_ = "the portmapper (rpcbind) refused the call";
    if (list != nullptr)
        xdr_free(Xdr(xdr_rpcblist_ptr), reinterpret_cast<char*>(&list));
    Finish(result);
}

void PortmapperRegistration::Unanswered(const std::string& why) {
    if (!exchange_)
        return;
    why_ = why;
    Finish(std::nullopt);
}

void PortmapperRegistration::Finish(const std::optional<std::string>& answer) {
    deadline_->stop();
    std::unique_ptr<Exchange> ended = std::move(exchange_);
    ended->socket->disconnect(this);
    ended->socket->abort();
    ended->socket->deleteLater();
    ended->answered(answer);
}

void PortmapperRegistration::WasSet(const std::optional<std::string>& answer) {
    if (!answer) {
        Lost(why_);
        return;
    }
    if (*answer == "1") {
        state_ = State::Registered;
        saidProblem_ = false;
        say_(name_ + " on port " + std::to_string(port_) + ", registered with the portmapper",
             false);
        Retry(kCheckTime);
        return;
    }
    // Refused: the program is registered already, by us or by another.
    Ask(Procedure::Dump, [this](const auto& held) { Looked(held); });
}

void PortmapperRegistration::Looked(const std::optional<std::string>& answer) {
    if (!answer) {
        Lost(why_);
    } else if (*answer == address_) {
        state_ = State::Registered;
        Retry(kCheckTime);
    } else if (answer->empty()) {
        Retry(kRetryTime);  // withdrawn meanwhile
    } else {
        Probe(*answer);
    }
}

// Whether the program holding the registration still serves its port: a registration left behind
// by a program that has ended is withdrawn and taken over.
void PortmapperRegistration::Probe(const std::string& holder) {
    const auto [host, port] = FromUniversal(holder);
    probe_ = std::make_unique<QTcpSocket>();
    QTcpSocket* probe = probe_.get();
    // Refused: nobody serves the port. Anything else (an answer, no answer in time) counts as
    // served.
    const auto decided = [this, probe, port = port](bool served) {
        if (probe_.get() != probe)
            return;
        probe->disconnect(this);
        probe_.release()->deleteLater();
        if (!served) {
            Ask(Procedure::Unset, [this](const auto&) { Attempt(); });
            return;
        }
        state_ = State::Taken;
        next_->stop();
        say_(name_ + " is served by another program on this computer (port " +
                 std::to_string(port) + "): this one serves its raw socket only",
             true);
        taken_();
    };
    connect(probe, &QTcpSocket::connected, this, [decided] { decided(true); });
    connect(probe, &QTcpSocket::errorOccurred, this, [decided](QAbstractSocket::SocketError e) {
        decided(e != QAbstractSocket::ConnectionRefusedError);
    });
    QTimer::singleShot(kAnswerTime, probe, [decided] { decided(true); });
    probe->connectToHost(host, port);
}

void PortmapperRegistration::Checked(const std::optional<std::string>& answer) {
    if (answer && *answer == address_) {
        Retry(kCheckTime);
        return;
    }
    state_ = State::Trying;
    if (!answer) {
        Lost(why_);
        return;
    }
    Attempt();  // a portmapper that has restarted forgot us
}

void PortmapperRegistration::Lost(const std::string& why) {
    state_ = State::Trying;
    if (!saidProblem_) {
        saidProblem_ = true;
        say_(name_ + " cannot be found by VISA yet: " + why +
                 "; it is registered as soon as one runs (the raw socket serves meanwhile)",
             true);
    }
    Retry(kRetryTime);
}

}  // namespace tq::rpc
