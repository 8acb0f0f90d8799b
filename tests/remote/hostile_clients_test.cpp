// Clients that try to exhaust or starve the server, over loopback TCP: those that send without
// reading are held back by TCP and cost bounded memory, one that streams commands does not hold
// another, a client beyond the limit is told so and closed, a silent one is closed after the idle
// timeout and frees its place, and what a client sent before closing still runs.
//
// The hostile clients are plain non-blocking sockets: a QTcpSocket would read everything that
// comes, and a blocking socket would stop the event loop that the server runs on.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "remote/ScpiServer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ProcessMemory.h"
#include "tests/support/RawClient.h"
#include "tests/support/SimulatedInstrument.h"

namespace tq {
namespace {

using namespace std::chrono_literals;

using testing::CoreApp;
using testing::ExpectResidentGrowthBelow;
using testing::RawClient;
using testing::StartMeasuring;
using testing::WaitFor;

std::string Repeat(std::string_view text, int times) {
    std::string out;
    out.reserve(text.size() * static_cast<std::size_t>(times));
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

class HostileClients : public ::testing::Test, public testing::SimulatedInstrument {
protected:
    HostileClients() {
        CoreApp();
        QString error;
        EXPECT_TRUE(server.Listen(QHostAddress::LocalHost, 0, error)) << error.toStdString();
    }

    std::unique_ptr<QTcpSocket> Connect() {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, server.Port());
        EXPECT_TRUE(WaitFor([&] { return socket->state() == QAbstractSocket::ConnectedState; }));
        return socket;
    }

    // Sends `bytes` and returns the next answer line (without the LF), or "(none)".
    std::string Ask(QTcpSocket& socket, const QByteArray& bytes,
                    const std::function<void()>& meanwhile = {}) {
        socket.write(bytes);
        if (!WaitFor([&] { return socket.canReadLine(); }, meanwhile))
            return "(none)";
        return socket.readLine().trimmed().toStdString();
    }

    uint16_t Data(int channel) { return board.GetRegister(channel, 2); }

    // Loads a list of 10,000 codes into channel 1; returns what SOUR1:LIST:DATA? answers.
    std::string LoadList(QTcpSocket& client) {
        std::string codes = "0";
        for (int i = 1; i < 10000; ++i)
            codes += "," + std::to_string(65535 - i);
        EXPECT_EQ(
            Ask(client, QByteArray::fromStdString("SOUR1:LIST:DATA " + codes + ";SYST:ERR?\n")),
            "0,\"No error\"");
        return codes;
    }

    testing::FakeClock timer;
    WaveformRun run{instrument, timer};
    InstrumentCommands commands{instrument, &board, &run};
    ScpiServer server{commands};
};

// Clients that send queries and never read their answers: TCP holds each back once the server's
// bounded buffers are full, and a client that reads is still served meanwhile.
TEST_F(HostileClients, ClientsThatDoNotReadAreHeldBackInBoundedMemory) {
    const long before = StartMeasuring();
    std::vector<std::unique_ptr<RawClient>> hogs;
    for (int i = 0; i < ScpiServer::kMaxClients - 1; ++i)
        hogs.push_back(std::make_unique<RawClient>(server.Port()));
    auto reader = Connect();
    const std::string queries = Repeat("*IDN?\n", 10000);
    // Far beyond what the kernel's socket buffers hold: a hog that gets this far is being read
    // without bound.
    constexpr std::size_t kUnbounded = 64u << 20;
    std::vector<std::size_t> sent(hogs.size(), 0);
    QElapsedTimer quiet;  // since a hog last got a byte through
    quiet.start();
    const bool heldBack = WaitFor(
        [&] {
            return quiet.elapsed() > 500 ||
                   std::ranges::any_of(sent, [](std::size_t n) { return n > kUnbounded; });
        },
        [&] {
            for (std::size_t i = 0; i < hogs.size(); ++i)
                if (const std::size_t n = hogs[i]->Offer(queries); n > 0) {
                    sent[i] += n;
                    quiet.restart();
                }
        },
        30000);
    ASSERT_TRUE(heldBack);
    for (std::size_t i = 0; i < hogs.size(); ++i) {
        EXPECT_GT(sent[i], 0u) << "client " << i;
        EXPECT_LE(sent[i], kUnbounded) << "client " << i << " was read without bound";
    }
    EXPECT_EQ(Ask(*reader, "*OPC?\n"), "1");
    // Blocks of one point more than a list holds, of doubles and of codes: refused unread.
    const std::string tooMany = "-223,\"Too much data; a list holds at most 65536 points\"";
    EXPECT_EQ(Ask(*reader, "FORM REAL,64;:SOUR1:LIST:VOLT #6524296" + QByteArray(524296, 'A') +
                               ";DATA #6131074" + QByteArray(131074, '\n') + ";:SYST:ERR?;ERR?\n"),
              tooMany + ";" + tooMany);
    ExpectResidentGrowthBelow(before, 32 * 1024);
}

// One line whose answers are far larger than the limit on unread answers: it stops between its
// commands until the client reads, other clients go on, and the answers arrive whole as one line.
TEST_F(HostileClients, ALineWithHugeAnswersWaitsForTheClientToRead) {
    auto loader = Connect();
    const std::string expected = LoadList(*loader);
    constexpr int kQueries = 600;  // 36 MB of answers in one line

    const long before = StartMeasuring();
    RawClient hog(server.Port());
    std::string line = Repeat("SOUR1:LIST:DATA?;", kQueries);
    line.back() = '\n';
    ASSERT_TRUE(hog.SendAll(line));
    // The hog reads nothing for a while; another client is served meanwhile.
    QElapsedTimer clock;
    clock.start();
    WaitFor([&] { return clock.elapsed() > 500; });
    EXPECT_EQ(Ask(*loader, "*OPC?\n"), "1");
    ExpectResidentGrowthBelow(before, 16 * 1024);
    const std::size_t whole = kQueries * (expected.size() + 1);
    ASSERT_TRUE(WaitFor([&] { return hog.received.size() >= whole || hog.ended; },
                        [&] { hog.Collect(); }, 20000));
    ASSERT_EQ(hog.received.size(), whole);
    EXPECT_EQ(hog.received, Repeat(expected + ";", kQueries - 1) + expected + "\n");
}

// A line that takes long to run is cut into turns between its commands: another client is
// answered before it has ended. And one whose answers pass the limit on unread answers within a
// turn, from a client that reads them at once, goes on as they are read.
TEST_F(HostileClients, ALongLineIsServedInTurns) {
    auto other = Connect();
    board.SetLatency(250);  // each board request takes 250 us, as over USB
    RawClient slow(server.Port());
    std::string line;
    for (int i = 1; i <= 100; ++i)
        line += "SOUR1:DATA " + std::to_string(i) + ";";
    ASSERT_TRUE(slow.SendAll(line + "*OPC?\n"));
    int dataAtAnswer = -1;
    QObject::connect(other.get(), &QTcpSocket::readyRead, [&] { dataAtAnswer = Data(0); });
    EXPECT_EQ(Ask(*other, "*OPC?\n"), "1");
    EXPECT_LT(dataAtAnswer, 100);
    ASSERT_TRUE(WaitFor([&] { return slow.received == "1\n"; }, [&] { slow.Collect(); }));
    EXPECT_EQ(Data(0), 100);
    board.SetLatency(0);

    const std::string expected = LoadList(*other);
    constexpr int kQueries = 100;  // 6 MB of answers in one line
    RawClient reader(server.Port());
    std::string queries = Repeat("SOUR1:LIST:DATA?;", kQueries);
    queries.back() = '\n';
    ASSERT_TRUE(reader.SendAll(queries));
    const std::size_t whole = kQueries * (expected.size() + 1);
    ASSERT_TRUE(WaitFor([&] { return reader.received.size() >= whole || reader.ended; },
                        [&] { reader.Collect(); }));
    EXPECT_EQ(reader.received, Repeat(expected + ";", kQueries - 1) + expected + "\n");
}

// A client streaming commands as fast as it can, a backlog of them already queued: another
// client's query is answered after a few turns of it, not after the backlog.
TEST_F(HostileClients, AnotherClientIsServedWhileOneFloods) {
    int writes = 0;
    const int listener = instrument.AddListener([&](const InstrumentChange& change) {
        writes += change.kind == InstrumentChange::Kind::Register && !change.readBack;
    });
    RawClient flood(server.Port());
    const std::string commands = Repeat("SOUR1:DATA 100\nSOUR1:DATA 200\n", 4000);
    const auto stream = [&] {
        flood.Offer(commands);
        flood.Collect(false);
    };
    // The backlog: what the kernel takes before the server has read a byte.
    std::size_t backlog = 0;
    while (const std::size_t n = flood.Offer(commands))
        backlog += n;
    auto other = Connect();
    ASSERT_TRUE(WaitFor([&] { return writes > 0; }, stream));
    // Counted when the answer arrives, not when the test's loop next looks.
    const int before = writes;
    int answeredAt = -1;
    QObject::connect(other.get(), &QTcpSocket::readyRead, [&] {
        if (answeredAt < 0)
            answeredAt = writes;
    });
    EXPECT_EQ(Ask(*other, "*OPC?\n", stream), "1");
    const int during = answeredAt - before;
    EXPECT_LT(during, 2000) << "the other client waited for " << during << " of " << backlog / 15
                            << " lines of the flood";
    // The flood is served on.
    const int after = writes;
    EXPECT_TRUE(WaitFor([&] { return writes > after + 1000; }, stream));
    EXPECT_EQ(server.ClientCount(), 2);
    instrument.RemoveListener(listener);
}

// A client beyond the limit reads one line saying why and the connection ends in order, even
// when it sent something first; the others are served on.
TEST_F(HostileClients, ANinthClientReadsWhyAndIsClosed) {
    std::vector<std::unique_ptr<QTcpSocket>> eight;
    for (int i = 0; i < ScpiServer::kMaxClients; ++i)
        eight.push_back(Connect());
    ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == 8; }));
    for (const bool speaksFirst : {false, true}) {
        RawClient ninth(server.Port());
        ASSERT_TRUE(ninth.Connected());
        if (speaksFirst)
            ninth.Offer(Repeat("SOUR1:DATA 7\n", 100));
        ASSERT_TRUE(WaitFor([&] { return ninth.ended; }, [&] { ninth.Collect(); }));
        EXPECT_EQ(ninth.received, ScpiServer::kTooManyClients) << speaksFirst;
        EXPECT_FALSE(ninth.reset) << speaksFirst;
    }
    EXPECT_EQ(Data(0), 0x8000);
    for (auto& client : eight)
        EXPECT_EQ(Ask(*client, "*OPC?\n"), "1");
    eight.pop_back();
    ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == 7; }));
    auto next = Connect();
    EXPECT_EQ(Ask(*next, "*OPC?\n"), "1");
}

