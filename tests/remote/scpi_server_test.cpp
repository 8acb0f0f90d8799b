// The server over loopback TCP with hostile clients: each is answered or refused as the protocol
// says, the others go on being served, and nothing reaches the board from a refused line.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "adapter/simulated/SimulatedBoard.h"
#include "board/BoardRequests.h"
#include "core/DeviceState.h"
#include "core/Version.h"
#include "remote/ScpiServer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/SimulatedInstrument.h"
#include "timers/QtRunTimer.h"

namespace tq {
namespace {

using testing::CoreApp;
using testing::WaitFor;

class ServerTest : public ::testing::Test, public testing::SimulatedInstrument {
protected:
    ServerTest() {
        CoreApp();
        QString error;
        EXPECT_TRUE(server.Listen(QHostAddress::LocalHost, 0, error)) << error.toStdString();
        QObject::connect(&server, &ScpiServer::ClientCountChanged,
                         [this](int n) { counts.push_back(n); });
    }

    std::unique_ptr<QTcpSocket> Connect() {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, server.Port());
        EXPECT_TRUE(WaitFor([&] { return socket->state() == QAbstractSocket::ConnectedState; }));
        return socket;
    }

    // Sends `bytes` and returns the next answer line (without the LF), or "(none)".
    std::string Ask(QTcpSocket& socket, const QByteArray& bytes) {
        socket.write(bytes);
        if (!WaitFor([&] { return socket.canReadLine(); }))
            return "(none)";
        return socket.readLine().trimmed().toStdString();
    }

    uint16_t Data(int channel) { return board.GetRegister(channel, 2); }

    InstrumentCommands commands{instrument, &board};
    ScpiServer server{commands};
    std::vector<int> counts;
};

TEST_F(ServerTest, ClientsHaveTheirOwnQueueAndAreCounted) {
    auto a = Connect();
    auto b = Connect();
    EXPECT_EQ(Ask(*a, "SOUR2:VOLT 5;NOPE\r\n*IDN?\n"),
              "TQ2604X-EVAL,TQ2604X,SIMULATED," + std::string(kProgramVersion));
    EXPECT_EQ(Ask(*b, "SOUR2:DATA?;SYST:ERR?\n"), "49152;0,\"No error\"");
    EXPECT_EQ(Ask(*a, "SYST:ERR?\n"), "-113,\"Undefined header\"");
    a->disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == 1; }));
    EXPECT_EQ(counts, (std::vector<int>{1, 2, 1}));
}

// --listen with a host name: every address it gives, all on the port the first one picks; the
// address that cannot be listened on is named in the reason.
TEST_F(ServerTest, ListensOnEveryAddressOnOnePort) {
    std::vector<QHostAddress> loopbacks{QHostAddress::LocalHost};
    QStringList shown{QStringLiteral("127.0.0.1")};
    if (QTcpServer probe; probe.listen(QHostAddress::LocalHostIPv6)) {
        loopbacks.push_back(QHostAddress::LocalHostIPv6);
        shown.append(QStringLiteral("[::1]"));
    }
    ScpiServer both{commands};
    QString error;
    ASSERT_TRUE(both.Listen(loopbacks, 0, error)) << error.toStdString();
    EXPECT_EQ(both.Addresses(), shown);
    for (const QHostAddress& address : loopbacks) {
        QTcpSocket socket;
        socket.connectToHost(address, both.Port());
        ASSERT_TRUE(WaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
        EXPECT_EQ(Ask(socket, "SOUR3:DATA 7;DATA?\n"), "7");
    }
    ScpiServer elsewhere{commands};
    EXPECT_FALSE(elsewhere.Listen({QHostAddress::LocalHost, QHostAddress("192.0.2.7")}, 0, error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("192.0.2.7: "))) << error.toStdString();
    ScpiServer taken{commands};
    EXPECT_FALSE(taken.Listen(loopbacks, both.Port(), error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("127.0.0.1: "))) << error.toStdString();
}

// The status byte's MAV (bit 4) is set while an answer waits for this client: within the line
// that has an answer so far, and summed up in MSS when *SRE lets it through.
TEST_F(ServerTest, TheStatusByteShowsAnAnswerWaiting) {
    auto client = Connect();
    auto other = Connect();
    const std::string identity = "TQ2604X-EVAL,TQ2604X,SIMULATED," + std::string(kProgramVersion);
    EXPECT_EQ(Ask(*client, "*STB?\n"), "0");
    EXPECT_EQ(Ask(*client, "*IDN?;*STB?\n"), identity + ";16");
    EXPECT_EQ(Ask(*client, "*SRE 16;*IDN?;*STB?;*SRE 0;*STB?\n"), identity + ";80;16");
    EXPECT_EQ(Ask(*other, "*STB?\n"), "0");
}

// A web page can make a browser send to a loopback port: the request runs nothing.
TEST_F(ServerTest, AnHttpRequestIsClosedUnanswered) {
    for (const char* request : {"GET /?x HTTP/1.1\r\n", "POST / HTTP/1.1\r\n",
                                "SOUR1:DATA 7 HTTP/1.1\r\n", "OPTIONS * HTTP/1.1\r\n"}) {
        auto browser = Connect();
        browser->write(request);
        EXPECT_TRUE(WaitFor([&] { return browser->state() == QAbstractSocket::UnconnectedState; }))
            << request;
        EXPECT_EQ(browser->readAll().size(), 0) << request;
    }
    EXPECT_EQ(Data(0), 0x8000);
    EXPECT_EQ(server.ClientCount(), 0);
}

TEST_F(ServerTest, ANinthClientIsClosedTheEightAreServed) {
    std::vector<std::unique_ptr<QTcpSocket>> eight;
    for (int i = 0; i < ScpiServer::kMaxClients; ++i)
        eight.push_back(Connect());
    ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == 8; }));
    auto ninth = std::make_unique<QTcpSocket>();
    ninth->connectToHost(QHostAddress::LocalHost, server.Port());
    EXPECT_TRUE(WaitFor([&] { return ninth->state() == QAbstractSocket::UnconnectedState; }));
    for (auto& client : eight)
        EXPECT_EQ(Ask(*client, "*OPC?\n"), "1");
}

