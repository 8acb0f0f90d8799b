// The VXI-11 server over loopback, as VISA uses it and as hostile clients abuse it: links are
// clients of the protocol like raw connections, reads and writes wait as the protocol says and
// never hold the event loop, and no link, record or connection exhausts the program or keeps the
// others from being served. (The portmapper's part runs in vxi11_lan_test.sh.)

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Version.h"
#include "remote/ScpiServer.h"
#include "remote/vxi11/RpcRecords.h"
#include "remote/vxi11/Vxi11Server.h"
#include "tests/remote/Vxi11Client.h"
#include "tests/support/EventLoop.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ProcessMemory.h"
#include "tests/support/SimulatedInstrument.h"

namespace tq {
namespace {

using testing::CoreApp;
using testing::Decoded;
using testing::ExpectResidentGrowthBelow;
using testing::StartMeasuring;
using testing::Vxi11Client;
using testing::WaitFor;

struct ReadResult {
    int error = -1;
    int reason = 0;
    std::string data;
};

class Vxi11Test : public ::testing::Test, public testing::SimulatedInstrument {
protected:
    Vxi11Test() {
        CoreApp();
        QString error;
        // Both loopback addresses, as --listen localhost has it, where the machine has IPv6.
        std::vector<QHostAddress> addresses{QHostAddress::LocalHost};
        if (QTcpServer probe; probe.listen(QHostAddress::LocalHostIPv6))
            addresses.push_back(QHostAddress::LocalHostIPv6);
        EXPECT_TRUE(server.Listen(addresses, error)) << error.toStdString();
        ipv6 = addresses.size() > 1;
    }

    std::unique_ptr<Vxi11Client> Connect(bool overIpv6 = false) {
        auto client = std::make_unique<Vxi11Client>(server.CorePort(), overIpv6);
        EXPECT_TRUE(client->Connected());
        return client;
    }

    Create_LinkResp CreateLink(Vxi11Client& client, const char* device = "inst0",
                               bool lock = false) {
        Create_LinkParms params{};
        params.clientId = 7;
        params.lockDevice = lock;
        params.device = const_cast<char*>(device);
        Decoded<Create_LinkResp> result(xdr_Create_LinkResp);
        EXPECT_TRUE(client.Reply(
            client.Call(DEVICE_CORE, create_link, xdr_Create_LinkParms, params), result));
        return result.value;
    }
    // A link on a new connection of its own.
    int NewLink(std::unique_ptr<Vxi11Client>& client, bool overIpv6 = false) {
        client = Connect(overIpv6);
        const Create_LinkResp link = CreateLink(*client);
        EXPECT_EQ(link.error, 0);
        return link.lid;
    }

    std::uint32_t SendWrite(Vxi11Client& client, int lid, const std::string& data,
                            int flags = vxi11::kFlagEnd, unsigned ioTimeout = 1000,
                            unsigned lockTimeout = 0) {
        Device_WriteParms params{};
        params.lid = lid;
        params.io_timeout = ioTimeout;
        params.lock_timeout = lockTimeout;
        params.flags = flags;
        params.data.data_len = static_cast<u_int>(data.size());
        params.data.data_val = const_cast<char*>(data.data());
        return client.Call(DEVICE_CORE, device_write, xdr_Device_WriteParms, params);
    }
    Device_WriteResp Write(Vxi11Client& client, int lid, const std::string& data,
                           int flags = vxi11::kFlagEnd, unsigned ioTimeout = 1000) {
        Decoded<Device_WriteResp> result(xdr_Device_WriteResp);
        client.Reply(SendWrite(client, lid, data, flags, ioTimeout), result);
        return result.value;
    }

    std::uint32_t SendRead(Vxi11Client& client, int lid, unsigned size, unsigned ioTimeout,
                           int termChar = -1) {
        Device_ReadParms params{};
        params.lid = lid;
        params.requestSize = size;
        params.io_timeout = ioTimeout;
        if (termChar >= 0) {
            params.flags = vxi11::kFlagTermCharSet;
            params.termChar = static_cast<char>(termChar);
        }
        return client.Call(DEVICE_CORE, device_read, xdr_Device_ReadParms, params);
    }
    ReadResult TakeRead(Vxi11Client& client, std::uint32_t xid, int limitMs = 5000) {
        Decoded<Device_ReadResp> result(xdr_Device_ReadResp);
        ReadResult read;
        if (client.Reply(xid, result, limitMs)) {
            read.error = result.value.error;
            read.reason = result.value.reason;
            read.data.assign(result.value.data.data_val, result.value.data.data_len);
        }
        return read;
    }
    ReadResult Read(Vxi11Client& client, int lid, unsigned size = 65536, unsigned ioTimeout = 1000,
                    int termChar = -1) {
        return TakeRead(client, SendRead(client, lid, size, ioTimeout, termChar));
    }
    std::string Query(Vxi11Client& client, int lid, const std::string& line) {
        EXPECT_EQ(Write(client, lid, line + "\n").error, 0);
        return Read(client, lid).data;
    }

