#include "scpi/ScpiGrammar.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace tq::scpi {
namespace {

// IEEE 488.2 white space: every control character except LF, and the blank.
bool IsSpace(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 && c != '\n';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
char ToUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string Upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), ToUpper);
    return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return ToUpper(x) == ToUpper(y);
           });
}

// The length of the block starting at text[i]: a definite-length block's header and data
// ("#215..."), or an indefinite one ("#0...") to the end of the text; 0 when no block header
// starts there.
std::size_t BlockLength(std::string_view text, std::size_t i) {
    if (i + 1 >= text.size() || text[i] != '#' || !IsDigit(text[i + 1]))
        return 0;
    if (text[i + 1] == '0')
        return text.size() - i;
    const std::size_t digits = static_cast<std::size_t>(text[i + 1] - '0');
    if (i + 2 + digits > text.size())
        return 0;
    std::size_t length = 0;
    for (std::size_t k = i + 2; k < i + 2 + digits; ++k) {
        if (!IsDigit(text[k]))
            return 0;
        length = length * 10 + static_cast<std::size_t>(text[k] - '0');
    }
    return 2 + digits + length;
}

// text[start, end) without white space around it; white space up to `kept` stays (a block's own
// bytes).
std::string_view TrimPiece(std::string_view text, std::size_t start, std::size_t end,
                           std::size_t kept) {
    while (start < end && IsSpace(text[start]))
        ++start;
    while (end > std::max(start, kept) && IsSpace(text[end - 1]))
        --end;
    return text.substr(start, end - start);
}

// Walks `text`, calling at(i, blockEnd) for each character outside quoted strings and blocks,
// blockEnd being where the last block before it ended (0: none), until `at` returns false. A
// block's bytes may hold anything, separators, quotes and white space too. Returns where the last
// block ended.
template <typename At>
std::size_t ScanOutsideQuotes(std::string_view text, At&& at) {
    char quote = 0;
    std::size_t blockEnd = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;  // a doubled quote closes and reopens: the same result
        } else if (c == '#' && BlockLength(text, i) != 0) {
            blockEnd = std::min(text.size(), i + BlockLength(text, i));
            i = blockEnd - 1;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (!at(i, blockEnd)) {
            break;
        }
    }
    return blockEnd;
}

// Splits at `separator` outside quoted strings and blocks; pieces come back trimmed, empty ones
// included. Beyond `limit` pieces the rest of the text is the last one, unsplit. A ',' inside
// parentheses belongs to an expression's list ("(@101,102)"); a ';' ends a command wherever it
// stands, as no expression may hold one.
std::vector<std::string_view> SplitOutsideQuotes(
    std::string_view text, char separator,
    std::size_t limit = std::numeric_limits<std::size_t>::max()) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    std::size_t depth = 0;  // of parentheses
    const std::size_t blockEnd = ScanOutsideQuotes(text, [&](std::size_t i, std::size_t kept) {
        if (text[i] == '(') {
            ++depth;
        } else if (text[i] == ')' && depth > 0) {
            --depth;
        } else if (text[i] == separator && (depth == 0 || separator == ';')) {
            pieces.push_back(TrimPiece(text, start, i, kept));
            start = i + 1;
        }
        return pieces.size() < limit;
    });
    pieces.push_back(TrimPiece(text, start, text.size(), blockEnd));
    return pieces;
}

// The whole of `text` without white space around it, a block's bytes kept whole.
std::string_view TrimKeepingBlocks(std::string_view text) {
    return TrimPiece(text, 0, text.size(),
                     ScanOutsideQuotes(text, [](std::size_t, std::size_t) { return true; }));
}

// The command of `line` that starts at `start`, trimmed, and where the one after it starts.
std::string_view CommandAt(std::string_view line, std::size_t start, std::size_t& next) {
    const std::string_view rest = line.substr(start);
    std::size_t end = rest.size();
    const std::size_t blockEnd = ScanOutsideQuotes(rest, [&](std::size_t i, std::size_t) {
        if (rest[i] != ';')
            return true;
        end = i;
        return false;
    });
    next = start + std::min(rest.size(), end + 1);
    return TrimPiece(rest, 0, end, std::min(end, blockEnd));
}

// Past white space and empty commands (";;", a trailing ';').
std::size_t SkipEmptyCommands(std::string_view line, std::size_t pos) {
    while (pos < line.size() && (IsSpace(line[pos]) || line[pos] == ';'))
        ++pos;
    return pos;
}

