#pragma once
// The SCPI grammar of the remote-control server: framing bytes into lines, splitting a line into
// commands, parsing a command's header and parameters, matching headers against the command
// table, reading typed parameter values and formatting answers. Standard library only, so it can
// be unit-tested and fuzzed without Qt. Failures are thrown as ScpiError (remote/ScpiErrors.h).
//
// All work on a line is linear in its length: hostile input costs no more than ordinary input.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "remote/ScpiErrors.h"

namespace tq::scpi {

// ---- Line framing ---------------------------------------------------------------------------

// One line taken from the byte stream: its text, or the marker for a line that was too long and
// has been thrown away (the server queues -363 for it).
struct Line {
    bool overrun = false;
    std::string text;  // without the LF and a CR before it; empty for an overrun marker
};

// Cuts the byte stream of one client into lines. Memory stays bounded: a line longer than
// kMaxLineLength is not kept but discarded up to its LF, and reported once as an overrun. Each
// byte fed is examined once. Complete lines wait until Next() takes them, so the server should
// drain Next() after every Feed().
class LineAssembler {
public:
    static constexpr std::size_t kMaxLineLength = 65536;

    void Feed(const char* data, std::size_t size);
    std::optional<Line> Next();

    // Bytes held for the unfinished line (at most kMaxLineLength + 1, a possible trailing CR).
    std::size_t PartialSize() const { return partial_.size(); }

    // Whether a client's first line is an HTTP request, so the server can refuse a web browser
    // pointed at the port instead of answering it with SCPI errors.
    static bool LooksLikeHttp(std::string_view firstLine);

private:
    void EndLine();
    void Overrun();

    std::string partial_;
    bool discarding_ = false;  // inside a line already reported as an overrun
    std::deque<Line> lines_;
};

// ---- Commands and parameters ----------------------------------------------------------------

// Splits a line at ';' outside "..." and '...' strings. Each command comes back without the
// whitespace around it; empty commands (";;", a trailing ';', a blank line) are left out. An
// unbalanced quote runs to the end of the line, where ParseCommand reports it.
std::vector<std::string_view> SplitCommands(std::string_view line);

enum class ParamKind {
    kNumber,     // decimal number, possibly with a unit suffix: 1, -2.5e-3, 10 mV
    kCharacter,  // mnemonic such as ON, MIN; a leading sign is kept (-INF) so it reads as text
    kString,     // "..." or '...'
    kBlock,      // definite-length arbitrary block #<n><length><bytes>: value holds the bytes
};

struct Parameter {
    ParamKind kind = ParamKind::kNumber;
    std::string text;   // as typed, without surrounding whitespace
    std::string value;  // number: the digits part; character: the mnemonic; string: the contents
                        // with doubled quotes made single
    std::string unit;   // number only: the suffix as typed, empty if none
};

// A command header. Each part holds a mnemonic as typed, without ':', without '?' and without its
// numeric suffix, which is in `suffixes` at the same index (0 when none was typed; a typed suffix
// is always 1 or more). Common commands (*IDN?) have common = true and their one part is the
// mnemonic without '*'.
struct ParsedHeader {
    std::vector<std::string> headerParts;
    std::vector<int> suffixes;
    bool query = false;
    bool common = false;
};

struct ParsedCommand : ParsedHeader {
    std::vector<Parameter> params;
};

// Parses one command as returned by SplitCommands. Throws ScpiError: -102 for malformed text
// (illegal header characters, parameters not separated by commas, an empty parameter, an
// unterminated string), -114 for a typed suffix of 0 or one with more than nine digits.
ParsedCommand ParseCommand(std::string_view command);

// Throws -109 when the command has fewer than `min` parameters, -108 when it has more than `max`.
void CheckParamCount(const ParsedCommand& command, std::size_t min, std::size_t max);

// ---- Command table --------------------------------------------------------------------------

// Whether a mnemonic typed by a client names `mnemonic`, written with its short form in capitals
// ("SOURce"): the short or the long form, in any case. "SOUR", "source" match; "SOU", "SOURC" not.
bool MatchesMnemonic(std::string_view typed, std::string_view mnemonic);

enum class Forms { kSet = 1, kQuery = 2, kSetAndQuery = 3 };

struct MatchResult {
    int id = 0;
    bool query = false;
    int suffix = 1;  // the channel named by the '#' part; 1 when not typed
};

// The commands the server knows. A pattern is written like
// "SOURce#:VOLTage[:LEVel][:IMMediate][:AMPLitude]" or "*IDN": mnemonics with their short form in
// capitals, '#' after a mnemonic that takes a suffix 1..maxSuffix (at most one per pattern),
// optional parts in brackets ("[:LEVel]", or "[SOURce#:]" at the start).
class CommandTable {
public:
    explicit CommandTable(int maxSuffix = 4) : maxSuffix_(maxSuffix) {}

