#pragma once
// The SCPI grammar, read by the instrument protocol (remote/) and by the simulated bench meter
// (meter/): framing bytes into lines, splitting a line into commands, parsing a command's header
// and parameters, matching headers against a command table, reading typed parameter values and
// formatting answers. Standard library only, so it can be unit-tested and fuzzed without Qt.
// Failures are thrown as ScpiError (scpi/ScpiErrors.h).
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

#include "scpi/ScpiErrors.h"

namespace tq::scpi {

// ---- Line framing ---------------------------------------------------------------------------

// One line taken from the byte stream: its text, or the marker for a line that was too long and
// has been thrown away (the server queues -363 for it).
struct Line {
    bool overrun = false;
    std::string text;  // without the LF and a CR before it; empty for an overrun marker
};

// Cuts the byte stream of one client into lines (program messages). A line feed ends a line
// except inside a definite-length block (#<n><length><bytes>), whose bytes are taken as they
// come, line feeds and NULs included; #0 (an indefinite block) runs to the next line feed.
// Quoted strings are followed so that a '#' inside one starts no block.
//
// Memory stays bounded: a line longer than kMaxLineLength is not kept but discarded up to its
// end (a block announced longer than the line may be is skipped whole, so that its bytes are
// never read as commands), and reported once as an overrun. Each byte fed is examined once.
// Complete lines wait until Next() takes them, so the server should drain Next() after every
// Feed().
class LineAssembler {
public:
    static constexpr std::size_t kMaxLineLength = std::size_t{1} << 20;

    void Feed(const char* data, std::size_t size);
    // The end of a message where the transport marks it (VXI-11's END): a line left open ends
    // here as a line feed would end it, even inside a block or a quoted string.
    void EndMessage();
    std::optional<Line> Next();

    // Bytes held for the unfinished line (at most kMaxLineLength + 1, a possible trailing CR).
    std::size_t PartialSize() const { return partial_.size(); }
    // Bytes held in all: the complete lines not yet taken and the unfinished one.
    std::size_t HeldSize() const { return queued_ + partial_.size(); }
    // The bytes of a definite-length block still to come: they may be read in one piece, as no
    // line ends among them.
    std::size_t BlockBytesDue() const { return state_ == State::BlockBytes ? due_ : 0; }

    // Whether a client's first line is an HTTP request, so the server can refuse a web browser
    // pointed at the port instead of answering it with SCPI errors.
    static bool LooksLikeHttp(std::string_view firstLine);

private:
    enum class State {
        Text,          // a line feed ends the line
        Quoted,        // inside "..." or '...'
        Hash,          // after a '#': a block, a #H/#B/#Q number, or nothing
        LengthDigits,  // the length of a definite-length block
        BlockBytes,    // its bytes
        ToLineEnd,     // an indefinite block (#0)
    };
    // Takes data[0, size) into the line: its next bytes, with the state they leave.
    std::size_t Take(const char* data, std::size_t size);
    void Keep(const char* data, std::size_t size);
    void EndLine();
    void Overrun();

