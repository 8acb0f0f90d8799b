#include "core/Json.h"

#include <charconv>
#include <cstdio>

namespace tq {
namespace {

constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxText = 1 << 20;

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    JsonValue Document() {
        if (text_.size() > kMaxText)
            throw JsonError("the text is longer than 1 MiB");
        SkipSpace();
        JsonValue value = Value(0);
        SkipSpace();
        if (pos_ != text_.size())
            Fail("text after the end of the document");
        return value;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const {
        int line = 1, column = 1;
        for (std::size_t i = 0; i < pos_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        throw JsonError("line " + std::to_string(line) + ", column " + std::to_string(column) +
                        ": " + what);
    }

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

    void SkipSpace() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r'))
            ++pos_;
    }

    void Expect(char c) {
        if (Peek() != c)
            Fail(std::string("'") + c + "' expected");
        ++pos_;
    }

    void Word(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word)
            Fail("a value expected");
        pos_ += word.size();
    }

    JsonValue Value(int depth) {
        if (depth > kMaxDepth)
            Fail("nested more than 32 deep");
        switch (Peek()) {
            case '{':
                return ObjectValue(depth);
            case '[':
                return ArrayValue(depth);
            case '"':
                return JsonValue(StringValue());
            case 't':
                Word("true");
                return JsonValue(true);
            case 'f':
                Word("false");
                return JsonValue(false);
            case 'n':
                Word("null");
                return JsonValue();
            default:
                return Number();
        }
    }

    JsonValue ObjectValue(int depth) {
        Expect('{');
        JsonValue::Object members;
        SkipSpace();
        if (Peek() == '}') {
            ++pos_;
            return JsonValue(std::move(members));
        }
        for (;;) {
            SkipSpace();
            if (Peek() != '"')
                Fail("a key in double quotes expected");
            std::string key = StringValue();
            for (const auto& [existing, value] : members)
                if (existing == key)
                    Fail("the key \"" + key + "\" appears twice");
            SkipSpace();
            Expect(':');
            SkipSpace();
            members.emplace_back(std::move(key), Value(depth + 1));
            SkipSpace();
            if (Peek() == ',') {
                ++pos_;
                continue;
            }
            Expect('}');
            return JsonValue(std::move(members));
        }
    }

    JsonValue ArrayValue(int depth) {
        Expect('[');
        JsonValue::Array items;
        SkipSpace();
        if (Peek() == ']') {
            ++pos_;
            return JsonValue(std::move(items));
        }
        for (;;) {
            SkipSpace();
            items.push_back(Value(depth + 1));
            SkipSpace();
            if (Peek() == ',') {
                ++pos_;
                continue;
            }
            Expect(']');
            return JsonValue(std::move(items));
        }
    }

    static void AppendUtf8(std::string& out, uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    uint32_t Hex4() {
        if (pos_ + 4 > text_.size())
            Fail("four hexadecimal digits expected after \\u");
        uint32_t code = 0;
        const auto [end, error] =
            std::from_chars(text_.data() + pos_, text_.data() + pos_ + 4, code, 16);
        if (error != std::errc() || end != text_.data() + pos_ + 4)
            Fail("four hexadecimal digits expected after \\u");
        pos_ += 4;
        return code;
    }

    std::string StringValue() {
        Expect('"');
        std::string out;
        for (;;) {
            if (AtEnd())
                Fail("the string has no closing quote");
            const char c = text_[pos_++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                Fail("a control character inside a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = Peek();
            ++pos_;
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    uint32_t code = Hex4();
                    if (code >= 0xD800 && code < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
                        pos_ += 2;
                        const uint32_t low = Hex4();
                        if (low < 0xDC00 || low > 0xDFFF)
                            Fail("a broken surrogate pair");
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    } else if (code >= 0xD800 && code < 0xE000) {
                        Fail("a broken surrogate pair");
                    }
                    AppendUtf8(out, code);
                    break;
                }
                default:
                    --pos_;
                    Fail("an unknown escape in a string");
            }
        }
    }

    JsonValue Number() {
        const std::size_t start = pos_;
        if (Peek() == '-')
            ++pos_;
        if (!(Peek() >= '0' && Peek() <= '9'))
            Fail("a value expected");
        while (Peek() >= '0' && Peek() <= '9')
            ++pos_;
        if (Peek() == '.' || Peek() == 'e' || Peek() == 'E')
            Fail("a whole number expected");
        const std::string_view digits = text_.substr(start, pos_ - start);
        if (digits.size() > 1 && (digits[0] == '0' || (digits[0] == '-' && digits[1] == '0')) &&
            digits != "-0")
            Fail("a number with a leading zero");
        int64_t n = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (error != std::errc() || end != digits.data() + digits.size()) {
            pos_ = start;
            Fail("a number too large");
        }
        return JsonValue(n);
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

void WriteString(std::string& out, const std::string& s) {
    out += '"';
    for (const char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void Write(std::string& out, const JsonValue& v, int indent, int level) {
    const auto newline = [&](int at) {
        if (indent > 0) {
            out += '\n';
            out.append(static_cast<std::size_t>(indent * at), ' ');
        }
    };
    if (v.IsNull()) {
        out += "null";
    } else if (v.IsBool()) {
        out += v.Bool() ? "true" : "false";
    } else if (v.IsInt()) {
        out += std::to_string(v.Int());
    } else if (v.IsString()) {
        WriteString(out, v.String());
    } else if (v.IsObject()) {
        out += '{';
        bool first = true;
        for (const auto& [key, member] : v.Members()) {
            out += first ? "" : ",";
            first = false;
            newline(level + 1);
            WriteString(out, key);
            out += indent > 0 ? ": " : ":";
            Write(out, member, indent, level + 1);
        }
        if (!v.Members().empty())
            newline(level);
        out += '}';
    } else {
        out += '[';
        bool first = true;
        for (const auto& item : v.Items()) {
            out += first ? "" : ",";
            first = false;
            newline(level + 1);
            Write(out, item, indent, level + 1);
        }
        if (!v.Items().empty())
            newline(level);
        out += ']';
    }
}

}  // namespace

const JsonValue* JsonValue::Find(std::string_view key) const {
    if (!IsObject())
        return nullptr;
    for (const auto& [k, v] : Members())
        if (k == key)
            return &v;
    return nullptr;
}

JsonValue ParseJson(std::string_view text) {
    return Reader(text).Document();
}

std::string WriteJson(const JsonValue& value, int indent) {
    std::string out;
    Write(out, value, indent, 0);
    if (indent > 0)
        out += '\n';
    return out;
}

}  // namespace tq
