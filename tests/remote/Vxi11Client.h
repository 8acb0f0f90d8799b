#pragma once
// A VXI-11 client for the tests, over a non-blocking loopback socket (RawClient): each call is
// written as a record, and replies are collected while the server's event loop runs. It can also
// send any bytes, so hostile clients are made with it too.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "remote/vxi11/RpcRecords.h"
#include "remote/vxi11/vxi11.h"
#include "tests/support/EventLoop.h"
#include "tests/support/RawClient.h"

namespace tq::testing {

// A result decoded from a reply, freed with it.
template <typename T>
struct Decoded {
    explicit Decoded(bool_t (*routine)(XDR*, T*)) : proc(rpc::Xdr(routine)) {}
    ~Decoded() { xdr_free(proc, reinterpret_cast<char*>(&value)); }
    Decoded(const Decoded&) = delete;
    Decoded& operator=(const Decoded&) = delete;
    xdrproc_t proc;
    T value{};
};

class Vxi11Client {
public:
    explicit Vxi11Client(quint16 port, bool ipv6 = false) : socket_(port, ipv6) {}

    bool Connected() const { return socket_.Connected(); }

    template <typename A>
    std::uint32_t Call(std::uint32_t program, std::uint32_t procedure, bool_t (*encode)(XDR*, A*),
                       const A& args) {
        const std::uint32_t xid = ++xid_;
        Send(rpc::CallRecord(xid, program, 1, procedure, rpc::Xdr(encode), &args));
        return xid;
    }
    std::uint32_t CallWithoutArguments(std::uint32_t program, std::uint32_t procedure) {
        const std::uint32_t xid = ++xid_;
        Send(rpc::CallRecord(xid, program, 1, procedure, nullptr, nullptr));
        return xid;
    }

    // Sends all of `bytes` while the event loop runs; false when the server ended the connection
    // first.
    bool Send(std::string_view bytes) { return socket_.SendAll(bytes); }
    // What the socket takes now, without waiting.
    std::size_t Offer(std::string_view bytes) { return socket_.Offer(bytes); }

    // Takes what has arrived into whole replies, by their call's xid.
    void Collect() {
        socket_.Collect();
        while (std::optional<std::string> record = rpc::TakeRecord(socket_.received)) {
            std::uint32_t xid = 0;
            for (std::size_t i = 0; i < 4 && i < record->size(); ++i)
                xid = xid << 8 | static_cast<unsigned char>((*record)[i]);
            replies_[xid] = std::move(*record);
            ++replyCount;
        }
    }
    bool Ended() const { return socket_.ended; }

    // The reply to `xid` decoded into `result`, waiting at most `limitMs` for it; false when none
    // came, or it is not a successful one (lastAcceptStatus says why).
    template <typename T>
    bool Reply(std::uint32_t xid, Decoded<T>& result, int limitMs = 5000) {
        WaitFor([&] { return replies_.contains(xid) || Ended(); }, [&] { Collect(); }, limitMs);
        const auto it = replies_.find(xid);
        if (it == replies_.end())
            return false;
        std::string payload = std::move(it->second);
        replies_.erase(it);
        return rpc::DecodeReply(std::move(payload), xid, result.proc, &result.value,
                                &lastAcceptStatus);
    }
    // Whether a reply to `xid` has come (without waiting).
    bool Replied(std::uint32_t xid) {
        Collect();
        return replies_.contains(xid);
    }

    int replyCount = 0;
    int lastAcceptStatus = -1;  // of the last reply decoded: SUCCESS, PROC_UNAVAIL, GARBAGE_ARGS...

private:
    RawClient socket_;
    std::uint32_t xid_ = 1000;
    std::map<std::uint32_t, std::string> replies_;
};

}  // namespace tq::testing