    // Throws std::invalid_argument for a malformed pattern. `maxSuffix` bounds the '#' part of
    // this pattern alone (the digital lines take 1 and 2); 0: the table's.
    void Add(int id, std::string_view pattern, Forms forms, int maxSuffix = 0);

    // The command a header names. Throws ScpiError -113 for a header no pattern names, or one
    // used in a form (set or query) its command lacks; -114 for a suffix on a part that takes
    // none or a suffix above maxSuffix.
    MatchResult Match(const ParsedHeader& header) const;

private:
    struct Node {
        std::string shortForm;  // upper case
        std::string longForm;   // upper case
        bool optional = false;
        bool takesSuffix = false;
    };
    struct Pattern {
        int id = 0;
        Forms forms = Forms::kSet;
        int maxSuffix = 0;
        bool common = false;
        std::vector<Node> nodes;
        std::size_t required = 0;  // nodes that are not optional
    };

    // Aligns typed (upper-case) parts from `part` on with the pattern's nodes from `node` on,
    // skipping optional nodes; records each part's node in nodeOf. Every step advances a node,
    // so the depth is bounded by the pattern's length.
    static bool Align(const Pattern& pattern, const std::vector<std::string>& parts,
                      std::size_t part, std::size_t node, std::vector<std::size_t>& nodeOf);

    int maxSuffix_;
    std::size_t longestPattern_ = 0;
    std::vector<Pattern> patterns_;
};

// ---- Parameter values -----------------------------------------------------------------------

// A unit suffix a number may carry, and its scale to the base unit as a power of ten (MV: -3).
// `name` is upper case; the typed suffix matches it in any case.
struct Unit {
    std::string_view name;
    int powerOfTen;
};
inline constexpr Unit kVoltUnits[] = {{"V", 0}, {"MV", -3}};
inline constexpr Unit kSecondUnits[] = {{"S", 0}, {"MS", -3}};

// A number within [min, max], MINimum/MAXimum meaning min/max. A unit from `units` scales the
// value; no unit means the base unit. Throws -104 for text, a string or a number too large for a
// double; -131 for a unit not in `units`; -222 for a value outside [min, max].
double ReadNumber(const Parameter& param, double min, double max, std::span<const Unit> units = {});

// ReadNumber in volts, accepting V and MV.
double ReadVoltage(const Parameter& param, double minVolts, double maxVolts);

// A whole number within [min, max], MINimum/MAXimum meaning min/max; no unit allowed. Throws as
// ReadNumber, and -224 for a fractional value.
std::int64_t ReadInteger(const Parameter& param, std::int64_t min, std::int64_t max);

// ON, OFF, 1 or 0. Throws -224 for other text or numbers, -104 for a string, -131 for a unit.
bool ReadBoolean(const Parameter& param);

// ---- Answers --------------------------------------------------------------------------------

// What a failed query answers in place of its value.
inline constexpr std::string_view kNotANumber = "9.91E+37";

// The shortest decimal text that reads back as the same float, without an exponent for
// magnitudes from 1e-4 up to 1e9: "5", "-2.0001", "10.5263", "0", "1e-06". NaN answers
// kNotANumber, infinities 9.9E+37 and -9.9E+37.
std::string FormatFloat(float value);
std::string FormatInt(std::int64_t value);

// ---- Running a line -------------------------------------------------------------------------

// Carries out one matched command; returns the answer for a query (ignored for a set command).
// Throws ScpiError when the command fails.
using CommandHandler = std::function<std::string(const MatchResult&, const ParsedCommand&)>;

// Runs every command of a line in order, each read from the root; a failure queues its error and
// the remaining commands still run. Returns the response line (answers joined by ';', a failed
// query answering kNotANumber) when the line held a query, otherwise nothing.
std::optional<std::string> ExecuteLine(std::string_view line, const CommandTable& table,
                                       const CommandHandler& handler, ErrorQueue& errors);

// A line run in parts: its commands, the next one to run and the answers so far.
struct LineProgress {
    std::vector<std::string> commands;
    std::size_t next = 0;
    std::optional<std::string> response;
};
LineProgress BeginLine(std::string_view line);
// Runs the line's commands on from `progress.next` as ExecuteLine does, stopping before a
// command while `hold()` is true (a command's work goes on after it returned). True when the
// line has run to its end.
bool ContinueLine(LineProgress& progress, const CommandTable& table, const CommandHandler& handler,
                  ErrorQueue& errors, const std::function<bool()>& hold);

}  // namespace tq::scpi
