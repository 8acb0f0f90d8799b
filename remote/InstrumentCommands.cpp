#include "remote/InstrumentCommands.h"

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
    }
}

}  // namespace

InstrumentCommands::InstrumentCommands(Instrument& instrument, SimulatedBench* bench,
                                       WaveformRun* run, MeterRuns* meter, ListRun* lists)
    : instrument_(instrument) {
    if (run && !lists) {
        ownLists_ = std::make_unique<ListRun>();
        lists = ownLists_.get();
    }
    targets_ = CommandTargets{bench, run, lists, meter};
    if (run)
        AddRows(ListCommands());
    AddRows(CommonCommands());
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

void InstrumentCommands::AddRows(const CommandRows& rows) {
    for (const CommandRow& row : rows) {
        table_.Add(static_cast<int>(rows_.size()), row.pattern, row.forms, row.maxSuffix);
        rows_.push_back(row);
    }
}

std::string InstrumentCommands::Dispatch(const scpi::MatchResult& match,
                                         const scpi::ParsedCommand& command,
                                         scpi::ErrorQueue& errors, scpi::DataFormat* format) {
    scpi::DataFormat ascii;  // a caller without a client's format: each line as at the start
    Call call{instrument_,
              targets_,
              command,
              errors,
              match.query,
              match.suffix,
              format ? format : &ascii};
    return Translated([&] { return rows_[static_cast<std::size_t>(match.id)].handler(call); });
}

std::optional<std::string> InstrumentCommands::ExecuteLine(std::string_view line,
                                                           scpi::ErrorQueue& errors,
                                                           const void* origin,
                                                           scpi::DataFormat* format) {
    const Instrument::Origin own(instrument_, origin);
    return scpi::ExecuteLine(
        line, table_,
        [&](const scpi::MatchResult& match, const scpi::ParsedCommand& command) {
            return Dispatch(match, command, errors, format);
        },
        errors);
}

bool InstrumentCommands::ContinueLine(scpi::LineProgress& progress, scpi::ErrorQueue& errors,
                                      const void* origin, const std::function<bool()>& pause,
                                      scpi::DataFormat* format) {
    const Instrument::Origin own(instrument_, origin);
    return scpi::ContinueLine(
        progress, table_,
        [&](const scpi::MatchResult& match, const scpi::ParsedCommand& command) {
            return Dispatch(match, command, errors, format);
        },
        errors, [&] { return instrument_.RampOrigin() == origin || (pause && pause()); });
}

}  // namespace tq
