#pragma once
// The board as a VXI-11 instrument: the links that clients create to its device "inst0" and the
// calls of its core and abort channels, each answered as the protocol says. Each link is a client
// of the protocol like a raw connection (a ClientSession: its own error queue, status, format and
// pending operations); a device_write puts bytes into its session, a device_read takes its
// answers out. A read that finds no answer yet, and a write that finds the link's earlier lines
// still waiting to run, are deferred: the reply goes when the answer comes, the lines have run,
// the call's time-out (io_timeout) ends, or device_abort ends it.
//
// A link's lock is the one lock over every remote client (RemoteLock): while another client holds
// it, the link's calls on the device are answered error 11, or, with the waitlock flag, wait for
// it up to their lock_timeout. A link that ends gives it back.
//
// Service requests: a client that has made its interrupt channel (create_intr_chan) and enabled
// them on a link (device_enable_srq) hears device_intr_srq with the link's handle each time the
// link's status byte gains MSS (its *SRE mask over its status), once per rising edge.
//
// Standard library and libtirpc's XDR only: the server drives it from the event loop, the fuzz
// target from records in memory, and time is what the caller says it is.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "remote/ClientPlaces.h"
#include "remote/ClientSession.h"
#include "remote/vxi11/RpcCall.h"

namespace tq::vxi11 {

// VXI-11's error codes.
enum Error : int {
    kNoError = 0,
    kInvalidLink = 4,
    kChannelNotEstablished = 6,
    kNotSupported = 8,
    kOutOfResources = 9,
    kDeviceLocked = 11,
    kNoLockHeld = 12,
    kIoTimeout = 15,
    kInvalidAddress = 21,
    kAborted = 23,
    kChannelAlreadyEstablished = 29,
};

// Where service requests go: the client's interrupt channel, which the server connects to without
// blocking and sends device_intr_srq on, one-way.
class InterruptChannels {
public:
    virtual ~InterruptChannels() = default;
    // The channel of the core channel's `connection`: the client serves program `program`
    // `version` on TCP at `host` (IPv4, host order) `port`.
    virtual void Open(rpc::ConnectionId connection, std::uint32_t host, std::uint16_t port,
                      std::uint32_t program, std::uint32_t version) = 0;
    virtual void Close(rpc::ConnectionId connection) = 0;
    // device_intr_srq with the link's handle, not waiting for anything.
    virtual void Send(rpc::ConnectionId connection, const std::string& handle) = 0;
};

// Why a device_read ended, and the flags of a call.
inline constexpr int kReasonRequestCount = 1;
inline constexpr int kReasonTermChar = 2;
inline constexpr int kReasonEnd = 4;
inline constexpr int kFlagWaitLock = 1;
inline constexpr int kFlagEnd = 8;
inline constexpr int kFlagTermCharSet = 0x80;

// The one device a link may name.
inline constexpr const char* kDeviceName = "inst0";

class Vxi11Device {
public:
    using Clock = std::chrono::steady_clock;
    struct Limits {
        std::uint32_t maxRecvSize = 64 * 1024;  // the most one device_write carries
        std::size_t maxReadSize = 64 * 1024;    // the most one device_read returns
        // A write waits while the link's lines not yet run hold more than this.
        std::size_t inputRoom = 64 * 1024;
        ClientSession::Limits session;
    };

    // `places`: shared with the raw socket's clients. `replies`: where deferred replies go.
    // `abortPort`: the abort channel's port, told to each link.
    Vxi11Device(InstrumentCommands& commands, ClientPlaces& places, rpc::Replies& replies,
                std::uint16_t abortPort, Limits limits);
    ~Vxi11Device();
    Vxi11Device(const Vxi11Device&) = delete;
    Vxi11Device& operator=(const Vxi11Device&) = delete;

    // A call of the core channel (program DEVICE_CORE) and of the abort channel (DEVICE_ASYNC).
    void Core(rpc::Call& call, Clock::time_point now);
    void Abort(rpc::Call& call);
    // A connection has ended (`idle`: closed for its silence): the links created on it go, their
    // waiting calls with them.
    void ConnectionClosed(rpc::ConnectionId connection, bool idle = false);

