#include "ui/waveform/CsvList.h"

#include <cctype>

#include "instrument/Waveform.h"

namespace tq {

std::vector<double> ParseCsvList(const std::string& text) {
    std::string::size_type begin = 0;
    while (begin < text.size()) {
        const auto end = text.find('\n', begin);
        const auto stop = end == std::string::npos ? text.size() : end;
        const auto first = text.find_first_not_of(" \t\r", begin);
        if (first == std::string::npos || first >= stop || text[first] == '#') {
            begin = stop + 1;  // blank or comment: the list's own rules skip it
            continue;
        }
        // Strictly how a number starts: "nan" and "inf" start a header's word just as well.
        const unsigned char c = static_cast<unsigned char>(text[first]);
        if (std::isdigit(c) || c == '+' || c == '-' || c == '.')
            break;
        // The header becomes a blank line, so that errors still name the file's line numbers.
        std::string rest = text;
        rest.replace(begin, stop - begin, "");
        return ParseVoltsList(rest);
    }
    return ParseVoltsList(text);
}

}  // namespace tq
