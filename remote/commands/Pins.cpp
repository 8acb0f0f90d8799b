// The board's pins, the function register's settings, the digital lines D0 and D1, raw register
// writes and read-backs, and the temperature the TEMP pin gives.

#include <array>

#include "core/Tables.h"
#include "instrument/Description.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

using scpi::ScpiError;

// The LDAC pin, high (1) or low (0); the instrument keeps it high while writes pulse it, which
// the refusal says in the protocol's terms.
CommandRow LdacSwitch(std::string_view pattern) {
    const BoardSwitch& ldac = settings::kLdac;
    return Describing(
        OnOff(
            pattern, [&ldac](Call& c) { return ldac.read(c.in); },
            [&ldac](Call& c, bool high) {
                const bool pulsed = c.in.PulseAfterDataWrite();
                try {
                    ldac.set(c.in, high);
                } catch (const InstrumentError&) {
                    if (pulsed && !high)
                        throw ScpiError(
                            scpi::kSettingsConflict,
                            "LDAC stays high while SOURce:PULSe is ON; turn it OFF first");
                    throw;
                }
            }),
        {.board = {&ldac}});
}

// D0 is DIGital1, D1 is DIGital2: SCPI suffixes count from 1.
int Line(const Call& c) {
    return c.suffix - 1;
}
// A digital line's setting: D0's, then D1's.
using LineSettings = std::array<const BoardSwitch*, 2>;
const BoardSwitch& Of(const Call& c, const LineSettings& lines) {
    return *lines[static_cast<std::size_t>(Line(c))];
}
constexpr LineSettings kDirections{&settings::kD0Output, &settings::kD1Output};
constexpr LineSettings kLevels{&settings::kD0High, &settings::kD1High};
constexpr LineSettings kDrives{&settings::kDriveD0, &settings::kDriveD1};

// An on/off setting of each digital line, set once the line's interlock lets it (`direction`
// as LineInterlock takes it).
CommandRow LineSwitch(std::string_view pattern, const LineSettings& lines, const char* direction);
// The instrument's D0/D1 interlock for a level (`direction` "OUT") or a drive ("IN"), its refusal
// naming the command that lifts it: "D0 is ... (DIGital1:DIRection IN)".
void LineInterlock(const Call& c, int line, const char* direction) {
    try {
        if (std::string_view(direction) == "OUT")
            c.in.CheckDigitalLevel(line);
        else
            c.in.CheckDigitalDrive(line);
    } catch (const InstrumentError& e) {
        throw ScpiError(scpi::kSettingsConflict, std::string(e.what()) + " (DIGital" +
                                                     std::to_string(line + 1) + ":DIRection " +
                                                     direction + ")");
    }
}

CommandRow LineSwitch(std::string_view pattern, const LineSettings& lines, const char* direction) {
    return ForDigitalLines(
        Describing(OnOff(
                       pattern, [&lines](Call& c) { return Of(c, lines).read(c.in); },
                       [&lines, direction](Call& c, bool on) {
                           LineInterlock(c, Line(c), direction);
                           Of(c, lines).set(c.in, on);
                       }),
                   {.board = {lines.begin(), lines.end()}}));
}

int16_t RegisterParameter(const scpi::Parameter& p) {
    return static_cast<int16_t>(scpi::ReadInteger(p, 0, 7));
}

}  // namespace

const CommandRows& PinCommands() {
    static const CommandRows rows = {
        LdacSwitch("PIN:LDAC"),
        OnOff("PIN:CLR", settings::kClr),
        OnOff("PIN:RSTin", settings::kRstin),
        OnOff("CONTrol:GNDoffset", settings::kLocalGroundOffset),
        // ON: the serial output enabled, the register's bit clear.
        OnOff("CONTrol:SDO", settings::kSerialOutputDisabled, /*inverted=*/true),
        // The board's side first, then the converter's direction bit.
        ForDigitalLines(Describing(
            Setting(
                "DIGital#:DIRection",
                [](Call& c) {
                    return std::string(
                        ShortForm(Of(c, kDirections).read(c.in) ? "OUTput" : "INput"));
                },
                [](Call& c) {
                    Of(c, kDirections).set(c.in, args::Choice(c.command, "OUTput", "INput"));
                }),
            {.board = {kDirections.begin(), kDirections.end()}, .words = {"OUTput", "INput"}})),
        // The level the converter drives while the line is its output.
        LineSwitch("DIGital#:LEVel", kLevels, "OUT"),
        // The level the board drives while the line is an input of the converter.
        LineSwitch("DIGital#:DRIVe", kDrives, "IN"),
        // The function register's read-back carries each line's level (bits 1 and 3).
        ForDigitalLines(Query("DIGital#:STATe",
                              [](Call& c) {
                                  const int32_t image = c.in.WithSerialOutput([&] {
                                      return c.in.ReadRegister(kFnControlBits, kRegFunction);
                                  });
                                  return args::Bool(image &
                                                    (Line(c) == 0 ? kBitD0High : kBitD1High));
                              })),
        SetOnly("REGister:WRITe",
                [](Call& c) {
                    scpi::CheckParamCount(c.command, 3, 3);
                    const int16_t address = RegisterParameter(c.command.params[0]);
                    const int16_t reg = RegisterParameter(c.command.params[1]);
                    c.in.WriteRegister(address, reg, args::Int(c.command.params[2], 0, 65535));
                }),
        {"REGister:READ", scpi::Forms::kQuery,
         [](Call& c) {
             scpi::CheckParamCount(c.command, 2, 2);
             const int16_t address = RegisterParameter(c.command.params[0]);
             const int16_t reg = RegisterParameter(c.command.params[1]);
             return scpi::FormatInt(
                 c.in.WithSerialOutput([&] { return c.in.ReadRegister(address, reg); }));
         }},
        Query("MEASure:TEMPerature",
              [](Call& c) { return scpi::FormatFloat(c.in.MeasureTemperature().celsius); }),
        Query("MEASure:TEMPerature:VOLTage",
              [](Call& c) { return scpi::FormatFloat(c.in.MeasureTemperature().volts); }),
    };
    return rows;
}

}  // namespace tq