// One header mnemonic with its optional numeric suffix, starting at text[pos]; pos moves past it.
void ParseHeaderPart(std::string_view text, std::size_t& pos, ParsedHeader& header) {
    const std::size_t start = pos;
    if (pos >= text.size() || !IsAlpha(text[pos])) {
        throw ScpiError(kSyntaxError);
    }
    while (pos < text.size() && (IsAlpha(text[pos]) || text[pos] == '_')) {
        ++pos;
    }
    header.headerParts.emplace_back(text.substr(start, pos - start));
    const std::size_t digitsStart = pos;
    int suffix = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
        // Beyond nine digits: far beyond any channel, and beyond int.
        if (pos - digitsStart < 9) {
            suffix = suffix * 10 + (text[pos] - '0');
        }
        ++pos;
    }
    // A suffix no header takes; whether the mnemonic names a header at all is the table's to say.
    if (pos > digitsStart && (suffix == 0 || pos - digitsStart > 9)) {
        suffix = kNoSuchSuffix;
    }
    header.suffixes.push_back(suffix);
}

// "..." or '...' making up the whole of `text`; a doubled quote stands for one.
Parameter ParseString(std::string_view text) {
    const char quote = text.front();
    Parameter param{ParamKind::kString, std::string(text), {}, {}};
    std::size_t i = 1;
    while (true) {
        if (i >= text.size()) {
            throw ScpiError(kSyntaxError);  // unterminated
        }
        if (text[i] == quote) {
            if (i + 1 < text.size() && text[i + 1] == quote) {
                param.value += quote;
                i += 2;
                continue;
            }
            break;
        }
        param.value += text[i++];
    }
    if (i + 1 != text.size()) {
        throw ScpiError(kSyntaxError);  // text after the closing quote
    }
    return param;
}

// A decimal number with an optional unit suffix, making up the whole of `text`.
Parameter ParseNumber(std::string_view text) {
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && IsDigit(text[i])) {
            ++i;
        }
        return i - start;
    };
    if (text[i] == '+' || text[i] == '-') {
        ++i;
    }
    std::size_t mantissaDigits = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissaDigits += digits();
    }
    if (mantissaDigits == 0) {
        throw ScpiError(kSyntaxError);
    }
    // An E starts an exponent only when digits follow; otherwise it begins a unit.
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            ++j;
        }
        if (j < text.size() && IsDigit(text[j])) {
            i = j;
            digits();
        }
    }
    const std::size_t numberEnd = i;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    const std::size_t unitStart = i;
    while (i < text.size() && IsAlpha(text[i])) {
        ++i;
    }
    if (i != text.size()) {
        throw ScpiError(kSyntaxError);
    }
    return Parameter{ParamKind::kNumber, std::string(text), std::string(text.substr(0, numberEnd)),
                     std::string(text.substr(unitStart))};
}

// A #H (hexadecimal), #B (binary) or #Q (octal) integer making up the whole of `text`; its value
// goes on in decimal, so that it reads wherever a number does. Beyond 2^53 the value is the
// nearest double: far beyond any range a command takes, and reported as such.
Parameter ParseNonDecimal(std::string_view text) {
    int base = 0;
    switch (ToUpper(text[1])) {
        case 'H':
            base = 16;
            break;
        case 'B':
            base = 2;
            break;
        case 'Q':
            base = 8;
            break;
        default:
            throw ScpiError(kSyntaxError);
    }
    if (text.size() < 3) {
        throw ScpiError(kSyntaxError);
    }
    double value = 0.0;
    for (const char c : text.substr(2)) {
        const char u = ToUpper(c);
        const int digit = IsDigit(u) ? u - '0' : (u >= 'A' && u <= 'F' ? u - 'A' + 10 : 99);
        if (digit >= base) {
            throw ScpiError(kSyntaxError);
        }
        value = value * base + digit;
    }
    std::array<char, 32> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    return Parameter{ParamKind::kNumber, std::string(text), std::string(digits.data(), end), {}};
}

// An expression making up the whole of `text`: "(", then anything but parentheses and quotes,
// then ")".
Parameter ParseExpression(std::string_view text) {
    if (text.size() < 2 || text.back() != ')') {
        throw ScpiError(kSyntaxError);
    }
    const std::string_view inside = text.substr(1, text.size() - 2);
    if (inside.find_first_of("()\"'") != std::string_view::npos) {
        throw ScpiError(kSyntaxError);
    }
    return Parameter{ParamKind::kExpression, std::string(text), std::string(inside), {}};
}

// A mnemonic, possibly signed, making up the whole of `text`.
Parameter ParseCharacter(std::string_view text) {
    std::size_t i = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (i >= text.size() || !IsAlpha(text[i])) {
        throw ScpiError(kSyntaxError);
    }
    while (i < text.size() && (IsAlpha(text[i]) || IsDigit(text[i]) || text[i] == '_')) {
        ++i;
    }
    if (i != text.size()) {
        throw ScpiError(kSyntaxError);
    }
    return Parameter{ParamKind::kCharacter, std::string(text), std::string(text), {}};
}

