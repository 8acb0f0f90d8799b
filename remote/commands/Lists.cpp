// List runs: lists of set points loaded per channel, the time per step and the count, a run
// started (at once or by a bus trigger), polled and ended. The lists live in the instrument
// layer's ListRun, shared by every client and the windows; the run is the program's waveform run.

#include <cmath>
#include <vector>

#include "instrument/ListRun.h"
#include "remote/StatusRegisters.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

using scpi::ScpiError;

using Format = scpi::DataFormat::Type;

// The -223 of a list longer than a run takes.
ScpiError TooManyPoints() {
    return ScpiError(scpi::kTooMuchData,
                     "a list holds at most " + std::to_string(kMaxWavePoints) + " points");
}

// The points a block of `bytesEach` bytes a point holds, within what a list takes.
void CheckPointsOfBlock(const scpi::Parameter& block, std::size_t bytesEach) {
    if (scpi::CountInBlock(block.value, bytesEach) > static_cast<std::size_t>(kMaxWavePoints))
        throw TooManyPoints();
}

// A list of codes as one block of 16-bit words, in the client's byte order; each within the
// device's codes.
std::vector<double> CodesOfBlock(Call& c, const scpi::Parameter& block) {
    CheckPointsOfBlock(block, 2);
    const std::vector<uint16_t> words = scpi::DecodeWords(block.value, c.format->swapped);
    const int32_t topCode = args::TopCode(c.in);
    std::vector<double> codes(words.begin(), words.end());
    for (std::size_t i = 0; i < words.size(); ++i)
        if (words[i] > topCode)
            throw ScpiError(scpi::kDataOutOfRange,
                            "point " + std::to_string(i + 1) + " (" + std::to_string(words[i]) +
                                ") is outside 0 to " + std::to_string(topCode));
    return codes;
}

// The bytes of each number of a block of volts: double precision with FORMat REAL,64, otherwise
// single, the precision the program gives volts.
std::size_t BytesOfVolts(const Call& c) {
    return c.format->type == Format::kReal64 ? 8 : 4;
}

// The most a point in volts may be, as a number typed as text: the channel's range is checked
// when the run starts.
constexpr double kMostVolts = 1e30;

// A list of volts as one block of IEEE 754 numbers, in the client's byte order.
std::vector<double> VoltsOfBlock(Call& c, const scpi::Parameter& block) {
    const std::size_t bytesEach = BytesOfVolts(c);
    CheckPointsOfBlock(block, bytesEach);
    std::vector<double> volts = scpi::DecodeReals(block.value, bytesEach, c.format->swapped);
    for (std::size_t i = 0; i < volts.size(); ++i) {
        const auto point = [&] { return "point " + std::to_string(i + 1); };
        if (!std::isfinite(volts[i]))
            throw ScpiError(scpi::kDataTypeError, point() + " is not a number");
        if (std::fabs(volts[i]) > kMostVolts)
            throw ScpiError(scpi::kDataOutOfRange, point() + " (" + scpi::NumberText(volts[i]) +
                                                       " V) is outside " +
                                                       scpi::NumberText(-kMostVolts) + " V to " +
                                                       scpi::NumberText(kMostVolts) + " V");
    }
    return volts;
}

// The answer of SOURce<n>:LIST:DATA?: the codes as text, or with FORMat INTeger,16 as a block.
std::string CodesAnswer(const Call& c, const std::vector<double>& codes) {
    if (c.format->type == Format::kInteger16) {
        const std::vector<uint16_t> words(codes.begin(), codes.end());
        return args::Block(scpi::EncodeWords(words, c.format->swapped));
    }
    std::string answer;
    answer.reserve(codes.size() * 6);
    for (const double code : codes) {
        if (!answer.empty())
            answer += ',';
        answer += scpi::FormatInt(static_cast<int64_t>(code));
    }
    return answer;
}

// The answer of SOURce<n>:LIST:VOLTage?: the volts as text, each the shortest that reads back as
// the same single-precision number, or with FORMat REAL as a block of IEEE 754 numbers.
std::string VoltsAnswer(const Call& c, const std::vector<double>& volts) {
    if (c.format->type == Format::kReal32 || c.format->type == Format::kReal64)
        return args::Block(scpi::EncodeReals(volts, BytesOfVolts(c), c.format->swapped));
    std::string answer;
    for (const double value : volts)
        answer += (answer.empty() ? "" : ",") + scpi::FormatFloat(static_cast<float>(value));
    return answer;
}

