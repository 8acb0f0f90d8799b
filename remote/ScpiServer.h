#pragma once
// The instrument protocol over TCP: each connection is one client of the protocol (its
// ClientSession: its own error queue, status, format and pending operations), its lines run one
// at a time on the user-interface thread through the instrument's command tree. The server only
// moves bytes in and out of the sessions, and serves them in turns.
//
// No client can exhaust the program or starve the others:
// - its input is read into a buffer of kReadBufferSize at most, and only while its answers are
//   read (fewer than kMaxUnreadAnswers bytes wait unsent), so TCP holds back a client that sends
//   without reading; a line whose answers pile up stops between its commands until they go out;
// - clients are served in turns of at most kLinesPerTurn lines or kTurnTime each;
// - at most kMaxClients at once, VXI-11's links included (the places are shared): another is
//   told so in one line and closed; a client that sends nothing for the idle timeout is closed
//   and frees its place, and one that has closed or reset its connection gives its place to a
//   newcomer even before its going has been seen in turn;
// - a web page's request is refused unanswered.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "remote/ClientPlaces.h"
#include "remote/InstrumentCommands.h"

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace tq {

class ScpiServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = ClientPlaces::kMax;
    // Answers waiting for a client beyond this stop its input being read and its line running.
    static constexpr qint64 kMaxUnreadAnswers = 1 << 20;
    // A client's input read ahead of the line being run.
    static constexpr qint64 kReadBufferSize = 64 * 1024;
    static constexpr int kLinesPerTurn = 64;
    static constexpr std::chrono::microseconds kTurnTime{2000};
    static constexpr std::chrono::seconds kDefaultIdleTimeout{600};
    // What a client beyond kMaxClients reads before it is closed.
    static constexpr const char* kTooManyClients =
        "-310,\"System error; 8 clients are connected\"\n";

    // The log's line for a client that reset its connection before the server took it.
    static constexpr const char* kGoneBeforeServed =
        "a client left before it was served: its connection was reset";

    // `places`: shared with the other transports' clients; without, the server's own.
    explicit ScpiServer(InstrumentCommands& commands, ClientPlaces* places = nullptr,
                        QObject* parent = nullptr);
    ~ScpiServer() override;

    // Port 0 picks a free one. False with the reason in `error` when it cannot listen.
    bool Listen(const QHostAddress& address, quint16 port, QString& error);
    // On each address, all on one port (0: the one the first picks).
    bool Listen(const std::vector<QHostAddress>& addresses, quint16 port, QString& error);
    QHostAddress Address() const;  // the first it listens on
    // Every address it listens on as a person reads it (IPv6 in brackets).
    QStringList Addresses() const;
    quint16 Port() const;
    int ClientCount() const { return static_cast<int>(clients_.size()); }

    // A client that sends nothing for this long is closed; zero: never. Applies to clients
    // connecting afterwards.
    void SetIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout_ = timeout; }

    // Told one line for each client's arrival, refusal and departure with its reason:
    // "client at 127.0.0.1:40312 left: idle for 600 s".
    using Log = std::function<void(const std::string& line)>;
    void SetLog(Log log) { log_ = std::move(log); }

signals:
    void ClientCountChanged(int count);

private:
    struct Client;
    void Accept(QTcpServer* server);
    // A place for a newcomer, made by dropping clients that have gone unseen when all are taken.
    bool TakePlace();
    void Refuse(QTcpSocket* socket);
    void Received(Client* client);
    void Sent(Client* client);
    void PeerClosed(Client* client);
    void IdleCheck(Client* client);
    void Schedule(Client* client);
    void NextTurns();
    // Why a client's turn ended.
    enum class Stop { NoInput, TurnOver, Blocked, Held, Dropped };
    // One turn of `client`, then its input held back while lines of it wait; `received`: new input
    // started it.
    void Serve(Client* client, bool received = false);
    Stop Turn(Client* client);
    static bool ReadInput(Client* client);
    // The answers the client's lines have given, into its socket.
    static void SendAnswers(Client* client);
    // Why a client left.
    enum class Leaving { Closed, Idle, WebRequest };
    void Drop(Client* client, Leaving why);
    void Say(const std::string& line) const;

    InstrumentCommands& commands_;
    ClientPlaces ownPlaces_;
    ClientPlaces* places_;
    std::vector<QTcpServer*> servers_;  // one on each address
    QTimer* turns_;
    std::vector<std::unique_ptr<Client>> clients_;
    std::deque<Client*> waiting_;  // clients with work left over from their turn, in order
    std::chrono::milliseconds idleTimeout_ = kDefaultIdleTimeout;
    Log log_;
    int refusing_ = 0;  // refused connections still being closed
    int listener_ = 0;
};

}  // namespace tq
