#include "app/ManPageText.h"

#include <optional>

#include "app/Options.h"

namespace tq {

std::string RoffText(std::string_view text) {
    std::string out;
    if (!text.empty() && (text.front() == '.' || text.front() == '\''))
        out += "\\&";
    for (char c : text) {
        if (c == '-')
            out += "\\-";
        else if (c == '\\')
            out += "\\e";
        else
            out += c;
    }
    return out;
}

std::string RoffOptions() {
    std::string out;
    std::optional<OptionGroup> group;
    for (const OptionRow& row : CommandLineOptions()) {
        if (row.group != group) {
            group = row.group;
            out += ".SS " + RoffText(GroupTitle(row.group)) + "\n";
        }
        out += ".TP\n";
        if (!row.shortName.empty())
            out += "\\fB" + RoffText("-" + std::string(row.shortName)) + "\\fR, ";
        out += "\\fB" + RoffText("--" + std::string(row.name)) + "\\fR";
        if (!row.valueName.empty())
            out += " \\fI" + RoffText(row.valueName) + "\\fR";
        out += "\n" + RoffText(row.help) + "\n";
    }
    return out;
}

bool FillManPage(std::string_view manTemplate, std::string& page) {
    page.clear();
    bool found = false;
    size_t start = 0;
    while (start < manTemplate.size()) {
        size_t end = manTemplate.find('\n', start);
        const size_t next = end == std::string_view::npos ? manTemplate.size() : end + 1;
        if (end == std::string_view::npos)
            end = manTemplate.size();
        const std::string_view line = manTemplate.substr(start, end - start);
        if (line == kManPageOptionsMarker) {
            page += RoffOptions();
            found = true;
        } else {
            page += manTemplate.substr(start, next - start);
        }
        start = next;
    }
    return found;
}

}  // namespace tq
