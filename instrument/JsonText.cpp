#include "instrument/JsonText.h"

#include <cstdint>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tq {
namespace {

// The text as the parser reads it, counting the characters it has taken, so that a refusal made
// between tokens (a fraction, a key twice) can say where. A NUL byte reads as another control
// character: the parser would take it for the end of the text and accept what stood before.
class CountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = char;

    CountingIterator(const char* at, const char* begin, std::size_t* taken)
        : at_(at), begin_(begin), taken_(taken) {}
    char operator*() const { return *at_ == '\0' ? '\x01' : *at_; }
    CountingIterator& operator++() {
        ++at_;
        *taken_ = static_cast<std::size_t>(at_ - begin_);
        return *this;
    }
    bool operator==(const CountingIterator& other) const { return at_ == other.at_; }

private:
    const char* at_;
    const char* begin_;
    std::size_t* taken_;
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Where the text stopped being JSON: the byte offset and why.
struct Fault {
    std::size_t offset = 0;
    std::string what;
};

// Builds the document from the parser's events (nlohmann's SAX interface), refusing what the
// program's files may not hold, and turns the parser's own errors into words for the file's
// author.
class DocumentBuilder {
public:
    explicit DocumentBuilder(std::string_view text) : text_(text) {}

    std::size_t* Taken() { return &taken_; }
    JsonDocument& Document() { return root_; }
    const Fault& Refusal() const { return fault_; }

    bool null() { return Put(nullptr); }
    bool boolean(bool value) { return Put(value); }
    bool number_integer(std::int64_t value) { return Put(value); }
    bool number_unsigned(std::uint64_t value) {
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return Refuse(NumberStart(std::to_string(value)), "a number too large");
        return Put(static_cast<std::int64_t>(value));
    }
    bool number_float(double, const std::string& token) {
        const std::size_t start = NumberStart(token);
        const std::size_t mark = token.find_first_of(".eE");
        if (mark == std::string::npos)
            return Refuse(start, "a number too large");  // digits beyond int64
        return Refuse(start + mark, "a whole number expected");
    }
    bool string(std::string& value) { return Put(std::move(value)); }
    bool binary(JsonDocument::binary_t&) { return Refuse(taken_, "a value expected"); }
    bool start_object(std::size_t) { return Open(JsonDocument::object()); }
    bool key(std::string& key) {
        // The parser has just read the key's closing quote.
        if (!keys_.back().insert(key).second)
            return Refuse(taken_, "the key \"" + key + "\" appears twice");
        key_ = std::move(key);
        return true;
    }
    bool end_object() { return Close(); }
    bool start_array(std::size_t) { return Open(JsonDocument::array()); }
    bool end_array() { return Close(); }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& error) {
        fault_ = Explained(position, error.what());
        return false;
    }

private:
    bool Refuse(std::size_t offset, std::string what) {
        fault_ = {offset, std::move(what)};
        return false;
    }

    // Adds a value to the object or array being read, or makes it the document.
    JsonDocument* Put(JsonDocument value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        JsonDocument& parent = *open_.back();
        if (parent.is_array()) {
            auto& items = parent.get_ref<JsonDocument::array_t&>();
            items.push_back(std::move(value));
            return &items.back();
        }
        // Straight into the ordered map's list: the key is known to be new, and its own insert
        // would search the whole object for it again.
        auto& members = parent.get_ref<JsonDocument::object_t&>();
        members.JsonDocument::object_t::Container::emplace_back(std::move(key_), std::move(value));
        return &members.back().second;
    }
    bool Open(JsonDocument empty) {
        // The parser has just read the bracket.
        if (open_.size() > static_cast<std::size_t>(kMaxJsonNesting))
            return Refuse(taken_ - 1, "nested more than 32 deep");
        const bool object = empty.is_object();
        open_.push_back(Put(std::move(empty)));
        if (object)
            keys_.emplace_back();
        return true;
    }
    bool Close() {
        if (open_.back()->is_object())
            keys_.pop_back();
        open_.pop_back();
        return true;
    }

    // Where a number the parser has just read starts: it has read one character past it, unless
    // the text ended there.
    std::size_t NumberStart(const std::string& token) const {
        const std::size_t n = token.size();
        if (taken_ >= n + 1 && text_.compare(taken_ - n - 1, n, token) == 0)
            return taken_ - n - 1;
        return taken_ >= n ? taken_ - n : 0;
    }
    // Where the number that ends at `end` starts: digits, a fraction, an exponent with its sign,
    // after an optional minus.
    std::size_t NumberEndingAt(std::size_t end) const {
        end = std::min(end, text_.size());
        std::size_t start = end;
        while (start > 0) {
            const char c = text_[start - 1];
            const bool exponentSign = (c == '+' || c == '-') && start >= 2 &&
                                      (text_[start - 2] == 'e' || text_[start - 2] == 'E');
            if (IsDigit(c) || c == '.' || c == 'e' || c == 'E' || exponentSign) {
                --start;
                continue;
            }
            if (c == '-')
                --start;  // the number's own sign
            break;
        }
        // Letters before the digits ("true1") are another token's.
        while (start < end && !IsDigit(text_[start]) && text_[start] != '-')
            ++start;
        return start;
    }
    // Where the string token that ends at `end` (after its closing quote) opens: the last quote
    // before that with an even run of backslashes before it.
    std::size_t StringEndingAt(std::size_t end) const {
        for (std::size_t i = std::min(end, text_.size() + 1); i >= 2; --i) {
            const std::size_t quote = i - 2;
            if (text_[quote] != '"')
                continue;
            std::size_t backslashes = 0;
            while (backslashes < quote && text_[quote - 1 - backslashes] == '\\')
                ++backslashes;
            if (backslashes % 2 == 0)
                return quote;
        }
        return 0;
    }
    // Where a misspelt true, false or null that failed at `last` starts; `last` itself for a
    // character that starts no token.
    std::size_t LiteralStart(std::size_t last) const {
        std::size_t start = std::min(last, text_.size());
        while (start > 0 && IsLetter(text_[start - 1]))
            --start;
        const std::string_view letters = text_.substr(start, last - start);
        for (const std::string_view word : {"true", "false", "null"})
            if (!letters.empty() && letters.size() < word.size() && word.starts_with(letters))
                return start;
        return last;
    }

