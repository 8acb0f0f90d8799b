#include "instrument/MeterRun.h"

#include <algorithm>
#include <cmath>

#include "core/CheckedInt.h"
#include "core/Printed.h"
#include "core/Tables.h"

namespace tq {
namespace {

std::string Micro(double volts) {
    return Printed("%.1f", volts * 1e6);
}

std::string Lsb(double value) {
    return Printed("%.3f", value);
}

// A run of 65536 codes with a few readings each is the most anyone needs; beyond it memory grows
// for nothing.
constexpr std::size_t kMostCodes = 65536;
constexpr int kMostReadingsPerCode = 100;

}  // namespace

MeterRun::MeterRun(Instrument& instrument, Meter& meter, RunTimer& timer, MeterRunSettings settings,
                   const ActivityKind& kind)
    : Activity(kind), instrument_(instrument), settings_(settings), meter_(meter), timer_(timer) {
    settings_.readingsPerCode = std::clamp(settings_.readingsPerCode, 1, kMostReadingsPerCode);
    settings_.settleMilliseconds = std::max(0, settings_.settleMilliseconds);
}

MeterRun::~MeterRun() {
    // Whoever listened may be gone already; the outputs go back all the same.
    onChange = nullptr;
    const StopReason ending{nullptr, "the program ended"};
    if (Active())
        End(State::Stopped, "stopped", OutcomeOf(ending, StepText()));
    // No callback may reach a run that is gone.
    meter_.Cancel();
    timer_.Cancel();
    instrument_.EndActivity(*this, OutcomeOf(ending, StepText()));
}

bool MeterRun::Owns(int16_t channel) const {
    return claimed_ && std::find(channels_.begin(), channels_.end(), channel) != channels_.end();
}

bool MeterRun::Launch(std::vector<int16_t> channels, int total) {
    if (Active()) {
        message_ = "a meter run is already running; stop it first";
        return false;
    }
    const auto refuse = [&](const std::string& why) {
        // Its start failed and says so: nobody is told again.
        ActivityOutcome refused = OutcomeOf({nullptr, why, false, true}, {});
        refused.told = true;
        instrument_.EndActivity(*this, std::move(refused));
        message_ = "the run did not start: " + why;
        state_ = State::Failed;
        if (onChange)
            onChange();
        return false;
    };
    std::vector<int32_t> before;
    try {
        channels_ = channels;
        instrument_.BeginActivity(*this, total);
    } catch (const InstrumentError& e) {
        return refuse(std::string(e.what()) + "; stop it first");
    }
    try {
        CheckBeforeFirstWrite();
    } catch (const InstrumentError& e) {
        return refuse(e.what());
    }
    try {
        for (int16_t channel : channels)
            before.push_back(
                instrument_.WithSerialOutput([&] { return instrument_.DataCode(channel); }));
    } catch (const InstrumentError& e) {
        return refuse(std::string("the channels' codes could not be read back (") + e.what() +
                      "); check the board's connection");
    }
    claimed_ = true;
    codesBefore_ = std::move(before);
    total_ = total;
    done_ = 0;
    state_ = State::Running;
    message_ = "starting";
    Begin();
    return true;
}

void MeterRun::Measure(int16_t channel, int32_t code, std::function<void(double, double)> next) {
    try {
        const auto own = Own();
        instrument_.WriteChannelsTogether({{channel, code}});
    } catch (const InstrumentError& e) {
        Fail(ChannelName(channel) + " could not be set to code " + std::to_string(code) + ": " +
             e.what());
        return;
    }
    channel_ = channel;
    readings_.clear();
    next_ = std::move(next);
    timer_.WakeAt(timer_.Now() + settings_.settleMilliseconds / 1000.0, [this] { ReadNext(); });
}

void MeterRun::ReadNext() {
    meter_.Read(channel_, [this](const MeterReading& reading) {
        if (!Active())
            return;
        if (!reading.ok) {
            Fail("the meter failed: " + reading.error);
            return;
        }
        readings_.push_back(reading.volts);
        if (static_cast<int>(readings_.size()) < settings_.readingsPerCode) {
            ReadNext();
            return;
        }
        double mean = 0;
        for (double v : readings_)
            mean += v;
        mean /= static_cast<double>(readings_.size());
        double variance = 0;
        for (double v : readings_)
            variance += (v - mean) * (v - mean);
        const double spread = readings_.size() > 1
                                  ? std::sqrt(variance / static_cast<double>(readings_.size() - 1))
                                  : 0.0;
        auto next = std::move(next_);
        next(mean, spread);
    });
}

void MeterRun::AskForProbe(const std::string& prompt) {
    state_ = State::AwaitingProbe;
    message_ = prompt;
    if (onChange)
        onChange();
}

void MeterRun::Continue() {
    if (state_ != State::AwaitingProbe)
        return;
    state_ = State::Running;
    Resume();
}

void MeterRun::Step(const std::string& message) {
    message_ = message;
    instrument_.AdvanceActivity(*this, done_, total_, message_);
    if (onChange)
        onChange();
}

void MeterRun::Stop(const StopReason& reason) {
    if (Active())
        End(reason.failure ? State::Failed : State::Stopped,
            reason.failure ? reason.why : "stopped", OutcomeOf(reason, StepText()));
}

void MeterRun::Finish(const std::string& message) {
    End(State::Finished, message, {});
}

void MeterRun::Fail(const std::string& message) {
    End(State::Failed, message, OutcomeOf({nullptr, message, false, true}, StepText()));
}

std::string MeterRun::StepText() const {
    return "step " + std::to_string(std::min(done_ + 1, total_)) + " of " + std::to_string(total_);
}

std::string MeterRun::Restore() {
    const auto own = Own();
    std::string where;
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const int16_t channel = channels_[i];
        const int32_t code = codesBefore_[i];
        try {
            instrument_.WriteChannelsTogether({{channel, code}});
            where += "; " + ChannelName(channel) + " is back at code " + std::to_string(code);
        } catch (const InstrumentError& e) {
            where += "; " + ChannelName(channel) + " could not be set back to code " +
                     std::to_string(code) + " (" + e.what() + "): check its output";
        }
    }
    return where;
}

