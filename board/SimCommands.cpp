#include "board/SimCommands.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "core/InputExcerpt.h"

namespace tq {

namespace {

std::vector<std::string_view> SplitWords(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t')
            ++i;
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

// Splits off a leading sign; true when it was a minus.
bool TakeSign(std::string_view& text) {
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        bool negative = text[0] == '-';
        text.remove_prefix(1);
        return negative;
    }
    return false;
}

bool IsHexPrefixed(std::string_view text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// The unsigned magnitude of a decimal or 0x hexadecimal number, all of `text`.
bool ParseMagnitude(std::string_view text, uint64_t& magnitude) {
    int base = 10;
    if (IsHexPrefixed(text)) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    return ec == std::errc() && end == text.data() + text.size();
}

std::string HexText(uint16_t value) {
    char digits[8];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value, 16);
    std::string text = "0x";
    for (char* p = digits; p != end; ++p) {
        text += static_cast<char>(*p >= 'a' && *p <= 'f' ? *p - 'a' + 'A' : *p);
    }
    return text;
}

std::string VoltsText(double volts) {
    char buffer[64];
    auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, volts, std::chars_format::fixed, 6);
    std::string text(buffer, end);
    // A tiny negative reading rounds to zero; show it without a sign.
    if (text == "-0.000000")
        text = "0.000000";
    return text;
}

struct Arguments {
    std::vector<std::string_view> words;  // after the command word
    std::string& error;

    bool Count(std::size_t wanted) {
        if (words.size() == wanted)
            return true;
        error = words.size() < wanted ? "missing argument" : "too many arguments";
        return false;
    }
    bool Integer(std::size_t i, const char* what, int64_t min, int64_t max, int64_t& value) {
        if (ParseCommandInteger(words[i], min, max, value))
            return true;
        std::ostringstream reason;
        reason << "bad " << what << " " << QuotedInput(words[i]) << " (expected " << min << " to "
               << max << ")";
        error = reason.str();
        return false;
    }
};

// One row a command: its word, how many arguments it takes, and what it does with them once
// their count is right. The handler reads each argument and changes nothing on a bad one.
struct SimCommandRow {
    std::string_view name;
    std::size_t arguments;
    bool (*run)(SimulatorControl& sim, Arguments& a, std::string& output);
};

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

constexpr SimCommandRow kSimCommands[] = {
    {"reg", 3,
     [](SimulatorControl& sim, Arguments& a, std::string&) {
         int64_t address = 0, reg = 0, value = 0;
         if (!a.Integer(0, "address", 0, 7, address) || !a.Integer(1, "register", 0, 7, reg) ||
             !a.Integer(2, "value", 0, 0xFFFF, value))
             return false;
         sim.SetRegister(static_cast<int>(address), static_cast<int>(reg),
                         static_cast<uint16_t>(value));
         return true;
     }},
    {"get", 2,
     [](SimulatorControl& sim, Arguments& a, std::string& output) {
         int64_t address = 0, reg = 0;
         if (!a.Integer(0, "address", 0, 7, address) || !a.Integer(1, "register", 0, 7, reg))
             return false;
         output += HexText(sim.GetRegister(static_cast<int>(address), static_cast<int>(reg)));
         output += '\n';
         return true;
     }},
    {"output", 1,
     [](SimulatorControl& sim, Arguments& a, std::string& output) {
         int64_t channel = 0;
         if (!a.Integer(0, "channel", 0, 3, channel))
             return false;
         output += VoltsText(sim.OutputVolts(static_cast<int>(channel)));
         output += '\n';
         return true;
     }},
    {"temp", 1,
     [](SimulatorControl& sim, Arguments& a, std::string&) {
         double celsius = 0;
         if (!ParseCommandReal(a.words[0], celsius)) {
             a.error = "bad temperature " + QuotedInput(a.words[0]);
             return false;
         }
         sim.SetDieTemperature(celsius);
         return true;
     }},
    {"unplug", 0,
     [](SimulatorControl& sim, Arguments&, std::string&) {
         sim.Unplug();
         return true;
     }},
    {"plug", 0,
     [](SimulatorControl& sim, Arguments&, std::string&) {
         sim.Plug();
         return true;
     }},
    {"power-cycle", 0,
     [](SimulatorControl& sim, Arguments&, std::string&) {
         sim.PowerCycle();
         return true;
     }},
    {"fail-download", 1,
     [](SimulatorControl& sim, Arguments& a, std::string&) {
         int64_t code = 0;
         if (!a.Integer(0, "result", kInt32Min, kInt32Max, code))
             return false;
         sim.FailNextDownload(static_cast<int32_t>(code));
         return true;
     }},
    {"garble", 1,
     [](SimulatorControl& sim, Arguments& a, std::string&) {
         int64_t count = 0;
         if (!a.Integer(0, "count", 0, kInt32Max, count))
             return false;
         sim.GarbleReplies(static_cast<int>(count));
         return true;
     }},
    {"latency", 1,
     [](SimulatorControl& sim, Arguments& a, std::string&) {
         int64_t microseconds = 0;
         if (!a.Integer(0, "latency in microseconds", 0, 1000000, microseconds))
             return false;
         sim.SetLatency(microseconds);
         return true;
     }},
    {"nonlinear", 1,
     [](SimulatorControl& sim, Arguments& a, std::string&) {
         if (a.words[0] != "on" && a.words[0] != "off") {
             a.error = "bad setting " + QuotedInput(a.words[0]) + " (expected on or off)";
             return false;
         }
         sim.SetNonLinearity(a.words[0] == "on");
         return true;
     }},
};

}  // namespace

