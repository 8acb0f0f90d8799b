// Arbitrary bytes through the remote-control line assembler and every grammar stage: no crash, no
// hang, memory bounded, and every queued error one of the program's own codes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "scpi/ScpiErrors.h"
#include "scpi/ScpiGrammar.h"

namespace {

tq::scpi::CommandTable MakeTable() {
    using tq::scpi::Forms;
    tq::scpi::CommandTable table;
    table.Add(1, "SOURce#:VOLTage[:LEVel][:IMMediate][:AMPLitude]", Forms::kSetAndQuery);
    table.Add(2, "[:SOURce#]:OUTPut[:STATe]", Forms::kSetAndQuery);
    table.Add(3, "SOURce#:DATA", Forms::kSetAndQuery);
    table.Add(4, "SYSTem:ERRor[:NEXT]", Forms::kQuery);
    table.Add(5, "*IDN", Forms::kQuery);
    table.Add(6, "*RST", Forms::kSet);
    return table;
}

// Reads each parameter the way the server's commands do, so the value readers are fuzzed too.
std::string Handle(const tq::scpi::MatchResult& match, const tq::scpi::ParsedCommand& command) {
    using namespace tq::scpi;
    for (const Parameter& p : command.params) {
        switch (match.id) {
            case 1:
                ReadVoltage(p, -10.0, 10.0);
                break;
            case 2:
                ReadBoolean(p);
                break;
            default:
                ReadInteger(p, 0, 65535);
                break;
        }
    }
    return FormatFloat(static_cast<float>(command.params.size()) / 3.0f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const tq::scpi::CommandTable table = MakeTable();
    tq::scpi::LineAssembler assembler;
    tq::scpi::ErrorQueue errors;
    // Two feeds, so lines split across reads are exercised.
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::size_t half = size / 2;
    assembler.Feed(bytes, half);
    assembler.Feed(bytes + half, size - half);
    if (assembler.PartialSize() > tq::scpi::LineAssembler::kMaxLineLength + 1) {
        std::abort();
    }
    while (std::optional<tq::scpi::Line> line = assembler.Next()) {
        if (line->overrun) {
            errors.Push(tq::scpi::kInputBufferOverrun);
            continue;
        }
        tq::scpi::LineAssembler::LooksLikeHttp(line->text);
        tq::scpi::ExecuteLine(line->text, table, Handle, errors);
    }
    // The part still waiting for its LF goes through the parser directly.
    const std::string rest(bytes + size - std::min(size, assembler.PartialSize()),
                           assembler.PartialSize());
    for (std::string_view command : tq::scpi::SplitCommands(rest)) {
        try {
            table.Match(tq::scpi::ParseCommand(command));
        } catch (const tq::scpi::ScpiError&) {
        }
    }
    while (!errors.Empty()) {
        if (tq::scpi::StandardText(std::atoi(errors.Next().c_str())).empty()) {
            std::abort();
        }
    }
    return 0;
}
