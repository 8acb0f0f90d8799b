#include "app/Options.h"

#include <array>
#include <charconv>
#include <limits>

namespace tq {

namespace {

constexpr uint64_t kLargestPort = 65535;
constexpr uint64_t kLargestSeconds = std::numeric_limits<uint32_t>::max();

// Adding an option is one row here: its help, its value and the options it goes with; main.cpp
// reads it by its name.
constexpr std::array kOptions{
    OptionRow{.name = "simulate",
              .help = "Run on the built-in simulated board.",
              .group = OptionGroup::Board},
    OptionRow{.name = "sim-setup",
              .valueName = "FILE",
              .help = "With --simulate: prepare the simulated board with the sim commands in FILE "
                      "before start-up, one a line without the word sim.",
              .group = OptionGroup::Board,
              .value = OptionValue::Text,
              .needs = {{"simulate", "--sim-setup needs --simulate"}}},
    OptionRow{.name = "resolution",
              .valueName = "BITS",
              .help = "The converter: 16 (TQ2604X, the default) or 14 (TQ2404) bits, without the "
                      "selection window.",
              .group = OptionGroup::Board,
              .value = OptionValue::Choice,
              .choices = "16 14",
              .badValue = "--resolution is 16 or 14",
              .excludes = {"select-device", "choose either --resolution or --select-device"}},
    OptionRow{.name = "list-boards",
              .help = "Print each attached board's USB location (bus-ports, such as 1-4.2) and "
                      "serial number where it reports one, and end.",
              .group = OptionGroup::Board},
    OptionRow{.name = "board",
              .valueName = "LOCATION",
              .help = "Use the board at this USB LOCATION (from --list-boards) rather than the "
                      "first found; it is also the serial field of *IDN?.",
              .group = OptionGroup::Board,
              .value = OptionValue::Text,
              .excludes = {"simulate", "--board picks a real board: leave out --simulate"}},
    OptionRow{.name = "sim-meter",
              .valueName = "PORT",
              .help = "With --simulate: serve a simulated DC voltmeter (SCPI) on the loopback "
                      "address, port PORT (0: a free one).",
              .group = OptionGroup::Board,
              .value = OptionValue::Number,
              .max = kLargestPort,
              .badValue = "--sim-meter takes a port number from 0 to 65535",
              .needs = {{"simulate", "--sim-meter needs --simulate"}}},
    OptionRow{.name = "setup",
              .valueName = "FILE",
              .help = "Open the setup saved in FILE right after start-up (see "
                      "docs/setup-format.md).",
              .group = OptionGroup::Board,
              .value = OptionValue::Text,
              .excludes = {"legacy-panel select-device",
                           "--setup goes with the main window or --headless, not --legacy-panel "
                           "or --select-device (choose the device with --resolution)"}},
    OptionRow{.name = "select-device",
              .help = "Choose the converter (16-bit or 14-bit) before the main window opens.",
              .group = OptionGroup::Windows,
              .excludes = {"legacy-panel", "choose either --select-device or --legacy-panel"}},
    OptionRow{.name = "legacy-panel",
              .help = "Start the single-voltage legacy panel instead of the main window.",
              .group = OptionGroup::Windows},
    OptionRow{.name = "automation",
              .help = "Also read automation commands from standard input, one per line.",
              .group = OptionGroup::Windows},
    OptionRow{.name = "scpi",
              .valueName = "PORT",
              .help = "Serve the SCPI instrument protocol on TCP PORT (5025 is customary; 0 picks "
                      "a free port, printed on standard error).",
              .group = OptionGroup::Remote,
              .value = OptionValue::Number,
              .max = kLargestPort,
              .badValue = "--scpi takes a port number from 0 to 65535"},
    OptionRow{.name = "http",
              .valueName = "PORT",
              .help = "Serve a web page of the board (identity, outputs, what runs) and its state "
                      "as JSON on TCP PORT (0 picks a free port, printed on standard error); "
                      "read-only unless --http-password-file is given.",
              .group = OptionGroup::Remote,
              .value = OptionValue::Number,
              .max = kLargestPort,
              .badValue = "--http takes a port number from 0 to 65535"},
    // main.cpp reads the file once the rules hold; its own usage errors say what is wrong with it.
    OptionRow{.name = "http-password-file",
              .valueName = "FILE",
              .help = "With --http: a signed-in browser may set a channel, open a setup slot, "
                      "start Safe State and stop a run. FILE holds the password on one line (at "
                      "least 12 characters) and must not be readable by others.",
              .group = OptionGroup::Remote,
              .value = OptionValue::Text,
              .needs = {{"http", "--http-password-file goes with --http PORT"}}},
    OptionRow{.name = "http-certificate",
              .valueName = "FILE",
              .help = "With --http and --http-key: serve the page over HTTPS with the PEM "
                      "certificate in FILE (its chain after it).",
              .group = OptionGroup::Remote,
              .value = OptionValue::Text,
              .needs = {{"http-key", "--http-certificate and --http-key go together"},
                        {"http", "--http-certificate and --http-key go with --http PORT"}}},
    OptionRow{.name = "http-key",
              .valueName = "FILE",
              .help = "With --http-certificate: the certificate's private key (PEM, not "
                      "encrypted).",
              .group = OptionGroup::Remote,
              .value = OptionValue::Text,
              .needs = {{"http-certificate", "--http-certificate and --http-key go together"},
                        {"http", "--http-certificate and --http-key go with --http PORT"}}},
    OptionRow{.name = "headless",
              .help = "With --scpi or --http: serve without any window or display; SIGINT or "
                      "SIGTERM end the program.",
              .group = OptionGroup::Remote,
              .needs = {{"scpi http",
                         "--headless serves the protocol or the web page: it needs --scpi PORT "
                         "or --http PORT"}},
              .excludes = {"automation select-device legacy-panel",
                           "--headless has no windows: leave out --automation, --select-device "
                           "and --legacy-panel"}},
    OptionRow{.name = "listen",
              .valueName = "ADDRESS",
              .help = "With --scpi or --http: listen on ADDRESS instead of the loopback address "
                      "(anyone who can reach the protocol's port can then drive the outputs). A "
                      "host name is resolved once, at start, and every address it names is served "
                      "on the same ports; localhost is 127.0.0.1 and ::1.",
              .group = OptionGroup::Remote,
              // main.cpp resolves it once the rules hold, naming what does not resolve.
              .value = OptionValue::Text,
              .needs = {{"scpi http", "--listen goes with --scpi PORT or --http PORT"}}},
    OptionRow{.name = "no-vxi11",
              .help = "With --scpi: serve the raw socket only, without VXI-11 (the "
                      "TCPIP::host::INSTR of VISA, registered with the portmapper).",
              .group = OptionGroup::Remote,
              .needs = {{"scpi", "--no-vxi11 goes with --scpi PORT"}}},
    OptionRow{.name = "no-advertise",
              .help = "With --listen on an address other than loopback: do not advertise the "
                      "servers on the LAN (mDNS/DNS-SD services _scpi-raw._tcp, _http._tcp and "
                      "_lxi._tcp through the Avahi daemon).",
              .group = OptionGroup::Remote,
              .needs = {{"scpi http", "--no-advertise goes with --scpi PORT or --http PORT"}}},
    OptionRow{.name = "idle-timeout",
              .valueName = "SECONDS",
              .help = "With --scpi or --http: close a client that has sent nothing for SECONDS "
                      "(default 600; 0: never), so that silent connections do not keep the 8 "
                      "places, and sign out a browser that has asked nothing of its sign-in for "
                      "as long.",
              .group = OptionGroup::Remote,
              .value = OptionValue::Number,
              .max = kLargestSeconds,
              .badValue = "--idle-timeout takes a whole number of seconds (0: never)",
              .needs = {{"scpi http", "--idle-timeout goes with --scpi PORT or --http PORT"}}},
    OptionRow{.name = "help",
              .shortName = "h",
              .help = "Print this help and end.",
              .group = OptionGroup::Information},
    OptionRow{.name = "version",
              .shortName = "v",
              .help = "Print the version and the licence, and end.",
              .group = OptionGroup::Information},
};

// Calls `each` with every word of a space-separated list; stops when it returns true.
template <typename Each>
bool AnyWord(std::string_view words, Each each) {
    while (!words.empty()) {
        const std::size_t space = words.find(' ');
        if (each(words.substr(0, space)))
            return true;
        words = space == std::string_view::npos ? std::string_view{} : words.substr(space + 1);
    }
    return false;
}

bool ValueReads(const OptionRow& row, const std::string& value) {
    switch (row.value) {
        case OptionValue::None:
        case OptionValue::Text:
            return true;
        case OptionValue::Number:
            return OptionNumber(value, row.max).has_value();
        case OptionValue::Choice:
            return AnyWord(row.choices, [&value](std::string_view word) { return word == value; });
    }
    return false;
}

}  // namespace

std::span<const OptionRow> CommandLineOptions() {
    return kOptions;
}

std::string_view GroupTitle(OptionGroup group) {
    switch (group) {
        case OptionGroup::Board:
            return "The board";
        case OptionGroup::Windows:
            return "Windows";
        case OptionGroup::Remote:
            return "Remote control";
        case OptionGroup::Information:
            return "Information";
    }
    return "";
}

std::optional<uint64_t> OptionNumber(std::string_view text, uint64_t max) {
    // As a person types it: white space around it and a plus sign are fine.
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    uint64_t number = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || number > max)
        return std::nullopt;
    return number;
}

std::string CheckOptions(const GivenOption& given) {
    for (const OptionRow& row : kOptions) {
        const std::optional<std::string> value = given(row.name);
        if (value && !ValueReads(row, *value))
            return std::string(row.badValue);
    }
    const auto isGiven = [&given](std::string_view name) { return given(name).has_value(); };
    for (const OptionRow& row : kOptions) {
        if (!isGiven(row.name))
            continue;
        for (const OptionRule& needs : row.needs)
            if (!needs.options.empty() && !AnyWord(needs.options, isGiven))
                return std::string(needs.error);
        if (AnyWord(row.excludes.options, isGiven))
            return std::string(row.excludes.error);
    }
    return {};
}

}  // namespace tq
