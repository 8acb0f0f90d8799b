// A voltage set over the instrument protocol, from a loopback client to the write leaving the
// program, on the simulated board: one command and *OPC? at a time, and pipelined; against the
// same write made by a direct call of the instrument layer.
//
// The server runs on the main thread's event loop as in the program; the benchmarks run on a
// client thread with plain sockets.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <string>
#include <thread>

#include "adapter/simulated/SimulatedBoard.h"
#include "board/BoardRequests.h"
#include "remote/ScpiServer.h"

namespace {

quint16 serverPort = 0;

// One loopback connection to the server.
class Client {
public:
    Client() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(serverPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { close(fd_); }
    bool Connected() const { return connected_; }

    bool Send(const std::string& text) {
        std::size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = send(fd_, text.data() + sent, text.size() - sent, 0);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }
    // Reads until `lines` answers have come.
    bool Receive(int lines) {
        char buffer[65536];
        while (lines > 0) {
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            for (ssize_t i = 0; i < n; ++i)
                lines -= buffer[i] == '\n';
        }
        return true;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

const char* const kVolts[] = {"5", "-2.5", "7.125", "0"};

void ScpiVoltageAndOpc(benchmark::State& st) {
    Client client;
    if (!client.Connected()) {
        st.SkipWithError("no connection");
        return;
    }
    int i = 0;
    for (auto _ : st) {
        if (!client.Send(std::string("SOUR1:VOLT ") + kVolts[i++ & 3] + ";*OPC?\n") ||
            !client.Receive(1)) {
            st.SkipWithError("connection lost");
            return;
        }
    }
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(ScpiVoltageAndOpc)->Unit(benchmark::kMicrosecond)->UseRealTime();

// 1,000 commands sent at once, 1,000 answers read: the rate a pipelining client gets.
void ScpiPipelined(benchmark::State& st) {
    constexpr int kBatch = 1000;
    Client client;
    std::string batch;
    for (int i = 0; i < kBatch; ++i)
        batch += std::string("SOUR1:VOLT ") + kVolts[i & 3] + ";*OPC?\n";
    for (auto _ : st) {
        if (!client.Send(batch) || !client.Receive(kBatch)) {
            st.SkipWithError("connection lost");
            return;
        }
    }
    st.SetItemsProcessed(st.iterations() * kBatch);
}
BENCHMARK(ScpiPipelined)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same write by a direct call, on a board of its own (the server's lives on another
// thread).
void DirectInstrumentCall(benchmark::State& st) {
    tq::DeviceState state;
    tq::ApplyStartDefaults(state);
    tq::SimulatedBoard board;
    tq::BoardRequests requests(state, board);
    tq::Instrument instrument(state, requests, {"Simulated board", "SIMULATED"});
    instrument.SetPulseAfterDataWrite(true);
    instrument.ConnectBoard(TQ_FIRMWARE_FOLDER);
    const float volts[] = {5.0f, -2.5f, 7.125f, 0.0f};
    int i = 0;
    for (auto _ : st)
        instrument.SetChannelVoltage(0, volts[i++ & 3], 10.0f, true);
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(DirectInstrumentCall)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    tq::DeviceState state;
    tq::ApplyStartDefaults(state);
    tq::SimulatedBoard board;
    tq::BoardRequests requests(state, board);
    tq::Instrument instrument(state, requests, {"Simulated board", "SIMULATED"});
    instrument.SetPulseAfterDataWrite(true);
    if (instrument.ConnectBoard(TQ_FIRMWARE_FOLDER) != 0)
        return 1;
    tq::InstrumentCommands commands(instrument, &board);
    tq::ScpiServer server(commands);
    QString error;
    if (!server.Listen(QHostAddress::LocalHost, 0, error))
        return 1;
    serverPort = server.Port();

    std::thread client([] {
        benchmark::RunSpecifiedBenchmarks();
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    const int status = QCoreApplication::exec();
    client.join();
    benchmark::Shutdown();
    return status;
}
