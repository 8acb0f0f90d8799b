#pragma once
// The protocol as a table: each command is one row, its header pattern, the forms it has (set,
// query or both) and the handler that carries it out. The rows of a subsystem live together in
// its own file of this folder; InstrumentCommands puts the subsystems the program has into one
// table. Adding a command is adding its row to its subsystem's list.
//
// Standard library only, as the rest of the command tree.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "instrument/Activities.h"
#include "instrument/Description.h"
#include "scpi/ScpiErrors.h"
#include "scpi/ScpiGrammar.h"

namespace tq {

class Instrument;
class ListRun;
class RemoteLock;
class MeterRuns;
class SetupSlots;
class SimulatorControl;
class StatusModel;
class WaveformRun;
struct Call;
struct RemoteClient;

// What the commands drive besides the instrument. Each may be null where the program has no such
// thing; a subsystem whose target is missing is left out of the table.
struct CommandTargets {
    SimulatorControl* bench = nullptr;  // the simulated board: its meter, cable and power
    WaveformRun* run = nullptr;         // the program's waveform run, which a list run uses
    ListRun* lists = nullptr;           // the lists it runs
    MeterRuns* meter = nullptr;         // the bench meter's runs
    StatusModel* status = nullptr;      // the conditions the clients' status registers follow
    SetupSlots* setupSlots = nullptr;   // where *SAV and *RCL keep setups
    // What *RST puts back besides the board and the lists, each subsystem's own settings
    // (InstrumentCommands::AddResetStep).
    std::vector<std::function<void(Call&)>> resetSteps{};
    // The whole table, for the description of its settings (SYSTem:DESCription?).
    const std::vector<struct CommandRow>* rows = nullptr;
    RemoteLock* lock = nullptr;  // the one lock over every remote client
};

// One command as a handler sees it: the instrument, the rest of the program, the command as the
// client sent it and that client: its error queue and its status.
struct Call {
    Instrument& in;
    const CommandTargets& targets;
    const scpi::ParsedCommand& command;
    scpi::ErrorQueue& errors;
    RemoteClient& client;
    bool query = false;
    int suffix = 1;  // the number after the header's '#' part; 1 when none was typed
    // This client's FORMat (*RST resets it: format->Reset()); never null when a row runs.
    scpi::DataFormat* format = nullptr;
    int16_t Channel() const { return static_cast<int16_t>(suffix - 1); }
};

// Returns the answer of a query (ignored for a set command); throws scpi::ScpiError, or an
// instrument error that the table turns into the protocol's code.
using CommandHandler = std::function<std::string(Call&)>;

// The settings of the description (instrument/Description.h) that a row reads and sets, which
// SYSTem:DESCription? publishes under the row's header.
struct DescribedSettings {
    const ChannelSetting* number = nullptr;   // a channel's number, the same for every suffix
    std::vector<const BoardSwitch*> board{};  // a board switch, or one per suffix (D0, D1)
    std::array<std::string_view, 2> words{};  // the answers for on and off, where not 1 and 0
    bool inverted = false;                    // ON is the switch off
};

struct CommandRow {
    std::string_view pattern;  // as scpi::CommandTable::Add takes it
    scpi::Forms forms;
    CommandHandler handler;
    int maxSuffix = 4;  // the highest suffix the '#' part takes (channels 1-4)
    std::optional<DescribedSettings> described{};
    // Its set form runs while another client holds the lock: a safety action, or a setting of
    // the client's own (its status enables, its format). Queries always do.
    bool passesLock = false;
    // The '#' part names a channel, and a channel list (@1,3) as the last parameter may name
    // several instead (InstrumentCommands::Dispatch).
    bool channelLists = false;
};
using CommandRows = std::vector<CommandRow>;

// Rows made the same way for the commands that have the same shape.

// Set form only, without parameters: an action.
CommandRow Action(std::string_view pattern, std::function<void(Call&)> act);
// Set form only; `set` reads the parameters.
CommandRow SetOnly(std::string_view pattern, std::function<void(Call&)> set);
// Query form only, without parameters.
CommandRow Query(std::string_view pattern, std::function<std::string(Call&)> answer);
// Both forms: the query (without parameters) answers `get`; the set form calls `set`, which reads
// the parameters.
CommandRow Setting(std::string_view pattern, std::function<std::string(Call&)> get,
                   std::function<void(Call&)> set);
// What MINimum, MAXimum and DEFault stand for in a numeric setting (no default: DEFault is -224).
using NumberBounds = SettingBounds;
// A numeric setting: the set form calls `set`, which reads the parameter (MINimum, MAXimum and
// DEFault included); the query answers `get`, or, given MINimum, MAXimum or DEFault, that value
// of `bounds` written by `answer` (by default as FormatFloat writes it).
CommandRow Numeric(std::string_view pattern, std::function<NumberBounds(Call&)> bounds,
                   std::function<std::string(Call&)> get, std::function<void(Call&)> set,
                   std::function<std::string(double)> answer = {});
// A setting that is on or off: the query answers 1 or 0, the set form takes ON, OFF, 1 or 0.
CommandRow OnOff(std::string_view pattern, std::function<bool(Call&)> get,
                 std::function<void(Call&, bool)> set);
// The row of a channel's setting, taking a channel list as its last parameter.
CommandRow ForChannelLists(CommandRow row);
// The channels of a channel list parameter (EndsInChannelList), (@1), (@1,3), (@1:4), as
// 0-based channels in the order named, each once. Throws -102 for a malformed list, -222 for a
// channel beyond 1..`channels`.
std::vector<int16_t> ChannelList(const scpi::Parameter& p, int channels = 4);
// Whether the command's last parameter is a channel list.
bool EndsInChannelList(const scpi::ParsedCommand& command);

// The row with its '#' part taking 1 and 2 only: the digital lines D0 and D1 (DIGital1, DIGital2).
CommandRow ForDigitalLines(CommandRow row);

// Rows made from the description's settings.

// A channel's whole-number setting (a code, register steps) as a Numeric row over its present
// bounds; answers are integers.
CommandRow WholeSetting(std::string_view pattern, const ChannelSetting& setting);
// The same setting of ALL DACs at once (set only), within DAC A's bounds.
CommandRow WholeSettingOfAll(std::string_view pattern, const ChannelSetting& setting);
// A board switch: the query answers 1 or 0, the set form takes ON, OFF, 1 or 0. `inverted`: ON
// is the switch off.
CommandRow OnOff(std::string_view pattern, const BoardSwitch& setting, bool inverted = false);
// A board switch named by two mnemonics (BINary and TWOScomplement; the answer is each one's
// short form): the first is on.
CommandRow Choice(std::string_view pattern, const BoardSwitch& setting, std::string_view on,
                  std::string_view off);
// The row, its set form running while another client holds the lock.
CommandRow PassingLock(CommandRow row);
// The row, published as made from `described`.
CommandRow Describing(CommandRow row, DescribedSettings described);
// The capital letters that begin a mnemonic: its short form ("BIN" of "BINary").
std::string_view ShortForm(std::string_view mnemonic);

// A stop asked for by the client of `c` with `command`: its starter, if another, reads
// "another client's <command>".
StopReason StopBy(const Call& c, const std::string& command);

// *RST's start state of the board, with the outputs held at 0 V while it is written: binary
// coding, the pulse on, LDAC, CLR and RSTIN high, the function register 0, every range +-10 V and
// every data register the code of 0 V. Calibration data and limits stay.
void EnterStartState(Instrument& in);

// The settings the table's rows are made from, each once, as SYSTem:DESCription? publishes them.
std::vector<PublishedSetting> PublishedSettings(const CommandRows& rows);

// The refusal of a change while another client holds the lock: -200, naming the holder.
scpi::ScpiError LockRefusal(const RemoteLock& lock);

// The subsystems, each in its own file.
const CommandRows& CommonCommands();      // *IDN?, *RST, *SAV, SYSTem:...
const CommandRows& StatusCommands();      // *ESR?, *STB?, *OPC, STATus:...
const CommandRows& SetupCommands();       // SYSTem:SETup
const CommandRows& OutputCommands();      // SOURce: voltages, registers, coding, LOAD
const CommandRows& ProtectionCommands();  // limits, ramps, the safe state
const CommandRows& PinCommands();         // pins, function register, digital lines, registers
const CommandRows& ListCommands();        // list runs (with a waveform run and its lists)
const CommandRows& BenchCommands();       // the simulated board's bench (with a bench)
const CommandRows& MeterCommands();       // the bench meter's runs (with meter runs)
const CommandRows& LockCommands();        // SYSTem:LOCK

}  // namespace tq
