#include "meter/SimulatedMeterLogic.h"

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>

#include "board/SimulatedBench.h"

namespace tq {

using scpi::Forms;

const SimulatedMeterLogic::Row SimulatedMeterLogic::kRows[] = {
    {"*IDN", Forms::kQuery, &SimulatedMeterLogic::Identity},
    {"MEASure:VOLTage[:DC]", Forms::kQuery, &SimulatedMeterLogic::Reading},
    {"READ", Forms::kQuery, &SimulatedMeterLogic::Reading},
    {"ROUTe:CLOSe", Forms::kSet, &SimulatedMeterLogic::Route},
    {"ROUTe:CLOSe", Forms::kQuery, &SimulatedMeterLogic::RouteQuery},
    {"SIMulate:NOISe", Forms::kSet, &SimulatedMeterLogic::Noise},
    {"SYSTem:ERRor[:NEXT]", Forms::kQuery, &SimulatedMeterLogic::NextError},
    {"*RST", Forms::kSet, &SimulatedMeterLogic::Ignore},
    {"*CLS", Forms::kSet, &SimulatedMeterLogic::Ignore},
    // A meter's settings, taken and ignored: this one measures whatever it is told.
    {"CONFigure", Forms::kSet, &SimulatedMeterLogic::Ignore, true},
    {"SENSe", Forms::kSet, &SimulatedMeterLogic::Ignore, true},
    {"VOLTage", Forms::kSet, &SimulatedMeterLogic::Ignore, true},
    {"TRIGger", Forms::kSet, &SimulatedMeterLogic::Ignore, true},
    {"SYSTem", Forms::kSet, &SimulatedMeterLogic::Ignore, true},
    {"DISPlay", Forms::kSet, &SimulatedMeterLogic::Ignore, true},
};

const scpi::CommandTable& SimulatedMeterLogic::Table() {
    static const scpi::CommandTable table = [] {
        scpi::CommandTable t;
        for (std::size_t i = 0; i < std::size(kRows); ++i) {
            const int id = static_cast<int>(i);
            if (kRows[i].subsystem)
                t.AddSubsystem(id, kRows[i].pattern, kRows[i].forms);
            else
                t.Add(id, kRows[i].pattern, kRows[i].forms);
        }
        return t;
    }();
    return table;
}

// Each command from the root, as a meter takes it; a failed query queues its error and answers
// nothing, so the answers that do come stay in step with what the client reads.
std::string SimulatedMeterLogic::Answer(const std::string& line) {
    std::string answers;
    for (const std::string_view text : scpi::SplitCommands(line)) {
        try {
            const scpi::ParsedCommand command = scpi::ParseCommand(text);
            const scpi::MatchResult match = Table().Match(command);
            const std::string answer = (this->*kRows[match.id].run)(command);
            if (!answer.empty())
                answers += (answers.empty() ? "" : ";") + answer;
        } catch (const scpi::ScpiError& error) {
            // Bare texts; a full queue keeps its oldest errors and drops the new one.
            if (errors_.Size() < scpi::ErrorQueue::kCapacity)
                errors_.Push(error.code);
        }
    }
    return answers;
}

std::string SimulatedMeterLogic::Identity(const scpi::ParsedCommand&) {
    return "TQ-SIM,DVM,0,1.0";
}

std::string SimulatedMeterLogic::Reading(const scpi::ParsedCommand&) {
    const double volts = bench_.OutputVolts(channel_) + noiseVolts_ * normal_(random_);
    char text[32];
    std::snprintf(text, sizeof text, "%+.9E", volts);
    return text;
}

// (@101) .. (@104): one channel of the scanner.
std::string SimulatedMeterLogic::Route(const scpi::ParsedCommand& command) {
    const auto& params = command.params;
    // A view of the parameter itself: "cond ? value : """ would make a temporary string, gone
    // before the view is read.
    std::string_view list;
    if (params.size() == 1 && params[0].kind == scpi::ParamKind::kExpression)
        list = params[0].value;
    if (list.size() != 4 || !list.starts_with("@10") || list[3] < '1' || list[3] > '4')
        throw scpi::ScpiError(scpi::kDataOutOfRange);
    channel_ = list[3] - '1';
    return {};
}

std::string SimulatedMeterLogic::RouteQuery(const scpi::ParsedCommand&) {
    return "(@10" + std::to_string(channel_ + 1) + ")";
}

// <uV>[,<seed>]: whatever is wrong with them is an illegal value.
std::string SimulatedMeterLogic::Noise(const scpi::ParsedCommand& command) {
    double microvolts = 0;
    std::uint32_t seed = 1;
    try {
        scpi::CheckParamCount(command, 1, 2);
        microvolts = scpi::ReadNumber(command.params[0], 0, 1e6);
        if (command.params.size() == 2)
            seed = static_cast<std::uint32_t>(
                scpi::ReadInteger(command.params[1], 0, std::numeric_limits<std::uint32_t>::max()));
    } catch (const scpi::ScpiError&) {
        throw scpi::ScpiError(scpi::kIllegalParameterValue);
    }
    noiseVolts_ = microvolts * 1e-6;
    random_.seed(seed);
    normal_.reset();
    return {};
}

std::string SimulatedMeterLogic::NextError(const scpi::ParsedCommand&) {
    // This meter writes its zero with a sign, as many do.
    return errors_.Empty() ? "+0,\"No error\"" : errors_.Next();
}

std::string SimulatedMeterLogic::Ignore(const scpi::ParsedCommand&) {
    return {};
}

}  // namespace tq