    // One turn for each link with lines to run; true when some have more.
    bool ServeTurns(Clock::time_point now);
    // A ramp or an activity has ended: the links whose lines wait on one are served again.
    void ActivityEnded();
    // Answers the deferred calls whose time-out has come.
    void Expire(Clock::time_point now);
    // The earliest time-out of a deferred call.
    std::optional<Clock::time_point> NextDeadline() const;
    // Told when a link has lines to run (the server then calls ServeTurns).
    void SetWake(std::function<void()> wake) { wake_ = std::move(wake); }
    // Service requests go there; without, create_intr_chan is not supported.
    void SetInterruptChannels(InterruptChannels* channels) { interrupts_ = channels; }
    // Sends a service request for each link whose status byte has gained MSS since it was last
    // looked at (its status follows the instrument and the other clients too).
    void CheckServiceRequests();

    int LinkCount() const { return static_cast<int>(links_.size()); }
    // Told one line for each link made, refused and ended, with the reason it ended:
    // "VXI-11 link 3 from 127.0.0.1 left: closed".
    void SetLog(std::function<void(const std::string& line)> log) { log_ = std::move(log); }
    // How the log names the idle timeout: "600 s".
    void SetIdleText(std::string text) { idleText_ = std::move(text); }
    // Every link, and what it waits for, goes: the server stops serving VXI-11.
    void DropAll();

private:
    struct Link;
    struct Waiting;
    Link* Find(rpc::Call& call, int lid);
    void CreateLink(rpc::Call& call, Clock::time_point now);
    void Write(rpc::Call& call, Clock::time_point now);
    void Read(rpc::Call& call, Clock::time_point now);
    void Generic(rpc::Call& call, Clock::time_point now);
    // What device_readstb, _trigger, _clear, _remote and _local do; the status byte for the first.
    std::uint8_t RunGeneric(Link& link, std::uint32_t procedure);
    void DestroyLink(rpc::Call& call);
    void Lock(rpc::Call& call, Clock::time_point now);
    void Unlock(rpc::Call& call);
    // Whether another client holds the lock, so that the link's call waits for it (`waiting`
    // becomes the wait, answered 11 at `lock_timeout`) or is answered 11 at once.
    bool LockedOut(Link& link, int flags, unsigned lockTimeout, Waiting& waiting,
                   Clock::time_point now);
    // The lock is free: the calls waiting for it go on.
    void LockFreed(Clock::time_point now);
    void CreateInterruptChannel(rpc::Call& call);
    void EnableServiceRequests(rpc::Call& call);
    void CheckServiceRequest(Link& link);
    // Takes a waiting write's bytes when the link has room; answers a waiting read when an answer
    // has come.
    void Progress(Link& link);
    bool TakeWrite(Link& link, Waiting& write);
    // The link's waiting read, answered with what its session has to say.
    void AnswerRead(Link& link, rpc::Replies& replies);
    // The link's waiting call, ended with `error`.
    void Answer(Link& link, int error);
    void Answer(Link& link, int error, rpc::Replies& replies);
    void Schedule(Link& link);
    // `why` it ended, for the log.
    void Drop(Link& link, const char* why);
    void Say(const std::string& line) const;

    InstrumentCommands& commands_;
    ClientPlaces& places_;
    rpc::Replies& replies_;
    std::uint16_t abortPort_;
    Limits limits_;
    std::map<int, std::unique_ptr<Link>> links_;
    std::deque<int> due_;  // links with lines to run, in turn
    int nextLid_ = 1;
    std::function<void()> wake_;
    std::function<void(const std::string&)> log_;
    std::string idleText_;
    int lockListener_ = 0;
    InterruptChannels* interrupts_ = nullptr;
    std::map<rpc::ConnectionId, bool> interruptChannels_;  // the connections that have one
};

}  // namespace tq::vxi11
