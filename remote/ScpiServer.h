#pragma once
// The instrument protocol over TCP: each connection is one client with its own error queue, its
// lines run one at a time on the user-interface thread through the instrument's command tree.
// At most 8 clients; a web page's request is refused unanswered; a line over 64 KiB is thrown
// away with an error; a client that reads no answers is not read from until it does.

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "remote/InstrumentCommands.h"

class QTcpServer;
class QTcpSocket;

namespace tq {

class ScpiServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 8;
    // Answers waiting for a client beyond this stop its input being read.
    static constexpr qint64 kMaxUnreadAnswers = 1 << 20;

    explicit ScpiServer(InstrumentCommands& commands, QObject* parent = nullptr);
    ~ScpiServer() override;

    // Port 0 picks a free one. False with the reason in `error` when it cannot listen.
    bool Listen(const QHostAddress& address, quint16 port, QString& error);
    QHostAddress Address() const;
    quint16 Port() const;
    int ClientCount() const { return static_cast<int>(clients_.size()); }

signals:
    void ClientCountChanged(int count);

private:
    struct Client;
    void Accept();
    void Serve(Client* client);
    void Answer(Client* client);
    void Drop(Client* client);

    InstrumentCommands& commands_;
    QTcpServer* server_;
    std::vector<std::unique_ptr<Client>> clients_;
    int listener_ = 0;
};

}  // namespace tq
