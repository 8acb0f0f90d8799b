// The bench meter's runs: the meter's settings, opening it, a calibration or linearity test run
// started, polled, stopped, and its report.

#include <algorithm>

#include "instrument/Linearity.h"
#include "instrument/MeterAddress.h"
#include "instrument/MeterRuns.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

using scpi::ScpiError;

MeterRuns& Runs(const Call& c) {
    return *c.targets.meter;
}

// A run or connection the meter runs refused, with their reason.
void Check(bool started, const std::string& error) {
    if (!started)
        throw ScpiError(scpi::kSettingsConflict, error);
}

// The most bytes a text of the meter's holds: far more than any command a meter takes, and
// than any address of the forms it has.
constexpr std::size_t kMostMeterText = 4096;

// The one string parameter of a meter setting.
std::string MeterText(const Call& c) {
    std::string text = args::Text(c.command);
    if (text.size() > kMostMeterText)
        throw ScpiError(scpi::kTooMuchData, "a meter setting holds at most " +
                                                std::to_string(kMostMeterText) + " bytes");
    return text;
}

// A string setting of the meter's; `field` finds it.
CommandRow Text(std::string_view pattern, std::string& (*field)(MeterRuns&)) {
    return Setting(
        pattern, [=](Call& c) { return scpi::QuoteString(field(Runs(c))); },
        [=](Call& c) { field(Runs(c)) = MeterText(c); });
}

// METer:ADDRess: an address of a form the meter links open, or empty (no meter).
void SetAddress(Call& c) {
    std::string address = MeterText(c);
    std::string error;
    if (!CheckMeterAddress(address, error))
        throw ScpiError(scpi::kIllegalParameterValue, error);
    Runs(c).Settings().address = std::move(address);
}

// A whole-number setting within [min, max], `def` its default.
CommandRow Number(std::string_view pattern, int& (*field)(MeterRuns&), int min, int max, int def) {
    return Numeric(
        pattern,
        [=](Call&) {
            return NumberBounds{double(min), double(max), double(def)};
        },
        [=](Call& c) { return scpi::FormatInt(field(Runs(c))); },
        [=](Call& c) { field(Runs(c)) = args::Int(args::Only(c.command), min, max, def); },
        [](double value) { return scpi::FormatInt(static_cast<int64_t>(value)); });
}

// Several set-up commands in one string, separated by ';'.
std::vector<std::string> SetupCommandsOf(const std::string& all) {
    std::vector<std::string> commands;
    for (std::size_t start = 0; start <= all.size();) {
        const std::size_t end = std::min(all.find(';', start), all.size());
        const std::string one = all.substr(start, end - start);
        const std::size_t first = one.find_first_not_of(' ');
        if (first != std::string::npos)
            commands.push_back(one.substr(first));
        start = end + 1;
    }
    return commands;
}

// METer:LINearity <n>,<count>[,<first>,<last>]
void StartLinearity(Call& c) {
    const scpi::ParsedCommand& command = c.command;
    scpi::CheckParamCount(command, 2, 4);
    const int32_t top = args::TopCode(c.in);
    const auto channel = static_cast<int16_t>(scpi::ReadInteger(command.params[0], 1, 4) - 1);
    const int32_t count = args::Int(command.params[1], 2, top + 1);
    int32_t first = 0, last = top;
    if (command.params.size() >= 3)
        first = args::Int(command.params[2], 0, top);
    if (command.params.size() == 4)
        last = args::Int(command.params[3], 0, top);
    if (last <= first)
        throw ScpiError(scpi::kIllegalParameterValue, "the last code must be above the first");
    std::string error;
    Check(Runs(c).StartLinearity(channel, SpreadCodes(first, last, count), error), error);
}

}  // namespace

const CommandRows& MeterCommands() {
    static const CommandRows rows = {
        Setting(
            "METer:ADDRess", [](Call& c) { return scpi::QuoteString(Runs(c).Settings().address); },
            SetAddress),
        Text("METer:COMMand",
             [](MeterRuns& m) -> std::string& { return m.Settings().readCommand; }),
        Setting(
            "METer:SETup",
            [](Call& c) {
                std::string joined;
                for (const auto& command : Runs(c).Settings().setupCommands)
                    joined += (joined.empty() ? "" : ";") + command;
                return scpi::QuoteString(joined);
            },
            [](Call& c) { Runs(c).Settings().setupCommands = SetupCommandsOf(MeterText(c)); }),
        Text("METer:SELect",
             [](MeterRuns& m) -> std::string& { return m.Settings().selectCommand; }),
        Number(
            "METer:TIMEout", [](MeterRuns& m) -> int& { return m.Settings().timeoutMilliseconds; },
            1, 600000, MeterSettings().timeoutMilliseconds),
        Number(
            "METer:SETTle", [](MeterRuns& m) -> int& { return m.RunSettings().settleMilliseconds; },
            0, 600000, MeterRunSettings().settleMilliseconds),
        Number(
            "METer:COUNt", [](MeterRuns& m) -> int& { return m.RunSettings().readingsPerCode; }, 1,
            100, MeterRunSettings().readingsPerCode),
        Action("METer:OPEN",
               [](Call& c) {
                   std::string error;
                   Check(Runs(c).OpenMeter(error), error);
               }),
        Query("METer:IDN",
              [](Call& c) { return scpi::QuoteString(Runs(c).Connection().Identity()); }),
        Query("METer:STATe",
              [](Call& c) { return Runs(c).Connection().IsOpen() ? "OPEN" : "CLOSED"; }),
        SetOnly("METer:CALibrate",
                [](Call& c) {
                    const scpi::Parameter& p = args::Only(c.command);
                    const auto channel = args::IsWord(p, "ALL")
                                             ? kAllChannels
                                             : static_cast<int16_t>(scpi::ReadInteger(p, 1, 4) - 1);
                    std::string error;
                    Check(Runs(c).StartCalibration(channel, error), error);
                }),
        SetOnly("METer:LINearity", StartLinearity),
        Query("METer:PROGress",
              [](Call& c) {
                  const MeterRun* run = Runs(c).Current();
                  return Runs(c).StateName() + "," + std::to_string(run ? run->Done() : 0) + "," +
                         std::to_string(run ? run->Total() : 0);
              }),
        Query("METer:RESult",
              [](Call& c) {
                  const MeterRun* run = Runs(c).Current();
                  return args::Block(run ? run->Message() : std::string());
              }),
        Query("METer:CSV", [](Call& c) { return args::Block(Runs(c).Csv()); }),
        PassingLock(Action("METer:STOP",
                           [](Call& c) {
                               StopReason stop = StopBy(c, "METer:STOP");
                               stop.ownStop = true;
                               Runs(c).Stop(stop);
                           })),
        Action("METer:CONTinue", [](Call& c) { Runs(c).Continue(); }),
    };
    return rows;
}

}  // namespace tq
