// The simulated board's bench: what a meter on the board reads, and its cable and power, for
// scripts without hardware. On a real board these headers do not exist.

#include "board/SimulatedBench.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {

const CommandRows& BenchCommands() {
    static const CommandRows rows = {
        ForChannelLists(Query("BENCh:VOLTage#",
                              [](Call& c) {
                                  return scpi::FormatFloat(static_cast<float>(
                                      c.targets.bench->OutputVolts(c.Channel())));
                              })),
        Numeric(
            "BENCh:TEMPerature",
            [](Call&) {
                return NumberBounds{-40.0, 150.0, {}};
            },
            [](Call& c) {
                return scpi::FormatFloat(static_cast<float>(c.targets.bench->DieTemperature()));
            },
            [](Call& c) {
                c.targets.bench->SetDieTemperature(
                    scpi::ReadNumber(args::Only(c.command), -40.0, 150.0));
            }),
        // D0 is DIGital1, D1 is DIGital2.
        ForDigitalLines(Query("BENCh:DIGital#",
                              [](Call& c) {
                                  const SimulatedBench& bench = *c.targets.bench;
                                  return args::Bool(
                                      (c.suffix == 1 ? bench.D0Level() : bench.D1Level()) != 0);
                              })),
        // Unplugging and plugging back is a cable glitch; a power cycle loses the converter's
        // registers and the pins, and the program looks at the board at once, as a hot-plug
        // notice would make it: it finds the board back and restores what it knew.
        OnOff(
            "BENCh:LINK", [](Call& c) { return c.targets.bench->Plugged(); },
            [](Call& c, bool on) {
                if (on)
                    c.targets.bench->Plug();
                else
                    c.targets.bench->Unplug();
            }),
        Action("BENCh:POWer:CYCLe",
               [](Call& c) {
                   c.targets.bench->PowerCycle();
                   c.in.CheckBoard();
               }),
    };
    return rows;
}

}  // namespace tq
