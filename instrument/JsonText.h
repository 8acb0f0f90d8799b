#pragma once
// The JSON text of the program's own files (setups), through nlohmann-json: read strictly, with
// what a person editing the file needs to hear where it stops being JSON ("line 3, column 7: a
// whole number expected"), and written as the program always wrote it. No value the program
// stores is a fraction, so numbers are whole (int64); a key twice in one object is refused, as
// which one was meant cannot be told. Size and nesting are bounded, so a hostile file costs little.

#include <cstddef>
#include <nlohmann/json_fwd.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tq {

// Objects keep the order of the file, so the program writes its keys in an order a reader expects.
using JsonDocument = nlohmann::ordered_json;

inline constexpr std::size_t kMaxJsonText = std::size_t{1} << 20;
inline constexpr int kMaxJsonNesting = 32;

class JsonTextError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws JsonTextError: "line L, column C: why" (columns counted in bytes from 1), or that the
// text is longer than 1 MiB. Objects and arrays may hold each other kMaxJsonNesting deep.
JsonDocument ReadJsonText(std::string_view text);

// `indent` 0: one line without a line feed (for the protocol); more: each member on its own line,
// indented by that many spaces a level, with a line feed at the end. Bytes that are not UTF-8
// are written as U+FFFD rather than refused.
std::string WriteJsonText(const JsonDocument& document, int indent);

}  // namespace tq
