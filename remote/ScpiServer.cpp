#include "remote/ScpiServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <array>
#include <string_view>

#include "remote/ClientSession.h"
#include "remote/HostText.h"
#include "remote/Listening.h"
#include "scpi/ScpiGrammar.h"

#ifdef Q_OS_UNIX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif

namespace tq {

namespace {

// Linux delays the acknowledgement of what a client sent by up to 40 ms when no answer goes back
// at once (a setting without a query); a client that leaves Nagle's algorithm on holds its next
// write until then. Acknowledging after each read keeps such a client at full speed.
void AcknowledgeAtOnce(QTcpSocket* socket) {
#ifdef Q_OS_LINUX
    const int one = 1;
    setsockopt(static_cast<int>(socket->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &one,
               sizeof one);
#else
    Q_UNUSED(socket);
#endif
}

// A refused client reads its one line before the connection ends: the sending side is shut so
// that it sees the end, and what it sent meanwhile is read and dropped, since closing a socket
// with unread input resets the connection and could lose the line at the client.
void EndSending(QTcpSocket* socket) {
#ifdef Q_OS_UNIX
    shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
#else
    Q_UNUSED(socket);
#endif
}

// Whether the peer has reset the connection, or closed it with nothing left unread, though the
// socket has not yet been told: its going is seen in its turn, and a newcomer need not wait for
// that. Linux only; elsewhere a client is gone when its socket says so.
bool GoneUnseen(QTcpSocket* socket) {
#ifdef Q_OS_LINUX
    const int fd = static_cast<int>(socket->socketDescriptor());
    tcp_info info{};
    socklen_t size = sizeof info;
    if (fd < 0 || getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    if (info.tcpi_state == TCP_CLOSE)
        return true;
    int unread = 0;
    return info.tcpi_state == TCP_CLOSE_WAIT && ioctl(fd, FIONREAD, &unread) == 0 && unread == 0 &&
           socket->bytesAvailable() == 0;
#else
    Q_UNUSED(socket);
    return false;
#endif
}

// QTimer takes an int of milliseconds: longer waits are made of several.
int TimerMilliseconds(std::chrono::milliseconds wait) {
    constexpr std::chrono::milliseconds kLongest = std::chrono::hours(24);
    return static_cast<int>(std::clamp(wait, std::chrono::milliseconds(0), kLongest).count());
}

// What a connection's session may run in one turn, and what it may leave unread.
ClientSession::Limits SessionLimits() {
    ClientSession::Limits limits;
    limits.maxUnreadAnswers = static_cast<std::size_t>(ScpiServer::kMaxUnreadAnswers);
    limits.linesPerTurn = ScpiServer::kLinesPerTurn;
    limits.turnTime = ScpiServer::kTurnTime;
    limits.refuseHttp = true;
    return limits;
}

}  // namespace

struct ScpiServer::Client {
    Client(QTcpSocket* s, InstrumentCommands& commands)
        : socket(s), session(commands, SessionLimits()) {}
    QTcpSocket* socket;
    ClientSession session;
    QTimer idle;            // looks whether the client has been silent for the idle timeout
    QElapsedTimer heard;    // since the client last sent or took something
    bool answered = false;  // this turn wrote answers
    bool blocked = false;   // waits for its unread answers to go out
    bool waiting = false;   // in waiting_ for its next turn
    bool closed = false;    // the peer has gone: the lines it sent still run, unanswered
    std::string name;       // "client at 127.0.0.1:40312"
};

ScpiServer::ScpiServer(InstrumentCommands& commands, ClientPlaces* places, QObject* parent)
    : QObject(parent),
      commands_(commands),
      places_(places != nullptr ? places : &ownPlaces_),
      turns_(new QTimer(this)) {
    // Clients with work left over are served again once the event loop has seen to the rest:
    // other clients, windows, timers.
    turns_->setSingleShot(true);
    turns_->setInterval(0);
    connect(turns_, &QTimer::timeout, this, &ScpiServer::NextTurns);
    // A client whose command started a ramp reads on when the ramp has ended: from its side every
    // command has completed before the next one runs, so *OPC? answers after the ramp.
    listener_ = commands_.Target().AddListener([this](const InstrumentChange& change) {
        if (change.kind == InstrumentChange::Kind::Activity && change.value == 0)
            for (auto& client : clients_)
                if (client->session.Holding())
                    Schedule(client.get());
    });
}

ScpiServer::~ScpiServer() {
    commands_.Target().RemoveListener(listener_);
    for (auto& client : clients_)
        client->socket->disconnect(this);
}

bool ScpiServer::Listen(const QHostAddress& address, quint16 port, QString& error) {
    return Listen(std::vector<QHostAddress>{address}, port, error);
}

bool ScpiServer::Listen(const std::vector<QHostAddress>& addresses, quint16 port, QString& error) {
    const auto listener = [this] {
        auto* server = new QTcpServer(this);
        // Connections are taken as they come; the ones beyond the limit are refused by us.
        server->setMaxPendingConnections(kMaxClients + 1);
        connect(server, &QTcpServer::newConnection, this, [this, server] { Accept(server); });
        servers_.push_back(server);
        return server;
    };
    return ListenOnEach(addresses, port, listener, error);
}

QHostAddress ScpiServer::Address() const {
    return servers_.empty() ? QHostAddress() : servers_.front()->serverAddress();
}

QStringList ScpiServer::Addresses() const {
    return ListeningAddresses(servers_);
}

quint16 ScpiServer::Port() const {
    return servers_.empty() ? 0 : servers_.front()->serverPort();
}

void ScpiServer::Accept(QTcpServer* server) {
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        socket->setParent(this);
        // Reset before it was taken: the system no longer knows whence it came.
        if (socket->peerPort() == 0) {
            Say(kGoneBeforeServed);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (!TakePlace()) {
            Refuse(socket);
            continue;
        }
        // Input beyond the buffer stays with TCP, which holds the client back.
        socket->setReadBufferSize(kReadBufferSize);
        // Answers go out at once: a client waits for each one.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        clients_.push_back(std::make_unique<Client>(socket, commands_));
        Client* client = clients_.back().get();
        client->name = "client at " + Endpoint(socket->peerAddress(), socket->peerPort());
        client->session.Session().SetName(client->name);
        // Its input is read as it is served, a line at a time; what waits unsent in the socket
        // counts as unread.
        client->session.SetRefill([client] { return ReadInput(client); });
        client->session.SetBacklog([client] {
            return client->closed ? 0 : static_cast<std::size_t>(client->socket->bytesToWrite());
        });
        client->heard.start();
        if (idleTimeout_.count() > 0) {
            client->idle.setSingleShot(true);
            connect(&client->idle, &QTimer::timeout, this, [this, client] { IdleCheck(client); });
            client->idle.start(TimerMilliseconds(idleTimeout_));
        }
        connect(socket, &QTcpSocket::readyRead, this, [this, client] { Received(client); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, client] { Sent(client); });
        connect(socket, &QTcpSocket::disconnected, this, [this, client] { PeerClosed(client); });
        Say(client->name + " connected (" + std::to_string(places_->Taken()) + " of " +
            std::to_string(kMaxClients) + " places taken)");
        emit ClientCountChanged(ClientCount());
    }
}

bool ScpiServer::TakePlace() {
    if (places_->Take())
        return true;
    std::vector<Client*> gone;
    for (const auto& client : clients_)
        // A line held by a ramp ends with it; the client's going is seen then.
        if (!client->closed && !client->session.Holding() && GoneUnseen(client->socket))
            gone.push_back(client.get());
    for (Client* client : gone)
        Drop(client, Leaving::Closed);
    return places_->Take();
}

void ScpiServer::Refuse(QTcpSocket* socket) {
    Say("client at " + Endpoint(socket->peerAddress(), socket->peerPort()) +
        " refused: " + std::to_string(kMaxClients) + " clients are connected");
    socket->write(kTooManyClients);
    socket->flush();
    // A flood of connections is not kept waiting on: beyond a few, each is closed at once.
    if (refusing_ >= kMaxClients) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++refusing_;
    connect(socket, &QObject::destroyed, this, [this] { --refusing_; });
    socket->setReadBufferSize(4096);
    EndSending(socket);
    // A reset connection is closed by the socket itself, which then has nothing to read.
    const auto readAway = [socket] {
        if (socket->isReadable())
            socket->readAll();
    };
    connect(socket, &QTcpSocket::readyRead, socket, readAway);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::errorOccurred, socket, &QObject::deleteLater);
    QTimer::singleShot(1000, socket, [socket, readAway] {
        readAway();
        socket->abort();
        socket->deleteLater();
    });
}

void ScpiServer::Received(Client* client) {
    client->heard.restart();
    // Its turn comes now unless it is already waiting for one, or for its answers to be read.
    if (!client->waiting && !client->blocked)
        Serve(client, true);
    else
        AcknowledgeAtOnce(client->socket);
}

void ScpiServer::Sent(Client* client) {
    client->heard.restart();
    if (client->blocked && client->socket->bytesToWrite() <= kMaxUnreadAnswers / 2) {
        client->blocked = false;
        Schedule(client);
    }
}

void ScpiServer::PeerClosed(Client* client) {
    commands_.Lock().Give(client->session.Session().Origin());
    client->closed = true;
    client->blocked = false;
    client->session.DiscardOutput();
    // What it sent before it closed still runs (a script piped into the port and ended).
    Serve(client);
}

void ScpiServer::IdleCheck(Client* client) {
    const auto silent = std::chrono::milliseconds(client->heard.elapsed());
    // A line held by a ramp is the program's wait, not the client's silence.
    if (silent < idleTimeout_ || client->session.Holding()) {
        const auto rest = client->session.Holding() ? idleTimeout_ : idleTimeout_ - silent;
        client->idle.start(TimerMilliseconds(rest));
        return;
    }
    Drop(client, Leaving::Idle);
}

void ScpiServer::Schedule(Client* client) {
    if (!client->waiting) {
        client->waiting = true;
        waiting_.push_back(client);
    }
    if (!turns_->isActive())
        turns_->start();
}

void ScpiServer::NextTurns() {
    // Each client waiting gets one turn; those with work left join the end of the queue again.
    for (std::size_t n = waiting_.size(); n > 0 && !waiting_.empty(); --n) {
        Client* client = waiting_.front();
        waiting_.pop_front();
        client->waiting = false;
        if (!client->blocked)
            Serve(client);
    }
    if (!waiting_.empty())
        turns_->start();
}

void ScpiServer::Serve(Client* client, bool received) {
    client->answered = false;
    const Stop stop = Turn(client);
    if (stop == Stop::Dropped)
        return;
    QTcpSocket* socket = client->socket;
    // An answer carries the acknowledgement of what the client sent; without one it goes alone.
    if (received && !client->answered)
        AcknowledgeAtOnce(socket);
    // While lines of it wait to be served, no more is read: a client that has sent its last line
    // and shut its side of the connection is answered before the end of its input is seen (the
    // socket closes at once then), and TCP holds back a client that sends faster than it is
    // served.
    const qint64 unread = socket->bytesAvailable();
    socket->setReadBufferSize(stop != Stop::NoInput && unread > 0 ? unread : kReadBufferSize);
    if (stop == Stop::TurnOver)
        Schedule(client);
    // Set before the answers go out: what the client has read by then unblocks it (Sent()).
    client->blocked = stop == Stop::Blocked;
    if (!client->closed)
        socket->flush();
}

// One turn of a client: its lines run until it has had kLinesPerTurn or kTurnTime, its answers
// wait unread, a ramp or its pending operations hold it, or it has sent nothing more.
ScpiServer::Stop ScpiServer::Turn(Client* client) {
    if (!client->closed && client->socket->bytesToWrite() > kMaxUnreadAnswers)
        return Stop::Blocked;
    const ClientSession::Stop stop = client->session.Serve();
    SendAnswers(client);
    switch (stop) {
        case ClientSession::Stop::NoInput:
            if (!client->closed)
                return Stop::NoInput;
            Drop(client, Leaving::Closed);
            return Stop::Dropped;
        case ClientSession::Stop::TurnOver:
            return Stop::TurnOver;
        case ClientSession::Stop::OutputFull:
            return Stop::Blocked;
        case ClientSession::Stop::Held:
            // Stopped inside a line by the client's ramp or pending operations: their end
            // schedules it again.
            return Stop::Held;
        case ClientSession::Stop::Refused:
            // A browser can be made to send to a loopback port: refused without running a thing.
            Drop(client, Leaving::WebRequest);
            return Stop::Dropped;
    }
    return Stop::NoInput;
}

// Takes the client's input up to the end of its next line, or all there is when no line ends in
// it: what is not yet served stays in the socket's buffer. A block's bytes are taken as they
// come, line feeds among them.
bool ScpiServer::ReadInput(Client* client) {
    // A connection reset by the peer has dropped what it held.
    if (!client->socket->isReadable())
        return false;
    std::array<char, 16384 + 1> chunk;  // readLine() ends what it read with a NUL
    const auto size = static_cast<qint64>(chunk.size());
    const auto due = static_cast<qint64>(client->session.BlockBytesDue());
    const qint64 got = due > 0 ? client->socket->read(chunk.data(), std::min(due, size))
                               : client->socket->readLine(chunk.data(), size);
    if (got <= 0)
        return false;
    client->session.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
    return true;
}

void ScpiServer::SendAnswers(Client* client) {
    while (client->session.OutputSize() > 0) {
        const ClientSession::Output out = client->session.TakeOutput(client->session.OutputSize());
        client->socket->write(out.bytes.data(), static_cast<qint64>(out.bytes.size()));
        client->answered = true;
    }
}

void ScpiServer::Drop(Client* client, Leaving why) {
    const auto it = std::find_if(clients_.begin(), clients_.end(),
                                 [client](const auto& c) { return c.get() == client; });
    if (it == clients_.end())
        return;
    switch (why) {
        case Leaving::Closed:
            Say(client->name + " left: closed");
            break;
        case Leaving::Idle:
            Say(client->name + " left: idle for " + DurationText(idleTimeout_) +
                ", closed by the server");
            break;
        case Leaving::WebRequest:
            Say(client->name + " left: refused, its first line was a web page's request");
            break;
    }
    std::erase(waiting_, client);
    QTcpSocket* socket = client->socket;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    clients_.erase(it);
    places_->Give();
    emit ClientCountChanged(ClientCount());
}

void ScpiServer::Say(const std::string& line) const {
    if (log_)
        log_(line);
}

}  // namespace tq