Parameter ParseParameter(std::string_view text) {
    if (text.empty()) {
        throw ScpiError(kSyntaxError);
    }
    const char first = text.front();
    if (first == '#' && text.size() > 1 && !IsDigit(text[1])) {
        return ParseNonDecimal(text);
    }
    if (first == '#') {
        const std::size_t block = BlockLength(text, 0);
        if (block == 0 || block != text.size())
            throw ScpiError(kSyntaxError);
        Parameter p;
        p.kind = ParamKind::kBlock;
        p.text = std::string(text);
        const std::size_t header = 2 + static_cast<std::size_t>(text[1] - '0');
        p.value = std::string(text.substr(header));
        return p;
    }
    if (first == '"' || first == '\'') {
        return ParseString(text);
    }
    if (first == '(') {
        return ParseExpression(text);
    }
    if (IsAlpha(first) || ((first == '+' || first == '-') && text.size() > 1 && IsAlpha(text[1]))) {
        return ParseCharacter(text);
    }
    if (IsDigit(first) || first == '+' || first == '-' || first == '.') {
        return ParseNumber(text);
    }
    throw ScpiError(kSyntaxError);
}

// The power of ten of the leading digit of a number ParseNumber accepted (1 for "5", 0 for "0.5"),
// or nothing for zero. Used only to tell overflow from underflow; saturates on huge exponents.
std::optional<long long> LeadingMagnitude(std::string_view number) {
    std::size_t i = (number[0] == '+' || number[0] == '-') ? 1 : 0;
    long long magnitude = 0;
    bool found = false;
    bool afterPoint = false;
    for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
        if (number[i] == '.') {
            afterPoint = true;
        } else if (!found && number[i] == '0') {
            magnitude -= afterPoint ? 1 : 0;
        } else {
            found = true;
            magnitude += afterPoint ? 0 : 1;
        }
    }
    if (!found) {
        return std::nullopt;
    }
    if (i + 1 < number.size()) {
        long long exponent = 0;
        const bool negative = number[i + 1] == '-';
        for (++i; i < number.size(); ++i) {
            if (IsDigit(number[i]) && exponent < 1'000'000) {
                exponent = exponent * 10 + (number[i] - '0');
            }
        }
        magnitude += negative ? -exponent : exponent;
    }
    return magnitude;
}