// A burst of clients that reset their connection, some with a line sent, half of them while every
// place is taken: each is logged once (arrived and left, or refused), Qt says nothing, and
// newcomers right after take their places, as they do right after a client that connected and
// left at once.
TEST_F(HostileClients, ClientsThatResetLeaveNoTraceButTheirLogLines) {
    std::vector<std::string> log;
    server.SetLog([&](const std::string& line) { log.push_back(line); });
    static std::string warnings;
    const QtMessageHandler before =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
            warnings += text.toStdString();
        });
    // Every place is taken for the first half of the burst: those are refused.
    std::vector<std::unique_ptr<RawClient>> holders;
    for (int i = 0; i < ScpiServer::kMaxClients; ++i)
        holders.push_back(std::make_unique<RawClient>(server.Port()));
    ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == ScpiServer::kMaxClients; }));
    std::vector<quint16> ports;
    for (int i = 0; i < 50; ++i) {
        if (i == 25)
            holders.clear();
        RawClient client(server.Port());
        if (i % 2 == 1)
            client.Offer("*IDN?\n");
        ports.push_back(client.LocalPort());
        client.Reset();
        // The burst comes as the server runs, which takes the connections as they come.
        QCoreApplication::processEvents();
    }
    const auto served = [&] {
        std::vector<std::unique_ptr<RawClient>> newcomers;
        for (int i = 0; i < ScpiServer::kMaxClients; ++i)
            newcomers.push_back(std::make_unique<RawClient>(server.Port()));
        for (auto& client : newcomers) {
            client->Offer("*OPC?\n");
            WaitFor([&] { return client->ended || !client->received.empty(); },
                    [&] { client->Collect(); });
            EXPECT_EQ(client->received, "1\n");
        }
    };
    served();
    ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == 0; }));
    RawClient(server.Port()).EndSending();
    served();
    WaitFor([] { return false; }, {}, 1200);  // a refused connection's second to read its line
    qInstallMessageHandler(before);
    EXPECT_EQ(warnings, "");
    // One whose connection was reset before the server took it is no longer known by its port.
    auto unknown = std::ranges::count(log, std::string(ScpiServer::kGoneBeforeServed));
    for (const quint16 port : ports) {
        const std::string name = "client at 127.0.0.1:" + std::to_string(port) + " ";
        std::string said;
        for (const std::string& line : log)
            if (line.starts_with(name))
                said += line.substr(name.size()) + "|";
        const bool came =
            said.starts_with("connected (") && said.ends_with(" taken)|left: closed|");
        EXPECT_TRUE(said == "refused: 8 clients are connected|" || came ||
                    (said.empty() && unknown-- > 0))
            << name << said;
    }
    EXPECT_EQ(unknown, 0) << "clients logged twice";
}

