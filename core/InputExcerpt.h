#pragma once
// How error messages quote what a user or a file gave: bounded and escaped, so that a huge or
// binary input cannot flood the output or smuggle control characters into it.

#include <cstddef>
#include <string>
#include <string_view>

namespace tq {

inline constexpr std::size_t kExcerptCharacters = 80;

// The first `maxCharacters` characters of `input` as printable UTF-8: control characters, DEL, C1
// controls and bytes that are not UTF-8 as \xNN (\t, \r, \n and \0 by name), a backslash as \\;
// "..." follows when the input was longer.
std::string InputExcerpt(std::string_view input, std::size_t maxCharacters = kExcerptCharacters);

// The excerpt between single quotes.
std::string QuotedInput(std::string_view input, std::size_t maxCharacters = kExcerptCharacters);

}  // namespace tq
