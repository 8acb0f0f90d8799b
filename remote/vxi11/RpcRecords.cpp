#include "remote/vxi11/RpcRecords.h"

#include <arpa/inet.h>

#include <cstring>
#include <vector>

namespace tq::rpc {
namespace {

constexpr std::uint32_t kLastFragment = 0x80000000u;

}  // namespace

std::string RecordMark(std::uint32_t length, bool last) {
    const std::uint32_t mark = htonl(length | (last ? kLastFragment : 0u));
    return std::string(reinterpret_cast<const char*>(&mark), sizeof mark);
}

std::string CallRecord(std::uint32_t xid, std::uint32_t program, std::uint32_t version,
                       std::uint32_t procedure, xdrproc_t encode, const void* args) {
    // The header with AUTH_NONE takes 40 bytes.
    std::vector<char> body(64 +
                           (encode != nullptr ? xdr_sizeof(encode, const_cast<void*>(args)) : 0));
    XDR xdrs;
    xdrmem_create(&xdrs, body.data(), static_cast<u_int>(body.size()), XDR_ENCODE);
    rpc_msg call{};
    call.rm_xid = xid;
    call.rm_direction = CALL;
    call.rm_call.cb_rpcvers = RPC_MSG_VERSION;
    call.rm_call.cb_prog = program;
    call.rm_call.cb_vers = version;
    call.rm_call.cb_proc = procedure;  // credentials and verifier: AUTH_NONE, all zero
    const bool encoded =
        xdr_callmsg(&xdrs, &call) && (encode == nullptr || encode(&xdrs, const_cast<void*>(args)));
    const u_int length = xdr_getpos(&xdrs);
    xdr_destroy(&xdrs);
    if (!encoded)
        return {};
    return RecordMark(length, true) + std::string(body.data(), length);
}

std::optional<std::string> TakeRecord(std::string& stream) {
    std::string payload;
    std::size_t at = 0;
    while (stream.size() - at >= 4) {
        std::uint32_t mark = 0;
        std::memcpy(&mark, stream.data() + at, sizeof mark);
        mark = ntohl(mark);
        const std::size_t length = mark & ~kLastFragment;
        if (stream.size() - at - 4 < length)
            return std::nullopt;
        payload.append(stream, at + 4, length);
        at += 4 + length;
        if ((mark & kLastFragment) != 0) {
            stream.erase(0, at);
            return payload;
        }
    }
    return std::nullopt;
}

bool DecodeReply(std::string payload, std::uint32_t xid, xdrproc_t decode, void* result,
                 int* status) {
    XDR xdrs;
    xdrmem_create(&xdrs, payload.data(), static_cast<u_int>(payload.size()), XDR_DECODE);
    rpc_msg reply{};
    reply.acpted_rply.ar_results.where = static_cast<caddr_t>(result);
    reply.acpted_rply.ar_results.proc = decode;
    const bool decoded = xdr_replymsg(&xdrs, &reply) && reply.rm_xid == xid &&
                         reply.rm_direction == REPLY && reply.rm_reply.rp_stat == MSG_ACCEPTED;
    xdr_destroy(&xdrs);
    if (status != nullptr)
        *status = decoded ? reply.acpted_rply.ar_stat : -1;
    return decoded && reply.acpted_rply.ar_stat == SUCCESS;
}

}  // namespace tq::rpc