// Eight clients that connect and say nothing are closed after the idle timeout and new clients
// get their places; a client that keeps talking stays.
TEST_F(HostileClients, SilentClientsAreClosedAfterTheIdleTimeout) {
    std::vector<std::string> log;
    server.SetLog([&](const std::string& line) { log.push_back(line); });
    server.SetIdleTimeout(300ms);
    std::vector<std::unique_ptr<RawClient>> silent;
    for (int i = 0; i < ScpiServer::kMaxClients - 1; ++i)
        silent.push_back(std::make_unique<RawClient>(server.Port()));
    auto talker = Connect();
    ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == 8; }));
    // Only the talker is left after the timeout, however long it talks.
    QElapsedTimer clock;
    clock.start();
    int answers = 0;
    bool asked = false;
    ASSERT_TRUE(WaitFor([&] { return clock.elapsed() > 1000; },
                        [&] {
                            if (talker->canReadLine()) {
                                answers += talker->readLine().trimmed() == "1";
                                asked = false;
                            }
                            if (!asked && clock.elapsed() / 100 >= answers) {
                                talker->write("*OPC?\n");
                                asked = true;
                            }
                            for (auto& client : silent)
                                client->Collect();
                        }));
    EXPECT_GE(answers, 8);
    EXPECT_EQ(talker->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(server.ClientCount(), 1);
    for (auto& client : silent) {
        EXPECT_TRUE(client->ended);
        EXPECT_EQ(client->received, "");
        const std::string name = "client at 127.0.0.1:" + std::to_string(client->LocalPort());
        EXPECT_EQ(std::ranges::count(log, name + " left: idle for 300 ms, closed by the server"), 1)
            << name;
    }
    std::vector<std::unique_ptr<QTcpSocket>> newcomers;
    for (int i = 0; i < ScpiServer::kMaxClients - 1; ++i) {
        newcomers.push_back(Connect());
        EXPECT_EQ(Ask(*newcomers.back(), "*OPC?\n"), "1");
    }
}

// What a client sent before it ended the connection still runs: all of it when it closes, and
// all of it answered when it only stops sending and reads on.
TEST_F(HostileClients, LinesSentBeforeTheClientClosesStillRun) {
    {
        RawClient script(server.Port());
        std::string lines;
        for (int i = 1; i <= 3000; ++i)
            lines += "SOUR1:DATA " + std::to_string(i) + "\n";
        ASSERT_TRUE(script.SendAll(lines));
    }
    ASSERT_TRUE(WaitFor([&] { return Data(0) == 3000 && server.ClientCount() == 0; }));

    RawClient piped(server.Port());
    ASSERT_TRUE(piped.SendAll(Repeat("SOUR2:DATA 9;*OPC?\n", 3000)));
    piped.EndSending();
    ASSERT_TRUE(WaitFor([&] { return piped.ended; }, [&] { piped.Collect(); }));
    EXPECT_EQ(piped.received, Repeat("1\n", 3000));
    EXPECT_EQ(Data(1), 9);
}

}  // namespace
}  // namespace tq
