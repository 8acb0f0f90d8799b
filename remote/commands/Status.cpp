// The status of each client: IEEE 488.2's standard event status register and status byte, the
// synchronisation commands, and SCPI's OPERation and QUEStionable registers. The registers are the
// client's own (remote/StatusRegisters.h); their conditions are the instrument's.

#include "remote/StatusRegisters.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

// An 8-bit enable register (*ESE, *SRE).
int ByteMask(Call& c) {
    return args::Int(args::Only(c.command), 0, 255);
}

// A 16-bit enable register of SCPI; bit 15 is never used, as SCPI leaves it out.
int WordMask(Call& c) {
    return args::Int(args::Only(c.command), 0, 65535) & 0x7FFF;
}

std::string Number(int value) {
    return scpi::FormatInt(value);
}

// Reads an event register and clears it.
std::string Take(int& events) {
    return Number(std::exchange(events, 0));
}

// A transition filter of this client's: which edges of the conditions latch their event bit.
CommandRow Filter(std::string_view pattern, int scpi::StatusRegisters::*filter) {
    return Setting(
        pattern, [filter](Call& c) { return Number(c.client.status.*filter); },
        [filter](Call& c) { c.client.status.*filter = WordMask(c); });
}

}  // namespace

// A client's status registers are its own: they are set while another client holds the lock.
const CommandRows& StatusCommands() {
    static const CommandRows rows = {
        Query("*ESR", [](Call& c) { return Take(c.client.status.events); }),
        PassingLock(Setting(
            "*ESE", [](Call& c) { return Number(c.client.status.eventEnable); },
            [](Call& c) { c.client.status.eventEnable = ByteMask(c); })),
        // Bit 6 of the service request enable is ignored: it is the summary itself.
        PassingLock(Setting(
            "*SRE", [](Call& c) { return Number(c.client.status.serviceEnable); },
            [](Call& c) { c.client.status.serviceEnable = ByteMask(c) & ~scpi::kStatusMaster; })),
        Query("*STB",
              [](Call& c) {
                  const bool waiting = c.client.messageAvailable && c.client.messageAvailable();
                  return Number(c.client.status.StatusByte(!c.errors.Empty(), waiting));
              }),
        PassingLock(Action("*CLS",
                           [](Call& c) {
                               c.errors.Clear();
                               c.client.status.ClearEvents();
                               c.client.operationCompleteArmed = false;
                           })),
        // The server holds *OPC? and *WAI until this client's pending operations have ended
        // (InstrumentCommands::ContinueLine); by the time they run, nothing is pending.
        PassingLock(Setting(
            "*OPC", [](Call&) { return "1"; },
            [](Call& c) {
                args::NoParameters(c.command);
                c.targets.status->ArmOperationComplete(c.client);
            })),
        PassingLock(Action("*WAI", [](Call&) {})),
        Query("STATus:OPERation[:EVENt]",
              [](Call& c) { return Take(c.client.status.operationEvent); }),
        Query("STATus:OPERation:CONDition",
              [](Call& c) { return Number(c.targets.status->OperationCondition()); }),
        PassingLock(Setting(
            "STATus:OPERation:ENABle",
            [](Call& c) { return Number(c.client.status.operationEnable); },
            [](Call& c) { c.client.status.operationEnable = WordMask(c); })),
        Query("STATus:QUEStionable[:EVENt]",
              [](Call& c) { return Take(c.client.status.questionableEvent); }),
        Query("STATus:QUEStionable:CONDition",
              [](Call& c) { return Number(c.targets.status->QuestionableCondition()); }),
        PassingLock(Setting(
            "STATus:QUEStionable:ENABle",
            [](Call& c) { return Number(c.client.status.questionableEnable); },
            [](Call& c) { c.client.status.questionableEnable = WordMask(c); })),
        PassingLock(
            Filter("STATus:OPERation:PTRansition", &scpi::StatusRegisters::operationPositive)),
        PassingLock(
            Filter("STATus:OPERation:NTRansition", &scpi::StatusRegisters::operationNegative)),
        PassingLock(Filter("STATus:QUEStionable:PTRansition",
                           &scpi::StatusRegisters::questionablePositive)),
        PassingLock(Filter("STATus:QUEStionable:NTRansition",
                           &scpi::StatusRegisters::questionableNegative)),
        PassingLock(Action("STATus:PRESet", [](Call& c) { c.client.status.Preset(); })),
        // IEEE 488.2's power-on status clear: any number but 0 sets it. It is the board's
        // setting, not one client's, and kept between runs with the limits.
        Setting(
            "*PSC", [](Call& c) { return args::Bool(c.in.PowerOnStatusClear()); },
            [](Call& c) {
                c.in.SetPowerOnStatusClear(args::Int(args::Only(c.command), -32767, 32767) != 0);
            }),
    };
    return rows;
}

}  // namespace tq
