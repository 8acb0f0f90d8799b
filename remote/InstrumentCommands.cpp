#include "remote/InstrumentCommands.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <string>

#include "board/SimulatedBench.h"
#include "core/CheckedInt.h"
#include "core/Tables.h"
#include "core/Version.h"
#include "instrument/MeterRuns.h"
#include "instrument/SafeState.h"
#include "instrument/Setup.h"

namespace tq {
namespace {

using scpi::Forms;
using scpi::ParsedCommand;
using scpi::ScpiError;

enum Command {
    kIdn,
    kCls,
    kOpc,
    kWai,
    kRst,
    kStb,
    kTst,
    kSystError,
    kSystResolution,
    kSystVersion,
    kSetup,
    kSetupCalibration,
    kVoltage,
    kRange,
    kData,
    kGain,
    kOffset,
    kAllVoltage,
    kAllRange,
    kAllData,
    kAllGain,
    kAllOffset,
    kPulse,
    kCoding,
    kClear,
    kLoad,
    kPinLdac,
    kPinClr,
    kPinRstin,
    kGroundOffset,
    kSerialOutput,
    kDigitalDirection,
    kDigitalLevel,
    kDigitalDrive,
    kDigitalState,
    kRegisterWrite,
    kRegisterRead,
    kTemperature,
    kTemperatureVolts,
    kBenchVoltage,
    kBenchTemperature,
    kBenchDigital,
    kListVoltage,
    kListData,
    kListClear,
    kListDwell,
    kListCount,
    kListState,
    kInitiate,
    kAbort,
    kMeterAddress,
    kMeterCommand,
    kMeterSetup,
    kMeterSelect,
    kMeterTimeout,
    kMeterSettle,
    kMeterCount,
    kMeterOpen,
    kMeterIdn,
    kMeterState,
    kMeterCalibrate,
    kMeterLinearity,
    kMeterProgress,
    kMeterResult,
    kMeterCsv,
    kMeterStop,
    kMeterContinue,
    kLimitHigh,
    kLimitLow,
    kRampStep,
    kRampWait,
    kRampState,
    kSafe,
    kSafeOnExit,
    kSafeOnDisconnect,
    kSafeOnReturn,
};

struct CommandPattern {
    Command id;
    const char* pattern;
    Forms forms;
};

constexpr CommandPattern kCommands[] = {
    {kIdn, "*IDN", Forms::kQuery},
    {kCls, "*CLS", Forms::kSet},
    {kOpc, "*OPC", Forms::kQuery},
    {kWai, "*WAI", Forms::kSet},
    {kRst, "*RST", Forms::kSet},
    {kStb, "*STB", Forms::kQuery},
    {kTst, "*TST", Forms::kQuery},
    {kSystError, "SYSTem:ERRor[:NEXT]", Forms::kQuery},
    {kSystResolution, "SYSTem:RESolution", Forms::kSetAndQuery},
    {kSystVersion, "SYSTem:VERSion", Forms::kQuery},
    {kSetup, "SYSTem:SETup", Forms::kSetAndQuery},
    {kSetupCalibration, "SYSTem:SETup:CALibration", Forms::kQuery},
    {kVoltage, "[SOURce#:]VOLTage[:LEVel][:IMMediate][:AMPLitude]", Forms::kSetAndQuery},
    {kRange, "[SOURce#:]VOLTage:RANGe", Forms::kSetAndQuery},
    {kData, "SOURce#:DATA", Forms::kSetAndQuery},
    {kGain, "SOURce#:GAIN", Forms::kSetAndQuery},
    {kOffset, "SOURce#:OFFSet", Forms::kSetAndQuery},
    {kAllVoltage, "SOURce:ALL:VOLTage[:LEVel][:IMMediate][:AMPLitude]", Forms::kSet},
    {kAllRange, "SOURce:ALL:VOLTage:RANGe", Forms::kSet},
    {kAllData, "SOURce:ALL:DATA", Forms::kSet},
    {kAllGain, "SOURce:ALL:GAIN", Forms::kSet},
    {kAllOffset, "SOURce:ALL:OFFSet", Forms::kSet},
    {kPulse, "SOURce:PULSe[:STATe]", Forms::kSetAndQuery},
    {kCoding, "SOURce:CODing", Forms::kSetAndQuery},
    {kClear, "OUTPut:CLEar", Forms::kSet},
    {kLoad, "OUTPut:LOAD", Forms::kSet},
    {kPinLdac, "PIN:LDAC", Forms::kSetAndQuery},
    {kPinClr, "PIN:CLR", Forms::kSetAndQuery},
    {kPinRstin, "PIN:RSTin", Forms::kSetAndQuery},
    {kGroundOffset, "CONTrol:GNDoffset", Forms::kSetAndQuery},
    {kSerialOutput, "CONTrol:SDO", Forms::kSetAndQuery},
    {kDigitalDirection, "DIGital#:DIRection", Forms::kSetAndQuery},
    {kDigitalLevel, "DIGital#:LEVel", Forms::kSetAndQuery},
    {kDigitalDrive, "DIGital#:DRIVe", Forms::kSetAndQuery},
    {kDigitalState, "DIGital#:STATe", Forms::kQuery},
    {kRegisterWrite, "REGister:WRITe", Forms::kSet},
    {kRegisterRead, "REGister:READ", Forms::kQuery},
    {kTemperature, "MEASure:TEMPerature", Forms::kQuery},
    {kTemperatureVolts, "MEASure:TEMPerature:VOLTage", Forms::kQuery},
    {kLimitHigh, "[SOURce#:]VOLTage:LIMit:HIGH", Forms::kSetAndQuery},
    {kLimitLow, "[SOURce#:]VOLTage:LIMit:LOW", Forms::kSetAndQuery},
    {kRampStep, "[SOURce#:]VOLTage:RAMP:STEP", Forms::kSetAndQuery},
    {kRampWait, "[SOURce#:]VOLTage:RAMP:WAIT", Forms::kSetAndQuery},
    {kRampState, "OUTPut:RAMP[:STATe]", Forms::kQuery},
    {kSafe, "OUTPut:SAFE[:IMMediate]", Forms::kSet},
    {kSafeOnExit, "OUTPut:SAFE:EXIT", Forms::kSetAndQuery},
    {kSafeOnDisconnect, "OUTPut:SAFE:DISConnect", Forms::kSetAndQuery},
    {kSafeOnReturn, "OUTPut:SAFE:RETurn", Forms::kSetAndQuery},
};

constexpr CommandPattern kBenchCommands[] = {
    {kBenchVoltage, "BENCh:VOLTage#", Forms::kQuery},
    {kBenchTemperature, "BENCh:TEMPerature", Forms::kSetAndQuery},
    {kBenchDigital, "BENCh:DIGital#", Forms::kQuery},
};

constexpr CommandPattern kRunCommands[] = {
    {kListVoltage, "SOURce#:LIST:VOLTage", Forms::kSetAndQuery},
    {kListData, "SOURce#:LIST:DATA", Forms::kSetAndQuery},
    {kListClear, "LIST:CLEar", Forms::kSet},
    {kListDwell, "LIST:DWELl", Forms::kSetAndQuery},
    {kListCount, "LIST:COUNt", Forms::kSetAndQuery},
    {kListState, "LIST:STATe", Forms::kQuery},
    {kInitiate, "INITiate[:IMMediate]", Forms::kSet},
    {kAbort, "ABORt", Forms::kSet},
};

constexpr CommandPattern kMeterCommands[] = {
    {kMeterAddress, "METer:ADDRess", Forms::kSetAndQuery},
    {kMeterCommand, "METer:COMMand", Forms::kSetAndQuery},
    {kMeterSetup, "METer:SETup", Forms::kSetAndQuery},
    {kMeterSelect, "METer:SELect", Forms::kSetAndQuery},
    {kMeterTimeout, "METer:TIMEout", Forms::kSetAndQuery},
    {kMeterSettle, "METer:SETTle", Forms::kSetAndQuery},
    {kMeterCount, "METer:COUNt", Forms::kSetAndQuery},
    {kMeterOpen, "METer:OPEN", Forms::kSet},
    {kMeterIdn, "METer:IDN", Forms::kQuery},
    {kMeterState, "METer:STATe", Forms::kQuery},
    {kMeterCalibrate, "METer:CALibrate", Forms::kSet},
    {kMeterLinearity, "METer:LINearity", Forms::kSet},
    {kMeterProgress, "METer:PROGress", Forms::kQuery},
    {kMeterResult, "METer:RESult", Forms::kQuery},
    {kMeterCsv, "METer:CSV", Forms::kQuery},
    {kMeterStop, "METer:STOP", Forms::kSet},
    {kMeterContinue, "METer:CONTinue", Forms::kSet},
};

// What one parameter may be, after the command's count check.
const scpi::Parameter& Only(const ParsedCommand& command) {
    scpi::CheckParamCount(command, 1, 1);
    return command.params[0];
}

void NoParameters(const ParsedCommand& command) {
    scpi::CheckParamCount(command, 0, 0);
}

std::string Bool(bool on) {
    return on ? "1" : "0";
}

// A character parameter that must be one of two mnemonics: true for the first.
bool Choice(const ParsedCommand& command, std::string_view first, std::string_view second) {
    const scpi::Parameter& p = Only(command);
    if (p.kind != scpi::ParamKind::kCharacter)
        throw ScpiError(scpi::kDataTypeError);
    if (scpi::MatchesMnemonic(p.value, first))
        return true;
    if (scpi::MatchesMnemonic(p.value, second))
        return false;
    throw ScpiError(scpi::kIllegalParameterValue);
}

// D0 is DIGital1, D1 is DIGital2: SCPI suffixes count from 1.
int DigitalLine(int suffix) {
    if (suffix < 1 || suffix > 2)
        throw ScpiError(scpi::kHeaderSuffixOutOfRange);
    return suffix - 1;
}

// The failures of the layers below, as the protocol names them.
template <typename F>
auto Translated(F&& action) -> decltype(action()) {
    try {
        return action();
    } catch (const ScpiError&) {
        throw;
    } catch (const RequestError& e) {
        throw ScpiError(scpi::kHardwareError, e.what());
    } catch (const ReadingError& e) {
        throw ScpiError(scpi::kHardwareError, e.what());
    } catch (const ValueRangeError& e) {
        throw ScpiError(scpi::kDataOutOfRange, e.what());
    } catch (const InstrumentError& e) {
        throw ScpiError(scpi::kSettingsConflict, e.what());
    } catch (const NumericError&) {
        throw ScpiError(scpi::kDataOutOfRange);
    }
}

// IEEE 488.2 definite-length block: #, the count of length digits, the length, the bytes.
std::string Block(const std::string& bytes) {
    const std::string length = std::to_string(bytes.size());
    return "#" + std::to_string(length.size()) + length + bytes;
}

// The full-scale volts of a range parameter: within 0.001 of one of the three ranges.
int32_t RangeCodeOf(const scpi::Parameter& p) {
    const double volts = scpi::ReadNumber(p, 0.0, 1e6, scpi::kVoltUnits);
    for (const auto& range : kRanges)
        if (std::fabs(volts - range.volts) <= 0.001)
            return range.code;
    throw ScpiError(scpi::kIllegalParameterValue);
}

// SCPI's +/- infinity: what a limit that is not set answers.
constexpr double kScpiInfinity = 9.9e37;

// A limit's parameter: volts, or NONE for no limit.
std::optional<double> LimitOf(const ParsedCommand& command, double maxVolts) {
    const scpi::Parameter& p = Only(command);
    if (p.kind == scpi::ParamKind::kCharacter && scpi::MatchesMnemonic(p.value, "NONE"))
        return std::nullopt;
    return scpi::ReadVoltage(p, -maxVolts, maxVolts);
}

std::string LimitText(const std::optional<double>& volts, double none) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9G", volts.value_or(none));
    return text;
}

// A string parameter's contents.
std::string Text(const ParsedCommand& command) {
    const scpi::Parameter& p = Only(command);
    if (p.kind != scpi::ParamKind::kString)
        throw ScpiError(scpi::kDataTypeError);
    return p.value;
}

// A string in a response, with its quotes doubled.
std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

InstrumentCommands::InstrumentCommands(Instrument& instrument, SimulatedBench* bench,
                                       WaveformRun* run, MeterRuns* meter)
    : instrument_(instrument), bench_(bench), run_(run), meter_(meter) {
    if (run_)
        for (const CommandPattern& c : kRunCommands)
            table_.Add(c.id, c.pattern, c.forms);
    for (const CommandPattern& c : kCommands)
        table_.Add(c.id, c.pattern, c.forms);
    if (bench_)
        for (const CommandPattern& c : kBenchCommands)
            table_.Add(c.id, c.pattern, c.forms);
    if (meter_)
        for (const CommandPattern& c : kMeterCommands)
            table_.Add(c.id, c.pattern, c.forms);
}

std::string InstrumentCommands::RunMeter(int id, bool query, const ParsedCommand& command) {
    MeterRuns& m = *meter_;
    MeterSettings& s = m.Settings();
    MeterRunSettings& r = m.RunSettings();
    const auto text = [&](std::string& field) -> std::string {
        if (query) {
            NoParameters(command);
            return Quoted(field);
        }
        field = Text(command);
        return {};
    };
    const auto number = [&](int& field, int64_t min, int64_t max) -> std::string {
        if (query) {
            NoParameters(command);
            return scpi::FormatInt(field);
        }
        field = static_cast<int>(scpi::ReadInteger(Only(command), min, max));
        return {};
    };
    const auto refused = [](const std::string& error) {
        throw ScpiError(scpi::kSettingsConflict, error);
    };
    switch (static_cast<Command>(id)) {
        case kMeterAddress:
            return text(s.address);
        case kMeterCommand:
            return text(s.readCommand);
        case kMeterSetup: {
            if (query) {
                NoParameters(command);
                std::string joined;
                for (const auto& c : s.setupCommands)
                    joined += (joined.empty() ? "" : ";") + c;
                return Quoted(joined);
            }
            // Several set-up commands in one string, separated by ';'.
            s.setupCommands.clear();
            std::string all = Text(command);
            for (std::size_t start = 0; start <= all.size();) {
                std::size_t end = std::min(all.find(';', start), all.size());
                std::string one = all.substr(start, end - start);
                const std::size_t first = one.find_first_not_of(' ');
                if (first != std::string::npos)
                    s.setupCommands.push_back(one.substr(first));
                start = end + 1;
            }
            return {};
        }
        case kMeterSelect:
            return text(s.selectCommand);
        case kMeterTimeout:
            return number(s.timeoutMilliseconds, 1, 600000);
        case kMeterSettle:
            return number(r.settleMilliseconds, 0, 600000);
        case kMeterCount:
            return number(r.readingsPerCode, 1, 100);
        case kMeterOpen: {
            NoParameters(command);
            std::string error;
            if (!m.OpenMeter(error))
                refused(error);
            return {};
        }
        case kMeterIdn:
            NoParameters(command);
            return Quoted(m.Connection().Identity());
        case kMeterState:
            NoParameters(command);
            return m.Connection().IsOpen() ? "OPEN" : "CLOSED";
        case kMeterCalibrate: {
            const scpi::Parameter& p = Only(command);
            int16_t channel = kAllChannels;
            if (!(p.kind == scpi::ParamKind::kCharacter && scpi::MatchesMnemonic(p.value, "ALL")))
                channel = static_cast<int16_t>(scpi::ReadInteger(p, 1, 4) - 1);
            std::string error;
            if (!m.StartCalibration(channel, error))
                refused(error);
            return {};
        }
        case kMeterLinearity: {
            scpi::CheckParamCount(command, 2, 4);
            const int32_t top = instrument_.Resolution() == 14 ? 16383 : 65535;
            const auto channel =
                static_cast<int16_t>(scpi::ReadInteger(command.params[0], 1, 4) - 1);
            const auto count =
                static_cast<int32_t>(scpi::ReadInteger(command.params[1], 2, top + 1));
            int32_t first = 0, last = top;
            if (command.params.size() >= 3)
                first = static_cast<int32_t>(scpi::ReadInteger(command.params[2], 0, top));
            if (command.params.size() == 4)
                last = static_cast<int32_t>(scpi::ReadInteger(command.params[3], 0, top));
            if (last <= first)
                throw ScpiError(scpi::kIllegalParameterValue,
                                "the last code must be above the first");
            std::string error;
            if (!m.StartLinearity(channel, SpreadCodes(first, last, count), error))
                refused(error);
            return {};
        }
        case kMeterProgress: {
            NoParameters(command);
            const MeterRun* run = m.Current();
            return m.StateName() + "," + std::to_string(run ? run->Done() : 0) + "," +
                   std::to_string(run ? run->Total() : 0);
        }
        case kMeterResult:
            NoParameters(command);
            return Block(m.Current() ? m.Current()->Message() : std::string());
        case kMeterCsv:
            NoParameters(command);
            return Block(m.Csv());
        case kMeterStop:
            NoParameters(command);
            m.Stop();
            return {};
        case kMeterContinue:
            NoParameters(command);
            m.Continue();
            return {};
        default:
            break;
    }
    throw ScpiError(scpi::kUndefinedHeader);
}

std::optional<std::string> InstrumentCommands::ExecuteLine(std::string_view line,
                                                           scpi::ErrorQueue& errors,
                                                           const void* origin) {
    const Instrument::Origin own(instrument_, origin);
    return scpi::ExecuteLine(
        line, table_,
        [&](const scpi::MatchResult& match, const ParsedCommand& command) {
            return Translated([&] { return Run(match, command, errors); });
        },
        errors);
}

bool InstrumentCommands::ContinueLine(scpi::LineProgress& progress, scpi::ErrorQueue& errors,
                                      const void* origin, const std::function<bool()>& pause) {
    const Instrument::Origin own(instrument_, origin);
    return scpi::ContinueLine(
        progress, table_,
        [&](const scpi::MatchResult& match, const ParsedCommand& command) {
            return Translated([&] { return Run(match, command, errors); });
        },
        errors, [&] { return instrument_.RampOrigin() == origin || (pause && pause()); });
}

std::string InstrumentCommands::Run(const scpi::MatchResult& match, const ParsedCommand& command,
                                    scpi::ErrorQueue& errors) {
    Instrument& in = instrument_;
    const auto channel = static_cast<int16_t>(match.suffix - 1);
    const bool query = match.query;
    const auto read = [&](auto&& f) { return in.WithSerialOutput(f); };
    const int32_t topCode = in.Resolution() == 14 ? 16383 : 65535;

    switch (static_cast<Command>(match.id)) {
        case kIdn:
            NoParameters(command);
            return std::string("TQ2604X-EVAL,") + (in.Resolution() == 14 ? "TQ2404" : "TQ2604X") +
                   "," + in.Identity().serial + "," + kProgramVersion;
        case kCls:
            NoParameters(command);
            errors.Clear();
            return {};
        case kOpc:
            NoParameters(command);
            return "1";
        case kWai:
            NoParameters(command);
            return {};
        case kRst:
        case kSafe:
            NoParameters(command);
            EnterSafeState(in, run_, meter_);
            return {};
        case kLimitHigh:
        case kLimitLow:
        case kRampStep:
        case kRampWait: {
            ChannelLimits limits = in.Limits(channel);
            std::optional<double>& bound = match.id == kLimitHigh ? limits.high : limits.low;
            if (query) {
                NoParameters(command);
                switch (match.id) {
                    case kLimitHigh:
                        return LimitText(limits.high, kScpiInfinity);
                    case kLimitLow:
                        return LimitText(limits.low, -kScpiInfinity);
                    case kRampStep:
                        return LimitText(limits.rampStep, 0.0);
                    default:
                        return LimitText(limits.rampWaitSeconds, 0.0);
                }
            }
            if (match.id == kRampWait) {
                limits.rampWaitSeconds =
                    scpi::ReadNumber(Only(command), 0.0, kMaxRampWaitSeconds, scpi::kSecondUnits);
            } else if (match.id == kRampStep) {
                // 0 or NONE: no ramp.
                limits.rampStep = LimitOf(command, 1e6);
                if (limits.rampStep && *limits.rampStep == 0.0)
                    limits.rampStep.reset();
            } else {
                bound = LimitOf(command, 1e6);
            }
            in.SetLimits(channel, limits);
            return {};
        }
        case kRampState:
            NoParameters(command);
            return Bool(in.Ramping());
        case kSafeOnExit:
        case kSafeOnDisconnect:
        case kSafeOnReturn: {
            ProtectionOptions options = in.ProtectionOptionsInEffect();
            bool& option = match.id == kSafeOnExit         ? options.safeOnExit
                           : match.id == kSafeOnDisconnect ? options.safeOnLastClient
                                                           : options.safeOnBoardBack;
            if (query) {
                NoParameters(command);
                return Bool(option);
            }
            option = scpi::ReadBoolean(Only(command));
            in.SetProtectionOptions(options);
            return {};
        }
        case kStb:
            NoParameters(command);
            return errors.Empty() ? "0" : "4";
        case kTst: {
            NoParameters(command);
            try {
                const int32_t value =
                    read([&] { return in.ReadRegister(kFnControlBits, kRegFunction); });
                return value == 0xFFFF ? "1" : "0";
            } catch (const InstrumentError&) {
                return "1";
            }
        }
        case kSystError:
            NoParameters(command);
            return errors.Next();
        case kSystResolution:
            if (query) {
                NoParameters(command);
                return scpi::FormatInt(in.Resolution());
            }
            {
                const auto bits = scpi::ReadInteger(Only(command), 14, 16);
                if (bits != 14 && bits != 16)
                    throw ScpiError(scpi::kIllegalParameterValue);
                in.SetResolution(static_cast<int16_t>(bits));
            }
            return {};
        case kSystVersion:
            NoParameters(command);
            return "1999.0";
        case kSetup:
        case kSetupCalibration: {
            if (query) {
                NoParameters(command);
                const Setup setup = CaptureSetup(in);
                return Block(SetupToJson(match.id == kSetup ? setup : CalibrationPart(setup), 0));
            }
            scpi::CheckParamCount(command, 1, 2);
            if (command.params[0].kind != scpi::ParamKind::kBlock)
                throw ScpiError(scpi::kDataTypeError);
            const bool anyBoard = command.params.size() == 2;
            if (anyBoard && (command.params[1].kind != scpi::ParamKind::kCharacter ||
                             !scpi::MatchesMnemonic(command.params[1].value, "ANYBoard")))
                throw ScpiError(scpi::kIllegalParameterValue);
            Setup setup;
            try {
                setup = SetupFromJson(command.params[0].value);
                CheckSetup(setup, in);
            } catch (const SetupError& e) {
                throw ScpiError(scpi::kIllegalParameterValue, e.what());
            }
            if (FromAnotherBoard(setup, in) && !anyBoard)
                throw ScpiError(scpi::kSettingsConflict,
                                "the setup was saved from board " + setup.board + ", this is " +
                                    in.Identity().serial + "; add ,ANYBoard to open it anyway");
            ApplySetup(in, setup);
            return {};
        }

        case kVoltage:
        case kAllVoltage: {
            const int16_t address = match.id == kAllVoltage ? kAllChannels : channel;
            if (query) {
                NoParameters(command);
                return scpi::FormatFloat(read([&] { return in.ChannelVoltage(channel); }));
            }
            // MINimum and MAXimum are the ends of the range the channel has; beyond it is refused
            // against the range read back with the write.
            const scpi::Parameter& p = Only(command);
            double volts = 0;
            if (p.kind == scpi::ParamKind::kCharacter && scpi::MatchesMnemonic(p.value, "MAXimum"))
                volts = in.ChannelRangeVolts(address);
            else if (p.kind == scpi::ParamKind::kCharacter &&
                     scpi::MatchesMnemonic(p.value, "MINimum"))
                volts = -in.ChannelRangeVolts(address);
            else
                volts = scpi::ReadVoltage(p, -1e30, 1e30);
            in.SetChannelVoltage(address, ToSingle(volts), 10.0f, true);
            return {};
        }
        case kRange:
        case kAllRange: {
            const int16_t address = match.id == kAllRange ? kAllChannels : channel;
            if (query) {
                NoParameters(command);
                const int32_t code = read([&] { return in.RangeCode(channel); });
                return scpi::FormatFloat(RangeVoltsForCode(code).value_or(10.0f));
            }
            in.SetRangeCode(address, RangeCodeOf(Only(command)));
            return {};
        }
        case kData:
        case kAllData: {
            const int16_t address = match.id == kAllData ? kAllChannels : channel;
            if (query) {
                NoParameters(command);
                return scpi::FormatInt(read([&] { return in.DataCode(channel); }));
            }
            in.SetDataCode(address,
                           static_cast<int32_t>(scpi::ReadInteger(Only(command), 0, topCode)));
            return {};
        }
        case kGain:
        case kAllGain: {
            const int16_t address = match.id == kAllGain ? kAllChannels : channel;
            if (query) {
                NoParameters(command);
                return scpi::FormatInt(read([&] { return in.FineGain(channel); }));
            }
            in.SetFineGain(address,
                           static_cast<int32_t>(scpi::ReadInteger(Only(command), -32, 31)));
            return {};
        }
        case kOffset:
        case kAllOffset: {
            const int16_t address = match.id == kAllOffset ? kAllChannels : channel;
            if (query) {
                NoParameters(command);
                return scpi::FormatInt(read([&] { return in.Offset(channel); }));
            }
            const bool narrow = in.Resolution() == 14;
            in.SetOffset(address, static_cast<int32_t>(scpi::ReadInteger(
                                      Only(command), narrow ? -4 : -128, narrow ? 3 : 127)));
            return {};
        }
        case kPulse:
            if (query) {
                NoParameters(command);
                return Bool(in.PulseAfterDataWrite());
            }
            {
                const bool on = scpi::ReadBoolean(Only(command));
                in.SetPulseAfterDataWrite(on);
                // As the check box does: while writes pulse LDAC, the pin itself stays high.
                if (on)
                    in.SetPin(Pin::Ldac, true);
            }
            return {};
        case kCoding:
            if (query) {
                NoParameters(command);
                return in.PinValue(Pin::BinaryCoding) ? "BIN" : "TWOS";
            }
            in.SetPin(Pin::BinaryCoding, Choice(command, "BINary", "TWOScomplement"));
            return {};
        case kClear:
            NoParameters(command);
            in.ClearAllChannels();
            return {};
        case kLoad:
            NoParameters(command);
            in.LoadAllChannels();
            return {};
        case kPinLdac:
        case kPinClr:
        case kPinRstin: {
            const Pin pin = match.id == kPinLdac  ? Pin::Ldac
                            : match.id == kPinClr ? Pin::Clr
                                                  : Pin::Rstin;
            if (query) {
                NoParameters(command);
                return Bool(in.PinValue(pin));
            }
            const bool high = scpi::ReadBoolean(Only(command));
            if (pin == Pin::Ldac && !high && in.PulseAfterDataWrite())
                throw ScpiError(scpi::kSettingsConflict,
                                "LDAC stays high while SOURce:PULSe is ON; turn it OFF first");
            in.SetPin(pin, high);
            return {};
        }
        case kGroundOffset:
            if (query) {
                NoParameters(command);
                return Bool(in.FunctionFlagValue(FunctionFlag::LocalGndOffset));
            }
            in.SetFunctionFlag(FunctionFlag::LocalGndOffset, scpi::ReadBoolean(Only(command)));
            return {};
        case kSerialOutput:
            if (query) {
                NoParameters(command);
                return Bool(!in.FunctionFlagValue(FunctionFlag::SdoDisable));
            }
            in.SetFunctionFlag(FunctionFlag::SdoDisable, !scpi::ReadBoolean(Only(command)));
            return {};
        case kDigitalDirection: {
            const int line = DigitalLine(match.suffix);
            const FunctionFlag flag = line == 0 ? FunctionFlag::D0Output : FunctionFlag::D1Output;
            if (query) {
                NoParameters(command);
                return in.FunctionFlagValue(flag) ? "OUT" : "IN";
            }
            const bool output = Choice(command, "OUTput", "INput");
            if (line == 0)
                in.SetD0Output(output);
            else
                in.SetD1Output(output);
            return {};
        }
        case kDigitalLevel: {
            const int line = DigitalLine(match.suffix);
            const FunctionFlag flag = line == 0 ? FunctionFlag::D0High : FunctionFlag::D1High;
            if (query) {
                NoParameters(command);
                return Bool(in.FunctionFlagValue(flag));
            }
            const bool high = scpi::ReadBoolean(Only(command));
            if (!in.FunctionFlagValue(line == 0 ? FunctionFlag::D0Output : FunctionFlag::D1Output))
                throw ScpiError(scpi::kSettingsConflict,
                                "D" + std::to_string(line) +
                                    " is an input: the converter sets its level only as an "
                                    "output (DIGital" +
                                    std::to_string(line + 1) + ":DIRection OUT)");
            in.SetFunctionFlag(flag, high);
            return {};
        }
        case kDigitalDrive: {
            const int line = DigitalLine(match.suffix);
            const Pin pin = line == 0 ? Pin::DriveD0 : Pin::DriveD1;
            if (query) {
                NoParameters(command);
                return Bool(in.PinValue(pin));
            }
            const bool high = scpi::ReadBoolean(Only(command));
            if (in.FunctionFlagValue(line == 0 ? FunctionFlag::D0Output : FunctionFlag::D1Output))
                throw ScpiError(scpi::kSettingsConflict,
                                "D" + std::to_string(line) +
                                    " is an output of the converter: the board drives it only as "
                                    "an input (DIGital" +
                                    std::to_string(line + 1) + ":DIRection IN)");
            in.SetPin(pin, high);
            return {};
        }
        case kDigitalState: {
            const int line = DigitalLine(match.suffix);
            NoParameters(command);
            // The function register's read-back carries each line's level (bits 1 and 3).
            const int32_t image =
                read([&] { return in.ReadRegister(kFnControlBits, kRegFunction); });
            return Bool(image & (line == 0 ? kBitD0High : kBitD1High));
        }
        case kRegisterWrite: {
            scpi::CheckParamCount(command, 3, 3);
            const auto address = static_cast<int16_t>(scpi::ReadInteger(command.params[0], 0, 7));
            const auto reg = static_cast<int16_t>(scpi::ReadInteger(command.params[1], 0, 7));
            const auto data = static_cast<int32_t>(scpi::ReadInteger(command.params[2], 0, 65535));
            in.WriteRegister(address, reg, data);
            return {};
        }
        case kRegisterRead: {
            scpi::CheckParamCount(command, 2, 2);
            const auto address = static_cast<int16_t>(scpi::ReadInteger(command.params[0], 0, 7));
            const auto reg = static_cast<int16_t>(scpi::ReadInteger(command.params[1], 0, 7));
            return scpi::FormatInt(read([&] { return in.ReadRegister(address, reg); }));
        }
        case kTemperature:
        case kTemperatureVolts: {
            NoParameters(command);
            const TemperatureReading t = in.MeasureTemperature();
            return scpi::FormatFloat(match.id == kTemperature ? t.celsius : t.volts);
        }
        case kBenchVoltage:
            NoParameters(command);
            return scpi::FormatFloat(static_cast<float>(bench_->OutputVolts(channel)));
        case kBenchTemperature:
            if (query) {
                NoParameters(command);
                return scpi::FormatFloat(static_cast<float>(bench_->DieTemperature()));
            }
            bench_->SetDieTemperature(scpi::ReadNumber(Only(command), -40.0, 150.0));
            return {};
        case kBenchDigital: {
            const int line = DigitalLine(match.suffix);
            NoParameters(command);
            return Bool((line == 0 ? bench_->D0Level() : bench_->D1Level()) != 0);
        }
        case kListVoltage:
        case kListData: {
            if (channel < 0 || channel >= kChannelCount)
                throw ScpiError(scpi::kHeaderSuffixOutOfRange);
            const bool codes = match.id == kListData;
            auto& list = lists_[static_cast<std::size_t>(channel)];
            if (query) {
                NoParameters(command);
                std::string answer;
                if (list && list->codes == codes)
                    for (const double value : list->list)
                        answer += (answer.empty() ? "" : ",") +
                                  (codes ? scpi::FormatInt(static_cast<int64_t>(value))
                                         : scpi::FormatFloat(static_cast<float>(value)));
                return answer;
            }
            scpi::CheckParamCount(command, 1, kMaxWavePoints);
            ChannelWave wave;
            wave.channel = channel;
            wave.shape = WaveShape::List;
            wave.codes = codes;
            wave.list.reserve(command.params.size());
            // Each value is checked against the channel's range when the run starts, where the
            // range is known; here only its form.
            for (const scpi::Parameter& p : command.params)
                wave.list.push_back(codes ? static_cast<double>(scpi::ReadInteger(p, 0, topCode))
                                          : scpi::ReadVoltage(p, -1e30, 1e30));
            list = std::move(wave);
            return {};
        }
        case kListClear:
            NoParameters(command);
            lists_.fill(std::nullopt);
            return {};
        case kListDwell:
            if (query) {
                NoParameters(command);
                return scpi::FormatFloat(static_cast<float>(dwellSeconds_));
            }
            dwellSeconds_ = scpi::ReadNumber(Only(command), 0.0, 3600.0, scpi::kSecondUnits);
            return {};
        case kListCount:
            if (query) {
                NoParameters(command);
                return periods_ == 0 ? "INF" : scpi::FormatInt(periods_);
            }
            {
                const scpi::Parameter& p = Only(command);
                if (p.kind == scpi::ParamKind::kCharacter &&
                    scpi::MatchesMnemonic(p.value, "INFinity"))
                    periods_ = 0;
                else
                    periods_ = scpi::ReadInteger(p, 1, 1000000000);
            }
            return {};
        case kListState: {
            NoParameters(command);
            const RunStatus status = run_->Status();
            std::string why;
            for (const char c : status.error)
                if (c != '"')
                    why += c;
            return std::string(RunStateName(status.state)) + "," +
                   scpi::FormatInt(status.stepsDone) + "," + scpi::FormatInt(status.totalSteps) +
                   "," + scpi::FormatInt(status.lateSteps) + "," +
                   scpi::FormatFloat(static_cast<float>(status.askedRate)) + "," +
                   scpi::FormatFloat(static_cast<float>(status.achievedRate)) + ",\"" + why + "\"";
        }
        case kInitiate: {
            NoParameters(command);
            WavePlan plan;
            plan.dwellSeconds = dwellSeconds_;
            plan.periods = periods_;
            for (const auto& list : lists_)
                if (list)
                    plan.channels.push_back(*list);
            if (plan.channels.empty())
                throw ScpiError(scpi::kSettingsConflict,
                                "no list is loaded; send SOURce<n>:LIST:VOLTage first");
            run_->Start(plan);
            return {};
        }
        case kAbort:
            NoParameters(command);
            run_->Stop();
            return {};
        default:
            return RunMeter(match.id, query, command);
    }
    throw ScpiError(scpi::kUndefinedHeader);
}

}  // namespace tq