// The value of a number ParseNumber accepted; nothing when it is too large for a double. Too small
// a number reads as zero.
std::optional<double> NumberValue(std::string_view number) {
    const bool negative = number.front() == '-';
    if (number.front() == '+') {
        number.remove_prefix(1);  // from_chars takes no plus sign
    }
    double value = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (end != number.data() + number.size()) {
        return std::nullopt;
    }
    if (ec == std::errc::result_out_of_range) {
        const std::optional<long long> magnitude = LeadingMagnitude(number);
        if (magnitude && *magnitude > 0) {
            return std::nullopt;
        }
        return negative ? -0.0 : 0.0;
    }
    if (ec != std::errc() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// The number a parameter holds, in its base unit; no range check.
double ScaledNumber(const Parameter& param, std::span<const Unit> units) {
    if (param.kind != ParamKind::kNumber) {
        throw ScpiError(kDataTypeError);
    }
    int powerOfTen = 0;
    if (!param.unit.empty()) {
        const auto unit = std::find_if(units.begin(), units.end(), [&](const Unit& u) {
            return EqualsIgnoringCase(param.unit, u.name);
        });
        if (unit == units.end()) {
            throw ScpiError(kInvalidSuffix);
        }
        powerOfTen = unit->powerOfTen;
    }
    const std::optional<double> value = NumberValue(param.value);
    if (!value) {
        throw ScpiError(kDataTypeError);
    }
    if (powerOfTen == 0) {
        return *value;
    }
    // Dividing by an exact power of ten keeps "1500 mV" at exactly 1.5.
    const double factor = std::pow(10.0, std::abs(powerOfTen));
    const double scaled = powerOfTen < 0 ? *value / factor : *value * factor;
    if (!std::isfinite(scaled)) {
        throw ScpiError(kDataTypeError);
    }
    return scaled;
}

}  // namespace

// ---- Line framing ---------------------------------------------------------------------------

void LineAssembler::Feed(const char* data, std::size_t size) {
    while (size > 0) {
        const std::size_t taken = Take(data, size);
        data += taken;
        size -= taken;
    }
}

// Each call takes a run of bytes that need no look: up to the next byte that may change the
// state, or the block bytes due.
std::size_t LineAssembler::Take(const char* data, std::size_t size) {
    const char c = data[0];
    switch (state_) {
        case State::BlockBytes: {
            const std::size_t n = std::min(size, due_);
            Keep(data, n);
            due_ -= n;
            if (due_ == 0) {
                state_ = State::Text;
                blockEnd_ = partial_.size();
            }
            return n;
        }
        case State::LengthDigits:
            if (!IsDigit(c)) {
                state_ = State::Text;  // no block after all: the parser says why
                return 0;
            }
            Keep(data, 1);
            due_ = due_ * 10 + static_cast<std::size_t>(c - '0');
            if (--digits_ == 0) {
                state_ = due_ > 0 ? State::BlockBytes : State::Text;
                blockEnd_ = partial_.size();
                // Too long for a line: skipped whole, never read as commands.
                if (!discarding_ && partial_.size() + due_ > kMaxLineLength) {
                    Overrun();
                }
            }
            return 1;
        case State::Hash:
            if (c >= '1' && c <= '9') {
                Keep(data, 1);
                state_ = State::LengthDigits;
                digits_ = static_cast<std::size_t>(c - '0');
                due_ = 0;
                return 1;
            }
            state_ = c == '0' ? State::ToLineEnd : State::Text;
            if (c == '0') {
                Keep(data, 1);
                return 1;
            }
            return 0;  // #H, #B, #Q or a stray '#': ordinary text
        case State::Text:
        case State::Quoted:
        case State::ToLineEnd:
            break;
    }
    // Up to the next byte that matters in this state.
    std::size_t n = 0;
    for (; n < size; ++n) {
        const char d = data[n];
        if (d == '\n' || (state_ == State::Quoted && d == quote_) ||
            (state_ == State::Text && (d == '#' || d == '"' || d == '\''))) {
            break;
        }
    }
    Keep(data, n);
    if (n == size) {
        return n;
    }
    const char d = data[n];
    if (d == '\n') {
        EndLine();
    } else {
        Keep(data + n, 1);
        if (state_ == State::Quoted) {
            state_ = State::Text;  // a doubled quote closes and reopens: the same result
        } else if (d == '#') {
            state_ = State::Hash;
        } else {
            state_ = State::Quoted;
            quote_ = d;
        }
    }
    return n + 1;
}

void LineAssembler::Keep(const char* data, std::size_t size) {
    if (discarding_ || size == 0) {
        return;
    }
    // Room for a full line plus the CR that may precede its LF.
    if (size > kMaxLineLength + 1 - partial_.size()) {
        Overrun();
        return;
    }
    partial_.append(data, size);
}

void LineAssembler::EndLine() {
    state_ = State::Text;
    const std::size_t blockEnd = std::exchange(blockEnd_, 0);
    if (discarding_) {
        discarding_ = false;
        return;
    }
    if (partial_.size() > blockEnd && partial_.back() == '\r') {
        partial_.pop_back();
    }
    if (partial_.size() > kMaxLineLength) {
        Overrun();
        discarding_ = false;
        return;
    }
    queued_ += partial_.size();
    lines_.push_back(Line{false, std::move(partial_)});
    partial_.clear();
}

void LineAssembler::EndMessage() {
    if (!partial_.empty() || discarding_ || state_ != State::Text) {
        EndLine();
    }
}

void LineAssembler::Overrun() {
    partial_.clear();
    partial_.shrink_to_fit();  // a megabyte per client is not kept for nothing
    discarding_ = true;
    lines_.push_back(Line{true, {}});
}

std::optional<Line> LineAssembler::Next() {
    if (lines_.empty()) {
        return std::nullopt;
    }
    Line line = std::move(lines_.front());
    lines_.pop_front();
    queued_ -= line.text.size();
    return line;
}

bool LineAssembler::LooksLikeHttp(std::string_view firstLine) {
    static constexpr std::array<std::string_view, 9> kMethods{
        "GET ", "POST ", "PUT ", "DELETE ", "HEAD ", "OPTIONS ", "PATCH ", "CONNECT ", "TRACE "};
    for (std::string_view method : kMethods) {
        if (firstLine.starts_with(method)) {
            return true;
        }
    }
    return firstLine.find(" HTTP/1.") != std::string_view::npos;
}

// ---- Commands and parameters ----------------------------------------------------------------

std::vector<std::string_view> SplitCommands(std::string_view line) {
    std::vector<std::string_view> commands = SplitOutsideQuotes(line, ';');
    std::erase_if(commands, [](std::string_view c) { return c.empty(); });
    return commands;
}

ParsedCommand ParseCommand(std::string_view command) {
    const std::string_view text = TrimKeepingBlocks(command);
    ParsedCommand parsed;
    std::size_t pos = 0;
    if (!text.empty() && text[0] == '*') {
        parsed.common = true;
        pos = 1;
        ParseHeaderPart(text, pos, parsed);
    } else {
        if (!text.empty() && text[0] == ':') {
            parsed.rooted = true;
            pos = 1;
        }
        ParseHeaderPart(text, pos, parsed);
        while (pos < text.size() && text[pos] == ':') {
            ++pos;
            ParseHeaderPart(text, pos, parsed);
        }
    }
    if (pos < text.size() && text[pos] == '?') {
        parsed.query = true;
        ++pos;
    }
    if (pos < text.size() && !IsSpace(text[pos])) {
        throw ScpiError(kSyntaxError);
    }
    const std::string_view params = TrimKeepingBlocks(text.substr(pos));
    if (!params.empty()) {
        const std::vector<std::string_view> pieces =
            SplitOutsideQuotes(params, ',', kMaxParameters);
        if (pieces.size() > kMaxParameters) {
            throw ScpiError(kTooMuchData, "a command holds at most " +
                                              std::to_string(kMaxParameters) + " values");
        }
        parsed.params.reserve(pieces.size());
        for (std::string_view piece : pieces) {
            parsed.params.push_back(ParseParameter(piece));
        }
    }
    return parsed;
}

void CheckParamCount(const ParsedCommand& command, std::size_t min, std::size_t max) {
    if (command.params.size() < min) {
        throw ScpiError(kMissingParameter);
    }
    if (command.params.size() > max) {
        throw ScpiError(kParameterNotAllowed);
    }
}

// ---- Command table --------------------------------------------------------------------------

bool MatchesMnemonic(std::string_view typed, std::string_view mnemonic) {
    if (EqualsIgnoringCase(typed, mnemonic)) {
        return true;
    }
    std::size_t i = 0;
    for (char c : mnemonic) {
        if (c >= 'a' && c <= 'z') {
            continue;  // only the capitals make up the short form
        }
        if (i >= typed.size() || ToUpper(typed[i]) != c) {
            return false;
        }
        ++i;
    }
    return i == typed.size();
}

void CommandTable::Add(int id, std::string_view pattern, Forms forms, int maxSuffix) {
    const auto invalid = [&] {
        return std::invalid_argument("malformed command pattern: " + std::string(pattern));
    };
    Pattern added{id, forms, maxSuffix > 0 ? maxSuffix : maxSuffix_, false, {}, 0};
    std::size_t i = 0;
    const auto at = [&](char c) { return i < pattern.size() && pattern[i] == c; };
    if (at('*')) {
        added.common = true;
        ++i;
    } else if (at(':')) {
        ++i;
    }
    bool separated = true;  // a ':' already stands before the next mnemonic
    int suffixNodes = 0;
    while (i < pattern.size()) {
        Node node;
        node.optional = at('[');
        i += node.optional ? 1 : 0;
        if (at(':')) {
            ++i;
            separated = true;
        }
        if (!separated) {
            throw invalid();
        }
        const std::size_t start = i;
        while (i < pattern.size() && IsAlpha(pattern[i])) {
            ++i;
        }
        if (i == start) {
            throw invalid();
        }
        const std::string_view mnemonic = pattern.substr(start, i - start);
        node.longForm = Upper(mnemonic);
        for (char c : mnemonic) {
            if (c >= 'A' && c <= 'Z') {
                node.shortForm += c;
            }
        }
        if (node.shortForm.empty()) {
            throw invalid();
        }
        node.takesSuffix = at('#');
        if (node.takesSuffix) {
            ++i;
            ++suffixNodes;
        }
        separated = false;
        if (node.optional) {
            if (at(':')) {
                ++i;
                separated = true;
            }
            if (!at(']')) {
                throw invalid();
            }
            ++i;
        }
        added.required += node.optional ? 0 : 1;
        added.nodes.push_back(std::move(node));
    }
    const bool commonMisused =
        added.common && (added.nodes.size() != 1 || added.required != 1 || suffixNodes != 0);
    if (added.required == 0 || suffixNodes > 1 || separated || commonMisused) {
        throw invalid();
    }
    longestPattern_ = std::max(longestPattern_, added.nodes.size());
    patterns_.push_back(std::move(added));
}

void CommandTable::AddSubsystem(int id, std::string_view mnemonic, Forms forms) {
    Add(id, mnemonic, forms);
    if (patterns_.back().nodes.size() != 1 || patterns_.back().nodes[0].takesSuffix) {
        patterns_.pop_back();
        throw std::invalid_argument("malformed subsystem: " + std::string(mnemonic));
    }
    patterns_.back().anyBelow = true;
    subsystems_ = true;
}

bool CommandTable::Align(const Pattern& pattern, const std::vector<std::string>& parts,
                         std::size_t part, std::size_t node, std::vector<std::size_t>& nodeOf) {
    if (part == parts.size()) {
        return std::all_of(pattern.nodes.begin() + static_cast<std::ptrdiff_t>(node),
                           pattern.nodes.end(), [](const Node& n) { return n.optional; });
    }
    if (node == pattern.nodes.size()) {
        return false;
    }
    const Node& n = pattern.nodes[node];
    if (parts[part] == n.shortForm || parts[part] == n.longForm) {
        nodeOf[part] = node;
        if (Align(pattern, parts, part + 1, node + 1, nodeOf)) {
            return true;
        }
    }
    return n.optional && Align(pattern, parts, part, node + 1, nodeOf);
}

MatchResult CommandTable::Match(const ParsedHeader& header) const {
    const std::size_t count = header.headerParts.size();
    if (count == 0 || (count > longestPattern_ && !subsystems_) ||
        header.suffixes.size() != count) {
        throw ScpiError(kUndefinedHeader);
    }
    std::vector<std::string> parts;
    parts.reserve(count);
    for (const std::string& part : header.headerParts) {
        parts.push_back(Upper(part));
    }
    bool suffixBad = false;
    std::vector<std::size_t> nodeOf(count);
    const int form = static_cast<int>(header.query ? Forms::kQuery : Forms::kSet);
    for (const Pattern& pattern : patterns_) {
        if (pattern.anyBelow) {
            const Node& root = pattern.nodes[0];
            if (!header.common && (parts[0] == root.shortForm || parts[0] == root.longForm) &&
                (static_cast<int>(pattern.forms) & form) != 0) {
                return MatchResult{pattern.id, header.query, 1};
            }
            continue;
        }
        if (pattern.common != header.common || count < pattern.required ||
            count > pattern.nodes.size()) {
            continue;
        }
        if (!Align(pattern, parts, 0, 0, nodeOf)) {
            continue;
        }
        if ((static_cast<int>(pattern.forms) & form) == 0) {
            continue;  // another pattern may have this form; if none does, -113
        }
        MatchResult result{pattern.id, header.query, 1};
        bool suffixOk = true;
        for (std::size_t k = 0; k < count; ++k) {
            const int suffix = header.suffixes[k];
            if (suffix == 0) {
                continue;
            }
            if (!pattern.nodes[nodeOf[k]].takesSuffix || suffix < 1 || suffix > pattern.maxSuffix) {
                suffixOk = false;
                break;
            }
            result.suffix = suffix;
        }
        if (suffixOk) {
            return result;
        }
        suffixBad = true;
    }
    throw ScpiError(suffixBad ? kHeaderSuffixOutOfRange : kUndefinedHeader);
}

// ---- Parameter values -----------------------------------------------------------------------

bool IsMinimum(const Parameter& param) {
    return param.kind == ParamKind::kCharacter && MatchesMnemonic(param.value, "MINimum");
}
bool IsMaximum(const Parameter& param) {
    return param.kind == ParamKind::kCharacter && MatchesMnemonic(param.value, "MAXimum");
}
bool IsDefault(const Parameter& param) {
    return param.kind == ParamKind::kCharacter && MatchesMnemonic(param.value, "DEFault");
}

std::string NumberText(double value) {
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        return FormatInt(static_cast<std::int64_t>(value));
    }
    std::array<char, 32> buffer{};
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
    return std::string(buffer.data(), end);
}

