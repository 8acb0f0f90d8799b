#include "instrument/Waveform.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <sstream>

#include "core/ConverterCoding.h"
#include "core/Encoding.h"
#include "core/InputExcerpt.h"
#include "core/Printed.h"

namespace tq {
namespace {

std::string Number(double value) {
    return Printed("%g", value);
}

}  // namespace

int32_t WavePointCount(const ChannelWave& wave) {
    if (wave.shape == WaveShape::List)
        return static_cast<int32_t>(std::min<std::size_t>(wave.list.size(), INT32_MAX));
    return wave.points;
}

double WavePoint(const ChannelWave& wave, int32_t index) {
    const int32_t count = WavePointCount(wave);
    if (count <= 0)
        return wave.offset;
    const double n = count;
    const double k = index % count;
    const double low = wave.offset - wave.amplitude;
    switch (wave.shape) {
        case WaveShape::List:
            return wave.list[static_cast<std::size_t>(k)];
        case WaveShape::Staircase:
            // Both ends are steps of their own, so every level from low to high is visited.
            return count == 1 ? low : low + 2.0 * wave.amplitude * k / (n - 1.0);
        case WaveShape::Ramp:
            // A sawtooth: the top is where the next period starts again from the bottom.
            return low + 2.0 * wave.amplitude * k / n;
        case WaveShape::Triangle: {
            const double phase = k / n;
            return phase < 0.5 ? low + 4.0 * wave.amplitude * phase
                               : low + 4.0 * wave.amplitude * (1.0 - phase);
        }
        case WaveShape::Sine:
            return wave.offset + wave.amplitude * std::sin(2.0 * std::numbers::pi * k / n);
        case WaveShape::Square:
            return k < n / 2.0 ? wave.offset + wave.amplitude : low;
    }
    return wave.offset;
}

CompiledPlan CompilePlan(Instrument& instrument, const WavePlan& plan) {
    if (plan.channels.empty())
        throw ValueRangeError("no channel is selected for the run");
    if (!(plan.dwellSeconds >= 0.0) || plan.dwellSeconds > 3600.0)
        throw ValueRangeError("the dwell per step is " + Number(plan.dwellSeconds) +
                              " s; it must be 0 (as fast as the link allows) to 3600 s");
    if (plan.periods < 0 || plan.periods > 1000000000)
        throw ValueRangeError("the count of periods is " + std::to_string(plan.periods) +
                              "; give 1 to 1000000000, or 0 to run until stopped");
    CompiledPlan compiled;
    compiled.dwellSeconds = plan.dwellSeconds;
    compiled.periods = plan.periods;
    const int16_t resolution = instrument.Resolution();
    const int32_t top = ConverterCoding(resolution).TopCode();
    for (const ChannelWave& wave : plan.channels) {
        if (wave.channel < 0 || wave.channel >= kChannelCount)
            throw ValueRangeError("no such channel: " + std::to_string(wave.channel) +
                                  " (DAC A to D are 0 to 3)");
        const std::string name = ChannelName(wave.channel);
        if (std::find(compiled.channels.begin(), compiled.channels.end(), wave.channel) !=
            compiled.channels.end())
            throw ValueRangeError(name + " is given twice");
        const int32_t count = WavePointCount(wave);
        if (count < 1 || count > kMaxWavePoints)
            throw ValueRangeError(name + ": " + std::to_string(count) +
                                  " points per period; give 1 to " +
                                  std::to_string(kMaxWavePoints));
        if (wave.shape != WaveShape::List &&
            !(std::isfinite(wave.amplitude) && std::isfinite(wave.offset)))
            throw ValueRangeError(name + ": the amplitude and offset must be numbers");
        const float range = instrument.ChannelRangeVolts(wave.channel);
        std::vector<int32_t> codes;
        codes.reserve(static_cast<std::size_t>(count));
        for (int32_t i = 0; i < count; ++i) {
            const double value = WavePoint(wave, i);
            const std::string where = name + " point " + std::to_string(i + 1) + " (" +
                                      Number(value) + (wave.codes ? "" : " V") + ")";
            if (wave.codes) {
                const double rounded = std::nearbyint(value);
                if (!(rounded >= 0.0 && rounded <= top))
                    throw ValueRangeError(where + " is outside the codes 0 to " +
                                          std::to_string(top));
                codes.push_back(static_cast<int32_t>(rounded));
            } else {
                // A float's rounding must not refuse a point the user typed at the very end.
                if (!(std::fabs(value) <= static_cast<double>(range) * (1.0 + 1e-7)))
                    throw ValueRangeError(where + " is outside the channel's range, -" +
                                          Number(range) + " V to " + Number(range) + " V");
                codes.push_back(VoltsToCode(static_cast<float>(value), resolution,
                                            instrument.State().BinaryCoding, range)
                                    .code);
            }
        }
        compiled.channels.push_back(wave.channel);
        compiled.codes.push_back(std::move(codes));
        compiled.stepsPerPeriod = std::max(compiled.stepsPerPeriod, count);
    }
    return compiled;
}

std::vector<double> ParseVoltsList(const std::string& text) {
    std::vector<double> values;
    std::istringstream lines(text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        const std::string field = line.substr(first, line.find_first_of(",;\t", first) - first);
        char* end = nullptr;
        const double value = std::strtod(field.c_str(), &end);
        const bool rest = end != nullptr &&
                          std::string_view(end).find_first_not_of(' ') != std::string_view::npos;
        if (end == field.c_str() || rest || !std::isfinite(value))
            throw ValueRangeError("line " + std::to_string(lineNumber) +
                                  " holds no number: " + InputExcerpt(line, 80));
        if (values.size() >= static_cast<std::size_t>(kMaxWavePoints))
            throw ValueRangeError("the list holds more than " + std::to_string(kMaxWavePoints) +
                                  " points");
        values.push_back(value);
    }
    if (values.empty())
        throw ValueRangeError("the list holds no values");
    return values;
}

const char* RunStateName(RunState state) {
    switch (state) {
        case RunState::Idle:
            return "IDLE";
        case RunState::Running:
            return "RUNNING";
        case RunState::Finished:
            return "FINISHED";
        case RunState::Stopped:
            return "STOPPED";
        case RunState::Failed:
            return "FAILED";
    }
    return "IDLE";
}

void WaveformRun::OfferDefinition(const WaveformDefinition& definition) {
    definition_ = definition;
    if (definitionListener_)
        definitionListener_(definition);
}

WaveformRun::WaveformRun(Instrument& instrument, RunTimer& timer)
    : Activity(kWaveformRunKind), instrument_(instrument), timer_(timer) {}

WaveformRun::~WaveformRun() {
    timer_.Cancel();
    if (Running())
        instrument_.EndActivity(*this, OutcomeOf({nullptr, "the program ended"}, StepText(step_)));
}

void WaveformRun::Start(const WavePlan& plan, const ActivityKind& kind) {
    if (Running())
        throw InstrumentError("a waveform run is running already; stop it first");
    CompiledPlan compiled = CompilePlan(instrument_, plan);
    if (instrument_.LimitsActive()) {
        // Every point within the output protection's limits, before anything is sent.
        ConverterModel model = instrument_.KnownModel(true);
        const ConverterCoding coding(instrument_.Resolution());
        for (int32_t step = 0; step < compiled.stepsPerPeriod; ++step) {
            for (std::size_t i = 0; i < compiled.channels.size(); ++i) {
                const auto& table = compiled.codes[i];
                model.Write(
                    compiled.channels[i], kRegData,
                    coding.FrameOfCode(table[static_cast<std::size_t>(step) % table.size()]),
                    false);
            }
            model.Load();
            try {
                instrument_.CheckPlannedOutputs(model);
            } catch (const LimitError& e) {
                throw LimitError("point " + std::to_string(step + 1) + ": " + e.what());
            }
        }
    }
    SetKind(kind);
    channels_ = compiled.channels;
    instrument_.BeginActivity(
        *this, compiled.periods > 0 ? compiled.periods * compiled.stepsPerPeriod : 0);
    plan_ = std::move(compiled);
    state_ = RunState::Running;
    error_.clear();
    step_ = 0;
    late_ = 0;
    startTime_ = timer_.Now();
    lastStepTime_ = startTime_;
    Step();
}

void WaveformRun::Stop(const StopReason& reason) {
    if (!Running())
        return;
    // A failure names the step that could not go out; a stop, the last one that did.
    const int64_t at = reason.failure ? step_ + 1 : step_;
    ActivityOutcome outcome = OutcomeOf(reason, StepText(at));
    // A run that repeats until stopped ends so, whoever stops it.
    outcome.expected = reason.ownStop && plan_.periods == 0;
    End(reason.failure ? RunState::Failed : RunState::Stopped, std::move(outcome),
        reason.failure ? "step " + std::to_string(at) + ": " + reason.why : std::string());
}

void WaveformRun::End(RunState state, ActivityOutcome outcome, std::string error) {
    timer_.Cancel();
    state_ = state;
    error_ = std::move(error);
    instrument_.EndActivity(*this, std::move(outcome));
}

std::string WaveformRun::StepText(int64_t step) const {
    const int64_t total = plan_.periods > 0 ? plan_.periods * plan_.stepsPerPeriod : 0;
    return "step " + std::to_string(step) + (total > 0 ? " of " + std::to_string(total) : "");
}

void WaveformRun::Step() {
    if (!Running())
        return;
    const double dwell = plan_.dwellSeconds;
    const double now = timer_.Now();
    if (dwell > 0.0 && now > startTime_ + static_cast<double>(step_ + 1) * dwell)
        ++late_;
    const int64_t inPeriod = step_ % plan_.stepsPerPeriod;
    std::vector<std::pair<int16_t, int32_t>> codes;
    codes.reserve(plan_.channels.size());
    for (std::size_t i = 0; i < plan_.channels.size(); ++i) {
        const auto& table = plan_.codes[i];
        codes.emplace_back(plan_.channels[i],
                           table[static_cast<std::size_t>(inPeriod) % table.size()]);
    }
    try {
        Instrument::Origin origin(instrument_, static_cast<const Activity*>(this));
        instrument_.WriteChannelsTogether(codes);
    } catch (const InstrumentError& error) {
        End(RunState::Failed, OutcomeOf({nullptr, error.what(), false, true}, StepText(step_ + 1)),
            "step " + std::to_string(step_ + 1) + ": " + error.what());
        return;
    }
    ++step_;
    lastStepTime_ = timer_.Now();
    const int64_t total = plan_.periods > 0 ? plan_.periods * plan_.stepsPerPeriod : 0;
    if (total > 0 && step_ >= total) {
        End(RunState::Finished, {});
        return;
    }
    instrument_.AdvanceActivity(*this, step_, total);
    // Steps keep to the schedule from the start, so one late step does not delay the rest.
    timer_.WakeAt(dwell > 0.0 ? startTime_ + static_cast<double>(step_) * dwell : lastStepTime_,
                  [this] { Step(); });
}

RunStatus WaveformRun::Status() const {
    RunStatus status;
    status.state = state_;
    status.stepsDone = step_;
    status.totalSteps = plan_.periods > 0 ? plan_.periods * plan_.stepsPerPeriod : 0;
    status.lateSteps = late_;
    status.askedRate = plan_.dwellSeconds > 0.0 ? 1.0 / plan_.dwellSeconds : 0.0;
    status.error = error_;
    if (step_ > 0) {
        // A paced step lasts its dwell; the last one counts whole.
        const double end =
            std::max(lastStepTime_, startTime_ + static_cast<double>(step_) * plan_.dwellSeconds);
        if (end > startTime_)
            status.achievedRate = static_cast<double>(step_) / (end - startTime_);
    }
    return status;
}

}  // namespace tq
