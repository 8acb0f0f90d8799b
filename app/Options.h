#pragma once
// The command line's options, one row each: the name and help that --help and the manual page
// print, what the value must be, and which other options it needs or excludes. main.cpp parses
// by this table and tq2604x-eval-manpage writes the manual page's OPTIONS from it, so --help, the
// manual page and the parsing cannot disagree. Standard library only: the generator runs at build
// time without Qt.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tq {

// The manual page's subsections, in this order.
enum class OptionGroup { Board, Windows, Remote, Information };

// What an option's value must be.
enum class OptionValue {
    None,    // a switch
    Text,    // anything (a file, a location, a host name): main.cpp reads it once all rules hold
    Number,  // a whole number from `min` to `max`
    Choice,  // one of the words of `choices`
};

struct OptionRule {
    std::string_view options = {};  // option names, separated by spaces
    std::string_view error = {};    // the usage error when the rule is broken
};

struct OptionRow {
    std::string_view name = {};       // the long name without its dashes: "sim-setup"
    std::string_view shortName = {};  // one letter, or empty
    std::string_view valueName = {};  // empty: a switch without a value
    std::string_view help = {};  // one or two sentences, as --help and the manual page print them
    OptionGroup group = OptionGroup::Board;
    OptionValue value = OptionValue::None;
    uint64_t min = 0;
    uint64_t max = 0;
    std::string_view choices = {};
    std::string_view badValue = {};  // the usage error when the value does not read
    // Each rule given: one of its options must be given with it (checked in this order).
    OptionRule needs[2] = {};
    OptionRule excludes = {};  // none of these may be given with it
};

// Every option, in the order --help and the manual page list them.
std::span<const OptionRow> CommandLineOptions();

// The manual page's subsection title of a group.
std::string_view GroupTitle(OptionGroup group);

// An option's value as given on the command line (empty for a switch), or nothing when it was
// not given.
using GivenOption = std::function<std::optional<std::string>(std::string_view name)>;

// Checks the given options against the table: every value first, then what each needs and
// excludes, in the table's order. The first usage error, or an empty text when all hold.
std::string CheckOptions(const GivenOption& given);

// A Number option's value as CheckOptions reads it.
std::optional<uint64_t> OptionNumber(std::string_view text, uint64_t max);

}  // namespace tq
