#pragma once
// The runs that close the loop through a bench meter: the automatic calibration and the
// linearity test. Each is a state machine driven by the meter's answers and a settling timer on
// the user-interface thread: a step sends one set of board requests and returns, so the windows
// and remote clients are served while the output settles and the meter reads.
//
// A run claims the channels it drives from the instrument, which refuses everyone else's writes
// to them until the run ends; the run's own writes are made under its origin. When a run ends in
// any way (also when it is destroyed), each driven channel's data register, and its output, go
// back to the code it held before the run, the claim is released, and the message says where
// every output was left.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/ConverterCoding.h"
#include "instrument/Calibration.h"
#include "instrument/Instrument.h"
#include "instrument/Linearity.h"
#include "instrument/Meter.h"

namespace tq {

struct MeterRunSettings {
    int settleMilliseconds = 100;  // after each change of the output, before reading
    int readingsPerCode = 2;       // averaged; their spread tells how noisy the meter is
};

inline constexpr ActivityKind kAutomaticCalibrationKind{.name = "the automatic calibration",
                                                        .subject = "automatic calibration",
                                                        .operationBit = kOperationCalibrating,
                                                        .window = "MeterForm",
                                                        .namesItsChannels = true};
inline constexpr ActivityKind kLinearityTestKind{.name = "the linearity test",
                                                 .subject = "linearity test",
                                                 .operationBit = kOperationMeasuring,
                                                 .window = "MeterForm",
                                                 .namesItsChannels = true};

class MeterRun : public Activity {
public:
    enum class State { Idle, Running, AwaitingProbe, Finished, Failed, Stopped };

    // `kind`: what the run is (each kind of run passes its own).
    MeterRun(Instrument& instrument, Meter& meter, RunTimer& timer, MeterRunSettings settings,
             const ActivityKind& kind);
    ~MeterRun() override;

    State CurrentState() const { return state_; }
    bool Active() const { return state_ == State::Running || state_ == State::AwaitingProbe; }
    // Whether the run holds the channel's claim.
    bool Owns(int16_t channel) const;
    // Steps done and to do; the message says what the run is doing or why it ended.
    int Done() const { return done_; }
    int Total() const { return total_; }
    const std::string& Message() const { return message_; }

    // The user has moved the probe as asked (AwaitingProbe only; elsewhere it does nothing).
    void Continue();
    // Ends the run at once; the outputs go back as after any ending.
    void Stop(const StopReason& reason) override;

    // Called after every change of state or progress.
    std::function<void()> onChange;

protected:
    // Claims the channels in the run's name ("the linearity test"), remembers their codes and
    // begins with Begin(); false (with the message set) when another activity holds one of them
    // or their codes cannot be read back.
    bool Launch(std::vector<int16_t> channels, int total);
    virtual void Begin() = 0;
    virtual void Resume() {}  // after Continue()
    // Before the first write: throws InstrumentError when a write the run will make is refused,
    // so that a run refused half-way never leaves some channels changed.
    virtual void CheckBeforeFirstWrite() {}

    // Sets the code and loads it to the output, whatever "Pulse After Data Write" says (as one
    // step, which the output protection judges as it does a waveform run's), waits for the output
    // to settle, takes the readings, then `next(mean, spread)`. A board or meter failure, or a
    // refusal, ends the run.
    void Measure(int16_t channel, int32_t code,
                 std::function<void(double mean, double spread)> next);
    void AskForProbe(const std::string& prompt);
    void Step(const std::string& message);
    void Finish(const std::string& message);
    void Fail(const std::string& message);

    // The converter's resolution and the board's data coding as they are now.
    ConverterCoding Coding() const;
    double IdealLsb(int16_t channel);
    std::string ChannelName(int16_t channel) const;
    bool MeterSelectsChannels() const { return meter_.SelectsChannels(); }
    // The run's changes go out under its own origin, which its claim lets through.
    Instrument::Origin Own() {
        return Instrument::Origin(instrument_, static_cast<const Activity*>(this));
    }

    Instrument& instrument_;
    MeterRunSettings settings_;
    int done_ = 0;

private:
    void ReadNext();
    std::string Restore();
    void End(State state, const std::string& message, ActivityOutcome outcome);
    // "step 3 of 9": the step under way.
    std::string StepText() const;

    Meter& meter_;
    RunTimer& timer_;
    State state_ = State::Idle;
    int total_ = 0;
    std::string message_;
    std::vector<int32_t> codesBefore_;
    bool claimed_ = false;
    // The reading in progress.
    int16_t channel_ = 0;
    std::vector<double> readings_;
    std::function<void(double, double)> next_;
};

struct ChannelCalibration {
    int16_t channel = 0;
    Correction offset{};
    Correction gain{};
    double zeroErrorVolts = 0;       // the check pass: at 0 V
    double fullScaleErrorVolts = 0;  // the check pass: at zero scale
    double lsbVolts = 0;
    bool WithinOneLsb() const;
};

class AutoCalibrationRun : public MeterRun {
public:
    AutoCalibrationRun(Instrument& instrument, Meter& meter, RunTimer& timer,
                       MeterRunSettings settings)
        : MeterRun(instrument, meter, timer, settings, kAutomaticCalibrationKind) {}
    // The two calibration steps with the meter's readings, then a check pass, for each channel
    // in turn (ALL DACs: A to D). False when the run could not start (see Message()).
    bool Start(int16_t channelOrAll);
    const std::vector<ChannelCalibration>& Results() const { return results_; }
    // One line per channel, with the remaining errors in uV and LSB.
    std::string Summary() const;

private:
    enum class Phase { Offset, Gain, CheckZero, CheckFull };
    void CheckBeforeFirstWrite() override;
    void Begin() override;
    void Resume() override;
    void RunPhase();
    void Take(double volts);
    void TakePhase(int16_t channel, double volts);

    std::vector<int16_t> order_;
    std::size_t index_ = 0;
    Phase phase_ = Phase::Offset;
    Calibration calibration_{instrument_};
    std::vector<ChannelCalibration> results_;
};

class LinearityRun : public MeterRun {
public:
    LinearityRun(Instrument& instrument, Meter& meter, RunTimer& timer, MeterRunSettings settings)
        : MeterRun(instrument, meter, timer, settings, kLinearityTestKind) {}
    // Steps `channel` (0..3) through `ordinals` (offset-binary order, rising; at most 65536),
    // reading at each. False when the run could not start (see Message()).
    bool Start(int16_t channel, std::vector<int32_t> ordinals);
    int16_t Channel() const { return channel_; }
    const std::vector<LinearityPoint>& Points() const { return points_; }
    // Valid once Finished.
    const LinearityReport& Report() const { return report_; }

private:
    void Begin() override;
    void Next();

    int16_t channel_ = 0;
    double lsb_ = 0;
    double range_ = 0;
    std::vector<int32_t> ordinals_;
    std::vector<LinearityPoint> points_;
    LinearityReport report_;
};

}  // namespace tq
