#pragma once
// One ONC RPC call as a service sees it: its procedure, the connection it came on, its arguments
// and its reply, given at once or later. The server (RpcServer) makes them from libtirpc's
// transports, the fuzz target from bytes in memory; the VXI-11 handlers cannot tell the two apart.
// Standard library and libtirpc's XDR only.

#include <rpc/rpc.h>

#include <cstdint>
#include <string>

namespace tq::rpc {

using ConnectionId = int;

// An XDR routine, as libtirpc takes it (its type leaves the arguments open).
template <typename T>
xdrproc_t Xdr(bool_t (*routine)(XDR*, T*)) {
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(routine));
}
inline xdrproc_t Xdr(bool_t (*routine)()) {
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(routine));
}

class Call {
public:
    virtual ~Call() = default;
    virtual std::uint32_t Procedure() const = 0;
    virtual ConnectionId Connection() const = 0;
    // The caller's address as a person reads it ("127.0.0.1", "[::1]"), or "" when unknown.
    virtual std::string PeerHost() const { return {}; }
    // Decodes the arguments into `args`, which starts zeroed; false when they do not decode
    // (answer Garbage()). What decoding allocated stays until Free().
    virtual bool Decode(xdrproc_t decode, void* args) = 0;
    virtual void Free(xdrproc_t decode, void* args) = 0;
    virtual void Reply(xdrproc_t encode, const void* result) = 0;
    // The reply comes later, through Replies::Send(Connection(), ...); the connection takes no
    // other call until then.
    virtual void Defer() = 0;
    virtual void NoProcedure() = 0;
    virtual void Garbage() = 0;
};

// Where deferred replies go.
class Replies {
public:
    virtual ~Replies() = default;
    // False when the connection has gone meanwhile.
    virtual bool Send(ConnectionId connection, xdrproc_t encode, const void* result) = 0;
};

// A call's arguments of type T, decoded and freed with the call.
template <typename T>
class Arguments {
public:
    Arguments(Call& call, bool_t (*routine)(XDR*, T*)) : call_(call), routine_(Xdr(routine)) {
        decoded_ = call_.Decode(routine_, &value_);
    }
    ~Arguments() { call_.Free(routine_, &value_); }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    explicit operator bool() const { return decoded_; }
    const T& operator*() const { return value_; }
    const T* operator->() const { return &value_; }

private:
    Call& call_;
    xdrproc_t routine_;
    T value_{};
    bool decoded_ = false;
};

}  // namespace tq::rpc
