#include "ui/waveform/CsvList.h"

#include <cctype>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "core/InputExcerpt.h"
#include "instrument/Waveform.h"

namespace tq {
namespace {

struct Line {
    std::size_t begin;
    std::size_t end;  // one past the last character, without the line feed
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        const auto feed = text.find('\n', begin);
        const std::size_t end = feed == std::string::npos ? text.size() : feed;
        lines.push_back({begin, end});
        if (feed == std::string::npos)
            break;
        begin = feed + 1;
    }
    return lines;
}

std::string Trimmed(const std::string& text, const Line& line) {
    std::string s = text.substr(line.begin, line.end - line.begin);
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// Blank lines and comments are the list's own business (ParseVoltsList skips them).
bool Skipped(const std::string& trimmed) {
    return trimmed.empty() || trimmed[0] == '#';
}

// Strictly how a number starts: "nan" and "inf" start a header's word just as well.
bool StartsLikeNumber(const std::string& trimmed) {
    const unsigned char c = static_cast<unsigned char>(trimmed[0]);
    return std::isdigit(c) || c == '+' || c == '-' || c == '.';
}

// "1,5": an integer, one comma, digits, nothing else.
bool OneCommaBetweenDigits(const std::string& s) {
    std::size_t i = s[0] == '+' || s[0] == '-' ? 1 : 0;
    const std::size_t comma = s.find(',');
    if (comma == std::string::npos || comma == i || comma + 1 == s.size())
        return false;
    for (; i < s.size(); ++i)
        if (i != comma && !std::isdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

[[noreturn]] void Refuse(std::size_t number, const std::string& line, const std::string& why) {
    throw ValueRangeError("line " + std::to_string(number) + " (" + InputExcerpt(line, 80) + ") " +
                          why);
}

}  // namespace

std::vector<double> ParseCsvList(const std::string& text) {
    const std::vector<Line> lines = SplitLines(text);
    std::optional<std::size_t> header;
    bool semicolons = false;
    bool seenData = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string trimmed = Trimmed(text, lines[i]);
        if (Skipped(trimmed))
            continue;
        if (!seenData && !header && !StartsLikeNumber(trimmed))
            header = i;
        else
            seenData = true;
        semicolons = semicolons || trimmed.find(';') != std::string::npos;
    }
    const bool decimalComma =
        semicolons || (header && Trimmed(text, lines[*header]).find(',') == std::string::npos);

    // Each line becomes the text ParseVoltsList reads, line for line, so that its errors still
    // name the file's line numbers; the header becomes a blank line.
    std::string rewritten;
    rewritten.reserve(text.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string trimmed = Trimmed(text, lines[i]);
        if (header && i == *header)
            trimmed.clear();
        if (!Skipped(trimmed)) {
            if (decimalComma) {
                std::string field =
                    trimmed.substr(0, trimmed.find_first_of(semicolons ? ";" : "\t"));
                if (field.find(',') != std::string::npos && field.find('.') != std::string::npos)
                    Refuse(i + 1, trimmed,
                           "holds a decimal point and a decimal comma in one number");
                for (char& c : field)
                    if (c == ',')
                        c = '.';
                // Refused here, so that the message shows the line as the file has it.
                char* end = nullptr;
                std::strtod(field.c_str(), &end);
                if (end == field.c_str() ||
                    std::string_view(end).find_first_not_of(" \t") != std::string_view::npos)
                    throw ValueRangeError("line " + std::to_string(i + 1) +
                                          " holds no number: " + InputExcerpt(trimmed, 80));
                trimmed = field;
            } else if (!header && OneCommaBetweenDigits(trimmed)) {
                Refuse(i + 1, trimmed,
                       "is ambiguous: a decimal comma or two columns? Give the file a header "
                       "line (one without a comma for decimal commas), or put ';' between "
                       "columns");
            }
        }
        rewritten += trimmed;
        rewritten += '\n';
    }
    return ParseVoltsList(rewritten);
}

}  // namespace tq
