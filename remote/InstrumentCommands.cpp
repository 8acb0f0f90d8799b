#include "remote/InstrumentCommands.h"

#include <algorithm>
#include <cctype>

#include "instrument/ListRun.h"

namespace tq {
namespace {

// The failures of the layers below, as the protocol names them.
template <typename F>
auto Translated(F&& action) -> decltype(action()) {
    try {
        return action();
    } catch (const scpi::ScpiError&) {
        throw;
    } catch (const RequestError& e) {
        throw scpi::ScpiError(scpi::kHardwareError, e.what());
    } catch (const ReadingError& e) {
        throw scpi::ScpiError(scpi::kHardwareError, e.what());
    } catch (const ValueRangeError& e) {
        throw scpi::ScpiError(scpi::kDataOutOfRange, e.what());
    } catch (const InstrumentError& e) {
        throw scpi::ScpiError(scpi::kSettingsConflict, e.what());
    } catch (const NumericError&) {
        throw scpi::ScpiError(scpi::kDataOutOfRange);
    } catch (const SlotError& e) {
        throw scpi::ScpiError(scpi::kMassStorageError, e.what());
    }
}

// Whether the next command of the rest of a line waits for the client's pending operations:
// *OPC? and *WAI.
bool WaitsForPending(std::string_view rest) {
    const std::size_t start = rest.find_first_not_of(" \t;");
    if (start == std::string_view::npos)
        return false;
    const std::string_view command = rest;
    const std::size_t end = command.find_first_of(" \t;", start);
    const std::string_view header = command.substr(start, end - start);
    const auto is = [&](std::string_view name) {
        return header.size() == name.size() &&
               std::equal(header.begin(), header.end(), name.begin(),
                          [](char a, char b) { return std::toupper(a) == b; });
    };
    return is("*OPC?") || is("*WAI");
}

}  // namespace

InstrumentCommands::InstrumentCommands(Instrument& instrument, SimulatorControl* bench,
                                       WaveformRun* run, MeterRuns* meter, ListRun* lists)
    : instrument_(instrument),
      ownLists_(run && !lists ? std::make_unique<ListRun>() : nullptr),
      status_(instrument, run ? (lists ? lists : ownLists_.get()) : nullptr) {
    if (run && !lists)
        lists = ownLists_.get();
    targets_ = CommandTargets{bench, run, lists, meter, &status_, &ownSlots_};
    targets_.rows = &rows_;
    targets_.lock = &lock_;
    if (run)
        AddRows(ListCommands());
    AddRows(CommonCommands());
    AddRows(LockCommands());
    AddRows(StatusCommands());
    AddRows(SetupCommands());
    AddRows(OutputCommands());
    AddRows(PinCommands());
    AddRows(ProtectionCommands());
    if (bench)
        AddRows(BenchCommands());
    if (meter)
        AddRows(MeterCommands());
}

InstrumentCommands::~InstrumentCommands() = default;

void InstrumentCommands::SetSetupSlots(SetupSlots* store) {
    targets_.setupSlots = store ? store : &ownSlots_;
}

void InstrumentCommands::AddResetStep(std::function<void(Call&)> step) {
    targets_.resetSteps.push_back(std::move(step));
}

void InstrumentCommands::AddRows(const CommandRows& rows) {
    for (const CommandRow& row : rows) {
        table_.Add(static_cast<int>(rows_.size()), row.pattern, row.forms, row.maxSuffix);
        rows_.push_back(row);
    }
}

std::string InstrumentCommands::Dispatch(const scpi::MatchResult& match,
                                         const scpi::ParsedCommand& command, RemoteClient& client) {
    const CommandRow& row = rows_[static_cast<std::size_t>(match.id)];
    if (!match.query && !row.passesLock && lock_.HeldByAnother(client.origin))
        throw LockRefusal(lock_);
    Call call{instrument_, targets_,    command,      client.errors,
              client,      match.query, match.suffix, &client.format};
    // A command may arm or disarm the list run, which the instrument does not report.
    struct AfterCommand {
        StatusModel& status;
        RemoteClient& client;
        ~AfterCommand() {
            status.Update();
            if (client.commandDone)
                client.commandDone();
        }
    } after{status_, client};
    if (!row.channelLists || !EndsInChannelList(command))
        return Translated([&] { return row.handler(call); });
    return Translated([&] { return ForEachChannel(row, call); });
}

// A channel list (@1,3) names the channels instead of the header's suffix: a query answers one
// value per channel, comma-separated; a setting of them all is checked as a whole, each channel
// in its own range, before anything is sent.
std::string InstrumentCommands::ForEachChannel(const CommandRow& row, Call& call) {
    const scpi::ParsedCommand& command = call.command;
    if (std::any_of(command.suffixes.begin(), command.suffixes.end(),
                    [](int suffix) { return suffix != 0; }))
        throw scpi::ScpiError(scpi::kParameterNotAllowed,
                              "a header suffix and a channel list together; name the channels "
                              "in the list alone");
    const std::vector<int16_t> channels = ChannelList(command.params.back(), row.maxSuffix);
    scpi::ParsedCommand each = command;
    each.params.pop_back();
    std::string answers;
    const auto run = [&] {
        for (const int16_t channel : channels) {
            Call one{call.in,     call.targets, each,        call.errors,
                     call.client, call.query,   channel + 1, call.format};
            const std::string answer = row.handler(one);
            if (call.query)
                answers += (answers.empty() ? "" : ",") + answer;
        }
    };
    if (call.query)
        run();
    else
        instrument_.WriteAsOne(run);
    return answers;
}

void InstrumentCommands::FinishReset(RemoteClient& client) {
    client.resetPending = false;
    if (const std::string why = std::exchange(client.resetRampError, {}); !why.empty()) {
        client.errors.Push(scpi::kSettingsConflict, "*RST stopped before the start state: " + why);
        return;
    }
    try {
        Translated([&] { EnterStartState(instrument_); });
    } catch (const scpi::ScpiError& e) {
        client.errors.Push(e);
    }
    status_.Update();
}

std::optional<std::string> InstrumentCommands::ExecuteLine(std::string_view line,
                                                           RemoteClient& client) {
    const Instrument::Origin own(instrument_, client.origin);
    if (client.resetPending && instrument_.RampOrigin() != client.origin)
        FinishReset(client);
    return scpi::ExecuteLine(
        line, table_,
        [&](const scpi::MatchResult& match, const scpi::ParsedCommand& command) {
            return Dispatch(match, command, client);
        },
        client.errors);
}

bool InstrumentCommands::ContinueLine(scpi::LineProgress& progress, RemoteClient& client,
                                      const std::function<bool()>& pause) {
    const Instrument::Origin own(instrument_, client.origin);
    if (client.resetPending) {
        if (instrument_.RampOrigin() == client.origin)
            return false;
        FinishReset(client);
    }
    return scpi::ContinueLine(
        progress, table_,
        [&](const scpi::MatchResult& match, const scpi::ParsedCommand& command) {
            return Dispatch(match, command, client);
        },
        client.errors,
        [&] {
            if (instrument_.RampOrigin() == client.origin || (pause && pause()))
                return true;
            return WaitsForPending(std::string_view(progress.line)
                                       .substr(std::min(progress.next, progress.line.size()))) &&
                   status_.Pending(client);
        });
}

}  // namespace tq
