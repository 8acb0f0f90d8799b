#pragma once
// A VXI-11 client for the tests, over a non-blocking loopback socket: each call is written as a
// record, and replies are collected while the server's event loop runs (a blocking client would
// stop the loop the server runs on). It can also send any bytes, so hostile clients are made
// with it too.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "remote/vxi11/RpcCall.h"
#include "remote/vxi11/vxi11.h"
#include "tests/support/EventLoop.h"

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
    bool ok = false;  // a successful reply came and decoded
};

class Vxi11Client {
public:
    explicit Vxi11Client(quint16 port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~Vxi11Client() { close(fd_); }
    Vxi11Client(const Vxi11Client&) = delete;
    Vxi11Client& operator=(const Vxi11Client&) = delete;

    bool Connected() const { return connected_; }

    // A call's record: the header of program `program` (version 1) and the encoded arguments.
    static std::string Record(std::uint32_t xid, std::uint32_t program, std::uint32_t procedure,
                              xdrproc_t encode, const void* args, std::uint32_t rpcVersion = 2) {
        std::vector<char> body(
            1024 + (encode != nullptr ? xdr_sizeof(encode, const_cast<void*>(args)) : 0));
        XDR xdrs;
        xdrmem_create(&xdrs, body.data(), static_cast<u_int>(body.size()), XDR_ENCODE);
        rpc_msg call{};
        call.rm_xid = xid;
        call.rm_direction = CALL;
        call.rm_call.cb_rpcvers = rpcVersion;
        call.rm_call.cb_prog = program;
        call.rm_call.cb_vers = 1;
        call.rm_call.cb_proc = procedure;
        xdr_callmsg(&xdrs, &call);
        if (encode != nullptr)
            encode(&xdrs, const_cast<void*>(args));
        const u_int length = xdr_getpos(&xdrs);
        xdr_destroy(&xdrs);
        return Mark(length, true) + std::string(body.data(), length);
    }
    // A record mark: the fragment's length and whether it is the record's last.
    static std::string Mark(std::uint32_t length, bool last) {
        const std::uint32_t mark = htonl(length | (last ? 0x80000000u : 0u));
        return std::string(reinterpret_cast<const char*>(&mark), sizeof mark);
    }

    template <typename A>
    std::uint32_t Call(std::uint32_t program, std::uint32_t procedure, bool_t (*encode)(XDR*, A*),
                       const A& args) {
        const std::uint32_t xid = ++xid_;
        Send(Record(xid, program, procedure, rpc::Xdr(encode), &args));
        return xid;
    }
    std::uint32_t CallWithoutArguments(std::uint32_t program, std::uint32_t procedure) {
        const std::uint32_t xid = ++xid_;
        Send(Record(xid, program, procedure, nullptr, nullptr));
        return xid;
    }

    // Sends all of `bytes` while the event loop runs; false when the server stopped taking them.
    bool Send(std::string_view bytes) {
        std::size_t sent = 0;
        return WaitFor([&] { return sent == bytes.size() || ended; },
                       [&] {
                           const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent,
                                                  MSG_NOSIGNAL | MSG_DONTWAIT);
                           if (n > 0)
                               sent += static_cast<std::size_t>(n);
                           else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                               ended = true;
                       }) &&
               sent == bytes.size();
    }
    // What the socket takes now, without waiting.
    std::size_t Offer(std::string_view bytes) {
        const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    // Takes what has arrived into whole replies; notes the end of the connection.
    void Collect() {
        char buffer[65536];
        for (;;) {
            const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                received_.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                ended = true;
            break;
        }
        for (;;) {
            std::string payload;
            std::size_t at = 0;
            bool whole = false;
            while (received_.size() - at >= 4) {
                std::uint32_t mark = 0;
                std::memcpy(&mark, received_.data() + at, 4);
                mark = ntohl(mark);
                const std::size_t length = mark & 0x7FFFFFFFu;
                if (received_.size() - at - 4 < length)
                    break;
                payload.append(received_, at + 4, length);
                at += 4 + length;
                if ((mark & 0x80000000u) != 0) {
                    whole = true;
                    break;
                }
            }
            if (!whole)
                return;
            received_.erase(0, at);
            std::uint32_t xid = 0;
            if (payload.size() >= 4) {
                std::memcpy(&xid, payload.data(), 4);
                xid = ntohl(xid);
            }
            replies_[xid] = std::move(payload);
            ++replyCount;
        }
    }

    // The reply to `xid` decoded into `result`, waiting at most `limitMs` for it.
    template <typename T>
    bool Reply(std::uint32_t xid, Decoded<T>& result, int limitMs = 5000) {
        WaitFor([&] { return replies_.contains(xid) || ended; }, [&] { Collect(); }, limitMs);
        const auto it = replies_.find(xid);
        if (it == replies_.end())
            return false;
        std::string payload = std::move(it->second);
        replies_.erase(it);
        XDR xdrs;
        xdrmem_create(&xdrs, payload.data(), static_cast<u_int>(payload.size()), XDR_DECODE);
        rpc_msg reply{};
        reply.acpted_rply.ar_results.where = reinterpret_cast<caddr_t>(&result.value);
        reply.acpted_rply.ar_results.proc = result.proc;
        result.ok = xdr_replymsg(&xdrs, &reply) && reply.rm_reply.rp_stat == MSG_ACCEPTED &&
                    reply.acpted_rply.ar_stat == SUCCESS;
        lastAcceptStatus = reply.acpted_rply.ar_stat;
        xdr_destroy(&xdrs);
        return result.ok;
    }
    // Whether a reply to `xid` has come (without waiting).
    bool Replied(std::uint32_t xid) {
        Collect();
        return replies_.contains(xid);
    }

    bool ended = false;  // the server closed the connection
    int replyCount = 0;
    int lastAcceptStatus = -1;  // of the last reply decoded: SUCCESS, PROC_UNAVAIL, GARBAGE_ARGS...

private:
    int fd_ = -1;
    bool connected_ = false;
    std::uint32_t xid_ = 1000;
    std::string received_;
    std::map<std::uint32_t, std::string> replies_;
};

}  // namespace tq::testing