    Fault Explained(std::size_t position, std::string_view error) const;

    std::string_view text_;
    std::size_t taken_ = 0;
    JsonDocument root_;
    std::vector<JsonDocument*> open_;                    // the objects and arrays being read
    std::vector<std::unordered_set<std::string>> keys_;  // each open object's keys so far
    std::string key_;                                    // the key of the next member
    Fault fault_;
};

// The parser's error in our words, at the character where the text stops being JSON. `position`
// counts the characters the parser read, the end of the text as one more. nlohmann's message
// says what it was reading, what it met and what it expected: "... syntax error while parsing
// object - unexpected string literal; expected '}'", or for a token it could not read, "...
// while parsing value - invalid literal; last read: '<the text>'; expected end of input". Only
// the parts before the text read and after it are its own words.
Fault DocumentBuilder::Explained(std::size_t position, std::string_view error) const {
    const std::size_t end = std::min(position, text_.size() + 1);
    const std::size_t last = end == 0 ? 0 : end - 1;  // the character that failed, or the end
    const std::size_t context = error.find("while parsing ");
    const std::size_t dash = error.find(" - ", context);
    const std::string_view reading =
        context == std::string_view::npos || dash == std::string_view::npos
            ? std::string_view()
            : error.substr(context + 14, dash - context - 14);
    const std::string_view met =
        dash == std::string_view::npos
            ? error
            : error.substr(dash + 3, error.find("; last read: '") - dash - 3);
    const auto says = [&](std::string_view words) {
        return met.find(words) != std::string_view::npos;
    };

    // A token the lexer could not read; strings and numbers say what was wrong with them.
    if (says("missing closing quote"))
        return {last, "the string has no closing quote"};
    if (says("control character"))
        return {last, "a control character inside a string"};
    if (says("forbidden character after backslash"))
        return {last, "an unknown escape in a string"};
    if (says("must be followed by 4 hex digits"))
        return {last, "four hexadecimal digits expected after \\u"};
    if (says("surrogate"))
        return {last, "a broken surrogate pair"};
    if (says("ill-formed UTF-8"))
        return {last, "a string that is not UTF-8 text"};
    if (says("after '.'") || says("after exponent") || says("number overflow")) {
        // The column points at the fraction's '.' or the exponent's 'e'.
        const std::size_t start = NumberEndingAt(says("number overflow") ? end : last);
        return {std::min(text_.find_first_of(".eE", start), last), "a whole number expected"};
    }

    // Otherwise the token met, whole or not, where something else was expected.
    std::size_t start = last;
    if (says("invalid literal")) {
        start = LiteralStart(last);
    } else if (says("invalid BOM")) {
        start = 0;
    } else if (says("unexpected end of input")) {
        start = text_.size();
    } else if (says("unexpected number literal")) {
        start = NumberEndingAt(end);
        const std::string_view number = text_.substr(start, end - start);
        const std::size_t digits = number.starts_with('-') ? 1 : 0;
        if (number.size() > digits + 1 && number[digits] == '0' && IsDigit(number[digits + 1]))
            return {start, "a number with a leading zero"};  // read as 0 and then a number
    } else if (says("unexpected string literal")) {
        start = StringEndingAt(end);
    } else if (says("unexpected true literal") || says("unexpected null literal")) {
        start = end >= 4 ? end - 4 : 0;
    } else if (says("unexpected false literal")) {
        start = end >= 5 ? end - 5 : 0;
    }
    if (error.ends_with("; expected end of input"))
        return {start, "text after the end of the document"};
    if (reading == "object key")
        return {start, "a key in double quotes expected"};
    if (reading == "object separator")
        return {start, "':' expected"};
    if (reading == "object")
        return {start, "'}' expected"};
    if (reading == "array")
        return {start, "']' expected"};
    return {start, "a value expected"};
}

// "line 3, column 7", counting from 1 in bytes.
std::string Where(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    std::size_t line = 1, lineStart = 0;
    for (std::size_t i = 0; i < offset; ++i)
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    return "line " + std::to_string(line) + ", column " + std::to_string(offset - lineStart + 1);
}

}  // namespace

JsonDocument ReadJsonText(std::string_view text) {
    if (text.size() > kMaxJsonText)
        throw JsonTextError("the text is longer than 1 MiB");
    DocumentBuilder builder(text);
    const CountingIterator first(text.data(), text.data(), builder.Taken());
    const CountingIterator last(text.data() + text.size(), text.data(), builder.Taken());
    if (!JsonDocument::sax_parse(first, last, &builder)) {
        const Fault& fault = builder.Refusal();
        throw JsonTextError(Where(text, fault.offset) + ": " + fault.what);
    }
    return std::move(builder.Document());
}

std::string WriteJsonText(const JsonDocument& document, int indent) {
    constexpr auto kReplace = JsonDocument::error_handler_t::replace;
    if (indent <= 0)
        return document.dump(-1, ' ', false, kReplace);
    return document.dump(indent, ' ', false, kReplace) + '\n';
}

}  // namespace tq
