#pragma once
// ONC RPC's records on a byte stream (record marking: each fragment led by its length, the last
// one flagged) for the program's own RPC clients and the tests': a call as one record, and whole
// records taken off what has arrived. Standard library and libtirpc's XDR only.

#include <cstdint>
#include <optional>
#include <string>

#include "remote/vxi11/RpcCall.h"

namespace tq::rpc {

// A call of `program` `version` `procedure` with AUTH_NONE, its arguments encoded by `encode`
// (none when null), as one record; empty when they do not encode.
std::string CallRecord(std::uint32_t xid, std::uint32_t program, std::uint32_t version,
                       std::uint32_t procedure, xdrproc_t encode, const void* args);
// A record mark: the fragment's length and whether it is the record's last.
std::string RecordMark(std::uint32_t length, bool last);
// The next whole record's payload, taken off the front of `stream`; nothing while it has not all
// come.
std::optional<std::string> TakeRecord(std::string& stream);

// Decodes a reply to call `xid` into `result` with `decode`; its accept status (SUCCESS, ...) in
// `status` when given. False when it is not an accepted, successful reply to that call.
bool DecodeReply(std::string payload, std::uint32_t xid, xdrproc_t decode, void* result,
                 int* status = nullptr);

}  // namespace tq::rpc