// SOURce<n>:LIST:VOLTage or :DATA, volts or codes. Each value is checked against the channel's
// range when the run starts, where the range is known; here only its form. Either list may also
// come as one block: codes of 16-bit words whatever the FORMat (a block says what it is), volts
// of IEEE 754 numbers as BytesOfVolts says.
CommandRow ListOf(std::string_view pattern, bool codes) {
    return Setting(
        pattern,
        [=](Call& c) {
            const std::optional<ChannelWave>& list = c.targets.lists->List(c.Channel());
            const std::vector<double> none;
            const std::vector<double>& points = list && list->codes == codes ? list->list : none;
            return codes ? CodesAnswer(c, points) : VoltsAnswer(c, points);
        },
        [=](Call& c) {
            const auto& params = c.command.params;
            if (params.empty())
                throw ScpiError(scpi::kMissingParameter);
            if (params.size() > static_cast<std::size_t>(kMaxWavePoints))
                throw TooManyPoints();
            const int32_t topCode = args::TopCode(c.in);
            ChannelWave wave;
            wave.channel = c.Channel();
            wave.shape = WaveShape::List;
            wave.codes = codes;
            if (params.size() == 1 && params[0].kind == scpi::ParamKind::kBlock) {
                wave.list = codes ? CodesOfBlock(c, params[0]) : VoltsOfBlock(c, params[0]);
            } else {
                wave.list.reserve(params.size());
                for (const scpi::Parameter& p : params)
                    wave.list.push_back(codes
                                            ? static_cast<double>(scpi::ReadInteger(p, 0, topCode))
                                            : scpi::ReadVoltage(p, -kMostVolts, kMostVolts));
            }
            c.targets.lists->Load(std::move(wave));
        });
}

// FORMat[:DATA] ASCii[,0] | INTeger[,16] | REAL[,32|64]: how this client's lists travel.
void SetFormat(Call& c) {
    scpi::CheckParamCount(c.command, 1, 2);
    const scpi::Parameter& type = c.command.params[0];
    if (type.kind != scpi::ParamKind::kCharacter)
        throw ScpiError(scpi::kDataTypeError);
    const bool integer = args::IsWord(type, "INTeger");
    const bool real = args::IsWord(type, "REAL");
    if (!integer && !real && !args::IsWord(type, "ASCii"))
        throw ScpiError(scpi::kIllegalParameterValue,
                        "the formats are ASCii, INTeger,16 and REAL,32 or REAL,64");
    int64_t length = integer ? 16 : real ? 32 : 0;
    if (c.command.params.size() == 2) {
        length = scpi::ReadInteger(c.command.params[1], 0, 64);
        if (integer && length != 16)
            throw ScpiError(scpi::kIllegalParameterValue, "INTeger takes the length 16");
        if (real && length != 32 && length != 64)
            throw ScpiError(scpi::kIllegalParameterValue, "REAL takes the length 32 or 64");
        if (!integer && !real && length != 0)
            throw ScpiError(scpi::kIllegalParameterValue, "ASCii takes the length 0");
    }
    c.format->type = integer ? Format::kInteger16
                     : real  ? (length == 64 ? Format::kReal64 : Format::kReal32)
                             : Format::kAscii;
}

// FORMat[:DATA]?: the type and its length, as SetFormat takes them.
std::string FormatAnswer(const Call& c) {
    switch (c.format->type) {
        case Format::kInteger16:
            return "INT,16";
        case Format::kReal32:
            return "REAL,32";
        case Format::kReal64:
            return "REAL,64";
        case Format::kAscii:
            break;
    }
    return "ASC,0";
}

// <state>,<steps done>,<steps in all>,<late steps>,<rate asked>,<rate achieved>,"<why>".
std::string StateOf(const RunStatus& status) {
    std::string why;
    for (const char c : status.error)
        if (c != '"')
            why += c;
    return std::string(RunStateName(status.state)) + "," + scpi::FormatInt(status.stepsDone) + "," +
           scpi::FormatInt(status.totalSteps) + "," + scpi::FormatInt(status.lateSteps) + "," +
           scpi::FormatFloat(static_cast<float>(status.askedRate)) + "," +
           scpi::FormatFloat(static_cast<float>(status.achievedRate)) + ",\"" + why + "\"";
}

// LIST:STATe?; an armed run waits for its trigger with the steps it will take.
std::string ListState(Call& c) {
    const ListRun& lists = *c.targets.lists;
    if (lists.Armed() && !c.targets.run->Running()) {
        RunStatus armed;
        armed.totalSteps = lists.TotalSteps();
        armed.askedRate = lists.DwellSeconds() > 0.0 ? 1.0 / lists.DwellSeconds() : 0.0;
        return "ARMED" + StateOf(armed).substr(std::string_view(RunStateName(armed.state)).size());
    }
    return StateOf(c.targets.run->Status());
}