ScpiError OutOfRange(double value, double min, double max, std::string_view unit) {
    const auto shown = [&](double v) {
        std::string text = NumberText(v);
        if (!unit.empty()) {
            text += ' ';
            text += unit;
        }
        return text;
    };
    return ScpiError(kDataOutOfRange,
                     shown(value) + " is outside " + shown(min) + " to " + shown(max));
}

namespace {

std::string_view BaseUnit(std::span<const Unit> units) {
    for (const Unit& unit : units) {
        if (unit.powerOfTen == 0) {
            return unit.shown;
        }
    }
    return {};
}

// The value MINimum, MAXimum or DEFault names, or nothing when the parameter is a number.
template <typename T>
std::optional<T> NamedValue(const Parameter& param, T min, T max, std::optional<T> def) {
    if (IsMinimum(param)) {
        return min;
    }
    if (IsMaximum(param)) {
        return max;
    }
    if (!IsDefault(param)) {
        return std::nullopt;
    }
    if (!def) {
        throw ScpiError(kIllegalParameterValue, "this setting has no default");
    }
    return def;
}

}  // namespace

double ReadNumber(const Parameter& param, double min, double max, std::span<const Unit> units,
                  std::optional<double> def) {
    if (const auto named = NamedValue(param, min, max, def)) {
        return *named;
    }
    const double value = ScaledNumber(param, units);
    if (value < min || value > max) {
        throw OutOfRange(value, min, max, BaseUnit(units));
    }
    return value;
}

