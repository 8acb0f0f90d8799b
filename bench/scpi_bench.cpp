// A voltage set over the instrument protocol, from a loopback client to the write leaving the
// program, on the simulated board: one command and *OPC? at a time, and pipelined; against the
// same write made by a direct call of the instrument layer, and against two echo servers that
// answer the same bytes without doing anything, one on the same event loop (QTcpServer), one
// blocking on a thread of its own. The same round over VXI-11 (a device_write and a device_read
// of libtirpc's client), and another link's round while a link sends queries and never reads.
//
// Hostile clients: another client's *OPC? while one streams commands as fast as it can (median
// and worst of 200), the program's resident memory with eight clients that send queries and never
// read, and a setting followed by SYST:ERR? from a client that leaves Nagle's algorithm on (as
// pyvisa-py does). The longest list loaded in one message, as a block of 16-bit words and as text.
//
// The servers run on the main thread's event loop as in the program; the benchmarks run on a
// client thread with plain sockets.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "adapter/simulated/SimulatedBoard.h"
#include "board/BoardRequests.h"
#include "remote/ScpiServer.h"
#include "remote/vxi11/RpcRecords.h"
#include "remote/vxi11/Vxi11Server.h"
#include "remote/vxi11/vxi11.h"

namespace {

quint16 serverPort = 0;
quint16 qtEchoPort = 0;
quint16 blockingEchoPort = 0;
quint16 vxi11Port = 0;
std::atomic<int> serverClients{0};

using Clock = std::chrono::steady_clock;

// One loopback connection to a server.
class Client {
public:
    explicit Client(quint16 port = serverPort, bool noDelay = true) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        if (noDelay)
            setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    bool Connected() const { return connected_; }
    int Fd() const { return fd_; }