    // The error in the reply to `xid` (every kind of reply begins with one), or -1 without a reply.
    template <typename R = Device_Error>
    static int ErrorIn(Vxi11Client& client, std::uint32_t xid, int limitMs = 5000,
                       bool_t (*decode)(XDR*, R*) = xdr_Device_Error) {
        Decoded<R> result(decode);
        return client.Reply(xid, result, limitMs) ? result.value.error : -1;
    }
    // A call of the generic kind (device_trigger, _clear, _remote, _local); its error.
    int Generic(Vxi11Client& client, std::uint32_t procedure, int lid) {
        return ErrorOf(client, procedure, Device_GenericParms{lid, 0, 0, 1000});
    }
    int StatusByte(Vxi11Client& client, int lid) {
        Device_GenericParms params{};
        params.lid = lid;
        Decoded<Device_ReadStbResp> result(xdr_Device_ReadStbResp);
        const bool replied = client.Reply(
            client.Call(DEVICE_CORE, device_readstb, xdr_Device_GenericParms, params), result);
        return replied && result.value.error == 0 ? result.value.stb : -1;
    }
    // A call answered with a Device_Error, its arguments' encoder following from their type (a
    // bare number is a link's handle); its error, or -1 without a reply.
    static auto Encoder(const Device_Link&) { return xdr_Device_Link; }
    static auto Encoder(const Device_LockParms&) { return xdr_Device_LockParms; }
    static auto Encoder(const Device_GenericParms&) { return xdr_Device_GenericParms; }
    static auto Encoder(const Device_RemoteFunc&) { return xdr_Device_RemoteFunc; }
    static auto Encoder(const Device_EnableSrqParms&) { return xdr_Device_EnableSrqParms; }
    template <typename A>
    int ErrorOf(Vxi11Client& client, std::uint32_t procedure, const A& args,
                std::uint32_t program = DEVICE_CORE) {
        return ErrorIn(client, client.Call(program, procedure, Encoder(args), args));
    }

    // Steps the list run to its end, as its timer would.
    void FinishRun() {
        while (run.Running() && timer.wake) {
            timer.now = *timer.wake;
            run.Step();
        }
    }

    uint16_t Data(int channel) { return board.GetRegister(channel, 2); }