double ReadVoltage(const Parameter& param, double minVolts, double maxVolts,
                   std::optional<double> def) {
    return ReadNumber(param, minVolts, maxVolts, kVoltUnits, def);
}

std::int64_t ReadInteger(const Parameter& param, std::int64_t min, std::int64_t max,
                         std::optional<std::int64_t> def) {
    if (const auto named = NamedValue(param, min, max, def)) {
        return *named;
    }
    const double value = ScaledNumber(param, {});
    if (value != std::floor(value)) {
        throw ScpiError(kIllegalParameterValue);
    }
    // 2^63 is the first double beyond int64; compare before converting.
    constexpr double kLimit = 9223372036854775808.0;
    const auto outside = [&] {
        return OutOfRange(value, static_cast<double>(min), static_cast<double>(max));
    };
    if (value >= kLimit || value < -kLimit) {
        throw outside();
    }
    const auto whole = static_cast<std::int64_t>(value);
    if (whole < min || whole > max) {
        throw outside();
    }
    return whole;
}

bool ReadBoolean(const Parameter& param) {
    switch (param.kind) {
        case ParamKind::kString:
        case ParamKind::kBlock:
        case ParamKind::kExpression:
            throw ScpiError(kDataTypeError);
        case ParamKind::kCharacter:
            if (EqualsIgnoringCase(param.value, "ON")) {
                return true;
            }
            if (EqualsIgnoringCase(param.value, "OFF")) {
                return false;
            }
            throw ScpiError(kIllegalParameterValue);
        case ParamKind::kNumber:
            break;
    }
    if (!param.unit.empty()) {
        throw ScpiError(kInvalidSuffix);
    }
    const std::optional<double> value = NumberValue(param.value);
    if (value && (*value == 0.0 || *value == 1.0)) {
        return *value == 1.0;
    }
    throw ScpiError(kIllegalParameterValue);
}

