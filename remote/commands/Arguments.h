#pragma once
// What the commands of every subsystem read from their parameters and write into their answers.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "instrument/Instrument.h"
#include "remote/commands/Command.h"
#include "scpi/ScpiErrors.h"
#include "scpi/ScpiGrammar.h"

namespace tq::args {

// The one parameter of a command that takes exactly one.
inline const scpi::Parameter& Only(const scpi::ParsedCommand& command) {
    scpi::CheckParamCount(command, 1, 1);
    return command.params[0];
}

inline void NoParameters(const scpi::ParsedCommand& command) {
    scpi::CheckParamCount(command, 0, 0);
}

// Whether a parameter is the character mnemonic `mnemonic` (NONE, INFinity, ANYBoard...).
inline bool IsWord(const scpi::Parameter& p, std::string_view mnemonic) {
    return p.kind == scpi::ParamKind::kCharacter && scpi::MatchesMnemonic(p.value, mnemonic);
}

// A character parameter that must be one of two mnemonics: true for the first.
inline bool Choice(const scpi::ParsedCommand& command, std::string_view first,
                   std::string_view second) {
    const scpi::Parameter& p = Only(command);
    if (p.kind != scpi::ParamKind::kCharacter)
        throw scpi::ScpiError(scpi::kDataTypeError);
    if (scpi::MatchesMnemonic(p.value, first))
        return true;
    if (scpi::MatchesMnemonic(p.value, second))
        return false;
    throw scpi::ScpiError(scpi::kIllegalParameterValue);
}

// The contents of the one string parameter.
inline std::string Text(const scpi::ParsedCommand& command) {
    const scpi::Parameter& p = Only(command);
    if (p.kind != scpi::ParamKind::kString)
        throw scpi::ScpiError(scpi::kDataTypeError);
    return p.value;
}

// A whole number parameter within [min, max], as the register or setting takes it; DEFault is
// `def` where the setting has one.
inline int32_t Int(const scpi::Parameter& p, int64_t min, int64_t max,
                   std::optional<int64_t> def = {}) {
    return static_cast<int32_t>(scpi::ReadInteger(p, min, max, def));
}

// A whole number within a setting's bounds (whole numbers themselves).
inline int32_t Int(const scpi::Parameter& p, const NumberBounds& bounds) {
    return Int(
        p, static_cast<int64_t>(bounds.min), static_cast<int64_t>(bounds.max),
        bounds.def ? std::optional<int64_t>(static_cast<int64_t>(*bounds.def)) : std::nullopt);
}

inline std::string Bool(bool on) {
    return on ? "1" : "0";
}

// A string answer: in double quotes, a quote inside doubled.
inline std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"')
            quoted += c;
    }
    return quoted + '"';
}

// IEEE 488.2 definite-length block: #, the count of length digits, the length, the bytes.
inline std::string Block(const std::string& bytes) {
    const std::string length = std::to_string(bytes.size());
    return "#" + std::to_string(length.size()) + length + bytes;
}

// The largest data code of the device the instrument is set to.
inline int32_t TopCode(const Instrument& in) {
    return in.Coding().TopCode();
}

}  // namespace tq::args
