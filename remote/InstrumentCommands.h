#pragma once
// The instrument's command tree: every SCPI command the server knows, carried out through the
// instrument layer. The commands are the rows of remote/commands/, one file a subsystem; this puts
// them into one table. One InstrumentCommands serves every client; each client brings its own
// error queue (ScpiSession). Standard library only: the protocol is tested without sockets.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "instrument/Instrument.h"
#include "instrument/Waveform.h"
#include "remote/ScpiErrors.h"
#include "remote/ScpiGrammar.h"
#include "remote/commands/Command.h"

namespace tq {

class ListRun;
class SimulatedBench;
class MeterRuns;

class InstrumentCommands {
public:
    // `bench` is the simulated board's meter, or null on a real board (the BENCh commands do not
    // exist there). `run` is the program's waveform run, which the INITiate and ABORt commands
    // start, poll and stop with the lists in `lists` (the program's; without, lists of the
    // commands' own); `meter` is the bench meter's runs. Without a run or meter runs, their
    // commands do not exist.
    InstrumentCommands(Instrument& instrument, SimulatedBench* bench, WaveformRun* run = nullptr,
                       MeterRuns* meter = nullptr, ListRun* lists = nullptr);
    ~InstrumentCommands();
    InstrumentCommands(const InstrumentCommands&) = delete;
    InstrumentCommands& operator=(const InstrumentCommands&) = delete;

    // Runs one line for a client: its answers (joined by ';') when the line held a query.
    // Changes are reported to the instrument's listeners with `origin`.
    // `format`: the client's FORMat; none: ASCii.
    std::optional<std::string> ExecuteLine(std::string_view line, scpi::ErrorQueue& errors,
                                           const void* origin, scpi::DataFormat* format = nullptr);
    // Runs a line's commands on from where it stopped, holding before the next one while a ramp
    // that `origin` started is running, or while `pause` says so. True when the line has run to
    // its end.
    bool ContinueLine(scpi::LineProgress& progress, scpi::ErrorQueue& errors, const void* origin,
                      const std::function<bool()>& pause = {}, scpi::DataFormat* format = nullptr);

    Instrument& Target() { return instrument_; }

    // Every command the table holds, in the order they are matched.
    const CommandRows& Rows() const { return rows_; }

private:
    void AddRows(const CommandRows& rows);
    // The matched row's handler, its failures as the protocol names them.
    std::string Dispatch(const scpi::MatchResult& match, const scpi::ParsedCommand& command,
                         scpi::ErrorQueue& errors, scpi::DataFormat* format);

    Instrument& instrument_;
    std::unique_ptr<ListRun> ownLists_;
    CommandTargets targets_;
    CommandRows rows_;  // the table's ids are the rows' places here
    scpi::CommandTable table_;
};

// One client's side of the conversation: its error queue and the lines it sends.
class ScpiSession {
public:
    explicit ScpiSession(InstrumentCommands& commands) : commands_(commands) {}

    std::optional<std::string> Execute(std::string_view line) {
        return commands_.ExecuteLine(line, errors_, this, &format_);
    }
    // As Execute, for a client of the server: a command that starts a ramp (output protection)
    // completes when the ramp has, so the line holds there until Resume() finds it ended. True
    // when the line has run to its end; TakeResponse() then gives its answers.
    bool Start(std::string_view line) {
        pending_ = scpi::BeginLine(line);
        return Resume();
    }
    bool Resume() { return commands_.ContinueLine(pending_, errors_, this, pause_, &format_); }
    bool Holding() const { return !pending_.Ended(); }
    // The server stops a line between commands while `pause` is true (its turn is over, or its
    // answers wait unread); TakeResponse() then gives the answers so far.
    void SetPause(std::function<bool()> pause) { pause_ = std::move(pause); }
    std::size_t ResponseSize() const { return pending_.response ? pending_.response->size() : 0; }
    std::optional<std::string> TakeResponse() { return std::exchange(pending_.response, {}); }
    // A line longer than the protocol allows was thrown away.
    void Overrun() { errors_.Push(scpi::kInputBufferOverrun); }
    scpi::ErrorQueue& Errors() { return errors_; }
    scpi::DataFormat& Format() { return format_; }

private:
    InstrumentCommands& commands_;
    scpi::ErrorQueue errors_;
    scpi::DataFormat format_;  // FORMat: this client's, as its error queue is
    scpi::LineProgress pending_;
    std::function<bool()> pause_;
};

}  // namespace tq