// ---- Answers --------------------------------------------------------------------------------

std::string FormatFloat(float value) {
    if (std::isnan(value)) {
        return std::string(kNotANumber);
    }
    if (std::isinf(value)) {
        return value > 0 ? "9.9E+37" : "-9.9E+37";
    }
    if (value == 0.0f) {
        return "0";  // also for -0
    }
    std::array<char, 64> buffer{};
    char* const first = buffer.data();
    char* const last = first + buffer.size();
    int precision = 1;
    char* end = first;
    for (; precision <= 9; ++precision) {
        end = std::to_chars(first, last, value, std::chars_format::general, precision).ptr;
        float back = 0.0f;
        std::from_chars(first, end, back);
        if (back == value) {
            break;
        }
    }
    const std::string_view text(first, static_cast<std::size_t>(end - first));
    const std::size_t e = text.find('e');
    const float magnitude = std::fabs(value);
    if (e != std::string_view::npos && magnitude >= 1e-4f && magnitude < 1e9f) {
        // Ordinary magnitudes in plain notation: "100000", not "1e+05".
        int exponent = 0;
        const std::string_view digits = text.substr(e + (text[e + 1] == '+' ? 2 : 1));
        std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
        const int decimals = std::max(0, precision - 1 - exponent);
        end = std::to_chars(first, last, value, std::chars_format::fixed, decimals).ptr;
    }
    return std::string(first, end);
}

std::string FormatInt(std::int64_t value) {
    std::array<char, 24> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

// ---- Running a line -------------------------------------------------------------------------

namespace {

// Whether a command that may not parse was meant as a query: a '?' in its header. Such a command
// still gets its place in the response line when it fails.
bool MeantAsQuery(std::string_view command) {
    const auto headerEnd = std::find_if(command.begin(), command.end(), IsSpace);
    return std::find(command.begin(), headerEnd, '?') != headerEnd;
}

// The header below `path`: the path's mnemonics, then the command's.
ParsedHeader Below(const ParsedHeader& path, const ParsedHeader& header) {
    ParsedHeader joined = header;
    joined.headerParts.insert(joined.headerParts.begin(), path.headerParts.begin(),
                              path.headerParts.end());
    joined.suffixes.insert(joined.suffixes.begin(), path.suffixes.begin(), path.suffixes.end());
    return joined;
}

// The path a header leaves: itself without its last mnemonic.
ParsedHeader PathOf(const ParsedHeader& header) {
    ParsedHeader path;
    path.headerParts.assign(header.headerParts.begin(), header.headerParts.end() - 1);
    path.suffixes.assign(header.suffixes.begin(), header.suffixes.end() - 1);
    return path;
}

// The command a header names, looked up below the path first (SCPI-99), then from the root; the
// path moves to where the header leads. A header found below the path takes the path's
// mnemonics into `command`, so that the command is carried out as if typed in full. Only a
// header unknown below the path is looked for from the root: one whose suffix is out of range
// there is refused as such.
MatchResult MatchOnPath(const CommandTable& table, ParsedCommand& command, ParsedHeader& path) {
    if (command.common) {
        return table.Match(command);  // the path stays
    }
    if (!command.rooted && !path.headerParts.empty()) {
        const ParsedHeader below = Below(path, command);
        try {
            const MatchResult match = table.Match(below);
            static_cast<ParsedHeader&>(command) = below;
            path = PathOf(below);
            return match;
        } catch (const ScpiError& error) {
            if (error.code != kUndefinedHeader) {
                path = PathOf(below);
                throw;
            }
        }
    }
    path = PathOf(command);
    return table.Match(command);
}

}  // namespace

std::optional<std::string> ExecuteLine(std::string_view line, const CommandTable& table,
                                       const CommandHandler& handler, ErrorQueue& errors) {
    LineProgress progress = BeginLine(line);
    ContinueLine(progress, table, handler, errors, [] { return false; });
    return progress.response;
}

LineProgress BeginLine(std::string_view line) {
    LineProgress progress;
    progress.line = line;
    progress.next = SkipEmptyCommands(progress.line, 0);
    return progress;
}

bool ContinueLine(LineProgress& progress, const CommandTable& table, const CommandHandler& handler,
                  ErrorQueue& errors, const std::function<bool()>& hold) {
    const auto answer = [&](std::string_view text) {
        if (progress.response) {
            *progress.response += ';';
        } else {
            progress.response.emplace();
        }
        *progress.response += text;
    };
    while (!progress.Ended()) {
        if (hold())
            return false;
        std::size_t next = 0;
        const std::string_view text = CommandAt(progress.line, progress.next, next);
        progress.next = SkipEmptyCommands(progress.line, next);
        bool query = MeantAsQuery(text);
        try {
            // A command that cannot be read leaves the root as its path.
            ParsedHeader path = std::exchange(progress.path, {});
            ParsedCommand command = ParseCommand(text);
            query = command.query;
            progress.path = std::move(path);
            const MatchResult match = MatchOnPath(table, command, progress.path);
            std::string result = handler(match, command);
            if (query) {
                answer(result);
            }
        } catch (const ScpiError& error) {
            errors.Push(error);
            if (query) {
                answer(kNotANumber);
            }
        }
    }
    return true;
}

// ---- Blocks of words ------------------------------------------------------------------------

std::string EncodeWords(std::span<const std::uint16_t> words, bool swapped) {
    std::string bytes(words.size() * 2, '\0');
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto high = static_cast<char>(words[i] >> 8);
        const auto low = static_cast<char>(words[i] & 0xFF);
        bytes[2 * i] = swapped ? low : high;
        bytes[2 * i + 1] = swapped ? high : low;
    }
    return bytes;
}

