#include "instrument/MeterRuns.h"

#include <algorithm>

namespace tq {

MeterRuns::MeterRuns(Instrument& instrument, MeterConnection& meter, RunTimer& timer)
    : instrument_(instrument), meter_(meter), timer_(timer) {}

MeterRuns::~MeterRuns() = default;

bool MeterRuns::OpenMeter(std::string& error) {
    if (Active()) {
        error = "a meter run is using the meter; stop it first";
        return false;
    }
    return meter_.Open(settings_, error);
}

bool MeterRuns::CloseMeter(std::string& error) {
    if (Active()) {
        error = "a meter run is using the meter; stop it first";
        return false;
    }
    meter_.Close();
    Changed();
    return true;
}

bool MeterRuns::Ready(std::string& error) const {
    if (Active()) {
        error = "a meter run is already running; stop it first";
        return false;
    }
    if (!meter_.IsOpen()) {
        const std::string why = meter_.LastError();
        error = "the meter is not connected" + (why.empty() ? std::string() : " (" + why + ")") +
                "; open it first";
        return false;
    }
    return true;
}

bool MeterRuns::StartCalibration(int16_t channelOrAll, std::string& error) {
    if (!Ready(error))
        return false;
    // The run before goes first: it cancels the meter and the timer as it ends.
    calibration_.reset();
    linearity_.reset();
    calibration_ = std::make_unique<AutoCalibrationRun>(instrument_, meter_, timer_, runSettings_);
    calibration_->onChange = [this] { Changed(); };
    current_ = calibration_.get();
    if (!calibration_->Start(channelOrAll)) {
        error = calibration_->Message();
        return false;
    }
    Changed();
    return true;
}

bool MeterRuns::StartLinearity(int16_t channel, std::vector<int32_t> ordinals, std::string& error) {
    if (!Ready(error))
        return false;
    calibration_.reset();
    linearity_.reset();
    linearity_ = std::make_unique<LinearityRun>(instrument_, meter_, timer_, runSettings_);
    linearity_->onChange = [this] { Changed(); };
    current_ = linearity_.get();
    if (!linearity_->Start(channel, std::move(ordinals))) {
        error = linearity_->Message();
        return false;
    }
    Changed();
    return true;
}

void MeterRuns::Stop(const StopReason& reason) {
    if (current_)
        current_->Stop(reason);
}

void MeterRuns::Continue() {
    if (current_)
        current_->Continue();
}

std::string MeterRuns::StateName() const {
    if (!current_)
        return "IDLE";
    switch (current_->CurrentState()) {
        case MeterRun::State::Idle:
            return "IDLE";
        case MeterRun::State::Running:
            return "RUNNING";
        case MeterRun::State::AwaitingProbe:
            return "PROBE";
        case MeterRun::State::Finished:
            return "FINISHED";
        case MeterRun::State::Failed:
            return "FAILED";
        case MeterRun::State::Stopped:
            return "STOPPED";
    }
    return "IDLE";
}

std::string MeterRuns::Csv() const {
    if (!linearity_ || current_ != linearity_.get() ||
        linearity_->CurrentState() != MeterRun::State::Finished)
        return {};
    return LinearityCsv(linearity_->Points(), linearity_->Report());
}

int MeterRuns::AddListener(std::function<void()> listener) {
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void MeterRuns::RemoveListener(int id) {
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                    [id](const auto& l) { return l.first == id; }),
                     listeners_.end());
}

void MeterRuns::Changed() {
    for (const auto& [id, listener] : listeners_)
        listener();
}

}  // namespace tq
