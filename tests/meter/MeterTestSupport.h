#pragma once
// A fake meter on the loopback address that answers as it is told: at once, late, with garbage,
// never, or by closing the connection; and one reading taken as a run takes it.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

#include "instrument/Meter.h"
#include "tests/support/EventLoop.h"

namespace tq::testing {

// One reading, which must complete from the event loop and not inside the call.
inline std::optional<MeterReading> ReadOnce(Meter& meter, int channel = 0) {
    std::optional<MeterReading> result;
    meter.Read(channel, [&](const MeterReading& r) { result = r; });
    EXPECT_FALSE(result) << "completed inside the call";
    EXPECT_TRUE(WaitFor([&] { return result.has_value(); }));
    return result;
}

class ScriptedMeter : public QObject {
public:
    enum class Mode { Answer, Garble, Hang, Late, Drop, Hold };

    ScriptedMeter() {
        CoreApp();
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                socket->setParent(this);
                QObject::connect(socket, &QTcpSocket::readyRead, this,
                                 [this, socket] { OnLine(socket); });
            }
        });
    }
    std::string Address() const {
        return "TCPIP::127.0.0.1::" + std::to_string(server.serverPort()) + "::SOCKET";
    }

    Mode mode = Mode::Answer;
    std::string reading = "+1.25000E+00";
    int lateMilliseconds = 0;
    int readingsAsked = 0;
    // Readings answered before the mode applies.
    int goodReadings = 0;
    std::vector<std::string> lines;

    // Hold: answers wait, in order, until released.
    void Release() {
        for (auto& [socket, answer] : held)
            socket->write((answer + "\n").c_str());
        held.clear();
    }

private:
    std::vector<std::pair<QTcpSocket*, std::string>> held;

    void OnLine(QTcpSocket* socket) {
        while (socket->canReadLine()) {
            const std::string line = socket->readLine().trimmed().toStdString();
            lines.push_back(line);
            if (line == "*IDN?") {
                socket->write("FAKE,METER,1,0\n");
                continue;
            }
            if (line.back() != '?')
                continue;
            ++readingsAsked;
            if (readingsAsked <= goodReadings) {
                socket->write((reading + "\n").c_str());
                continue;
            }
            switch (mode) {
                case Mode::Answer:
                    socket->write((reading + "\n").c_str());
                    break;
                case Mode::Garble:
                    socket->write("\x01\xFFgarbage\n");
                    break;
                case Mode::Hang:
                    break;
                case Mode::Late:
                    QTimer::singleShot(lateMilliseconds, socket,
                                       [socket, this] { socket->write((reading + "\n").c_str()); });
                    break;
                case Mode::Hold:
                    held.emplace_back(socket, reading);
                    break;
                case Mode::Drop:
                    socket->disconnectFromHost();
                    return;
            }
        }
    }

    QTcpServer server;
};

}  // namespace tq::testing