    std::string partial_;
    bool discarding_ = false;  // inside a line already reported as an overrun
    State state_ = State::Text;
    char quote_ = 0;
    std::size_t digits_ = 0;    // length digits still to come
    std::size_t due_ = 0;       // the block's length as read so far, then its bytes to come
    std::size_t blockEnd_ = 0;  // partial_'s size after the last block: its bytes keep a CR
    std::deque<Line> lines_;
    std::size_t queued_ = 0;  // the bytes of lines_
};

// ---- Commands and parameters ----------------------------------------------------------------

// Splits a line at ';' outside "..." and '...' strings and blocks. Each command comes back without
// the whitespace around it (a block's own bytes are kept, white space at its end included); empty
// commands (";;", a trailing ';', a blank line) are left out. An unbalanced quote runs to the end
// of the line, where ParseCommand reports it.
std::vector<std::string_view> SplitCommands(std::string_view line);

enum class ParamKind {
    kNumber,      // decimal number, possibly with a unit suffix: 1, -2.5e-3, 10 mV; or a
                  // #H/#B/#Q integer (#H1F, #B101, #Q17), its value then in decimal
    kCharacter,   // mnemonic such as ON, MIN; a leading sign is kept (-INF) so it reads as text
    kString,      // "..." or '...'
    kBlock,       // arbitrary block, #<n><length><bytes> or #0<bytes to the line's end>: value
                  // holds the bytes
    kExpression,  // (...), such as a meter's channel list (@101,102): value holds what is
                  // between the parentheses, commas included
};

struct Parameter {
    ParamKind kind = ParamKind::kNumber;
    std::string text;   // as typed, without surrounding whitespace
    std::string value;  // number: the digits part; character: the mnemonic; string: the contents
                        // with doubled quotes made single
    std::string unit;   // number only: the suffix as typed, empty if none
};

// The suffix of a header part typed as 0, or with more than nine digits: no header takes it.
inline constexpr int kNoSuchSuffix = -1;

// A command header. Each part holds a mnemonic as typed, without ':', without '?' and without its
// numeric suffix, which is in `suffixes` at the same index (0 when none was typed; a typed suffix
// is 1 or more, or kNoSuchSuffix). Common commands (*IDN?) have common = true and their one part
// is the mnemonic without '*'. `rooted`: the header began with ':'.
struct ParsedHeader {
    std::vector<std::string> headerParts;
    std::vector<int> suffixes;
    bool query = false;
    bool common = false;
    bool rooted = false;
};

struct ParsedCommand : ParsedHeader {
    std::vector<Parameter> params;
};

// The most parameters a command takes (a list's points): more are -223 before they are read, so
// that the memory a command costs stays bounded.
inline constexpr std::size_t kMaxParameters = 65536;

// Parses one command as returned by SplitCommands. Throws ScpiError: -102 for malformed text
// (illegal header characters, parameters not separated by commas, an empty parameter, an
// unterminated string), -223 for more than kMaxParameters parameters.
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
    // Every header that starts with `mnemonic` (written as in a pattern, "CONFigure"), whatever
    // follows it, suffixes included: a subsystem taken whole. Rows added before it come first.
    void AddSubsystem(int id, std::string_view mnemonic, Forms forms);

    // The command a header names. Throws ScpiError -113 for a header no pattern names (whatever
    // its suffixes: NOPE0 as NOPE1), or one used in a form (set or query) its command lacks; -114
    // for a suffix on a part that takes none, or one outside 1..maxSuffix.
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
        bool anyBelow = false;     // a subsystem taken whole: any mnemonics may follow
    };

    // Aligns typed (upper-case) parts from `part` on with the pattern's nodes from `node` on,
    // skipping optional nodes; records each part's node in nodeOf. Every step advances a node,
    // so the depth is bounded by the pattern's length.
    static bool Align(const Pattern& pattern, const std::vector<std::string>& parts,
                      std::size_t part, std::size_t node, std::vector<std::size_t>& nodeOf);

    int maxSuffix_;
    std::size_t longestPattern_ = 0;
    bool subsystems_ = false;  // a pattern takes headers of any length
    std::vector<Pattern> patterns_;
};

// ---- Parameter values -----------------------------------------------------------------------

// A unit suffix a number may carry, and its scale to the base unit as a power of ten (MV: -3).
// `name` is upper case; the typed suffix matches it in any case (SCPI's M is milli: "mV" is
// "MV"). `shown`: how an error message writes the base unit.
struct Unit {
    std::string_view name;
    int powerOfTen;
    std::string_view shown = {};
};
inline constexpr Unit kVoltUnits[] = {{"V", 0, "V"}, {"MV", -3}, {"UV", -6}, {"KV", 3}};
inline constexpr Unit kSecondUnits[] = {{"S", 0, "s"}, {"MS", -3}, {"US", -6}, {"KS", 3}};

// A number within [min, max]: MINimum and MAXimum stand for min and max, DEFault for `def` (-224
// where the setting has none). A unit from `units` scales the value; no unit means the base
// unit. Throws -104 for other text, a string or a number too large for a double; -131 for a unit
// not in `units`; -222 for a value outside [min, max], saying the range.
double ReadNumber(const Parameter& param, double min, double max, std::span<const Unit> units = {},
                  std::optional<double> def = {});

