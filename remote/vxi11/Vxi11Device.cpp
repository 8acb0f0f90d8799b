#include "remote/vxi11/Vxi11Device.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <string_view>
#include <vector>

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
    // Create: create_link asking for the lock, the link made but not yet told; Generic:
    // device_readstb, _trigger, _clear, _remote or _local (`procedure`).
    enum class Kind { Read, Write, Lock, Create, Generic };
    Kind kind = Kind::Read;
    std::uint32_t procedure = 0;
    rpc::ConnectionId connection = 0;
    Clock::time_point deadline;
    // Waits for another client's lock until `deadline`, then for its own work for `ioTimeout`.
    bool forLock = false;
    std::chrono::milliseconds ioTimeout{0};
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
    bool srqEnabled = false;  // device_enable_srq
    std::string srqHandle;
    bool serviceRequested = false;  // MSS when last looked at
    std::string name;               // "VXI-11 link 3 from 127.0.0.1"
};

Vxi11Device::Vxi11Device(InstrumentCommands& commands, ClientPlaces& places, rpc::Replies& replies,
                         std::uint16_t abortPort, Limits limits)
    : commands_(commands),
      places_(places),
      replies_(replies),
      abortPort_(abortPort),
      limits_(limits) {
    lockListener_ = commands_.Lock().AddListener([this](const std::string& holder) {
        if (holder.empty())
            LockFreed(Clock::now());
    });
}

Vxi11Device::~Vxi11Device() {
    commands_.Lock().RemoveListener(lockListener_);
    DropAll();
}

void Vxi11Device::DropAll() {
    // Nothing waits for the lock that the links give back as they go.
    for (auto& [lid, link] : links_)
        link->waiting.reset();
    for (auto& [lid, link] : links_)
        commands_.Lock().Give(link->session.Session().Origin());
    for (std::size_t n = links_.size(); n > 0; --n)
        places_.Give();
    links_.clear();
    due_.clear();
    interruptChannels_.clear();
}

// A link that the calling connection created. A call that comes while one of the link's calls
// waits (the server delivers none; the fuzz target may) ends that wait first.
Vxi11Device::Link* Vxi11Device::Find(rpc::Call& call, int lid) {
    const auto it = links_.find(lid);
    if (it == links_.end() || it->second->connection != call.Connection())
        return nullptr;
    Link& link = *it->second;
    if (link.waiting && link.waiting->kind == Waiting::Kind::Create)
        return nullptr;  // not made until its creation is answered
    if (link.waiting)
        Answer(link, kIoTimeout);
    return &link;
}

void Vxi11Device::Core(rpc::Call& call, Clock::time_point now) {
    switch (call.Procedure()) {
        case create_link:
            CreateLink(call, now);
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
            Generic(call, now);
            return;
        case destroy_link:
            DestroyLink(call);
            return;
        case device_lock:
            return Lock(call, now);
        case device_unlock:
            return Unlock(call);
        case device_enable_srq:
            return EnableServiceRequests(call);
        case device_docmd: {
            Arguments<Device_DocmdParms> args(call, xdr_Device_DocmdParms);
            if (!args)
                return call.Garbage();
            Device_DocmdResp result{};
            result.error = Find(call, args->lid) ? kNotSupported : kInvalidLink;
            return call.Reply(Xdr(xdr_Device_DocmdResp), &result);
        }
        case create_intr_chan:
            return CreateInterruptChannel(call);
        case destroy_intr_chan:
            if (interruptChannels_.erase(call.Connection()) == 0)
                return ReplyError(call, kChannelNotEstablished);
            interrupts_->Close(call.Connection());
            return ReplyError(call, kNoError);
        default:
            call.NoProcedure();
    }
}

