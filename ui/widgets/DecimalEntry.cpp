#include "ui/widgets/DecimalEntry.h"

#include <QLineEdit>
#include <cmath>
#include <string>

#include "core/Encoding.h"

namespace tq {
namespace {

bool IsDigitOf(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value >= 0 && value < base;
}

bool IsDecimalDigit(char c) {
    return IsDigitOf(c, 10);
}

// Where the leading number of `s` ends, or npos when it has none (the forms ParseNumber reads).
std::size_t NumberEnd(std::string_view s) {
    std::size_t pos = 0;
    if (s.size() >= 2 && s[0] == '&') {
        const char prefix = s[1];
        const int base = prefix == 'H' || prefix == 'h'   ? 16
                         : prefix == 'O' || prefix == 'o' ? 8
                                                          : 0;
        if (base != 0) {
            pos = 2;
            while (pos < s.size() && IsDigitOf(s[pos], base))
                ++pos;
            return pos > 2 ? pos : std::string_view::npos;
        }
    }
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-'))
        ++pos;
    bool digits = false;
    for (; pos < s.size() && IsDecimalDigit(s[pos]); ++pos)
        digits = true;
    if (pos < s.size() && s[pos] == '.')
        for (++pos; pos < s.size() && IsDecimalDigit(s[pos]); ++pos)
            digits = true;
    if (!digits)
        return std::string_view::npos;
    // An exponent belongs to the number only with its digits.
    if (pos < s.size() && (s[pos] == 'E' || s[pos] == 'e' || s[pos] == 'D' || s[pos] == 'd')) {
        std::size_t p = pos + 1;
        if (p < s.size() && (s[p] == '+' || s[p] == '-'))
            ++p;
        if (p < s.size() && IsDecimalDigit(s[p])) {
            while (p < s.size() && IsDecimalDigit(s[p]))
                ++p;
            pos = p;
        }
    }
    return pos;
}

}  // namespace

bool HoldsDecimalNumber(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            s += c;
    if (s.empty())
        return true;
    const std::size_t end = NumberEnd(s);
    if (end == std::string_view::npos)
        return false;
    return !(end + 1 < s.size() && s[end] == ',' && IsDecimalDigit(s[end + 1]));
}

std::optional<double> EntryNumber(std::string_view text) {
    if (!HoldsDecimalNumber(text) || text.find_first_not_of(" \t\n") == std::string_view::npos)
        return std::nullopt;
    const double value = ParseNumber(text);
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

bool TakeDecimalEntry(QLineEdit* box) {
    if (HoldsDecimalNumber(box->text().toStdString()))
        return true;
    box->clear();
    box->setModified(false);
    box->setFocus();
    return false;
}

}  // namespace tq
