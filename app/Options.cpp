#include "app/Options.h"

#include <array>

namespace tq {

namespace {

// Adding an option is one row here; main.cpp reads it by its name.
constexpr std::array kOptions{
    OptionRow{"simulate", "", "", "Run on the built-in simulated board.", OptionGroup::Board},
    OptionRow{"sim-setup", "", "FILE",
              "With --simulate: prepare the simulated board with the sim commands in FILE "
              "before start-up, one a line without the word sim.",
              OptionGroup::Board},
    OptionRow{"resolution", "", "BITS",
              "The converter: 16 (TQ2604X, the default) or 14 (TQ2404) bits, without the "
              "selection window.",
              OptionGroup::Board},
    OptionRow{"list-boards", "", "",
              "Print each attached board's USB location (bus-ports, such as 1-4.2) and serial "
              "number where it reports one, and end.",
              OptionGroup::Board},
    OptionRow{"board", "", "LOCATION",
              "Use the board at this USB LOCATION (from --list-boards) rather than the first "
              "found; it is also the serial field of *IDN?.",
              OptionGroup::Board},
    OptionRow{"sim-meter", "", "PORT",
              "With --simulate: serve a simulated DC voltmeter (SCPI) on the loopback address, "
              "port PORT (0: a free one).",
              OptionGroup::Board},
    OptionRow{"setup", "", "FILE",
              "Open the setup saved in FILE right after start-up (see docs/setup-format.md).",
              OptionGroup::Board},
    OptionRow{"select-device", "", "",
              "Choose the converter (16-bit or 14-bit) before the main window opens.",
              OptionGroup::Windows},
    OptionRow{"legacy-panel", "", "",
              "Start the single-voltage legacy panel instead of the main window.",
              OptionGroup::Windows},
    OptionRow{"automation", "", "",
              "Also read automation commands from standard input, one per line.",
              OptionGroup::Windows},
    OptionRow{"scpi", "", "PORT",
              "Serve the SCPI instrument protocol on TCP PORT (5025 is customary; 0 picks a free "
              "port, printed on standard error).",
              OptionGroup::Remote},
    OptionRow{"http", "", "PORT",
              "Serve a web page of the board (identity, outputs, what runs) and its state as "
              "JSON on TCP PORT (0 picks a free port, printed on standard error); read-only "
              "unless --http-password-file is given.",
              OptionGroup::Remote},
    OptionRow{"http-password-file", "", "FILE",
              "With --http: a signed-in browser may set a channel, open a setup slot, start Safe "
              "State and stop a run. FILE holds the password on one line (at least 12 "
              "characters) and must not be readable by others.",
              OptionGroup::Remote},
    OptionRow{"http-certificate", "", "FILE",
              "With --http and --http-key: serve the page over HTTPS with the PEM certificate "
              "in FILE (its chain after it).",
              OptionGroup::Remote},
    OptionRow{"http-key", "", "FILE",
              "With --http-certificate: the certificate's private key (PEM, not encrypted).",
              OptionGroup::Remote},
    OptionRow{"headless", "", "",
              "With --scpi or --http: serve without any window or display; SIGINT or SIGTERM "
              "end the program.",
              OptionGroup::Remote},
    OptionRow{"listen", "", "ADDRESS",
              "With --scpi or --http: listen on ADDRESS instead of the loopback address (anyone "
              "who can reach the protocol's port can then drive the outputs). A host name is "
              "resolved once, at start, and every address it names is served on the same ports; "
              "localhost is 127.0.0.1 and ::1.",
              OptionGroup::Remote},
    OptionRow{"no-vxi11", "", "",
              "With --scpi: serve the raw socket only, without VXI-11 (the TCPIP::host::INSTR "
              "of VISA, registered with the portmapper).",
              OptionGroup::Remote},
    OptionRow{"no-advertise", "", "",
              "With --listen on an address other than loopback: do not advertise the servers on "
              "the LAN (mDNS/DNS-SD services _scpi-raw._tcp, _http._tcp and _lxi._tcp through "
              "the Avahi daemon).",
              OptionGroup::Remote},
    OptionRow{"idle-timeout", "", "SECONDS",
              "With --scpi or --http: close a client that has sent nothing for SECONDS (default "
              "600; 0: never), so that silent connections do not keep the 8 places, and sign "
              "out a browser that has asked nothing of its sign-in for as long.",
              OptionGroup::Remote},
    OptionRow{"help", "h", "", "Print this help and end.", OptionGroup::Information},
    OptionRow{"version", "v", "", "Print the version and the licence, and end.",
              OptionGroup::Information},
};

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

}  // namespace tq
