#include "adapter/tracing/TracingAdapter.h"

#include <utility>

#include "core/Printed.h"

namespace tq {

namespace {

std::string Hex(uint32_t v) {
    return Printed("0x%X", static_cast<unsigned>(v));
}

std::string Hex(int32_t v) {
    return Hex(static_cast<uint32_t>(v));
}

std::string Result(int32_t result) {
    return " result=" + std::to_string(result);
}

}  // namespace

TracingAdapter::TracingAdapter(Adapter& inner, std::size_t maxLines)
    : inner_(inner), maxLines_(maxLines) {}

int32_t TracingAdapter::Search_For_Boards(int32_t vendorId, int32_t productId, int32_t* count,
                                          uint8_t* list) {
    const int32_t result = inner_.Search_For_Boards(vendorId, productId, count, list);
    Add("Search_For_Boards vid=" + Hex(vendorId) + " pid=" + Hex(productId) + Result(result));
    return result;
}

int32_t TracingAdapter::Connect(int32_t vendorId, int32_t productId, uint8_t board,
                                int32_t* handle) {
    const int32_t result = inner_.Connect(vendorId, productId, board, handle);
    Add("Connect vid=" + Hex(vendorId) + " pid=" + Hex(productId) +
        " board=" + Hex(uint32_t{board}) + Result(result));
    return result;
}

int32_t TracingAdapter::Download_Firmware(int32_t handle, const uint8_t* path) {
    const int32_t result = inner_.Download_Firmware(handle, path);
    const std::string text = path ? std::string(reinterpret_cast<const char*>(path)) : "";
    Add("Download_Firmware path=" + text + Result(result));
    return result;
}

int32_t TracingAdapter::Vendor_Request(int32_t handle, uint8_t request, int32_t value,
                                       int32_t index, uint8_t direction, int32_t length,
                                       uint8_t* buffer) {
    const int32_t result =
        inner_.Vendor_Request(handle, request, value, index, direction, length, buffer);
    std::string line = "Vendor_Request req=" + Hex(uint32_t{request}) + " value=" + Hex(value) +
                       " index=" + Hex(index) + " dir=" + std::to_string(direction) +
                       " len=" + std::to_string(length);
    if (length > 0 && buffer) {
        line += " reply=";
        for (int32_t i = 0; i < length; ++i) {
            line += Printed(i ? " %02X" : "%02X", static_cast<unsigned>(buffer[i]));
        }
    }
    Add(std::move(line) + Result(result));
    return result;
}

std::vector<std::string> TracingAdapter::TakeLines(std::size_t& dropped) {
    dropped = dropped_;
    dropped_ = 0;
    std::vector<std::string> lines(std::make_move_iterator(lines_.begin()),
                                   std::make_move_iterator(lines_.end()));
    lines_.clear();
    return lines;
}

void TracingAdapter::Add(std::string line) {
    lines_.push_back(std::move(line));
    while (lines_.size() > maxLines_) {
        lines_.pop_front();
        ++dropped_;
    }
}

}  // namespace tq
