#include "core/InputExcerpt.h"

namespace tq {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t Utf8Length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // no overlong forms
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    // C1 controls (U+0080 to U+009F) are escaped like the C0 ones.
    if (lead == 0xC2 && byte(1) <= 0x9F)
        return 0;
    return length;
}

void AppendEscapedByte(std::string& out, unsigned char b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    switch (b) {
        case '\t':
            out += "\\t";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\0':
            out += "\\0";
            return;
        default:
            out += "\\x";
            out += kDigits[b >> 4];
            out += kDigits[b & 0xF];
    }
}

}  // namespace

std::string InputExcerpt(std::string_view input, std::size_t maxCharacters) {
    std::string out;
    std::size_t characters = 0;
    std::size_t i = 0;
    while (i < input.size() && characters < maxCharacters) {
        const auto b = static_cast<unsigned char>(input[i]);
        if (b == '\\') {
            out += "\\\\";
            ++i;
        } else if (b >= 0x20 && b < 0x7F) {
            out += static_cast<char>(b);
            ++i;
        } else if (const std::size_t length = b >= 0x80 ? Utf8Length(input.substr(i)) : 0) {
            out.append(input.substr(i, length));
            i += length;
        } else {
            AppendEscapedByte(out, b);
            ++i;
        }
        ++characters;
    }
    if (i < input.size())
        out += "...";
    return out;
}

std::string QuotedInput(std::string_view input, std::size_t maxCharacters) {
    return "'" + InputExcerpt(input, maxCharacters) + "'";
}

}  // namespace tq