    testing::FakeClock timer;
    WaveformRun run{instrument, timer};
    InstrumentCommands commands{instrument, &board, &run};
    ClientPlaces places;
    Vxi11Server server{commands, places};
    bool ipv6 = false;  // served on ::1 too
    const std::string identity = "TQ2604X-EVAL,TQ2604X,SIMULATED," + std::string(kProgramVersion);
};

// What VISA does with a link: write and read, in pieces as it asks, with END where an answer ends
// and the termination character where it asks for one; each link its own client.
TEST_F(Vxi11Test, LinksWriteAndReadAsVisaDoes) {
    std::unique_ptr<Vxi11Client> a, b;
    const int lidA = NewLink(a);
    const int lidB = NewLink(b, ipv6);  // the other loopback address, where there is one
    EXPECT_NE(lidA, lidB);
    const Create_LinkResp link = CreateLink(*a);
    EXPECT_EQ(link.abortPort, server.AbortPort());
    EXPECT_EQ(link.maxRecvSize, 256u * 1024u);
    EXPECT_EQ(places.Taken(), 3);

    EXPECT_EQ(Query(*a, lidA, "*IDN?"), identity + "\n");
    EXPECT_EQ(Query(*b, lidB, "*IDN?"), identity + "\n");
    struct Row {
        std::string write;
        int flags;
        unsigned size;
        int termChar;
        std::vector<ReadResult> reads;  // error, reason, data
    };
    const std::vector<Row> rows{
        // END ends a line without its line feed; an answer ends with END.
        {"SOUR2:DATA 1234;SOUR2:DATA?", vxi11::kFlagEnd, 65536, -1, {{0, 4, "1234\n"}}},
        // A message in pieces: the line runs once END has come.
        {"SOUR2:DA", 0, 65536, -1, {}},
        {"TA?\n", vxi11::kFlagEnd, 65536, -1, {{0, 4, "1234\n"}}},
        // The termination character: each read ends after it.
        {"SOUR1:DATA 5;SOUR2:DATA?;SOUR1:DATA?",
         vxi11::kFlagEnd,
         65536,
         ';',
         {{0, 2, "1234;"}, {0, 4, "5\n"}}},
        {"SOUR1:DATA?", vxi11::kFlagEnd, 65536, '\n', {{0, 6, "5\n"}}},
        // requestSize: pieces without END (the rest is read below).
        {"*IDN?\n",
         vxi11::kFlagEnd,
         12,
         -1,
         {{0, 1, identity.substr(0, 12)}, {0, 1, identity.substr(12, 12)}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.write);
        const Device_WriteResp written = Write(*a, lidA, row.write, row.flags);
        EXPECT_EQ(written.error, 0);
        EXPECT_EQ(written.size, row.write.size());
        for (const ReadResult& expected : row.reads) {
            const ReadResult read = Read(*a, lidA, row.size, 1000, row.termChar);
            EXPECT_EQ(read.error, expected.error);
            EXPECT_EQ(read.reason, expected.reason);
            EXPECT_EQ(read.data, expected.data);
        }
    }
    // The rest of the identity, then nothing waits: a read times out after its io_timeout.
    EXPECT_EQ(Read(*a, lidA).data, identity.substr(24) + "\n");
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Read(*a, lidA, 65536, 200).error, vxi11::kIoTimeout);
    EXPECT_GE(clock.elapsed(), 190);
    // Each link has its own error queue.
    EXPECT_EQ(Query(*a, lidA, "NOPE;SYST:ERR?"), "-113,\"Undefined header\"\n");
    EXPECT_EQ(Query(*b, lidB, "SYST:ERR?"), "0,\"No error\"\n");
    EXPECT_EQ(Data(1), 1234);
    // What a link was sent before it ended still runs (lxi scpi writes and leaves at once); its
    // place is free once it has.
    EXPECT_EQ(Write(*b, lidB, "SOUR4:DATA 777\n").error, 0);
    EXPECT_EQ(ErrorOf(*b, destroy_link, lidB), 0);
    EXPECT_TRUE(WaitFor([&] { return Data(3) == 777 && places.Taken() == 2; }));
}

// The status byte with MAV while an answer waits, a trigger that starts the armed run, and a
// device clear that gives up a *OPC? still waiting for the run: the next query is answered at
// once while the run goes on.
TEST_F(Vxi11Test, StatusByteTriggerAndDeviceClear) {
    std::unique_ptr<Vxi11Client> client;
    const int lid = NewLink(client);
    EXPECT_EQ(StatusByte(*client, lid), 0);
    EXPECT_EQ(Write(*client, lid, "*IDN?\n").error, 0);
    ASSERT_TRUE(WaitFor([&] { return StatusByte(*client, lid) == 16; }));
    EXPECT_EQ(Read(*client, lid).data, identity + "\n");
    EXPECT_EQ(StatusByte(*client, lid), 0);

    EXPECT_EQ(Query(*client, lid, "TRIG:SOUR BUS;SOUR1:LIST:VOLT 1,2,3;INIT;LIST:STAT?"),
              "ARMED,0,3,0,100,0,\"\"\n");
    EXPECT_EQ(Generic(*client, device_trigger, lid), 0);
    EXPECT_TRUE(run.Running());
    EXPECT_EQ(Query(*client, lid, "SYST:ERR?"), "0,\"No error\"\n");

    // *OPC? waits for the run; the read gives up at its time-out and the answer stays.
    EXPECT_EQ(Write(*client, lid, "*OPC?\n").error, 0);
    EXPECT_EQ(Read(*client, lid, 65536, 100).error, vxi11::kIoTimeout);
    EXPECT_EQ(Generic(*client, device_clear, lid), 0);
    EXPECT_EQ(Query(*client, lid, "*IDN?"), identity + "\n");
    EXPECT_TRUE(run.Running());
    FinishRun();
    EXPECT_EQ(Query(*client, lid, "LIST:STAT?").substr(0, 11), "FINISHED,3,");
    EXPECT_EQ(Read(*client, lid, 65536, 50).error, vxi11::kIoTimeout) << "the *OPC? came back";

    // Without a clear the answer comes on a later read once the run has ended.
    EXPECT_EQ(Query(*client, lid, "INIT;*TRG;SYST:ERR?"), "0,\"No error\"\n");
    EXPECT_EQ(Write(*client, lid, "*OPC?\n").error, 0);
    EXPECT_EQ(Read(*client, lid, 65536, 50).error, vxi11::kIoTimeout);
    const std::uint32_t waiting = SendRead(*client, lid, 65536, 5000);
    WaitFor([] { return false; }, {}, 50);
    EXPECT_FALSE(client->Replied(waiting));
    FinishRun();
    EXPECT_EQ(TakeRead(*client, waiting).data, "1\n");
    EXPECT_EQ(Generic(*client, device_remote, lid), 0);
    EXPECT_EQ(Generic(*client, device_local, lid), 0);
}

// How a run ended reaches the link that started it, before its *OPC? answers, and no other
// client: a list run stopped by another link's *RST.
TEST_F(Vxi11Test, ARunsOutcomeReachesTheLinkThatStartedIt) {
    std::unique_ptr<Vxi11Client> starter, other;
    const int lid = NewLink(starter);
    const int otherLid = NewLink(other);
    EXPECT_EQ(Write(*starter, lid, "SOUR1:LIST:VOLT 1,2,3,4,5;INIT;*OPC?;:SYST:ERR?;*ESR?\n").error,
              0);
    const std::uint32_t waiting = SendRead(*starter, lid, 65536, 5000);
    ASSERT_TRUE(WaitFor([&] { return run.Running(); }));
    timer.now = *timer.wake;
    run.Step();
    EXPECT_EQ(Query(*other, otherLid, "*RST;SYST:ERR?"), "0,\"No error\"\n");
    EXPECT_EQ(TakeRead(*starter, waiting).data,
              "1;-200,\"Execution error; list run stopped at step 2 of 5: another client's "
              "*RST\";16\n");
}

// device_abort on the abort channel ends a link's waiting read with error 23; the link goes on.
TEST_F(Vxi11Test, AbortEndsAWaitingRead) {
    std::unique_ptr<Vxi11Client> client;
    const int lid = NewLink(client);
    const std::uint32_t waiting = SendRead(*client, lid, 65536, 60000);
    Vxi11Client abort(server.AbortPort());
    EXPECT_EQ(ErrorOf(abort, device_abort, lid, DEVICE_ASYNC), 0);
    EXPECT_EQ(TakeRead(*client, waiting, 1000).error, vxi11::kAborted);
    EXPECT_EQ(ErrorOf(abort, device_abort, lid + 100, DEVICE_ASYNC), vxi11::kInvalidLink);
    EXPECT_EQ(Query(*client, lid, "*OPC?"), "1\n");
}

// What the link may ask that the board does not do, or with what it does not know: the calls,
// made in the order of the rows (a braced list is evaluated in order), and the error each answers.
TEST_F(Vxi11Test, ErrorsAsTheProtocolNamesThem) {
    std::unique_ptr<Vxi11Client> client;
    const int lid = NewLink(client);
    const int unknown = lid + 100;
    const std::unique_ptr<Vxi11Client> other = Connect();
    const auto docmd = [&](int on) {
        Device_DocmdParms params{};
        params.lid = on;
        const std::uint32_t xid =
            client->Call(DEVICE_CORE, device_docmd, xdr_Device_DocmdParms, params);
        return ErrorIn(*client, xid, 5000, xdr_Device_DocmdResp);
    };
    const auto destroyChannel = [&] {
        return ErrorIn(*client, client->CallWithoutArguments(DEVICE_CORE, destroy_intr_chan));
    };
    // The RPC error of a call without arguments, or -1 where it was answered.
    const auto rpcError = [&](std::uint32_t procedure) {
        Decoded<Device_Error> none(xdr_Device_Error);
        return client->Reply(client->CallWithoutArguments(DEVICE_CORE, procedure), none)
                   ? -1
                   : static_cast<int>(client->lastAcceptStatus);
    };
    const Device_RemoteFunc udp{0x7F000001, 1234, DEVICE_INTR, DEVICE_INTR_VERSION, DEVICE_UDP};
    Device_RemoteFunc tcp = udp;
    tcp.progFamily = DEVICE_TCP;
    const Device_EnableSrqParms srq{unknown, false, {}};
    struct Row {
        const char* call;
        int answer;
        int expected;
    };
    const Row rows[] = {
        {"create_link gpib0,5", CreateLink(*client, "gpib0,5").error, vxi11::kInvalidAddress},
        {"create_link INST0", CreateLink(*client, "INST0").error, 0},
        {"device_unlock", ErrorOf(*client, device_unlock, lid), vxi11::kNoLockHeld},
        // device_docmd knows no command: operation not supported.
        {"device_docmd", docmd(lid), vxi11::kNotSupported},
        {"device_docmd, unknown link", docmd(unknown), vxi11::kInvalidLink},
        // Interrupt channels over TCP only, one a connection.
        {"intr_chan UDP", ErrorOf(*client, create_intr_chan, udp), vxi11::kNotSupported},
        {"intr_chan TCP", ErrorOf(*client, create_intr_chan, tcp), 0},
        {"intr_chan TCP again", ErrorOf(*client, create_intr_chan, tcp),
         vxi11::kChannelAlreadyEstablished},
        {"destroy_intr_chan", destroyChannel(), 0},
        {"destroy_intr_chan again", destroyChannel(), vxi11::kChannelNotEstablished},
        {"enable_srq, unknown link", ErrorOf(*client, device_enable_srq, srq), vxi11::kInvalidLink},
        // A link of another connection is not this one's to use.
        {"other's create_link", CreateLink(*other).error, 0},
        {"other's device_clear", Generic(*other, device_clear, lid), vxi11::kInvalidLink},
        {"other's write", Write(*other, lid, "SOUR1:DATA 9\n").error, vxi11::kInvalidLink},
        {"destroy_link", ErrorOf(*client, destroy_link, lid), 0},
        {"device_clear, destroyed", Generic(*client, device_clear, lid), vxi11::kInvalidLink},
        {"device_read, destroyed", Read(*client, lid).error, vxi11::kInvalidLink},
        // An unknown procedure, and arguments that do not decode, are RPC errors.
        {"procedure 99", rpcError(99), PROC_UNAVAIL},
        {"write without arguments", rpcError(device_write), GARBAGE_ARGS},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.answer, row.expected) << row.call;
    EXPECT_EQ(Data(0), 0x8000);
    EXPECT_EQ(Query(*client, CreateLink(*client).lid, "*OPC?"), "1\n");
}

// Records that are not calls, or not calls this server takes: a broken one ends its connection at
// once (whatever it announces is never read), one it can answer is answered with the RPC error;
// another link is served throughout.
TEST_F(Vxi11Test, MalformedRecordsEndOnlyTheirConnection) {
    std::unique_ptr<Vxi11Client> good;
    const int lid = NewLink(good);
    const std::string idn = "*IDN?\n";
    Device_WriteParms write{
        0, 0, 0, 0, {static_cast<u_int>(idn.size()), const_cast<char*>(idn.data())}};
    // A write of 10 MB: longer than the interface lets a call be encoded, so the length of its
    // data (the body's last word, for none) is written in by hand.
    Device_WriteParms none{};
    const std::string empty =
        rpc::CallRecord(2, DEVICE_CORE, 1, device_write, rpc::Xdr(xdr_Device_WriteParms), &none);
    const std::uint32_t tooLong = 10 << 20;
    const std::string body = empty.substr(4, empty.size() - 8);
    const std::string huge =
        rpc::RecordMark(static_cast<std::uint32_t>(body.size() + 4) + tooLong, true) + body +
        rpc::RecordMark(tooLong, false) /* as a plain big-endian word */ +
        std::string(tooLong, 'A');
    const std::string callHeader =
        rpc::CallRecord(1, DEVICE_CORE, 1, device_readstb, nullptr, nullptr).substr(4);
    struct Row {
        const char* what;
        std::string bytes;
        bool ends;
    };
    const std::vector<Row> rows{
        {"not a call", rpc::RecordMark(16, true) + std::string(16, '\xA5'), true},
        {"an empty record", rpc::RecordMark(0, true), true},
        {"a fragment of 2 GB announced", rpc::RecordMark(0x7FFFFFFF, true), true},
        {"fragments beyond the longest record",
         rpc::RecordMark(200000, false) + std::string(200000, 'x') +
             rpc::RecordMark(200000, false) + std::string(200000, 'x'),
         true},
        {"a call cut short", rpc::RecordMark(8, true) + callHeader.substr(0, 8), true},
        {"a write of 10 MB in one record", huge, true},
        {"RPC version 3",
         [&] {
             std::string call = rpc::CallRecord(3, DEVICE_CORE, 1, device_write,
                                                rpc::Xdr(xdr_Device_WriteParms), &write);
             call[4 + 8 + 3] = 3;  // the header's RPC version, after the mark, xid and direction
             return call;
         }(),
         true},
        {"another program",
         rpc::CallRecord(4, 100003, 1, 1, rpc::Xdr(xdr_Device_WriteParms), &write), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Vxi11Client hostile(server.CorePort());
        hostile.Send(row.bytes);
        WaitFor([&] { return hostile.Ended() || hostile.replyCount > 0; },
                [&] { hostile.Collect(); }, 5000);
        EXPECT_EQ(hostile.Ended(), row.ends);
        EXPECT_EQ(hostile.replyCount, row.ends ? 0 : 1);
        EXPECT_EQ(Query(*good, lid, "*IDN?"), identity + "\n");
    }
    EXPECT_EQ(places.Taken(), 1);
}

// A thousand create_link without destroy_link: the eight places are taken and the rest refused
// (error 9); the links go with their connection, and their places with them.
TEST_F(Vxi11Test, AThousandLinksTakeTheEightPlacesAndGoWithTheirConnection) {
    std::vector<std::string> log;
    server.SetLog([&](const std::string& line) { log.push_back(line); });
    const auto logged = [&](std::string_view what) {
        return std::ranges::count_if(log, [&](const std::string& l) { return l.ends_with(what); });
    };
    std::unique_ptr<Vxi11Client> other;
    const int lid = NewLink(other);
    auto hog = Connect();
    std::vector<std::uint32_t> calls;
    Create_LinkParms params{};
    params.device = const_cast<char*>("inst0");
    for (int i = 0; i < 1000; ++i)
        calls.push_back(hog->Call(DEVICE_CORE, create_link, xdr_Create_LinkParms, params));
    int created = 0;
    int refused = 0;
    for (const std::uint32_t xid : calls) {
        Decoded<Create_LinkResp> link(xdr_Create_LinkResp);
        ASSERT_TRUE(hog->Reply(xid, link));
        created += link.value.error == 0;
        refused += link.value.error == vxi11::kOutOfResources;
    }
    EXPECT_EQ(created, ClientPlaces::kMax - 1);
    EXPECT_EQ(refused, 1000 - created);
    EXPECT_EQ(Query(*other, lid, "*OPC?"), "1\n");
    hog.reset();
    ASSERT_TRUE(WaitFor([&] { return places.Taken() == 1; }));
    EXPECT_EQ(logged(" of 8 places taken)"), ClientPlaces::kMax);
    EXPECT_EQ(logged(" refused: 8 clients are connected"), refused);
    EXPECT_EQ(logged(" left: closed"), created);
    // A connection silent for the idle timeout goes with its links, and the log says why.
    server.SetIdleTimeout(std::chrono::milliseconds(200));
    auto next = Connect();
    const int nextLid = CreateLink(*next).lid;
    EXPECT_EQ(Query(*next, nextLid, "*OPC?"), "1\n");
    ASSERT_TRUE(WaitFor([&] { return places.Taken() == 1; }));
    const std::string idle = " from 127.0.0.1 left: idle for 200 ms, closed by the server";
    EXPECT_EQ(std::ranges::count(log, "VXI-11 link " + std::to_string(nextLid) + idle), 1);
}

// Links and the raw socket's clients share the eight places: a link beyond them is refused with
// error 9, a raw client with its one line, and a place freed by either is free for both.
TEST_F(Vxi11Test, LinksAndRawClientsShareTheEightPlaces) {
    ScpiServer raw(commands, &places);
    QString error;
    ASSERT_TRUE(raw.Listen(QHostAddress::LocalHost, 0, error)) << error.toStdString();
    std::vector<std::unique_ptr<testing::RawClient>> sockets;
    for (int i = 0; i < 4; ++i)
        sockets.push_back(std::make_unique<testing::RawClient>(raw.Port()));
    ASSERT_TRUE(WaitFor([&] { return places.Taken() == 4; }));
    auto client = Connect();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(CreateLink(*client).error, 0);
    EXPECT_EQ(CreateLink(*client).error, vxi11::kOutOfResources);
    testing::RawClient ninth(raw.Port());
    ASSERT_TRUE(WaitFor([&] { return ninth.ended; }, [&] { ninth.Collect(); }));
    EXPECT_EQ(ninth.received, ScpiServer::kTooManyClients);
    sockets.pop_back();
    ASSERT_TRUE(WaitFor([&] { return places.Taken() == 7; }));
    const Create_LinkResp link = CreateLink(*client);
    EXPECT_EQ(link.error, 0);
    EXPECT_EQ(Query(*client, link.lid, "*OPC?"), "1\n");
}

// One lock over every remote client: a link's lock keeps the other links off the device (error
// 11, at once or after their lock_timeout) and refuses a raw client's changes with the holder's
// name, while its queries and the safety actions pass; a raw client's SYSTem:LOCK keeps the links
// off in turn; the lock goes back with device_unlock, to a link waiting for it, and with a
// connection that closes.
TEST_F(Vxi11Test, OneLockOverEveryRemoteClient) {
    ScpiServer raw(commands, &places);
    QString error;
    ASSERT_TRUE(raw.Listen(QHostAddress::LocalHost, 0, error)) << error.toStdString();
    auto socket = std::make_unique<testing::RawClient>(raw.Port());
    const auto ask = [&](const std::string& line) {
        socket->received.clear();
        EXPECT_TRUE(socket->SendAll(line + "\n"));
        WaitFor([&] { return socket->received.ends_with('\n'); }, [&] { socket->Collect(); });
        return socket->received;
    };
    const auto lockParms = [](int lid, int flags, unsigned timeout) {
        return Device_LockParms{lid, flags, timeout};
    };
    std::unique_ptr<Vxi11Client> a, b;
    a = Connect();
    const Create_LinkResp locking = CreateLink(*a, "inst0", true);
    ASSERT_EQ(locking.error, 0);
    const int lidA = locking.lid;
    const int lidB = NewLink(b);
    EXPECT_EQ(CreateLink(*b, "inst0", true).error, vxi11::kDeviceLocked);

    // The other link: error 11 at once without waitlock, after its lock_timeout with it.
    EXPECT_EQ(Write(*b, lidB, "SOUR1:DATA 9\n").error, vxi11::kDeviceLocked);
    EXPECT_EQ(Read(*b, lidB).error, vxi11::kDeviceLocked);
    EXPECT_EQ(Generic(*b, device_trigger, lidB), vxi11::kDeviceLocked);
    EXPECT_EQ(ErrorOf(*b, device_unlock, lidB), vxi11::kNoLockHeld);
    QElapsedTimer waited;
    waited.start();
    EXPECT_EQ(ErrorOf(*b, device_lock, lockParms(lidB, vxi11::kFlagWaitLock, 200)),
              vxi11::kDeviceLocked);
    EXPECT_GE(waited.elapsed(), 190);

    // A raw client: changes refused naming the holder, queries answered, the safe state passes.
    const std::string lockedByA =
        R"(-200,"Execution error; the board is locked by VXI-11 link from 127.0.0.1")";
    EXPECT_EQ(ask("SOUR1:DATA 7;*RST;SYST:LOCK:REQ?;OWN?;:SOUR1:DATA?"),
              "0;\"VXI-11 link from 127.0.0.1\";32768\n");
    EXPECT_EQ(ask("SYST:ERR?;ERR?;ERR?"), lockedByA + ";" + lockedByA + ";0,\"No error\"\n");
    EXPECT_EQ(ask("*ESE 1;OUTP:SAFE;SYST:LOCK:REL;:SYST:ERR?;ERR?;*ESE?"),
              lockedByA + ";0,\"No error\";1\n");
    EXPECT_EQ(Query(*a, lidA, "SOUR1:DATA 7;DATA?;:SYST:ERR?"), "7;0,\"No error\"\n");

    // Link B waits for the lock; A's unlock hands it over.
    const std::uint32_t waiting = b->Call(DEVICE_CORE, device_lock, xdr_Device_LockParms,
                                          lockParms(lidB, vxi11::kFlagWaitLock, 5000));
    EXPECT_EQ(ErrorOf(*a, device_unlock, lidA), 0);
    ASSERT_EQ(ErrorIn(*b, waiting, 1000), 0);
    EXPECT_EQ(ErrorOf(*a, device_unlock, lidA), vxi11::kNoLockHeld);
    EXPECT_EQ(Write(*a, lidA, "SOUR1:DATA 8\n").error, vxi11::kDeviceLocked);
    // A write waiting with waitlock goes on once B's link has gone.
    const std::uint32_t write =
        SendWrite(*a, lidA, "SOUR1:DATA 8\n", vxi11::kFlagEnd | vxi11::kFlagWaitLock, 1000, 5000);
    EXPECT_EQ(ErrorOf(*b, destroy_link, lidB), 0);
    ASSERT_EQ(ErrorIn(*a, write, 1000, xdr_Device_WriteResp), 0);
    EXPECT_TRUE(WaitFor([&] { return Data(0) == 8; }));

    // The raw client's lock keeps the link off; its closed connection gives the lock back.
    EXPECT_EQ(ask("SYST:LOCK:REQ?;REQ?"), "1;1\n");
    EXPECT_EQ(ErrorOf(*a, device_lock, lockParms(lidA, 0, 0)), vxi11::kDeviceLocked);
    EXPECT_EQ(StatusByte(*a, lidA), -1);
    socket.reset();
    ASSERT_TRUE(WaitFor([&] { return !commands.Lock().Held(); }));
    EXPECT_EQ(ErrorOf(*a, device_lock, lockParms(lidA, 0, 0)), 0);
    // So does a closed link's connection.
    a.reset();
    EXPECT_TRUE(WaitFor([&] { return !commands.Lock().Held(); }));

    // create_link asking for the lock waits up to its lock_timeout: not made when the lock does
    // not come, made holding it when it does. The generic calls wait for it with waitlock.
    const int lidB2 = CreateLink(*b).lid;
    EXPECT_EQ(ErrorOf(*b, device_lock, lockParms(lidB2, 0, 0)), 0);
    const int taken = places.Taken();
    Create_LinkParms create{7, true, 200, const_cast<char*>("inst0")};
    auto c = Connect();
    Decoded<Create_LinkResp> made(xdr_Create_LinkResp);
    waited.restart();
    ASSERT_TRUE(c->Reply(c->Call(DEVICE_CORE, create_link, xdr_Create_LinkParms, create), made));
    EXPECT_GE(waited.elapsed(), 190);
    EXPECT_EQ(made.value.error, vxi11::kDeviceLocked);
    EXPECT_EQ(places.Taken(), taken);
    create.lock_timeout = 5000;
    const std::uint32_t creating = c->Call(DEVICE_CORE, create_link, xdr_Create_LinkParms, create);
    EXPECT_EQ(ErrorOf(*b, device_unlock, lidB2), 0);
    ASSERT_TRUE(c->Reply(creating, made, 1000));
    EXPECT_EQ(made.value.error, 0);
    EXPECT_GT(made.value.lid, 0);
    EXPECT_EQ(made.value.abortPort, server.AbortPort());
    EXPECT_EQ(commands.Lock().Holder(), "VXI-11 link from 127.0.0.1");
    Device_GenericParms generic{lidB2, vxi11::kFlagWaitLock, 50, 1000};
    waited.restart();
    EXPECT_EQ(ErrorOf(*b, device_clear, generic), vxi11::kDeviceLocked);
    EXPECT_GE(waited.elapsed(), 45);
    generic.lock_timeout = 5000;
    const std::uint32_t readstb =
        b->Call(DEVICE_CORE, device_readstb, xdr_Device_GenericParms, generic);
    EXPECT_EQ(ErrorOf(*c, device_unlock, made.value.lid), 0);
    EXPECT_EQ(ErrorIn(*b, readstb, 1000, xdr_Device_ReadStbResp), 0);
}

// Service requests: the board connects back to the interrupt channel the client serves and calls
// device_intr_srq with the link's handle, one-way, once each time MSS rises (*OPC's event with
// *ESE 1;*SRE 32), not again while it stays up, and not for a link that did not enable them.
TEST_F(Vxi11Test, AServiceRequestArrivesOncePerRisingEdge) {
    QTcpServer interrupts;
    ASSERT_TRUE(interrupts.listen(QHostAddress::LocalHost));
    QTcpSocket* channel = nullptr;
    std::string received;
    std::vector<std::string> handles;
    const auto collect = [&] {
        if (channel == nullptr && interrupts.hasPendingConnections())
            channel = interrupts.nextPendingConnection();
        if (channel == nullptr)
            return;
        received += channel->readAll().toStdString();
        while (std::optional<std::string> record = rpc::TakeRecord(received)) {
            XDR xdrs;
            xdrmem_create(&xdrs, record->data(), static_cast<u_int>(record->size()), XDR_DECODE);
            rpc_msg call{};
            Decoded<Device_SrqParms> request(xdr_Device_SrqParms);
            ASSERT_TRUE(xdr_callmsg(&xdrs, &call) && xdr_Device_SrqParms(&xdrs, &request.value));
            xdr_destroy(&xdrs);
            EXPECT_EQ(call.rm_call.cb_prog, DEVICE_INTR);
            EXPECT_EQ(call.rm_call.cb_proc, device_intr_srq);
            handles.emplace_back(request.value.handle.handle_val, request.value.handle.handle_len);
        }
    };
    std::unique_ptr<Vxi11Client> client, other;
    const int lid = NewLink(client);
    const int quiet = NewLink(other);
    Device_RemoteFunc serve{0x7F000001, interrupts.serverPort(), DEVICE_INTR, DEVICE_INTR_VERSION,
                            DEVICE_TCP};
    ASSERT_EQ(ErrorOf(*client, create_intr_chan, serve), 0);
    ASSERT_EQ(ErrorOf(*other, create_intr_chan, serve), 0);
    char handle[] = "link-a";
    Device_EnableSrqParms enable{lid, true, {6, handle}};
    ASSERT_EQ(ErrorOf(*client, device_enable_srq, enable), 0);
    EXPECT_EQ(Write(*other, quiet, "*ESE 1;*SRE 32;*OPC\n").error, 0);
    EXPECT_EQ(Write(*client, lid, "*ESE 1;*SRE 32;*OPC\n").error, 0);
    ASSERT_TRUE(WaitFor([&] { return !handles.empty(); }, collect));
    EXPECT_EQ(handles, std::vector<std::string>{"link-a"});
    EXPECT_EQ(StatusByte(*client, lid), 0x60);
    // MSS stays up: no second request until it has fallen and risen again.
    EXPECT_EQ(Write(*client, lid, "*OPC\n").error, 0);
    WaitFor([] { return false; }, collect, 200);
    EXPECT_EQ(handles.size(), 1u);
    EXPECT_EQ(Write(*client, lid, "*CLS;*OPC\n").error, 0);
    ASSERT_TRUE(WaitFor([&] { return handles.size() == 2; }, collect));
    // Disabled, nothing more comes.
    enable.enable = false;
    ASSERT_EQ(ErrorOf(*client, device_enable_srq, enable), 0);
    EXPECT_EQ(Write(*client, lid, "*CLS;*OPC\n").error, 0);
    WaitFor([] { return false; }, collect, 200);
    EXPECT_EQ(handles.size(), 2u);
}

// A message of 10 MB in the pieces the link takes: thrown away as an overlong line, in bounded
// memory, and the link goes on.
TEST_F(Vxi11Test, ATenMegabyteMessageInPiecesIsDiscardedInBoundedMemory) {
    std::unique_ptr<Vxi11Client> client;
    const int lid = NewLink(client);
    const long before = StartMeasuring();
    const std::string piece(256 * 1024, 'S');
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(Write(*client, lid, piece, i == 39 ? vxi11::kFlagEnd : 0).error, 0) << i;
    EXPECT_EQ(Query(*client, lid, "SYST:ERR?;SYST:ERR?"),
              "-363,\"Input buffer overrun\";0,\"No error\"\n");
    ExpectResidentGrowthBelow(before, 16 * 1024);
}

// A link that sends queries and never reads, neither its answers nor the replies to its calls:
// its answers stop its lines, its lines make its writes wait (and time out), its unread replies
// stop its calls, and TCP holds it back; another link is served meanwhile, quickly.
TEST_F(Vxi11Test, ALinkThatNeverReadsIsHeldBackInBoundedMemory) {
    std::unique_ptr<Vxi11Client> other;
    const int otherLid = NewLink(other);
    std::unique_ptr<Vxi11Client> hog;
    const int lid = NewLink(hog);
    const long before = StartMeasuring();
    std::string queries;
    for (int i = 0; i < 2000; ++i)
        queries += "*IDN?\n";
    Device_WriteParms params{
        lid, 100, 0, vxi11::kFlagEnd, {static_cast<u_int>(queries.size()), queries.data()}};
    const std::string call =
        rpc::CallRecord(1, DEVICE_CORE, 1, device_write, rpc::Xdr(xdr_Device_WriteParms), &params);
    // Read without bound, the hog would get hundreds of megabytes through in these seconds.
    constexpr std::size_t kUnbounded = 16u << 20;
    std::size_t sent = 0;
    std::size_t at = 0;  // in the call being sent
    const auto push = [&] {
        if (const std::size_t n = hog->Offer(std::string_view(call).substr(at)); n > 0) {
            sent += n;
            at = (at + n) % call.size();
        }
    };
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < 4; ++round) {
        WaitFor([&] { return clock.elapsed() > 500 * (round + 1); }, push);
        QElapsedTimer answered;
        answered.start();
        EXPECT_EQ(Query(*other, otherLid, "*IDN?"), identity + "\n");
        EXPECT_LT(answered.elapsed(), 500) << "round " << round;
    }
    EXPECT_LT(sent, kUnbounded) << "the link was read without bound";
    EXPECT_GT(sent, call.size()) << "the link was not served at all";
    ExpectResidentGrowthBelow(before, 32 * 1024);
}

}  // namespace
}  // namespace tq