void CheckLoaded(const ListRun& lists) {
    if (lists.Empty())
        throw ScpiError(scpi::kSettingsConflict,
                        "no list is loaded; send SOURce<n>:LIST:VOLTage first");
}

// INITiate: the run starts at once, or with the bus trigger is armed to wait for *TRG. Armed, its
// lists are checked against the channels' ranges as a start would, so that a script learns of a
// bad point before it triggers.
void Initiate(Call& c) {
    ListRun& lists = *c.targets.lists;
    if (lists.Armed())
        throw ScpiError(scpi::kInitIgnored);
    CheckLoaded(lists);
    if (lists.Trigger() == TriggerSource::Immediate) {
        c.targets.run->Start(lists.Plan(), kListRunKind);
        return;
    }
    if (c.targets.run->Running())
        throw InstrumentError("a waveform run is running already; stop it first");
    CompilePlan(c.in, lists.Plan());
    lists.Arm(c.client.origin);
}

// *TRG, TRIGger: starts the armed run for the client that armed it, whose pending operation it is.
void Trigger(Call& c) {
    ListRun& lists = *c.targets.lists;
    if (!lists.Armed())
        throw ScpiError(scpi::kTriggerIgnored);
    const Instrument::Origin armedBy(c.in, lists.Disarm());
    CheckLoaded(lists);
    c.targets.run->Start(lists.Plan(), kListRunKind);
}

}  // namespace

const CommandRows& ListCommands() {
    static const CommandRows rows = {
        ListOf("SOURce#:LIST:VOLTage", false),
        ListOf("SOURce#:LIST:DATA", true),
        Action("LIST:CLEar", [](Call& c) { c.targets.lists->Clear(); }),
        Numeric(
            "LIST:DWELl",
            [](Call&) {
                return NumberBounds{0.0, ListRun::kMaxDwellSeconds, ListRun().DwellSeconds()};
            },
            [](Call& c) {
                return scpi::FormatFloat(static_cast<float>(c.targets.lists->DwellSeconds()));
            },
            [](Call& c) {
                c.targets.lists->SetDwellSeconds(
                    scpi::ReadNumber(args::Only(c.command), 0.0, ListRun::kMaxDwellSeconds,
                                     scpi::kSecondUnits, ListRun().DwellSeconds()));
            }),
        Numeric(
            "LIST:COUNt",
            [](Call&) {
                return NumberBounds{1.0, static_cast<double>(ListRun::kMaxPeriods),
                                    static_cast<double>(ListRun().Periods())};
            },
            [](Call& c) {
                const int64_t periods = c.targets.lists->Periods();
                return periods == 0 ? "INF" : scpi::FormatInt(periods);
            },
            [](Call& c) {
                const scpi::Parameter& p = args::Only(c.command);
                c.targets.lists->SetPeriods(
                    args::IsWord(p, "INFinity")
                        ? 0
                        : scpi::ReadInteger(p, 1, ListRun::kMaxPeriods, ListRun().Periods()));
            },
            [](double periods) { return scpi::FormatInt(static_cast<int64_t>(periods)); }),
        // A client's format is its own: it is set while another client holds the lock.
        PassingLock(Setting("FORMat[:DATA]", FormatAnswer, SetFormat)),
        PassingLock(Setting(
            "FORMat:BORDer", [](Call& c) { return c.format->swapped ? "SWAP" : "NORM"; },
            [](Call& c) { c.format->swapped = !args::Choice(c.command, "NORMal", "SWAPped"); })),
        Query("LIST:STATe", ListState),
        Action("INITiate[:IMMediate]", Initiate),
        PassingLock(Action("ABORt",
                           [](Call& c) {
                               c.targets.lists->Disarm();
                               StopReason abort = StopBy(c, "ABORt");
                               abort.ownStop = true;
                               c.targets.run->Stop(abort);
                           })),
        Setting(
            "TRIGger[:SEQuence]:SOURce",
            [](Call& c) -> std::string {
                return c.targets.lists->Trigger() == TriggerSource::Bus ? "BUS" : "IMM";
            },
            [](Call& c) {
                c.targets.lists->SetTrigger(args::Choice(c.command, "IMMediate", "BUS")
                                                ? TriggerSource::Immediate
                                                : TriggerSource::Bus);
            }),
        Action("TRIGger[:SEQuence][:IMMediate]", Trigger),
        Action("*TRG", Trigger),
    };
    return rows;
}

}  // namespace tq