void MeterRun::End(State state, const std::string& message, ActivityOutcome outcome) {
    meter_.Cancel();
    timer_.Cancel();
    next_ = nullptr;
    state_ = state;
    std::string text = message;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    // A report of several lines gets where the outputs are as a line of its own.
    const std::string where = Restore();
    instrument_.EndActivity(*this, std::move(outcome));
    claimed_ = false;
    message_ = text.find('\n') == std::string::npos ? text + where : text + "\n" + where.substr(2);
    if (onChange)
        onChange();
}

ConverterCoding MeterRun::Coding() const {
    return ConverterCoding(instrument_.Resolution(), instrument_.PinValue(Pin::BinaryCoding));
}

double MeterRun::IdealLsb(int16_t channel) {
    return 2.0 * instrument_.ChannelRangeVolts(channel) / Coding().CodeCount();
}

std::string MeterRun::ChannelName(int16_t channel) const {
    return std::string("DAC ") + static_cast<char>('A' + channel);
}

// ---- automatic calibration -------------------------------------------------------------------

bool ChannelCalibration::WithinOneLsb() const {
    return std::fabs(zeroErrorVolts) <= lsbVolts && std::fabs(fullScaleErrorVolts) <= lsbVolts;
}

bool AutoCalibrationRun::Start(int16_t channelOrAll) {
    if (channelOrAll < 0 || channelOrAll > kAllChannels) {
        Step("no such channel: " + std::to_string(channelOrAll));
        return false;
    }
    order_.clear();
    if (channelOrAll == kAllChannels)
        order_ = {0, 1, 2, 3};
    else
        order_ = {channelOrAll};
    index_ = 0;
    results_.clear();
    // Four steps per channel: offset, gain, the check at 0 V and at zero scale.
    return Launch(order_, static_cast<int>(order_.size()) * 4);
}

// Each channel goes to 0 V and to zero scale (the most negative output) in one step each: both
// judged against the limits and ramp steps in effect before anything is written.
void AutoCalibrationRun::CheckBeforeFirstWrite() {
    if (!instrument_.LimitsActive())
        return;
    const auto own = Own();
    const ConverterCoding coding = Coding();
    const ConverterModel now = instrument_.KnownModel(true);
    for (const int16_t channel : order_) {
        ConverterModel zero = now;
        zero.Write(channel, kRegData, coding.FrameOfCode(coding.ZeroCode()), false);
        zero.Load();
        ConverterModel full = zero;
        full.Write(channel, kRegData, coding.FrameOfCode(coding.CodeOfOrdinal(0)), false);
        full.Load();
        instrument_.CheckChange(now, zero, ChangeKind::AtOnce);
        instrument_.CheckChange(zero, full, ChangeKind::AtOnce);
    }
}

void AutoCalibrationRun::Begin() {
    phase_ = Phase::Offset;
    RunPhase();
}

void AutoCalibrationRun::Resume() {
    RunPhase();
}

void AutoCalibrationRun::RunPhase() {
    const int16_t channel = order_[index_];
    // Offset and its check measure at 0 V; gain and its check at zero scale (the most negative
    // output), each in the board's coding.
    const bool atZeroVolts = phase_ == Phase::Offset || phase_ == Phase::CheckZero;
    const char* step = phase_ == Phase::Offset ? ": offset step, 0 V"
                       : phase_ == Phase::Gain ? ": gain step, zero scale"
                       : atZeroVolts           ? ": checking 0 V"
                                               : ": checking zero scale";
    if (phase_ == Phase::Offset) {
        calibration_.Start(channel);
    }
    Step(ChannelName(channel) + step);
    const ConverterCoding coding = Coding();
    Measure(channel, atZeroVolts ? coding.ZeroCode() : coding.CodeOfOrdinal(0),
            [this](double volts, double) { Take(volts); });
}