bool ParseCommandInteger(std::string_view text, int64_t min, int64_t max, int64_t& value) {
    bool negative = TakeSign(text);
    uint64_t magnitude = 0;
    if (!ParseMagnitude(text, magnitude))
        return false;
    constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (magnitude > kLimit + (negative ? 1 : 0))
        return false;
    int64_t result =
        negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    if (result < min || result > max)
        return false;
    value = result;
    return true;
}

bool ParseCommandReal(std::string_view text, double& value) {
    std::string_view rest = text;
    bool negative = TakeSign(rest);
    if (IsHexPrefixed(rest)) {
        uint64_t magnitude = 0;
        if (!ParseMagnitude(rest, magnitude))
            return false;
        value = negative ? -static_cast<double>(magnitude) : static_cast<double>(magnitude);
        return true;
    }
    // Only digits and a point or an exponent: no "inf", "nan" or a second sign.
    if (rest.empty() || !((rest[0] >= '0' && rest[0] <= '9') || rest[0] == '.'))
        return false;
    double magnitude = 0;
    auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), magnitude);
    if (ec != std::errc() || end != rest.data() + rest.size() || !std::isfinite(magnitude)) {
        return false;
    }
    value = negative ? -magnitude : magnitude;
    return true;
}

bool RunSimCommand(SimulatorControl& sim, const std::string& args, std::string& output,
                   std::string& error) {
    std::vector<std::string_view> words = SplitWords(args);
    if (words.empty()) {
        error = "missing sim command";
        return false;
    }
    const std::string_view command = words.front();
    for (const SimCommandRow& row : kSimCommands) {
        if (row.name != command)
            continue;
        Arguments a{{words.begin() + 1, words.end()}, error};
        return a.Count(row.arguments) && row.run(sim, a, output);
    }
    error = "unknown sim command " + QuotedInput(command);
    return false;
}

bool RunSimSetup(SimulatorControl& sim, std::istream& in, std::string& error) {
    std::string line;
    int number = 0;
    for (;;) {
        // Lines are read with a bound, so that an endless line ends in an error, not in all of
        // memory.
        line.clear();
        bool ended = false;
        for (char ch; !ended && in.get(ch);) {
            if (ch == '\n') {
                ended = true;
            } else if (line.size() == kSimSetupMaxLineBytes) {
                error = "line " + std::to_string(number + 1) + ": longer than " +
                        std::to_string(kSimSetupMaxLineBytes) + " bytes";
                return false;
            } else {
                line += ch;
            }
        }
        if (in.bad()) {
            error = "line " + std::to_string(number + 1) + ": read error";
            return false;
        }
        if (!ended && line.empty())
            return true;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        std::string output;
        std::string reason;
        if (!RunSimCommand(sim, line, output, reason)) {
            error = "line " + std::to_string(number) + ": " + reason;
            return false;
        }
    }
}

bool RunSimSetupFile(SimulatorControl& sim, const std::string& path, std::string& error) {
    namespace fs = std::filesystem;
    const std::string kCannotRead = "cannot read the simulator set-up file: ";
    std::error_code ec;
    // Opening a pipe would wait for a writer and a device may never end: look before opening.
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        error = kCannotRead + "file not found";
        return false;
    }
    if (ec) {
        error = kCannotRead + ec.message();
        return false;
    }
    if (!fs::is_regular_file(status)) {
        error =
            kCannotRead + (fs::is_directory(status) ? "a folder, not a file"
                                                    : "not a regular file (a device or a pipe)");
        return false;
    }
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = kCannotRead + ec.message();
        return false;
    }
    if (size > kSimSetupMaxBytes) {
        error = kCannotRead + "file of " + std::to_string(size) +
                " bytes; a set-up file holds at most " + std::to_string(kSimSetupMaxBytes) +
                " bytes";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = kCannotRead + "opening it failed";
        return false;
    }
    // At most one byte past the bound: the file may have grown since its size was taken.
    std::string text(kSimSetupMaxBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        error = kCannotRead + "read error";
        return false;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kSimSetupMaxBytes) {
        error = kCannotRead + "it grew past " + std::to_string(kSimSetupMaxBytes) + " bytes";
        return false;
    }
    std::istringstream lines(text);
    return RunSimSetup(sim, lines, error);
}

}  // namespace tq