// ReadNumber in volts, accepting UV, MV, V and KV.
double ReadVoltage(const Parameter& param, double minVolts, double maxVolts,
                   std::optional<double> def = {});

// A whole number within [min, max], as ReadNumber reads it without a unit; a #H, #B or #Q
// integer too. Throws as ReadNumber, and -224 for a fractional value.
std::int64_t ReadInteger(const Parameter& param, std::int64_t min, std::int64_t max,
                         std::optional<std::int64_t> def = {});

// Whether a parameter is MINimum, MAXimum or DEFault.
bool IsMinimum(const Parameter& param);
bool IsMaximum(const Parameter& param);
bool IsDefault(const Parameter& param);

// The -222 of a value outside [min, max]: "12 V is outside -10 V to 10 V". `unit` as shown after
// each number, empty for none.
ScpiError OutOfRange(double value, double min, double max, std::string_view unit = {});

// A number as an error message writes it: whole numbers in full ("65535"), others in the
// shortest text that reads back ("10.5263", "1e+30").
std::string NumberText(double value);

// How a client wants the numbers of a list to travel: FORMat[:DATA] and FORMat:BORDer. Each
// client has its own, as it has its own error queue.
struct DataFormat {
    enum class Type {
        kAscii,      // numbers as text, joined by commas
        kInteger16,  // a block of unsigned 16-bit words
        kReal32,     // a block of IEEE 754 single-precision numbers
        kReal64,     // a block of IEEE 754 double-precision numbers
    };
    Type type = Type::kAscii;
    bool swapped = false;  // SWAPped: the least significant byte first; NORMal: the most
    // *RST's state: ASCii, NORMal.
    void Reset() { *this = DataFormat{}; }
};

// 16-bit words as a block's bytes in the format's byte order, and back. Decoding throws -104 for
// an odd number of bytes.
std::string EncodeWords(std::span<const std::uint16_t> words, bool swapped);
std::vector<std::uint16_t> DecodeWords(std::string_view bytes, bool swapped);

// How many numbers of `bytesEach` bytes a block holds, so that a caller bounds them before they
// are decoded. Throws -104 when its length is not a multiple of `bytesEach`.
std::size_t CountInBlock(std::string_view bytes, std::size_t bytesEach);

// IEEE 754 numbers, single precision (`bytesEach` 4) or double (8), as a block's bytes in the
// format's byte order, and back; single precision rounds each value to the nearest float.
// Decoding throws as CountInBlock; NaN and infinities come back as they were sent.
std::string EncodeReals(std::span<const double> values, std::size_t bytesEach, bool swapped);
std::vector<double> DecodeReals(std::string_view bytes, std::size_t bytesEach, bool swapped);

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

// Runs every command of a line in order; a failure queues its error and the remaining commands
// still run. After a ';' a header is looked up first below the path the previous command left
// (SCPI-99: "SOUR2:VOLT 1;DATA?" asks SOUR2:DATA?), then, when nothing is found there, from the
// root; a leading ':' goes to the root and a common command keeps the path. Returns the response
// line (answers joined by ';', a failed query answering kNotANumber) when the line held a query,
// otherwise nothing.
std::optional<std::string> ExecuteLine(std::string_view line, const CommandTable& table,
                                       const CommandHandler& handler, ErrorQueue& errors);

// A line run in parts: the line, where its next command starts, the answers so far and the path
// the last command left (its header without the last mnemonic). Each command is cut from the line
// when it runs, so a line of many commands costs no more than its own bytes.
struct LineProgress {
    std::string line;
    std::size_t next = 0;
    std::optional<std::string> response;
    ParsedHeader path;
    // Whether every command of the line has run.
    bool Ended() const { return next >= line.size(); }
};
LineProgress BeginLine(std::string_view line);
// Runs the line's commands on from `progress.next` as ExecuteLine does, stopping before a
// command while `hold()` is true (a command's work goes on after it returned). True when the
// line has run to its end.
bool ContinueLine(LineProgress& progress, const CommandTable& table, const CommandHandler& handler,
                  ErrorQueue& errors, const std::function<bool()>& hold);

}  // namespace tq::scpi
