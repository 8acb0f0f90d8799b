// The IEEE 488.2 common commands that are not about status, the saved setups and the SYSTem
// subsystem.

#include <algorithm>
#include <vector>

#include "core/ConverterCoding.h"
#include "core/ConverterProfile.h"
#include "core/Tables.h"
#include "core/Version.h"
#include "instrument/Description.h"
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

// The code of a queued error, "<code>,\"<text>\"".
std::string CodeOf(const std::string& error) {
    return error.substr(0, error.find(','));
}

// Every queued error's code, oldest first, comma-separated; the queue is emptied.
std::string AllCodes(scpi::ErrorQueue& errors) {
    std::string all = CodeOf(errors.Next());
    while (!errors.Empty())
        all += "," + CodeOf(errors.Next());
    return all;
}

}  // namespace

// The settings the table's rows are made from, each once, under the header of its first row
// that answers a query: '#' written <n> for a channel, or the line's number for a setting of
// one digital line.
std::vector<PublishedSetting> PublishedSettings(const CommandRows& rows) {
    std::vector<PublishedSetting> published;
    std::vector<const void*> seen;
    const auto once = [&](const void* setting) {
        if (std::find(seen.begin(), seen.end(), setting) != seen.end())
            return false;
        seen.push_back(setting);
        return true;
    };
    for (const CommandRow& row : rows) {
        if (!row.described || row.forms == scpi::Forms::kSet)
            continue;
        const DescribedSettings& d = *row.described;
        std::string header(row.pattern);
        const std::size_t suffix = header.find('#');
        if (d.number && once(d.number)) {
            if (suffix != std::string::npos)
                header.replace(suffix, 1, "<n>");
            published.push_back({.number = d.number, .header = header});
        }
        for (std::size_t i = 0; i < d.board.size(); ++i) {
            if (!once(d.board[i]))
                continue;
            std::string named = header;
            if (suffix != std::string::npos)
                named.replace(suffix, 1, std::to_string(i + 1));
            published.push_back(
                {.board = d.board[i], .header = named, .words = d.words, .inverted = d.inverted});
        }
    }
    return published;
}

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
                  return std::string("TQ2604X-EVAL,") + std::string(c.in.Profile().model) + "," +
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
        Query("SYSTem:ERRor:CODE[:NEXT]", [](Call& c) { return CodeOf(c.errors.Next()); }),
        Query("SYSTem:ERRor:CODE:ALL", [](Call& c) { return AllCodes(c.errors); }),
        Query("SYSTem:ERRor:COUNt",
              [](Call& c) { return scpi::FormatInt(static_cast<int64_t>(c.errors.Size())); }),
        Setting(
            "SYSTem:RESolution", [](Call& c) { return scpi::FormatInt(c.in.Resolution()); },
            [](Call& c) {
                int16_t lowest = kProfiles.front().resolution;
                int16_t highest = lowest;
                for (const ConverterProfile& p : kProfiles) {
                    lowest = std::min(lowest, p.resolution);
                    highest = std::max(highest, p.resolution);
                }
                const auto bits = scpi::ReadInteger(args::Only(c.command), lowest, highest);
                if (!FindProfile(static_cast<int>(bits)))
                    throw scpi::ScpiError(scpi::kIllegalParameterValue);
                c.in.SetResolution(static_cast<int16_t>(bits));
            }),
        // Every setting the rows are made from, with its present bounds, as JSON in a block.
        Query("SYSTem:DESCription",
              [](Call& c) {
                  return args::Block(DescriptionJson(c.in, PublishedSettings(*c.targets.rows)));
              }),
        // One instrument: the board's converter.
        Setting(
            "INSTrument:NSELect", [](Call&) { return "1"; },
            [](Call& c) {
                if (args::Int(args::Only(c.command), -2147483647, 2147483647) != 1)
                    throw ScpiError(scpi::kDataOutOfRange, "there is one instrument, 1");
            }),
        // The settings SYSTem:SETup? holds, as the command that, sent back, restores them with the
        // setup's care (the outputs held at 0 V while it is written).
        Query("*LRN",
              [](Call& c) {
                  return "SYSTem:SETup " + args::Block(SetupToJson(CaptureSetup(c.in), 0));
              }),
        // The SCPI version followed.
        Query("SYSTem:VERSion", [](Call&) { return "1999.0"; }),
    };
    return rows;
}

}  // namespace tq
