#pragma once
// The manual page's OPTIONS in roff, from the options table. Standard library only.

#include <string>
#include <string_view>

namespace tq {

// The template's line that the options replace.
inline constexpr std::string_view kManPageOptionsMarker = ".\\\" The options table goes here.";

// Text as roff prints it literally: hyphens as minus signs (so options can be searched and
// copied), backslashes escaped, and a leading full stop or apostrophe kept from reading as a
// request.
std::string RoffText(std::string_view text);

// The options, a subsection for each group, a tagged paragraph for each option.
std::string RoffOptions();

// The template with its marker line replaced by the options; false when it has no marker.
bool FillManPage(std::string_view manTemplate, std::string& page);

}  // namespace tq