void Vxi11Device::CreateLink(rpc::Call& call, Clock::time_point now) {
    Arguments<Create_LinkParms> args(call, xdr_Create_LinkParms);
    if (!args)
        return call.Garbage();
    Create_LinkResp result{};
    result.abortPort = abortPort_;
    result.maxRecvSize = limits_.maxRecvSize;
    if (!NamesTheDevice(args->device)) {
        result.error = kInvalidAddress;
    } else if (args->lockDevice && commands_.Lock().Held() && args->lock_timeout == 0) {
        // Asked with the lock and no time to wait for it: the link is not made.
        result.error = kDeviceLocked;
    } else if (!places_.Take()) {
        result.error = kOutOfResources;
        Say("VXI-11 link from " + call.PeerHost() +
            " refused: " + std::to_string(ClientPlaces::kMax) + " clients are connected");
    } else {
        while (links_.contains(nextLid_) || nextLid_ <= 0)
            nextLid_ = nextLid_ >= INT_MAX || nextLid_ <= 0 ? 1 : nextLid_ + 1;
        result.lid = nextLid_++;
        auto link =
            std::make_unique<Link>(result.lid, call.Connection(), commands_, limits_.session);
        const std::string host = call.PeerHost();
        link->session.Session().SetName(host.empty() ? "a VXI-11 link"
                                                     : "VXI-11 link from " + host);
        link->name = "VXI-11 link " + std::to_string(result.lid) + " from " + host;
        Say(link->name + " connected (" + std::to_string(places_.Taken()) + " of " +
            std::to_string(ClientPlaces::kMax) + " places taken)");
        // MSS may rise and fall within a line (*CLS;*OPC): each command is looked at.
        link->session.Session().SetCommandDone(
            [this, at = link.get()] { CheckServiceRequest(*at); });
        Link& made = *links_.emplace(result.lid, std::move(link)).first->second;
        // Held by another: the link waits for the lock up to the call's lock_timeout, and is
        // given up if it does not come.
        Waiting create;
        create.kind = Waiting::Kind::Create;
        create.connection = call.Connection();
        if (args->lockDevice && LockedOut(made, kFlagWaitLock, args->lock_timeout, create, now))
            return call.Defer();
        if (args->lockDevice)
            commands_.Lock().Take(made.session.Session().Origin(), made.session.Session().Name());
    }
    call.Reply(Xdr(xdr_Create_LinkResp), &result);
}

void Vxi11Device::DestroyLink(rpc::Call& call) {
    Arguments<Device_Link> lid(call, xdr_Device_Link);
    if (!lid)
        return call.Garbage();
    Link* link = Find(call, *lid);
    if (link != nullptr)
        Drop(*link, "closed");
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
    write.ioTimeout = std::chrono::milliseconds(args->io_timeout);
    if (LockedOut(*link, args->flags, args->lock_timeout, write, now)) {
        if (!link->waiting) {
            result.error = kDeviceLocked;
            call.Reply(Xdr(xdr_Device_WriteResp), &result);
        } else {
            call.Defer();
        }
        return;
    }
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
    read.ioTimeout = std::chrono::milliseconds(args->io_timeout);
    if ((args->flags & kFlagTermCharSet) != 0)
        read.termChar = args->termChar;
    if (LockedOut(*link, args->flags, args->lock_timeout, read, now)) {
        if (!link->waiting) {
            Device_ReadResp result{};
            result.error = kDeviceLocked;
            call.Reply(Xdr(xdr_Device_ReadResp), &result);
        } else {
            call.Defer();
        }
        return;
    }
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
    } else if (waiting.kind == Waiting::Kind::Create) {
        Create_LinkResp result{};
        result.error = error;
        result.lid = error == kNoError ? link.id : 0;
        result.abortPort = abortPort_;
        result.maxRecvSize = limits_.maxRecvSize;
        replies.Send(waiting.connection, Xdr(xdr_Create_LinkResp), &result);
        if (error != kNoError)
            Drop(link, "refused, the lock did not come");  // never made, as far as its client knows
    } else if (waiting.kind == Waiting::Kind::Generic) {
        std::uint8_t statusByte = 0;
        if (error == kNoError)
            statusByte = RunGeneric(link, waiting.procedure);
        if (waiting.procedure == device_readstb) {
            Device_ReadStbResp result{};
            result.error = error;
            result.stb = statusByte;
            replies.Send(waiting.connection, Xdr(xdr_Device_ReadStbResp), &result);
        } else {
            Device_Error result{error};
            replies.Send(waiting.connection, Xdr(xdr_Device_Error), &result);
        }
    } else {
        Device_WriteResp result{};
        result.error = error;
        replies.Send(waiting.connection, Xdr(xdr_Device_WriteResp), &result);
    }
}

