#pragma once
// Registers a TCP service with the system's portmapper (rpcbind), so that clients find its port
// through port 111 and the VXI-11 broadcast finds the host, and withdraws it at the end.
//
// It talks to rpcbind over rpcbind's local socket, the one way rpcbind takes a registration from a
// program that does not run as root, and never blocks the event loop: each exchange is a
// QLocalSocket's, and one not answered within kAnswerTime is given up (the exchanges of libtirpc's
// rpcb_set wait up to a minute for a portmapper that hangs). Without a portmapper it says so once
// and tries again every kRetryTime, so the service is registered as soon as one starts; once
// registered it looks every kCheckTime whether it still is, since a restarted portmapper forgets
// it. The portmapper holds one port per program on a host: when another program holds it, it says
// so once and calls `taken`. A registration whose port nobody serves any more (its program ended
// without withdrawing it) is withdrawn and taken over.

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct rpcb;
class QLocalSocket;
class QTcpSocket;
class QTimer;

namespace tq::rpc {

class PortmapperRegistration : public QObject {
public:
    // Receives each line it has to say: what it registered, or (problem) why it could not.
    using Say = std::function<void(const std::string& line, bool problem)>;

    static constexpr std::chrono::milliseconds kAnswerTime{2000};
    static constexpr std::chrono::milliseconds kRetryTime{5000};
    static constexpr std::chrono::milliseconds kCheckTime{10000};

    // The service `name` (for what it says), program `program` `version` on `port` of `address`
    // (the address it listens on; "any" is registered as such, and the portmapper answers each
    // client with the address it reached).
    PortmapperRegistration(std::string name, std::uint32_t program, std::uint32_t version,
                           const QHostAddress& address, quint16 port, Say say,
                           std::function<void()> taken);
    // Withdraws the registration, waiting at most kAnswerTime for the portmapper.
    ~PortmapperRegistration() override;

    void Start();
    bool Registered() const { return state_ == State::Registered; }
    // The universal address ("127.0.0.1.156.64") of an address and port, as the portmapper
    // writes them.
    static std::string UniversalAddress(const QHostAddress& address, quint16 port);

private:
    enum class State { Idle, Trying, Registered, Taken };
    // RPCBPROC_GETADDR answers for the network of the call's own transport (the local socket),
    // so who holds the program's TCP port is read from the whole table (RPCBPROC_DUMP).
    enum class Procedure : std::uint32_t { Set = 1, Unset = 2, Dump = 4 };
    struct Exchange;

    using Answered = std::function<void(const std::optional<std::string>&)>;

    void Attempt();
    rpcb Mapping();
    // The call as a record.
    std::string Call(std::uint32_t xid, Procedure procedure);
    // One call to the portmapper; `answered` gets its result (a boolean's as "0" or "1", or the
    // address the program is mapped to), or nothing when there was none (why_ says why).
    void Ask(Procedure procedure, Answered answered);
    void Received();
    void Finish(const std::optional<std::string>& answer);
    void Unanswered(const std::string& why);
    void WasSet(const std::optional<std::string>& answer);
    void Looked(const std::optional<std::string>& answer);
    void Probe(const std::string& holder);
    void Checked(const std::optional<std::string>& answer);
    void Retry(std::chrono::milliseconds after);
    void Lost(const std::string& why);

    std::string name_;
    std::uint32_t program_;
    std::uint32_t version_;
    std::string netid_;
    std::string address_;  // ours, universal
    quint16 port_;
    Say say_;
    std::function<void()> taken_;
    State state_ = State::Idle;
    std::unique_ptr<Exchange> exchange_;
    std::unique_ptr<QTcpSocket> probe_;
    QTimer* next_;      // the next attempt or check
    QTimer* deadline_;  // the exchange's answer
    std::string why_;   // why the last exchange got no answer
    std::uint32_t xid_;
    bool saidProblem_ = false;
};

}  // namespace tq::rpc
