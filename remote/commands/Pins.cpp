// The board's pins, the function register's settings, the digital lines D0 and D1, raw register
// writes and read-backs, and the temperature the TEMP pin gives.

#include "core/Tables.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

using scpi::ScpiError;

// A pin, high (1) or low (0).
CommandRow PinSwitch(std::string_view pattern, Pin pin) {
    return OnOff(
        pattern, [=](Call& c) { return c.in.PinValue(pin); },
        [=](Call& c, bool high) {
            const bool pulsed = pin == Pin::Ldac && c.in.PulseAfterDataWrite();
            try {
                c.in.SetPin(pin, high);
            } catch (const InstrumentError&) {
                // The instrument keeps LDAC high while writes pulse it; say so in our terms.
                if (pulsed && !high)
                    throw ScpiError(scpi::kSettingsConflict,
                                    "LDAC stays high while SOURce:PULSe is ON; turn it OFF first");
                throw;
            }
        });
}

// D0 is DIGital1, D1 is DIGital2: SCPI suffixes count from 1.
int Line(const Call& c) {
    return c.suffix - 1;
}
FunctionFlag OutputFlag(int line) {
    return line == 0 ? FunctionFlag::D0Output : FunctionFlag::D1Output;
}
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

int16_t RegisterParameter(const scpi::Parameter& p) {
    return static_cast<int16_t>(scpi::ReadInteger(p, 0, 7));
}

}  // namespace

const CommandRows& PinCommands() {
    static const CommandRows rows = {
        PinSwitch("PIN:LDAC", Pin::Ldac),
        PinSwitch("PIN:CLR", Pin::Clr),
        PinSwitch("PIN:RSTin", Pin::Rstin),
        OnOff(
            "CONTrol:GNDoffset",
            [](Call& c) { return c.in.FunctionFlagValue(FunctionFlag::LocalGndOffset); },
            [](Call& c, bool on) { c.in.SetFunctionFlag(FunctionFlag::LocalGndOffset, on); }),
        // ON: the serial output enabled, the register's bit clear.
        OnOff(
            "CONTrol:SDO",
            [](Call& c) { return !c.in.FunctionFlagValue(FunctionFlag::SdoDisable); },
            [](Call& c, bool on) { c.in.SetFunctionFlag(FunctionFlag::SdoDisable, !on); }),
        // The board's side first, then the converter's direction bit (SetD0Output does both).
        ForDigitalLines(Setting(
            "DIGital#:DIRection",
            [](Call& c) { return c.in.FunctionFlagValue(OutputFlag(Line(c))) ? "OUT" : "IN"; },
            [](Call& c) {
                const bool output = args::Choice(c.command, "OUTput", "INput");
                if (Line(c) == 0)
                    c.in.SetD0Output(output);
                else
                    c.in.SetD1Output(output);
            })),
        // The level the converter drives while the line is its output.
        ForDigitalLines(OnOff(
            "DIGital#:LEVel",
            [](Call& c) {
                return c.in.FunctionFlagValue(Line(c) == 0 ? FunctionFlag::D0High
                                                           : FunctionFlag::D1High);
            },
            [](Call& c, bool high) {
                const int line = Line(c);
                LineInterlock(c, line, "OUT");
                c.in.SetFunctionFlag(line == 0 ? FunctionFlag::D0High : FunctionFlag::D1High, high);
            })),
        // The level the board drives while the line is an input of the converter.
        ForDigitalLines(OnOff(
            "DIGital#:DRIVe",
            [](Call& c) { return c.in.PinValue(Line(c) == 0 ? Pin::DriveD0 : Pin::DriveD1); },
            [](Call& c, bool high) {
                const int line = Line(c);
                LineInterlock(c, line, "IN");
                c.in.SetPin(line == 0 ? Pin::DriveD0 : Pin::DriveD1, high);
            })),
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
