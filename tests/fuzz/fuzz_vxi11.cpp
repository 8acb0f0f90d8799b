// RPC records through the VXI-11 handlers, as the server hands them over: each record decoded as
// a call and given to the core or the abort channel, from one of two connections, the links'
// lines run between records and time moved on so that deferred calls end. No crash, no hang,
// every reply encodes, and the places taken are the links that exist.
//
// Input: a run of [control byte][record mark (4 bytes, big-endian length)][record]. The control
// byte's bit 0 picks the connection, bit 1 the abort channel, the rest how many 10 ms pass first.

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "adapter/simulated/SimulatedBoard.h"
#include "board/BoardRequests.h"
#include "core/DeviceState.h"
#include "instrument/Instrument.h"
#include "remote/vxi11/Vxi11Device.h"
#include "remote/vxi11/vxi11.h"

namespace {

using namespace tq;

// Encodes a reply's result as the transport would, into memory: every result the handlers give
// must encode.
void Encode(xdrproc_t encode, const void* result) {
    static std::vector<char> buffer(1 << 20);
    XDR xdrs;
    xdrmem_create(&xdrs, buffer.data(), static_cast<u_int>(buffer.size()), XDR_ENCODE);
    if (!encode(&xdrs, const_cast<void*>(result)))
        std::abort();
    xdr_destroy(&xdrs);
}

class MemoryCall : public rpc::Call {
public:
    MemoryCall(XDR& in, std::uint32_t procedure, rpc::ConnectionId connection)
        : in_(in), procedure_(procedure), connection_(connection) {}
    std::uint32_t Procedure() const override { return procedure_; }
    rpc::ConnectionId Connection() const override { return connection_; }
    bool Decode(xdrproc_t decode, void* args) override { return decode(&in_, args); }
    void Free(xdrproc_t decode, void* args) override { xdr_free(decode, static_cast<char*>(args)); }
    void Reply(xdrproc_t encode, const void* result) override {
        if (answered_)
            std::abort();  // a call is answered once
        answered_ = true;
        Encode(encode, result);
    }
    void Defer() override { answered_ = true; }
    void NoProcedure() override { Reply(rpc::Xdr(xdr_void), nullptr); }
    void Garbage() override { Reply(rpc::Xdr(xdr_void), nullptr); }

private:
    XDR& in_;
    std::uint32_t procedure_;
    rpc::ConnectionId connection_;
    bool answered_ = false;
};

struct MemoryReplies : rpc::Replies {
    bool Send(rpc::ConnectionId, xdrproc_t encode, const void* result) override {
        Encode(encode, result);
        return true;
    }
};

struct Bench {
    DeviceState state;
    SimulatedBoard board;
    BoardRequests requests{state, board};
    Instrument instrument{state, requests, {"Simulated board", "SIMULATED"}};
    InstrumentCommands commands{instrument, &board};
    Bench() {
        ApplyStartDefaults(state);
        instrument.ConnectBoard(TQ_FIRMWARE_FOLDER);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static Bench bench;
    ClientPlaces places;
    MemoryReplies replies;
    vxi11::Vxi11Device::Limits limits;
    limits.maxRecvSize = 4096;
    auto device =
        std::make_unique<vxi11::Vxi11Device>(bench.commands, places, replies, 1024, limits);
    auto now = vxi11::Vxi11Device::Clock::time_point{};
    std::vector<char> record;
    while (size >= 5) {
        const std::uint8_t control = data[0];
        std::uint32_t mark = 0;
        std::memcpy(&mark, data + 1, 4);
        const std::size_t length = std::min<std::size_t>(ntohl(mark) & 0x7FFFFFFFu, size - 5);
        record.assign(data + 5, data + 5 + length);
        data += 5 + length;
        size -= 5 + length;
        now += std::chrono::milliseconds(10 * (control >> 2));
        device->Expire(now);

        XDR in;
        xdrmem_create(&in, record.data(), static_cast<u_int>(record.size()), XDR_DECODE);
        // The credentials decode into buffers of ours rather than into memory XDR allocates.
        char credentials[MAX_AUTH_BYTES];
        char verifier[MAX_AUTH_BYTES];
        rpc_msg call{};
        call.rm_call.cb_cred.oa_base = credentials;
        call.rm_call.cb_verf.oa_base = verifier;
        if (xdr_callmsg(&in, &call) && call.rm_direction == CALL && call.rm_call.cb_vers == 1) {
            MemoryCall served(in, call.rm_call.cb_proc, 1 + (control & 1));
            if ((control & 2) != 0 && call.rm_call.cb_prog == DEVICE_ASYNC)
                device->Abort(served);
            else if ((control & 2) == 0 && call.rm_call.cb_prog == DEVICE_CORE)
                device->Core(served, now);
        }
        xdr_destroy(&in);
        for (int turn = 0; turn < 4 && device->ServeTurns(now); ++turn) {
        }
        if (places.Taken() != device->LinkCount())
            std::abort();
    }
    device->ConnectionClosed(1);
    device->ConnectionClosed(2);
    device.reset();
    if (places.Taken() != 0)
        std::abort();
    return 0;
}
