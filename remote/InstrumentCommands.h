#pragma once
// The instrument's command tree: every SCPI command the server knows, carried out through the
// instrument layer. The commands are the rows of remote/commands/, one file a subsystem; this puts
// them into one table. One InstrumentCommands serves every client; each client brings its own
// error queue and status (ScpiSession). Standard library only: the protocol is tested without
// sockets.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "instrument/Instrument.h"
#include "instrument/Waveform.h"
#include "remote/RemoteLock.h"
#include "remote/SetupSlots.h"
#include "remote/StatusRegisters.h"
#include "remote/commands/Command.h"
#include "scpi/ScpiErrors.h"
#include "scpi/ScpiGrammar.h"

namespace tq {

class ListRun;
class SimulatorControl;
class MeterRuns;

class InstrumentCommands {
public:
    // `bench` is the simulated board's meter, or null on a real board (the BENCh commands do not
    // exist there). `run` is the program's waveform run, which the INITiate and ABORt commands
    // start, poll and stop with the lists in `lists` (the program's; without, lists of the
    // commands' own); `meter` is the bench meter's runs. Without a run or meter runs, their
    // commands do not exist.
    InstrumentCommands(Instrument& instrument, SimulatorControl* bench, WaveformRun* run = nullptr,
                       MeterRuns* meter = nullptr, ListRun* lists = nullptr);
    ~InstrumentCommands();
    InstrumentCommands(const InstrumentCommands&) = delete;
    InstrumentCommands& operator=(const InstrumentCommands&) = delete;

    // Runs one line for a client: its answers (joined by ';') when the line held a query.
    // Changes are reported to the instrument's listeners with the client's origin. Nothing waits:
    // *OPC? and *WAI answer at once.
    std::optional<std::string> ExecuteLine(std::string_view line, RemoteClient& client);
    // Runs a line's commands on from where it stopped, holding before the next one while a ramp
    // that the client started is running, before *OPC? and *WAI while its operations are
    // pending, and while `pause` says so. True when the line has run to its end.
    bool ContinueLine(scpi::LineProgress& progress, RemoteClient& client,
                      const std::function<bool()>& pause = {});

    // *SAV and *RCL keep their setups in `store` from now on; null: in memory for the run.
    void SetSetupSlots(SetupSlots* store);
    // *RST calls `step` after the board and the lists have their start state: a subsystem's own
    // settings (FORMat) go back to theirs there.
    void AddResetStep(std::function<void(Call&)> step);

    Instrument& Target() { return instrument_; }
    StatusModel& Status() { return status_; }
    // The one lock over every remote client: while one holds it, the others' changes are refused.
    RemoteLock& Lock() { return lock_; }

    // Every command the table holds, in the order they are matched.
    const CommandRows& Rows() const { return rows_; }

private:
    void AddRows(const CommandRows& rows);
    // The matched row's handler, its failures as the protocol names them.
    std::string Dispatch(const scpi::MatchResult& match, const scpi::ParsedCommand& command,
                         RemoteClient& client);
    // The row for each channel of the command's channel list.
    std::string ForEachChannel(const CommandRow& row, Call& call);
    // *RST's start state once the safe state's ramp has ended.
    void FinishReset(RemoteClient& client);

    Instrument& instrument_;
    std::unique_ptr<ListRun> ownLists_;
    MemorySetupSlots ownSlots_;
    StatusModel status_;
    RemoteLock lock_;
    CommandTargets targets_;
    CommandRows rows_;  // the table's ids are the rows' places here
    scpi::CommandTable table_;
};

// One client's side of the conversation: its error queue, its status and the lines it sends.
class ScpiSession {
public:
    explicit ScpiSession(InstrumentCommands& commands) : commands_(commands) {
        commands_.Status().Attach(client_);
    }
    // A client that leaves gives the lock back.
    ~ScpiSession() {
        commands_.Lock().Give(client_.origin);
        commands_.Status().Detach(client_);
    }
    ScpiSession(const ScpiSession&) = delete;
    ScpiSession& operator=(const ScpiSession&) = delete;

    std::optional<std::string> Execute(std::string_view line) {
        return commands_.ExecuteLine(line, client_);
    }
    // As Execute, for a client of the server: a command that starts a ramp (output protection)
    // completes when the ramp has, and *OPC? and *WAI when the client's pending operations have
    // ended, so the line holds there until Resume() finds them ended. True when the line has
    // run to its end; TakeResponse() then gives its answers.
    bool Start(std::string_view line) {
        pending_ = scpi::BeginLine(line);
        return Resume();
    }
    bool Resume() { return commands_.ContinueLine(pending_, client_, pause_); }
    bool Holding() const { return !pending_.Ended() || client_.resetPending; }
    // The server stops a line between commands while `pause` is true (its turn is over, or its
    // answers wait unread); TakeResponse() then gives the answers so far.
    void SetPause(std::function<bool()> pause) { pause_ = std::move(pause); }
    std::size_t ResponseSize() const { return pending_.response ? pending_.response->size() : 0; }
    std::optional<std::string> TakeResponse() { return std::exchange(pending_.response, {}); }
    // A line longer than the protocol allows was thrown away.
    void Overrun() { client_.errors.Push(scpi::kInputBufferOverrun); }
    // Tells whether an answer waits for the client, for the status byte's MAV.
    void SetMessageAvailable(std::function<bool()> waiting) {
        client_.messageAvailable = std::move(waiting);
    }
    // IEEE 488.2's device clear: a line held for the pending operations is given up (they go
    // on) and *OPC is forgotten.
    void DeviceClear() {
        pending_ = {};
        client_.operationCompleteArmed = false;
    }
    scpi::ErrorQueue& Errors() { return client_.errors; }
    const scpi::StatusRegisters& Status() const { return client_.status; }
    scpi::DataFormat& Format() { return client_.format; }
    // How the lock names this client to the others ("client at 127.0.0.1:50712").
    void SetName(std::string name) { client_.name = std::move(name); }
    const std::string& Name() const { return client_.name; }
    // Told after each command the client runs.
    void SetCommandDone(std::function<void()> done) { client_.commandDone = std::move(done); }
    const void* Origin() const { return client_.origin; }

private:
    InstrumentCommands& commands_;
    RemoteClient client_;
    scpi::LineProgress pending_;
    std::function<bool()> pause_;
};

}  // namespace tq
