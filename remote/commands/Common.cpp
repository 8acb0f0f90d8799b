// The IEEE 488.2 common commands that are not about status, the saved setups and the SYSTem
// subsystem.

#include "core/ConverterCoding.h"
#include "core/Tables.h"
#include "core/Version.h"
#include "instrument/ListRun.h"
#include "instrument/Setup.h"
#include "remote/SetupSlots.h"
#include "remote/StatusRegisters.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

using scpi::ScpiError;

// *RST: the running activities stop and the outputs go to 0 V; then the board takes the start
// state, at once or, where the safe state ramps, once its ramp has ended (the client's line
// holds until then). What IEEE 488.2 keeps stays: calibration data, limits, meter settings, the
// status enables, the error queue.
void Reset(Call& c) {
    c.client.operationCompleteArmed = false;
    if (c.targets.lists)
        c.targets.lists->Reset();  // first, so that no trigger starts the armed run
    c.in.GoToSafeState(StopBy(c, "*RST"));
    c.format->Reset();  // FORMat ASCii, NORMal
    for (const auto& step : c.targets.resetSteps)
        step(c);
    if (c.in.RampOrigin() == c.client.origin) {
        c.client.resetPending = true;
        c.client.resetRampError.clear();
    } else
        EnterStartState(c.in);
}

int Slot(const scpi::ParsedCommand& command) {
    return args::Int(args::Only(command), 0, SetupSlots::kCount - 1);
}

// *RCL: the slot's setup with every check of a setup file.
void Recall(Call& c) {
    const int slot = Slot(c.command);
    const std::optional<std::string> text = c.targets.setupSlots->Load(slot);
    const std::string name = "setup slot " + std::to_string(slot);
    if (!text)
        throw ScpiError(scpi::kIllegalParameterValue, name + " is empty");
    Setup setup;
    try {
        setup = SetupFromJson(*text);
        CheckSetup(setup, c.in);
    } catch (const SetupError& e) {
        throw ScpiError(scpi::kIllegalParameterValue, name + ": " + e.what());
    }
    if (FromAnotherBoard(setup, c.in))
        throw ScpiError(scpi::kSettingsConflict,
                        name + " was saved from board " + setup.board + ", this is " +
                            c.in.Identity().serial +
                            "; open it with SYSTem:SETup <block>,ANYBoard instead");
    ApplySetup(c.in, setup);
    // The Generator's definition goes to the Generator; without windows nobody takes it.
    if (setup.waveform && c.targets.run)
        c.targets.run->OfferDefinition(*setup.waveform);
}

// Every queued error, oldest first, comma-separated; the queue is emptied.
std::string AllErrors(scpi::ErrorQueue& errors) {
    if (errors.Empty())
        return errors.Next();
    std::string all;
    while (!errors.Empty())
        all += (all.empty() ? "" : ",") + errors.Next();
    return all;
}

}  // namespace

void EnterStartState(Instrument& in) {
    Setup start;
    start.ldac = start.clr = start.rstin = true;
    start.binaryCoding = true;
    start.driveD0 = start.driveD1 = false;
    start.pulseAfterDataWrite = true;
    start.localGroundOffset = start.d1Output = start.d1High = start.d0Output = start.d0High =
        start.serialOutputDisabled = false;
    const int32_t zero = ConverterCoding(in.Resolution(), true).ZeroCode();
    for (ChannelSetup& channel : start.channels) {
        channel.coarseGain = 0;
        channel.data = zero;
    }
    ApplySetup(in, start);
}

const CommandRows& CommonCommands() {
    static const CommandRows rows = {
        Query("*IDN",
              [](Call& c) {
                  return std::string("TQ2604X-EVAL,") +
                         (c.in.Resolution() == 14 ? "TQ2404" : "TQ2604X") + "," +
                         c.in.Identity().serial + "," + kProgramVersion;
              }),
        Action("*RST", Reset),
        // No options are installed.
        Query("*OPT", [](Call&) { return "0"; }),
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
        SetOnly("*SAV",
                [](Call& c) {
                    const int slot = Slot(c.command);
                    c.targets.setupSlots->Save(slot, SetupToJson(CaptureSetup(c.in)));
                }),
        SetOnly("*RCL", Recall),
        Query("SYSTem:ERRor[:NEXT]", [](Call& c) { return c.errors.Next(); }),
        Query("SYSTem:ERRor:ALL", [](Call& c) { return AllErrors(c.errors); }),
        Query("SYSTem:ERRor:COUNt",
              [](Call& c) { return scpi::FormatInt(static_cast<int64_t>(c.errors.Size())); }),
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
