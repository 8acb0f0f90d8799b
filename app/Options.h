#pragma once
// The command line's options, one row each. main.cpp builds its parser from this table and
// tq2604x-eval-manpage writes the manual page's OPTIONS from it, so --help and the manual page
// cannot disagree. Standard library only: the generator runs at build time without Qt.

#include <span>
#include <string_view>

namespace tq {

// The manual page's subsections, in this order.
enum class OptionGroup { Board, Windows, Remote, Information };

struct OptionRow {
    std::string_view name;       // the long name without its dashes: "sim-setup"
    std::string_view shortName;  // one letter, or empty
    std::string_view valueName;  // empty: a switch without a value
    std::string_view help;       // one or two sentences, as --help and the manual page print them
    OptionGroup group;
};

// Every option, in the order --help and the manual page list them.
std::span<const OptionRow> CommandLineOptions();

// The manual page's subsection title of a group.
std::string_view GroupTitle(OptionGroup group);

}  // namespace tq
