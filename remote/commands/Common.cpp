// The IEEE 488.2 common commands and the SYSTem subsystem.

#include "core/Tables.h"
#include "core/Version.h"
#include "instrument/SafeState.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {

using scpi::Forms;

const CommandRows& CommonCommands() {
    static const CommandRows rows = {
        Query("*IDN",
              [](Call& c) {
                  return std::string("TQ2604X-EVAL,") +
                         (c.in.Resolution() == 14 ? "TQ2404" : "TQ2604X") + "," +
                         c.in.Identity().serial + "," + kProgramVersion;
              }),
        Action("*CLS", [](Call& c) { c.errors.Clear(); }),
        // Every command has completed when the next one is read.
        Query("*OPC", [](Call&) { return "1"; }),
        Action("*WAI", [](Call&) {}),
        Action("*RST",
               [](Call& c) {
                   EnterSafeState(c.in, c.targets.run, c.targets.meter);
                   c.format->Reset();  // FORMat ASCii, NORMal
               }),
        Query("*STB", [](Call& c) { return c.errors.Empty() ? "0" : "4"; }),
        Query("*TST",
              [](Call& c) {
                  try {
                      const int32_t value = c.in.WithSerialOutput(
                          [&] { return c.in.ReadRegister(kFnControlBits, kRegFunction); });
                      return value == 0xFFFF ? "1" : "0";
                  } catch (const InstrumentError&) {
                      return "1";
                  }
              }),
        Query("SYSTem:ERRor[:NEXT]", [](Call& c) { return c.errors.Next(); }),
        Setting(
            "SYSTem:RESolution", [](Call& c) { return scpi::FormatInt(c.in.Resolution()); },
            [](Call& c) {
                const auto bits = scpi::ReadInteger(args::Only(c.command), 14, 16);
                if (bits != 14 && bits != 16)
                    throw scpi::ScpiError(scpi::kIllegalParameterValue);
                c.in.SetResolution(static_cast<int16_t>(bits));
            }),
        // The SCPI version followed.
        Query("SYSTem:VERSion", [](Call&) { return "1999.0"; }),
    };
    return rows;
}

}  // namespace tq