    bool Send(const std::string& text) {
        std::size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
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

// The baseline on the same event loop: each read written back and sent at once.
void StartQtEcho(QTcpServer& server) {
    QObject::connect(&server, &QTcpServer::newConnection, [&server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            QObject::connect(socket, &QTcpSocket::readyRead, [socket] {
                socket->write(socket->readAll());
                socket->flush();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    server.listen(QHostAddress::LocalHost, 0);
    qtEchoPort = server.serverPort();
}

// The baseline without an event loop: a thread blocked in recv() writes back what it got.
void RunBlockingEcho(int listener) {
    for (;;) {
        const int fd = accept(listener, nullptr, nullptr);
        if (fd < 0)
            return;
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread([fd] {
            char buffer[65536];
            for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
                if (send(fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n)
                    break;
            close(fd);
        }).detach();
    }
}

int StartBlockingEcho() {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return -1;
    blockingEchoPort = ntohs(address.sin_port);
    std::thread(RunBlockingEcho, listener).detach();
    return listener;
}

// The program's resident memory in kB ("VmRSS:", or the peak "VmHWM:").
long MemoryKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
        if (word == field) {
            long kb = 0;
            status >> kb;
            return kb;
        }
    return 0;
}

// Earlier benchmarks' connections are gone from the server.
void WaitForNoClients() {
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (serverClients.load() != 0 && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

const char* const kVolts[] = {"5", "-2.5", "7.125", "0"};

// A setting and *OPC? a round, each answered before the next is sent.
void VoltageAndOpcRounds(benchmark::State& st, Client& client) {
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

// 200 rounds of `round` (false: the connection is gone), each timed: their median and worst, in
// microseconds.
template <typename Round>
void TimedRounds(benchmark::State& st, Round round, const char* lost) {
    std::vector<double> trips;
    for (auto _ : st) {
        trips.clear();
        for (int i = 0; i < 200; ++i) {
            const auto start = Clock::now();
            if (!round()) {
                st.SkipWithError(lost);
                return;
            }
            trips.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    std::sort(trips.begin(), trips.end());
    st.counters["median_us"] = (trips[99] + trips[100]) / 2;
    st.counters["worst_us"] = trips.back();
}

void ScpiVoltageAndOpc(benchmark::State& st) {
    WaitForNoClients();
    Client client;
    VoltageAndOpcRounds(st, client);
}
BENCHMARK(ScpiVoltageAndOpc)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same bytes through the two echo servers: what any server on this loopback pays.
void EchoRoundTrip(benchmark::State& st, const quint16* port) {
    Client client(*port);
    VoltageAndOpcRounds(st, client);
}
BENCHMARK_CAPTURE(EchoRoundTrip, QtEventLoop, &qtEchoPort)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(EchoRoundTrip, BlockingThread, &blockingEchoPort)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// A setting and then SYST:ERR? as two writes from a client with Nagle's algorithm on, as the
// pymeasure driver over pyvisa-py sends them: the second write waits for the server's
// acknowledgement of the first.
void ScpiSettingWithNagle(benchmark::State& st) {
    WaitForNoClients();
    Client client(serverPort, false);
    int i = 0;
    for (auto _ : st) {
        if (!client.Send(std::string("SOUR1:VOLT ") + kVolts[i++ & 3] + "\n") ||
            !client.Send("SYST:ERR?\n") || !client.Receive(1)) {
            st.SkipWithError("connection lost");
            return;
        }
    }
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(ScpiSettingWithNagle)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Another client's *OPC? while one streams settings as fast as the server takes them: median and
// worst of 200 round trips, in microseconds.
void ScpiOpcWhileAnotherFloods(benchmark::State& st) {
    WaitForNoClients();
    std::atomic<bool> stop{false};
    std::atomic<long> flooded{0};
    Client flood;
    std::thread flooder([&] {
        std::string batch;
        for (int i = 0; i < 4096; ++i)
            batch += std::string("SOUR1:VOLT ") + kVolts[i & 3] + "\n";
        while (!stop.load() && flood.Send(batch))
            flooded += 4096;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a backlog queued
    Client other;
    TimedRounds(
        st, [&] { return other.Send("*OPC?\n") && other.Receive(1); }, "connection lost");
    stop = true;
    shutdown(flood.Fd(), SHUT_RDWR);
    flooder.join();
    st.counters["flood_lines"] = static_cast<double>(flooded.load());
}
BENCHMARK(ScpiOpcWhileAnotherFloods)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A VXI-11 link of libtirpc's own client (blocking, on the benchmarks' thread).
class Vxi11Link {
public:
    Vxi11Link() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(vxi11Port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int fd = RPC_ANYSOCK;
        client_ = clnttcp_create(&address, DEVICE_CORE, DEVICE_CORE_VERSION, &fd, 0, 0);
        if (client_ == nullptr)
            return;
        Create_LinkParms params{};
        params.device = const_cast<char*>("inst0");
        Create_LinkResp link{};
        if (Call(create_link, xdr_Create_LinkParms, params, xdr_Create_LinkResp, link) &&
            link.error == 0)
            lid_ = link.lid;
    }
    ~Vxi11Link() {
        if (lid_ >= 0) {
            Device_Error error{};
            Call(destroy_link, xdr_Device_Link, lid_, xdr_Device_Error, error);
        }
        if (client_ != nullptr)
            clnt_destroy(client_);
    }
    Vxi11Link(const Vxi11Link&) = delete;
    Vxi11Link& operator=(const Vxi11Link&) = delete;
    bool Linked() const { return lid_ >= 0; }

    // A line written and its answer read.
    bool Query(const std::string& line) {
        Device_WriteParms write{};
        write.lid = lid_;
        write.io_timeout = 5000;
        write.flags = tq::vxi11::kFlagEnd;
        write.data.data_len = static_cast<u_int>(line.size());
        write.data.data_val = const_cast<char*>(line.data());
        Device_WriteResp written{};
        Device_ReadParms read{};
        read.lid = lid_;
        read.requestSize = 65536;
        read.io_timeout = 5000;
        Device_ReadResp answer{};
        const bool ok =
            Call(device_write, xdr_Device_WriteParms, write, xdr_Device_WriteResp, written) &&
            written.error == 0 &&
            Call(device_read, xdr_Device_ReadParms, read, xdr_Device_ReadResp, answer) &&
            answer.error == 0 && (answer.reason & tq::vxi11::kReasonEnd) != 0;
        xdr_free(tq::rpc::Xdr(xdr_Device_ReadResp), reinterpret_cast<char*>(&answer));
        return ok;
    }

private:
    template <typename A, typename R>
    bool Call(u_long procedure, bool_t (*encode)(XDR*, A*), const A& args,
              bool_t (*decode)(XDR*, R*), R& result) {
        const timeval timeout{10, 0};
        return clnt_call(client_, procedure, tq::rpc::Xdr(encode),
                         reinterpret_cast<caddr_t>(const_cast<A*>(&args)), tq::rpc::Xdr(decode),
                         reinterpret_cast<caddr_t>(&result), timeout) == RPC_SUCCESS;
    }

    CLIENT* client_ = nullptr;
    int lid_ = -1;
};

// The round of ScpiVoltageAndOpc over a VXI-11 link: a device_write and a device_read.
void Vxi11VoltageAndOpc(benchmark::State& st) {
    Vxi11Link link;
    if (!link.Linked()) {
        st.SkipWithError("no link");
        return;
    }
    int i = 0;
    for (auto _ : st) {
        if (!link.Query(std::string("SOUR1:VOLT ") + kVolts[i++ & 3] + ";*OPC?\n")) {
            st.SkipWithError("link lost");
            return;
        }
    }
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(Vxi11VoltageAndOpc)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A link that writes queries as fast as it can and never reads, neither answers nor replies
// (records offered on a non-blocking socket): another link's *OPC? round, median and worst of
// 200, the bytes the hog got through, and the program's peak memory.
void Vxi11RoundWhileALinkNeverReads(benchmark::State& st) {
    Vxi11Link other;
    Client hog(vxi11Port);
    if (!other.Linked() || !hog.Connected()) {
        st.SkipWithError("no link");
        return;
    }
    Create_LinkParms params{};
    params.device = const_cast<char*>("inst0");
    if (!hog.Send(tq::rpc::CallRecord(1, DEVICE_CORE, 1, create_link,
                                      tq::rpc::Xdr(xdr_Create_LinkParms), &params))) {
        st.SkipWithError("no hog");
        return;
    }
    // The hog reads the one reply that gives it its link.
    std::string received;
    std::optional<std::string> reply;
    char buffer[4096];
    for (ssize_t n; !(reply = tq::rpc::TakeRecord(received)) &&
                    (n = recv(hog.Fd(), buffer, sizeof buffer, 0)) > 0;)
        received.append(buffer, static_cast<std::size_t>(n));
    Create_LinkResp link{};
    if (!reply || !tq::rpc::DecodeReply(*reply, 1, tq::rpc::Xdr(xdr_Create_LinkResp), &link) ||
        link.error != 0) {
        st.SkipWithError("no hog link");
        return;
    }
    fcntl(hog.Fd(), F_SETFL, O_NONBLOCK);
    std::string queries;
    for (int i = 0; i < 2000; ++i)
        queries += "*IDN?\n";
    Device_WriteParms write{};
    write.lid = link.lid;
    write.io_timeout = 100;
    write.flags = tq::vxi11::kFlagEnd;
    write.data.data_len = static_cast<u_int>(queries.size());
    write.data.data_val = queries.data();
    const std::string call = tq::rpc::CallRecord(2, DEVICE_CORE, 1, device_write,
                                                 tq::rpc::Xdr(xdr_Device_WriteParms), &write);
    std::atomic<bool> stop{false};
    std::atomic<long> sent{0};
    std::thread flooder([&] {
        std::size_t at = 0;
        while (!stop.load()) {
            const ssize_t n = send(hog.Fd(), call.data() + at, call.size() - at, MSG_NOSIGNAL);
            if (n > 0) {
                sent += n;
                at = (at + static_cast<std::size_t>(n)) % call.size();
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the hog held back by now
    TimedRounds(
        st, [&] { return other.Query("*OPC?\n"); }, "link lost");
    stop = true;
    flooder.join();
    st.counters["hog_sent_MB"] = static_cast<double>(sent.load()) / (1 << 20);
    st.counters["peak_MB"] = MemoryKb("VmHWM:") / 1024.0;
}
BENCHMARK(Vxi11RoundWhileALinkNeverReads)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Eight clients that send queries as fast as they can and never read the answers, until TCP
// holds every one back: the program's resident memory then and at its peak.
void ResidentMemoryEightNonReadingClients(benchmark::State& st) {
    WaitForNoClients();
    const long before = MemoryKb("VmRSS:");
    std::vector<std::unique_ptr<Client>> hogs;
    for (int i = 0; i < 8; ++i) {
        hogs.push_back(std::make_unique<Client>());
        fcntl(hogs.back()->Fd(), F_SETFL, O_NONBLOCK);
    }
    std::string queries;
    for (int i = 0; i < 10000; ++i)
        queries += "*IDN?\n";
    long sent = 0;
    for (auto _ : st) {
        auto quietSince = Clock::now();
        const auto until = quietSince + std::chrono::seconds(30);
        while (Clock::now() - quietSince < std::chrono::milliseconds(500) && Clock::now() < until) {
            bool progress = false;
            for (auto& hog : hogs) {
                const ssize_t n = send(hog->Fd(), queries.data(), queries.size(), MSG_NOSIGNAL);
                if (n > 0) {
                    sent += n;
                    progress = true;
                }
            }
            if (progress)
                quietSince = Clock::now();
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    st.counters["rss_MB"] = MemoryKb("VmRSS:") / 1024.0;
    st.counters["peak_MB"] = MemoryKb("VmHWM:") / 1024.0;
    st.counters["before_MB"] = before / 1024.0;
    st.counters["sent_MB"] = static_cast<double>(sent) / (1 << 20);
}
BENCHMARK(ResidentMemoryEightNonReadingClients)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The longest list, 65,536 codes, loaded in one message as a block of 16-bit words (what PyVISA's
// write_binary_values sends), from its first byte to the answer of the *OPC? after it.
std::string ListOfCodes(bool block) {
    std::string out = block ? "SOUR1:LIST:DATA #6131072" : "SOUR1:LIST:DATA ";
    for (int i = 0; i < 65536; ++i) {
        const int code = (i * 7919) & 0xFFFF;
        if (block) {
            out += static_cast<char>(code >> 8);
            out += static_cast<char>(code & 0xFF);
        } else {
            out += (i ? "," : "") + std::to_string(code);
        }
    }
    return out + "\n*OPC?\n";
}

void ScpiListLoad(benchmark::State& st, bool block) {
    WaitForNoClients();
    Client client;
    const std::string message = ListOfCodes(block);
    for (auto _ : st) {
        if (!client.Send(message) || !client.Receive(1)) {
            st.SkipWithError("connection lost");
            return;
        }
    }
    st.counters["bytes"] = static_cast<double>(message.size());
}
BENCHMARK_CAPTURE(ScpiListLoad, BinaryBlock, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ScpiListLoad, Text, false)->Unit(benchmark::kMillisecond)->UseRealTime();

// 1,000 commands sent at once, 1,000 answers read: the rate a pipelining client gets.
void ScpiPipelined(benchmark::State& st) {
    constexpr int kBatch = 1000;
    WaitForNoClients();
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

// An instrument on the simulated board, connected as the program connects it.
struct SimulatedInstrument {
    tq::DeviceState state;
    tq::SimulatedBoard board;
    tq::BoardRequests requests{state, board};
    tq::Instrument instrument{state, requests, {"Simulated board", "SIMULATED"}};
    int16_t connected;

    SimulatedInstrument() {
        tq::ApplyStartDefaults(state);
        instrument.SetPulseAfterDataWrite(true);
        connected = instrument.ConnectBoard(TQ_FIRMWARE_FOLDER);
    }
};

// The same write by a direct call, on a board of its own (the server's lives on another
// thread).
void DirectInstrumentCall(benchmark::State& st) {
    SimulatedInstrument sim;
    const float volts[] = {5.0f, -2.5f, 7.125f, 0.0f};
    int i = 0;
    for (auto _ : st)
        sim.instrument.SetChannelVoltage(0, volts[i++ & 3], 10.0f, true);
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(DirectInstrumentCall)->Unit(benchmark::kMicrosecond);

// The same line through the command table without a socket: what parsing, looking up and
// carrying out the commands cost.
void CommandLineWithoutSocket(benchmark::State& st) {
    tq::DeviceState state;
    tq::ApplyStartDefaults(state);
    tq::SimulatedBoard board;
    tq::BoardRequests requests(state, board);
    tq::Instrument instrument(state, requests, {"Simulated board", "SIMULATED"});
    instrument.SetPulseAfterDataWrite(true);
    instrument.ConnectBoard(TQ_FIRMWARE_FOLDER);
    tq::InstrumentCommands commands(instrument, &board);
    tq::ScpiSession session(commands);
    int i = 0;
    for (auto _ : st)
        benchmark::DoNotOptimize(
            session.Execute(std::string("SOUR1:VOLT ") + kVolts[i++ & 3] + ";*OPC?"));
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(CommandLineWithoutSocket)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    SimulatedInstrument sim;
    if (sim.connected != 0)
        return 1;
    // The lists are loaded here, not run: the run's wake-ups are never asked for.
    struct IdleTimer : tq::RunTimer {
        double Now() const override { return 0.0; }
        void WakeAt(double, std::function<void()>) override {}
        void Cancel() override {}
    } timer;
    tq::WaveformRun run(sim.instrument, timer);
    tq::InstrumentCommands commands(sim.instrument, &sim.board, &run);
    tq::ScpiServer server(commands);
    QString error;
    if (!server.Listen(QHostAddress::LocalHost, 0, error))
        return 1;
    serverPort = server.Port();
    QObject::connect(&server, &tq::ScpiServer::ClientCountChanged,
                     [](int count) { serverClients = count; });
    tq::ClientPlaces places;
    tq::Vxi11Server vxi11(commands, places);
    if (!vxi11.Listen(QHostAddress::LocalHost, error))
        return 1;
    vxi11Port = vxi11.CorePort();
    QTcpServer echo;
    StartQtEcho(echo);
    if (StartBlockingEcho() < 0)
        return 1;

    std::thread client([] {
        benchmark::RunSpecifiedBenchmarks();
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    const int status = QCoreApplication::exec();
    client.join();
    benchmark::Shutdown();
    return status;
}
