#include "meter/SimulatedMeter.h"

#include <QHostAddress>
#include <memory>
#include <string>

namespace tq {
namespace {

constexpr std::size_t kLongestLine = 4096;
constexpr int kMostClients = 4;

}  // namespace

SimulatedMeter::SimulatedMeter(const SimulatedBench& bench, QObject* parent)
    : QObject(parent), logic_(bench) {
    connect(&server_, &QTcpServer::newConnection, this, &SimulatedMeter::OnConnection);
}

bool SimulatedMeter::Listen(uint16_t port, QString& error) {
    if (!server_.listen(QHostAddress::LocalHost, port)) {
        error = server_.errorString();
        return false;
    }
    return true;
}

void SimulatedMeter::OnConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (findChildren<QTcpSocket*>().size() > kMostClients) {
            socket->abort();
            continue;
        }
        auto buffer = std::make_shared<std::string>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            const QByteArray bytes = socket->readAll();
            buffer->append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
            for (std::size_t end; (end = buffer->find('\n')) != std::string::npos;) {
                const std::string answer = logic_.Answer(buffer->substr(0, end));
                buffer->erase(0, end + 1);
                if (!answer.empty())
                    socket->write((answer + "\n").c_str());
            }
            // A line without end is thrown away rather than kept growing.
            if (buffer->size() > kLongestLine)
                buffer->clear();
        });
    }
}

}  // namespace tq
