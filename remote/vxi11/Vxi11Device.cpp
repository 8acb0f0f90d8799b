#include "remote/vxi11/Vxi11Device.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <string_view>

#include "remote/vxi11/vxi11.h"

namespace tq::vxi11 {
namespace {

using rpc::Arguments;
using rpc::Xdr;

void ReplyError(rpc::Call& call, int error) {
    Device_Error result{error};
    call.Reply(Xdr(xdr_Device_Error), &result);
}

bool NamesTheDevice(const char* name) {
    if (name == nullptr)
        return false;
    const std::string_view typed(name);
    const std::string_view device(kDeviceName);
    return typed.size() == device.size() &&
           std::equal(typed.begin(), typed.end(), device.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

}  // namespace

struct Vxi11Device::Waiting {
    enum class Kind { Read, Write };
    Kind kind = Kind::Read;
    rpc::ConnectionId connection = 0;
    Clock::time_point deadline;
    std::size_t requestSize = 0;   // a read's
    std::optional<char> termChar;  // a read's
    std::string data;              // a write's
    bool end = false;              // a write's END flag
};

struct Vxi11Device::Link {
    Link(int lid, rpc::ConnectionId on, InstrumentCommands& commands, ClientSession::Limits limits)
        : id(lid), connection(on), session(commands, limits) {}
    int id;
    rpc::ConnectionId connection;  // the core channel's connection that created it
    ClientSession session;
    std::optional<Waiting> waiting;
    bool due = false;         // in due_
    bool outputFull = false;  // its last turn stopped for answers left unread
    bool ended = false;       // destroyed, or its connection closed: its lines run on unanswered
};

Vxi11Device::Vxi11Device(InstrumentCommands& commands, ClientPlaces& places, rpc::Replies& replies,
                         std::uint16_t abortPort, Limits limits)
    : commands_(commands),
      places_(places),
      replies_(replies),
      abortPort_(abortPort),
      limits_(limits) {}

Vxi11Device::~Vxi11Device() {
    DropAll();
}

void Vxi11Device::DropAll() {
    for (std::size_t n = links_.size(); n > 0; --n)
        places_.Give();
    links_.clear();
    due_.clear();
}

// A link that the calling connection created. A call that comes while one of the link's calls
// waits (the server delivers none; the fuzz target may) ends that wait first.
Vxi11Device::Link* Vxi11Device::Find(rpc::Call& call, int lid) {
    const auto it = links_.find(lid);
    if (it == links_.end() || it->second->connection != call.Connection())
        return nullptr;
    Link& link = *it->second;
    if (link.waiting)
        Answer(link, kIoTimeout);
    return &link;
}

void Vxi11Device::Core(rpc::Call& call, Clock::time_point now) {
    switch (call.Procedure()) {
        case create_link:
            CreateLink(call);
            return;
        case device_write:
            Write(call, now);
            return;
        case device_read:
            Read(call, now);
            return;
        case device_readstb:
        case device_trigger:
        case device_clear:
        case device_remote:
        case device_local:
            Generic(call);
            return;
        case destroy_link:
            DestroyLink(call);
            return;
        // Locks and service requests are not served yet: what a client may ask of them is
        // answered as the protocol says a device without them answers.
        case device_lock:
            return Unserved(
                call, xdr_Device_LockParms, [](const auto& args) { return args.lid; },
                kNotSupported);
        case device_unlock:
            return Unserved(
                call, xdr_Device_Link, [](Device_Link lid) { return lid; }, kNoLockHeld);
        case device_enable_srq:
            return Unserved(
                call, xdr_Device_EnableSrqParms, [](const auto& args) { return args.lid; },
                kNotSupported);
        case device_docmd: {
            Arguments<Device_DocmdParms> args(call, xdr_Device_DocmdParms);
            if (!args)
                return call.Garbage();
            Device_DocmdResp result{};
            result.error = Find(call, args->lid) ? kNotSupported : kInvalidLink;
            return call.Reply(Xdr(xdr_Device_DocmdResp), &result);
        }
        case create_intr_chan: {
            Arguments<Device_RemoteFunc> args(call, xdr_Device_RemoteFunc);
            if (!args)
                return call.Garbage();
            return ReplyError(call, kNotSupported);
        }
        case destroy_intr_chan:
            return ReplyError(call, kChannelNotEstablished);
        default:
            call.NoProcedure();
    }
}

template <typename T, typename LidOf>
void Vxi11Device::Unserved(rpc::Call& call, bool_t (*routine)(XDR*, T*), LidOf lidOf, int error) {
    Arguments<T> args(call, routine);
    if (!args)
        return call.Garbage();
    ReplyError(call, Find(call, lidOf(*args)) ? error : kInvalidLink);
}

void Vxi11Device::CreateLink(rpc::Call& call) {
    Arguments<Create_LinkParms> args(call, xdr_Create_LinkParms);
    if (!args)
        return call.Garbage();
    Create_LinkResp result{};
    result.abortPort = abortPort_;
    result.maxRecvSize = limits_.maxRecvSize;
    if (!NamesTheDevice(args->device)) {
        result.error = kInvalidAddress;
    } else if (args->lockDevice) {
        result.error = kNotSupported;  // locks come with their own issue
    } else if (!places_.Take()) {
        result.error = kOutOfResources;
    } else {
        while (links_.contains(nextLid_) || nextLid_ <= 0)
            nextLid_ = nextLid_ >= INT_MAX || nextLid_ <= 0 ? 1 : nextLid_ + 1;
        result.lid = nextLid_++;
        links_.emplace(result.lid, std::make_unique<Link>(result.lid, call.Connection(), commands_,
                                                          limits_.session));
    }
    call.Reply(Xdr(xdr_Create_LinkResp), &result);
}

void Vxi11Device::DestroyLink(rpc::Call& call) {
    Arguments<Device_Link> lid(call, xdr_Device_Link);
    if (!lid)
        return call.Garbage();
    Link* link = Find(call, *lid);
    if (link != nullptr)
        Drop(*link);
    ReplyError(call, link != nullptr ? kNoError : kInvalidLink);
}

void Vxi11Device::Write(rpc::Call& call, Clock::time_point now) {
    Arguments<Device_WriteParms> args(call, xdr_Device_WriteParms);
    if (!args)
        return call.Garbage();
    Device_WriteResp result{};
    Link* link = Find(call, args->lid);
    if (link == nullptr) {
        result.error = kInvalidLink;
        return call.Reply(Xdr(xdr_Device_WriteResp), &result);
    }
    Waiting write;
    write.kind = Waiting::Kind::Write;
    write.connection = call.Connection();
    write.deadline = now + std::chrono::milliseconds(args->io_timeout);
    write.data.assign(args->data.data_val, args->data.data_len);
    write.end = (args->flags & kFlagEnd) != 0;
    if (TakeWrite(*link, write)) {
        result.size = args->data.data_len;
    } else if (args->io_timeout == 0) {
        result.error = kIoTimeout;
    } else {
        link->waiting = std::move(write);
        return call.Defer();
    }
    call.Reply(Xdr(xdr_Device_WriteResp), &result);
}

bool Vxi11Device::TakeWrite(Link& link, Waiting& write) {
    if (link.session.QueuedInput() > limits_.inputRoom)
        return false;
    link.session.Feed(write.data);
    if (write.end)
        link.session.EndMessage();
    Schedule(link);
    return true;
}

void Vxi11Device::Read(rpc::Call& call, Clock::time_point now) {
    Arguments<Device_ReadParms> args(call, xdr_Device_ReadParms);
    if (!args)
        return call.Garbage();
    Link* link = Find(call, args->lid);
    if (link == nullptr) {
        Device_ReadResp result{};
        result.error = kInvalidLink;
        return call.Reply(Xdr(xdr_Device_ReadResp), &result);
    }
    Waiting read;
    read.connection = call.Connection();
    read.deadline = now + std::chrono::milliseconds(args->io_timeout);
    read.requestSize = args->requestSize;
    if ((args->flags & kFlagTermCharSet) != 0)
        read.termChar = args->termChar;
    link->waiting = std::move(read);
    if (link->session.OutputSize() > 0 || args->io_timeout == 0) {
        // Answered now: the waiting read goes out as the call's own reply.
        struct AtOnce : rpc::Replies {
            rpc::Call& call;
            explicit AtOnce(rpc::Call& c) : call(c) {}
            bool Send(rpc::ConnectionId, xdrproc_t encode, const void* result) override {
                call.Reply(encode, result);
                return true;
            }
        } atOnce(call);
        if (link->session.OutputSize() > 0)
            AnswerRead(*link, atOnce);
        else
            Answer(*link, kIoTimeout, atOnce);
        return;
    }
    call.Defer();
}

void Vxi11Device::AnswerRead(Link& link, rpc::Replies& replies) {
    Waiting read = std::move(*link.waiting);
    link.waiting.reset();
    const std::size_t most = std::min(read.requestSize, limits_.maxReadSize);
    ClientSession::Output out = link.session.TakeOutput(most, read.termChar);
    Device_ReadResp result{};
    if (out.endsAnswer)
        result.reason |= kReasonEnd;
    if (out.stoppedAt)
        result.reason |= kReasonTermChar;
    if (result.reason == 0 && out.bytes.size() >= read.requestSize)
        result.reason |= kReasonRequestCount;
    result.data.data_len = static_cast<u_int>(out.bytes.size());
    result.data.data_val = out.bytes.data();
    replies.Send(read.connection, Xdr(xdr_Device_ReadResp), &result);
    // Answers taken make room for a line that stopped for them.
    if (link.outputFull && link.session.OutputSize() <= limits_.session.maxUnreadAnswers / 2) {
        link.outputFull = false;
        Schedule(link);
    }
}

void Vxi11Device::Answer(Link& link, int error) {
    Answer(link, error, replies_);
}

void Vxi11Device::Answer(Link& link, int error, rpc::Replies& replies) {
    const Waiting waiting = std::move(*link.waiting);
    link.waiting.reset();
    if (waiting.kind == Waiting::Kind::Read) {
        Device_ReadResp result{};
        result.error = error;
        replies.Send(waiting.connection, Xdr(xdr_Device_ReadResp), &result);
    } else {
        Device_WriteResp result{};
        result.error = error;
        replies.Send(waiting.connection, Xdr(xdr_Device_WriteResp), &result);
    }
}

void Vxi11Device::Generic(rpc::Call& call) {
    Arguments<Device_GenericParms> args(call, xdr_Device_GenericParms);
    if (!args)
        return call.Garbage();
    Link* link = Find(call, args->lid);
    if (call.Procedure() == device_readstb) {
        Device_ReadStbResp result{};
        result.error = link != nullptr ? kNoError : kInvalidLink;
        if (link != nullptr)
            result.stb = static_cast<u_char>(link->session.StatusByte());
        return call.Reply(Xdr(xdr_Device_ReadStbResp), &result);
    }
    if (link == nullptr)
        return ReplyError(call, kInvalidLink);
    if (call.Procedure() == device_trigger) {
        link->session.RunAtOnce("*TRG");
    } else if (call.Procedure() == device_clear) {
        link->session.Clear();
        link->outputFull = false;
    }
    ReplyError(call, kNoError);  // device_remote and device_local: there is no front panel lock
}

void Vxi11Device::Abort(rpc::Call& call) {
    if (call.Procedure() != device_abort)
        return call.NoProcedure();
    Arguments<Device_Link> lid(call, xdr_Device_Link);
    if (!lid)
        return call.Garbage();
    // The abort channel is a connection of its own: any link may be named.
    const auto it = links_.find(*lid);
    if (it == links_.end())
        return ReplyError(call, kInvalidLink);
    if (it->second->waiting)
        Answer(*it->second, kAborted);
    ReplyError(call, kNoError);
}

void Vxi11Device::ConnectionClosed(rpc::ConnectionId connection) {
    for (auto it = links_.begin(); it != links_.end();) {
        Link& link = *(it++)->second;
        if (link.connection == connection)
            Drop(link);
    }
}

// What a link was sent before it ended still runs, as a raw connection's does: the link keeps
// its place, unanswered and out of its client's reach, until its lines have run.
void Vxi11Device::Drop(Link& link) {
    link.ended = true;
    link.connection = 0;
    link.waiting.reset();
    link.session.DiscardOutput();
    if (link.session.QueuedInput() > 0 || link.session.Holding()) {
        Schedule(link);
        return;
    }
    places_.Give();
    links_.erase(link.id);  // due_ forgets it when its turn comes
}

void Vxi11Device::Schedule(Link& link) {
    if (link.due)
        return;
    link.due = true;
    due_.push_back(link.id);
    if (wake_)
        wake_();
}

bool Vxi11Device::ServeTurns(Clock::time_point now) {
    for (std::size_t n = due_.size(); n > 0 && !due_.empty(); --n) {
        const auto it = links_.find(due_.front());
        due_.pop_front();
        if (it == links_.end())
            continue;
        Link& link = *it->second;
        link.due = false;
        const ClientSession::Stop stop = link.session.Serve();
        link.outputFull = stop == ClientSession::Stop::OutputFull;
        if (stop == ClientSession::Stop::TurnOver)
            Schedule(link);
        if (link.ended && stop == ClientSession::Stop::NoInput && !link.session.Holding()) {
            places_.Give();
            links_.erase(it);
            continue;
        }
        Progress(link);
    }
    Expire(now);
    return !due_.empty();
}

void Vxi11Device::Progress(Link& link) {
    if (!link.waiting)
        return;
    if (link.waiting->kind == Waiting::Kind::Read) {
        if (link.session.OutputSize() > 0)
            AnswerRead(link, replies_);
        return;
    }
    Waiting& write = *link.waiting;
    if (!TakeWrite(link, write))
        return;
    Device_WriteResp result{};
    result.size = static_cast<u_int>(write.data.size());
    const rpc::ConnectionId connection = write.connection;
    link.waiting.reset();
    replies_.Send(connection, Xdr(xdr_Device_WriteResp), &result);
}

void Vxi11Device::ActivityEnded() {
    for (auto& [lid, link] : links_)
        if (link->session.Holding())
            Schedule(*link);
}

void Vxi11Device::Expire(Clock::time_point now) {
    for (auto& [lid, link] : links_)
        if (link->waiting && link->waiting->deadline <= now)
            Answer(*link, kIoTimeout);
}

std::optional<Vxi11Device::Clock::time_point> Vxi11Device::NextDeadline() const {
    std::optional<Clock::time_point> next;
    for (const auto& [lid, link] : links_)
        if (link->waiting && (!next || link->waiting->deadline < *next))
            next = link->waiting->deadline;
    return next;
}

}  // namespace tq::vxi11