TEST_F(ServerTest, HostileLinesAreErrorsAndTheConnectionStays) {
    auto client = Connect();
    // A line of 1 MiB and one byte: thrown away, reported, and the next line is served.
    EXPECT_EQ(Ask(*client, QByteArray((1 << 20) + 1, 'S') + "\n*OPC?\n"), "1");
    EXPECT_EQ(Ask(*client, "SYST:ERR?\n"), "-363,\"Input buffer overrun\"");
    const QByteArray binary("\x00\xff\x01SOUR1:DATA\x00 5\n", 17);
    EXPECT_EQ(Ask(*client, binary + "SOUR1:DATA 1e999;SOUR1:VOLT 1e400\nSYST:ERR?\n").substr(0, 4),
              "-102");
    EXPECT_EQ(Ask(*client, "SYST:ERR?;SYST:ERR?;SYST:ERR?\n"),
              "-104,\"Data type error\";-104,\"Data type error\";0,\"No error\"");
    EXPECT_EQ(Data(0), 0x8000);
}

// A block carries any bytes, line feeds among them, in a line of up to 1 MiB: a setup as it is
// saved, on several lines, padded to the longest line there is. A block announced longer than a
// line may be is skipped whole: the commands among its bytes never run.
TEST_F(ServerTest, BlocksCarryLineFeedsInLinesUpToAMebibyte) {
    auto client = Connect();
    const QByteArray setup = "{\n  \"format\": 1,\n  \"pins\": {\n    \"clr\": false\n  }\n}\n";
    EXPECT_EQ(Ask(*client, "SYST:SET #2" + QByteArray::number(setup.size()) + setup +
                               ";SYST:ERR?;PIN:CLR?\n"),
              "0,\"No error\";0");
    const int length = (1 << 20) - 18;  // what the header "SYST:SET #7nnnnnnn" leaves
    const QByteArray json = "{\"pins\":{\"clr\":true},\"format\":1}";
    const QByteArray padded =
        "SYST:SET #7" + QByteArray::number(length) + json + QByteArray(length - json.size(), '\n');
    ASSERT_EQ(padded.size(), 1 << 20);
    EXPECT_EQ(Ask(*client, padded + "\r\nPIN:CLR?;SYST:ERR?\n"), "1;0,\"No error\"");
    QByteArray beyond = "SYST:SET #71048576";
    for (int i = 0; i < 1048576 / 16; ++i)
        beyond += "\nSOUR1:DATA 77\n;";  // 16 bytes
    EXPECT_EQ(Ask(*client, beyond + "\n*OPC?\n"), "1");
    EXPECT_EQ(Ask(*client, "SYST:ERR?;SYST:ERR?\n"),
              "-363,\"Input buffer overrun\";0,\"No error\"");
    EXPECT_EQ(Data(0), 0x8000);
}

// A line cut off by a disconnect never runs; the client that connects and says nothing does not
// hold up the others.
TEST_F(ServerTest, AHalfLineIsNeverRun) {
    auto silent = Connect();
    auto cut = Connect();
    cut->write("SOUR1:DATA 1234");
    cut->flush();
    cut->abort();
    ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == 1; }));
    auto other = Connect();
    EXPECT_EQ(Ask(*other, "SOUR1:DATA?\n"), "32768");
}

// A command that ramps completes with its ramp: the rest of its line, and the client's next
// lines, wait for it, while other clients are served.
TEST_F(ServerTest, ARampingCommandCompletesWithItsRamp) {
    QtRunTimer timer;  // the ramp's wake-ups from the event loop, as the program has them
    instrument.SetRampTimer(&timer);
    ChannelLimits limits;
    limits.rampStep = 1.0;
    limits.rampWaitSeconds = 0.05;
    instrument.SetLimits(1, limits);
    auto a = Connect();
    auto b = Connect();
    QElapsedTimer clock;
    clock.start();
    a->write("SOUR2:VOLT 4;*OPC?;SOUR2:DATA?\nSOUR2:VOLT?\n");
    ASSERT_TRUE(WaitFor([&] { return instrument.Ramping(); }));
    EXPECT_EQ(Ask(*b, "OUTP:RAMP?;SOUR2:VOLT 1;SYST:ERR?\n"),
              "1;-221,\"Settings conflict; DAC B is ramping to its new output; wait for the ramp "
              "to end\"");
    ASSERT_TRUE(WaitFor([&] { return a->canReadLine(); }));
    // Four steps of 1 V, three waits between them.
    EXPECT_GE(clock.elapsed(), 140);
    EXPECT_EQ(a->readLine().trimmed().toStdString(), "1;45875");
    ASSERT_TRUE(WaitFor([&] { return a->canReadLine(); }));
    EXPECT_EQ(a->readLine().trimmed().toStdString(), "3.999939");
    EXPECT_FALSE(instrument.Ramping());
    instrument.SetRampTimer(nullptr);
}

}  // namespace
}  // namespace tq