std::size_t CountInBlock(std::string_view bytes, std::size_t bytesEach) {
    if (bytes.size() % bytesEach != 0) {
        const std::string size = std::to_string(bytes.size());
        throw ScpiError(kDataTypeError,
                        bytesEach == 2
                            ? "a block of 16-bit words holds an even number of bytes, not " + size
                            : "a block of " + std::to_string(8 * bytesEach) +
                                  "-bit numbers holds a multiple of " + std::to_string(bytesEach) +
                                  " bytes, not " + size);
    }
    return bytes.size() / bytesEach;
}

std::vector<std::uint16_t> DecodeWords(std::string_view bytes, bool swapped) {
    std::vector<std::uint16_t> words(CountInBlock(bytes, 2));
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        words[i] =
            static_cast<std::uint16_t>(swapped ? (second << 8) | first : (first << 8) | second);
    }
    return words;
}

namespace {

// A number's bits, `bytesEach` of them (4: the float nearest the value), and back.
std::uint64_t BitsOf(double value, std::size_t bytesEach) {
    if (bytesEach == 4) {
        return std::bit_cast<std::uint32_t>(static_cast<float>(value));
    }
    return std::bit_cast<std::uint64_t>(value);
}
double ValueOf(std::uint64_t bits, std::size_t bytesEach) {
    if (bytesEach == 4) {
        return static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
    }
    return std::bit_cast<double>(bits);
}

void CheckRealWidth(std::size_t bytesEach) {
    if (bytesEach != 4 && bytesEach != 8) {
        throw std::invalid_argument("IEEE 754 numbers take 4 or 8 bytes");
    }
}

}  // namespace

std::string EncodeReals(std::span<const double> values, std::size_t bytesEach, bool swapped) {
    CheckRealWidth(bytesEach);
    std::string bytes(values.size() * bytesEach, '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::uint64_t bits = BitsOf(values[i], bytesEach);
        for (std::size_t k = 0; k < bytesEach; ++k) {
            // Byte k counted from the least significant.
            const std::size_t at = swapped ? k : bytesEach - 1 - k;
            bytes[i * bytesEach + at] = static_cast<char>((bits >> (8 * k)) & 0xFF);
        }
    }
    return bytes;
}

std::vector<double> DecodeReals(std::string_view bytes, std::size_t bytesEach, bool swapped) {
    CheckRealWidth(bytesEach);
    std::vector<double> values(CountInBlock(bytes, bytesEach));
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::uint64_t bits = 0;
        for (std::size_t k = 0; k < bytesEach; ++k) {
            const std::size_t at = swapped ? k : bytesEach - 1 - k;
            bits |= std::uint64_t{static_cast<unsigned char>(bytes[i * bytesEach + at])} << (8 * k);
        }
        values[i] = ValueOf(bits, bytesEach);
    }
    return values;
}

}  // namespace tq::scpi