void AutoCalibrationRun::Take(double volts) {
    const int16_t channel = order_[index_];
    try {
        const auto own = Own();
        // The corrections start from read-backs, which need the serial output.
        instrument_.WithSerialOutput([&] {
            TakePhase(channel, volts);
            return 0;
        });
    } catch (const InstrumentError& e) {
        Fail(ChannelName(channel) + ": the calibration failed: " + e.what());
        return;
    } catch (const NumericError&) {
        Fail(ChannelName(channel) + ": the meter's reading gives no usable correction");
        return;
    }
    ++done_;
    if (index_ == order_.size()) {
        Finish(Summary());
        return;
    }
    if (phase_ == Phase::Offset && !MeterSelectsChannels()) {
        AskForProbe("move the meter's probe to " + ChannelName(order_[index_]) +
                    "'s output, then continue");
        return;
    }
    RunPhase();
}

void AutoCalibrationRun::TakePhase(int16_t channel, double volts) {
    switch (phase_) {
        case Phase::Offset: {
            ChannelCalibration result;
            result.channel = channel;
            result.lsbVolts = IdealLsb(channel);
            result.offset = calibration_.EnterOffsetReading(static_cast<float>(volts));
            results_.push_back(result);
            phase_ = Phase::Gain;
            break;
        }
        case Phase::Gain:
            results_.back().gain = calibration_.EnterGainReading(static_cast<float>(volts));
            calibration_.Finish();
            phase_ = Phase::CheckZero;
            break;
        case Phase::CheckZero:
            results_.back().zeroErrorVolts = volts;
            phase_ = Phase::CheckFull;
            break;
        case Phase::CheckFull:
            results_.back().fullScaleErrorVolts = volts + instrument_.ChannelRangeVolts(channel);
            phase_ = Phase::Offset;
            ++index_;
            break;
    }
}

std::string AutoCalibrationRun::Summary() const {
    std::string text;
    bool all = !results_.empty();
    for (const auto& r : results_) {
        if (!text.empty())
            text += "\n";
        text += ChannelName(r.channel) + ": zero-scale error " + Micro(r.fullScaleErrorVolts) +
                " uV (" + Lsb(r.fullScaleErrorVolts / r.lsbVolts) + " LSB), 0 V error " +
                Micro(r.zeroErrorVolts) + " uV (" + Lsb(r.zeroErrorVolts / r.lsbVolts) + " LSB)" +
                (r.offset.limited || r.gain.limited ? ", a correction was limited" : "");
        all = all && r.WithinOneLsb();
    }
    text += all ? "\nevery error is within 1 LSB" : "\nsome errors are beyond 1 LSB";
    return text;
}

// ---- linearity test --------------------------------------------------------------------------

bool LinearityRun::Start(int16_t channel, std::vector<int32_t> ordinals) {
    if (channel < 0 || channel >= kChannelCount) {
        Step("the linearity test takes one channel, DAC A to D");
        return false;
    }
    const bool rising =
        std::adjacent_find(ordinals.begin(), ordinals.end(),
                           [](int32_t a, int32_t b) { return b <= a; }) == ordinals.end();
    const int32_t top = Coding().TopCode();
    if (ordinals.size() < 2 || ordinals.size() > kMostCodes || !rising || ordinals.front() < 0 ||
        ordinals.back() > top) {
        Step("the linearity test needs 2 to 65536 rising codes from 0 to " + std::to_string(top));
        return false;
    }
    channel_ = channel;
    ordinals_ = std::move(ordinals);
    points_.clear();
    points_.reserve(ordinals_.size());
    report_ = {};
    return Launch({channel}, static_cast<int>(ordinals_.size()));
}

void LinearityRun::Begin() {
    try {
        range_ =
            instrument_.WithSerialOutput([&] { return instrument_.ChannelRangeVolts(channel_); });
    } catch (const InstrumentError& e) {
        Fail(std::string("the channel's range could not be read back: ") + e.what());
        return;
    }
    lsb_ = 2.0 * range_ / Coding().CodeCount();
    Next();
}

void LinearityRun::Next() {
    if (points_.size() == ordinals_.size()) {
        try {
            report_ = AnalyseLinearity(points_, lsb_);
        } catch (const std::invalid_argument& e) {
            Fail(e.what());
            return;
        }
        Finish(LinearitySummary(report_, ChannelName(channel_)));
        return;
    }
    const int32_t ordinal = ordinals_[points_.size()];
    Step(ChannelName(channel_) + ": code " + std::to_string(ordinal));
    Measure(channel_, Coding().CodeOfOrdinal(ordinal), [this, ordinal](double mean, double spread) {
        points_.push_back({ordinal, -range_ + lsb_ * ordinal, mean, spread});
        ++done_;
        Next();
    });
}

}  // namespace tq