void Vxi11Device::Generic(rpc::Call& call, Clock::time_point now) {
    Arguments<Device_GenericParms> args(call, xdr_Device_GenericParms);
    if (!args)
        return call.Garbage();
    Link* link = Find(call, args->lid);
    if (link == nullptr && call.Procedure() != device_readstb)
        return ReplyError(call, kInvalidLink);
    // Another client's lock keeps the link off the device: with waitlock it waits for it.
    Waiting generic;
    generic.kind = Waiting::Kind::Generic;
    generic.procedure = call.Procedure();
    generic.connection = call.Connection();
    const bool locked =
        link != nullptr && LockedOut(*link, args->flags, args->lock_timeout, generic, now);
    if (locked && link->waiting)
        return call.Defer();
    if (call.Procedure() == device_readstb) {
        Device_ReadStbResp result{};
        result.error = link == nullptr ? kInvalidLink : locked ? kDeviceLocked : kNoError;
        if (result.error == kNoError)
            result.stb = RunGeneric(*link, device_readstb);
        return call.Reply(Xdr(xdr_Device_ReadStbResp), &result);
    }
    if (locked)
        return ReplyError(call, kDeviceLocked);
    RunGeneric(*link, call.Procedure());
    ReplyError(call, kNoError);
}

std::uint8_t Vxi11Device::RunGeneric(Link& link, std::uint32_t procedure) {
    if (procedure == device_readstb)
        return static_cast<std::uint8_t>(link.session.StatusByte());
    if (procedure == device_trigger) {
        link.session.RunAtOnce("*TRG");
    } else if (procedure == device_clear) {
        link.session.Clear();
        link.outputFull = false;
    }
    return 0;  // device_remote and device_local: there is no front panel lock
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

void Vxi11Device::Lock(rpc::Call& call, Clock::time_point now) {
    Arguments<Device_LockParms> args(call, xdr_Device_LockParms);
    if (!args)
        return call.Garbage();
    Link* link = Find(call, args->lid);
    if (link == nullptr)
        return ReplyError(call, kInvalidLink);
    Waiting lock;
    lock.kind = Waiting::Kind::Lock;
    lock.connection = call.Connection();
    if (LockedOut(*link, args->flags, args->lock_timeout, lock, now))
        return link->waiting ? call.Defer() : ReplyError(call, kDeviceLocked);
    ScpiSession& session = link->session.Session();
    commands_.Lock().Take(session.Origin(), session.Name());
    ReplyError(call, kNoError);
}

void Vxi11Device::Unlock(rpc::Call& call) {
    Arguments<Device_Link> lid(call, xdr_Device_Link);
    if (!lid)
        return call.Garbage();
    Link* link = Find(call, *lid);
    if (link == nullptr)
        return ReplyError(call, kInvalidLink);
    ReplyError(call,
               commands_.Lock().Give(link->session.Session().Origin()) ? kNoError : kNoLockHeld);
}

bool Vxi11Device::LockedOut(Link& link, int flags, unsigned lockTimeout, Waiting& waiting,
                            Clock::time_point now) {
    if (!commands_.Lock().HeldByAnother(link.session.Session().Origin()))
        return false;
    if ((flags & kFlagWaitLock) != 0 && lockTimeout > 0) {
        waiting.forLock = true;
        waiting.deadline = now + std::chrono::milliseconds(lockTimeout);
        link.waiting = std::move(waiting);
    }
    return true;
}

void Vxi11Device::LockFreed(Clock::time_point now) {
    for (auto& [lid, entry] : links_) {
        Link& link = *entry;
        if (!link.waiting || !link.waiting->forLock)
            continue;
        ScpiSession& session = link.session.Session();
        if (commands_.Lock().HeldByAnother(session.Origin()))
            continue;  // a link before this one took it
        Waiting& waiting = *link.waiting;
        waiting.forLock = false;
        waiting.deadline = now + waiting.ioTimeout;
        if (waiting.kind == Waiting::Kind::Lock || waiting.kind == Waiting::Kind::Create) {
            commands_.Lock().Take(session.Origin(), session.Name());
            Answer(link, kNoError);
        } else if (waiting.kind == Waiting::Kind::Generic) {
            Answer(link, kNoError);
        } else {
            Progress(link);
        }
    }
}

void Vxi11Device::CreateInterruptChannel(rpc::Call& call) {
    Arguments<Device_RemoteFunc> args(call, xdr_Device_RemoteFunc);
    if (!args)
        return call.Garbage();
    if (interrupts_ == nullptr || args->progFamily != DEVICE_TCP)
        return ReplyError(call, kNotSupported);
    if (interruptChannels_.contains(call.Connection()))
        return ReplyError(call, kChannelAlreadyEstablished);
    interruptChannels_[call.Connection()] = true;
    interrupts_->Open(call.Connection(), args->hostAddr, args->hostPort, args->progNum,
                      args->progVers);
    ReplyError(call, kNoError);
}

void Vxi11Device::EnableServiceRequests(rpc::Call& call) {
    Arguments<Device_EnableSrqParms> args(call, xdr_Device_EnableSrqParms);
    if (!args)
        return call.Garbage();
    Link* link = Find(call, args->lid);
    if (link == nullptr)
        return ReplyError(call, kInvalidLink);
    link->srqEnabled = args->enable;
    link->srqHandle.assign(args->handle.handle_val, args->handle.handle_len);
    // A request already standing is no new edge.
    link->serviceRequested = (link->session.StatusByte() & scpi::kStatusMaster) != 0;
    ReplyError(call, kNoError);
}

void Vxi11Device::CheckServiceRequests() {
    for (auto& [lid, link] : links_)
        CheckServiceRequest(*link);
}

void Vxi11Device::CheckServiceRequest(Link& link) {
    if (!link.srqEnabled || link.ended)
        return;
    const bool requested = (link.session.StatusByte() & scpi::kStatusMaster) != 0;
    if (requested && !link.serviceRequested && interruptChannels_.contains(link.connection))
        interrupts_->Send(link.connection, link.srqHandle);
    link.serviceRequested = requested;
}

void Vxi11Device::ConnectionClosed(rpc::ConnectionId connection, bool idle) {
    const std::string why = idle ? "idle for " + idleText_ + ", closed by the server" : "closed";
    if (interruptChannels_.erase(connection) > 0)
        interrupts_->Close(connection);
    for (auto it = links_.begin(); it != links_.end();) {
        Link& link = *(it++)->second;
        if (link.connection == connection)
            Drop(link, why.c_str());
    }
}

// What a link was sent before it ended still runs, as a raw connection's does: the link keeps
// its place, unanswered and out of its client's reach, until its lines have run.
void Vxi11Device::Drop(Link& link, const char* why) {
    if (!link.ended)
        Say(link.name + " left: " + why);
    commands_.Lock().Give(link.session.Session().Origin());
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
        CheckServiceRequest(link);
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
    CheckServiceRequests();
}

void Vxi11Device::Expire(Clock::time_point now) {
    // A link waiting to be made goes when its wait ends.
    std::vector<int> expired;
    for (auto& [lid, link] : links_)
        if (link->waiting && link->waiting->deadline <= now)
            expired.push_back(lid);
    for (const int lid : expired)
        if (const auto it = links_.find(lid); it != links_.end() && it->second->waiting)
            Answer(*it->second, it->second->waiting->forLock ? kDeviceLocked : kIoTimeout);
}

std::optional<Vxi11Device::Clock::time_point> Vxi11Device::NextDeadline() const {
    std::optional<Clock::time_point> next;
    for (const auto& [lid, link] : links_)
        if (link->waiting && (!next || link->waiting->deadline < *next))
            next = link->waiting->deadline;
    return next;
}

void Vxi11Device::Say(const std::string& line) const {
    if (log_)
        log_(line);
}

}  // namespace tq::vxi11
