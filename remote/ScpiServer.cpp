#include "remote/ScpiServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <array>

#include "remote/ScpiGrammar.h"

namespace tq {

struct ScpiServer::Client {
    Client(QTcpSocket* s, InstrumentCommands& commands) : socket(s), session(commands) {}
    QTcpSocket* socket;
    scpi::LineAssembler lines;
    ScpiSession session;
    bool firstLine = true;
};

ScpiServer::ScpiServer(InstrumentCommands& commands, QObject* parent)
    : QObject(parent), commands_(commands), server_(new QTcpServer(this)) {
    // A refused tenth connection is closed by us, not left waiting in the listen queue.
    server_->setMaxPendingConnections(kMaxClients + 1);
    connect(server_, &QTcpServer::newConnection, this, &ScpiServer::Accept);
    // A client whose command started a ramp reads on when the ramp has ended: from its side every
    // command has completed before the next one runs, so *OPC? answers after the ramp.
    listener_ = commands_.Target().AddListener([this](const InstrumentChange& change) {
        if (change.kind == InstrumentChange::Kind::Activity && change.value == 0)
            QTimer::singleShot(0, this, [this] {
                for (std::size_t i = 0; i < clients_.size(); ++i)
                    Serve(clients_[i].get());
            });
    });
}

ScpiServer::~ScpiServer() {
    commands_.Target().RemoveListener(listener_);
    for (auto& client : clients_)
        client->socket->disconnect(this);
}

bool ScpiServer::Listen(const QHostAddress& address, quint16 port, QString& error) {
    if (server_->listen(address, port))
        return true;
    error = server_->errorString();
    return false;
}

QHostAddress ScpiServer::Address() const {
    return server_->serverAddress();
}

quint16 ScpiServer::Port() const {
    return server_->serverPort();
}

void ScpiServer::Accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        if (ClientCount() >= kMaxClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Answers go out at once: a client waits for each one.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        clients_.push_back(std::make_unique<Client>(socket, commands_));
        Client* client = clients_.back().get();
        connect(socket, &QTcpSocket::readyRead, this, [this, client] { Serve(client); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, client] { Serve(client); });
        connect(socket, &QTcpSocket::disconnected, this, [this, client] { Drop(client); });
        emit ClientCountChanged(ClientCount());
    }
}

void ScpiServer::Serve(Client* client) {
    QTcpSocket* socket = client->socket;
    std::array<char, 65536> chunk{};
    for (;;) {
        // Lines already framed run first; a client that does not read its answers waits.
        while (socket->bytesToWrite() <= kMaxUnreadAnswers) {
            // A line held by its ramp goes on once the ramp has ended.
            if (client->session.Holding()) {
                if (!client->session.Resume())
                    return;
                Answer(client);
                continue;
            }
            std::optional<scpi::Line> line = client->lines.Next();
            if (!line)
                break;
            if (line->overrun) {
                client->session.Overrun();
                client->firstLine = false;
                continue;
            }
            // A browser can be made to send to a loopback port: refuse it without running a
            // thing.
            if (client->firstLine && scpi::LineAssembler::LooksLikeHttp(line->text)) {
                Drop(client);
                return;
            }
            client->firstLine = false;
            if (!client->session.Start(line->text))
                return;
            Answer(client);
        }
        if (socket->bytesToWrite() > kMaxUnreadAnswers || socket->bytesAvailable() <= 0)
            return;
        const qint64 got = socket->read(chunk.data(), static_cast<qint64>(chunk.size()));
        if (got <= 0)
            return;
        client->lines.Feed(chunk.data(), static_cast<std::size_t>(got));
    }
}

void ScpiServer::Answer(Client* client) {
    if (const auto answer = client->session.TakeResponse()) {
        client->socket->write(answer->data(), static_cast<qint64>(answer->size()));
        client->socket->write("\n", 1);
    }
}

void ScpiServer::Drop(Client* client) {
    const auto it = std::find_if(clients_.begin(), clients_.end(),
                                 [client](const auto& c) { return c.get() == client; });
    if (it == clients_.end())
        return;
    QTcpSocket* socket = client->socket;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    clients_.erase(it);
    emit ClientCountChanged(ClientCount());
}

}  // namespace tq
