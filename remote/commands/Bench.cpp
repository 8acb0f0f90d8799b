// The simulated board's bench: what a meter on the board reads, for scripts without hardware.
// On a real board these headers do not exist.

#include "board/SimulatedBench.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {

const CommandRows& BenchCommands() {
    static const CommandRows rows = {
        Query("BENCh:VOLTage#",
              [](Call& c) {
                  return scpi::FormatFloat(
                      static_cast<float>(c.targets.bench->OutputVolts(c.Channel())));
              }),
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
    };
    return rows;
}

}  // namespace tq
