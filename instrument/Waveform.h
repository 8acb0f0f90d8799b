#pragma once
// Waveforms and sweeps on the DAC outputs: what each channel runs (a shape or a list of set
// points), turned into codes before a run starts, and the run itself, a state machine that sends
// one step per wake-up of a timer it is handed. Between steps the caller's event loop serves the
// windows and the remote clients (one thread, shared board).

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "instrument/Instrument.h"
#include "instrument/RunTimer.h"

namespace tq {

enum class WaveShape { List, Staircase, Ramp, Triangle, Sine, Square };

// The shapes by name, as the window lists them and the protocol takes them.
struct WaveShapeEntry {
    WaveShape shape;
    const char* name;
};
inline constexpr WaveShapeEntry kWaveShapes[] = {
    {WaveShape::List, "List"}, {WaveShape::Staircase, "Staircase"},
    {WaveShape::Ramp, "Ramp"}, {WaveShape::Triangle, "Triangle"},
    {WaveShape::Sine, "Sine"}, {WaveShape::Square, "Square"},
};

// At most this many points per period on one channel keeps a run's tables small.
inline constexpr int32_t kMaxWavePoints = 65536;

struct ChannelWave {
    int16_t channel = 0;  // DAC A..D = 0..3
    WaveShape shape = WaveShape::Staircase;
    bool codes = false;        // values are data codes rather than volts
    double amplitude = 1.0;    // half the peak-to-peak swing
    double offset = 0.0;       // the middle of the swing
    int32_t points = 16;       // points per period (shapes)
    std::vector<double> list;  // the set points of WaveShape::List, in order
};

// The value of point `index` (0..points-1) of a channel's period, in its units.
double WavePoint(const ChannelWave& wave, int32_t index);
// Points per period: the list's length for a list, else `points`.
int32_t WavePointCount(const ChannelWave& wave);

struct WavePlan {
    std::vector<ChannelWave> channels;  // each channel at most once
    double dwellSeconds = 0.01;         // per step; 0: as fast as the link allows
    int64_t periods = 1;                // 0: until stopped
};

// A plan made into codes: one table per channel. Steps run over the longest period; a shorter
// one repeats within it.
struct CompiledPlan {
    std::vector<int16_t> channels;
    std::vector<std::vector<int32_t>> codes;
    int32_t stepsPerPeriod = 0;
    double dwellSeconds = 0.0;
    int64_t periods = 1;
};

// Checks and codes a plan against the channels' ranges as the instrument knows them: a point
// outside its channel's range, a bad code, an empty list or a repeated channel is a
// ValueRangeError that names the channel and the point; nothing is clamped.
CompiledPlan CompilePlan(Instrument& instrument, const WavePlan& plan);

// Lines of a CSV file of volts (one value a line, or the first number of each line; blank lines
// and lines starting with '#' skipped) for an arbitrary list. A line that holds no number is a
// ValueRangeError that names it.
std::vector<double> ParseVoltsList(const std::string& text);

// What the Waveform Generator shows, kept between runs of the program and in setups: per channel
// whether it is ticked, its shape and units and each value typed; the dwell and the periods. A
// value the window could not read is left out.
struct WaveformChannelDefinition {
    bool on = false;
    WaveShape shape = WaveShape::Staircase;
    bool codes = false;  // values in data codes rather than volts
    std::optional<double> amplitude;
    std::optional<double> offset;
    std::optional<int32_t> points;
    std::optional<std::vector<double>> list;
    bool operator==(const WaveformChannelDefinition&) const = default;
};
struct WaveformDefinition {
    std::array<WaveformChannelDefinition, 4> channels{};
    std::optional<double> dwellMilliseconds;
    bool asFastAsTheLinkAllows = false;
    std::optional<int64_t> periods;
    bool continuous = false;
    bool operator==(const WaveformDefinition&) const = default;
};

enum class RunState { Idle, Running, Finished, Stopped, Failed };
const char* RunStateName(RunState state);  // "IDLE", "RUNNING", ...

struct RunStatus {
    RunState state = RunState::Idle;
    int64_t stepsDone = 0;
    int64_t totalSteps = 0;  // 0 while continuous
    int64_t lateSteps = 0;   // sent after the next step was due
    double askedRate = 0.0;  // steps per second asked for; 0: as fast as the link allows
    double achievedRate = 0.0;
    std::string error;  // why a run failed
};

inline constexpr ActivityKind kWaveformRunKind{.name = "the waveform run",
                                               .subject = "waveform run",
                                               .operationBit = kOperationSweeping,
                                               .window = "WaveformForm"};

// The program's one run of waves or lists, an activity each time it runs; its state outlives
// the run for whoever asks how it went.
class WaveformRun : public Activity {
public:
    WaveformRun(Instrument& instrument, RunTimer& timer);
    ~WaveformRun() override;

    // Checks and codes the plan, claims its channels and sends the first step at once. Throws
    // (nothing sent, nothing claimed) for a plan that cannot run or a channel held by another.
    // `kind`: what the run is to its starter (a list run, for the protocol's lists).
    void Start(const WavePlan& plan, const ActivityKind& kind = kWaveformRunKind);
    // Ends a run before its next step; the outputs stay where the last step left them.
    void Stop(const StopReason& reason) override;
    // Sends the step that is due; the timer calls it.
    void Step();

    RunStatus Status() const;
    bool Running() const { return state_ == RunState::Running; }
    const CompiledPlan& Plan() const { return plan_; }

    // The Waveform Generator's definition, kept here so that a setup saved by the main window
    // holds it and one opened by any route (a file, *RCL, SYSTem:SETup) reaches the window.
    // Keep: the window's own changes; Offer: a setup's, which the listener (the window) shows.
    void KeepDefinition(const WaveformDefinition& definition) { definition_ = definition; }
    void OfferDefinition(const WaveformDefinition& definition);
    const std::optional<WaveformDefinition>& Definition() const { return definition_; }
    void SetDefinitionListener(std::function<void(const WaveformDefinition&)> listener) {
        definitionListener_ = std::move(listener);
    }

private:
    void End(RunState state, ActivityOutcome outcome, std::string error = {});
    // "step 3 of 5" ("step 3" while it repeats until stopped).
    std::string StepText(int64_t step) const;

    Instrument& instrument_;
    RunTimer& timer_;
    CompiledPlan plan_;
    RunState state_ = RunState::Idle;
    std::string error_;
    int64_t step_ = 0;
    int64_t late_ = 0;
    double startTime_ = 0.0;
    double lastStepTime_ = 0.0;
    std::optional<WaveformDefinition> definition_;
    std::function<void(const WaveformDefinition&)> definitionListener_;
};

}  // namespace tq
