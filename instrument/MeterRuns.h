#pragma once
// The meter and its runs as one program-wide service, so that the meter window and the protocol
// share one meter and one run at a time: whoever starts a run, everyone sees its progress and
// can stop it.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "instrument/MeterRun.h"

namespace tq {

class MeterRuns {
public:
    MeterRuns(Instrument& instrument, MeterConnection& meter, RunTimer& timer);
    ~MeterRuns();

    MeterSettings& Settings() { return settings_; }
    MeterRunSettings& RunSettings() { return runSettings_; }
    MeterConnection& Connection() { return meter_; }

    // Opens the meter with Settings(), in the background.
    bool OpenMeter(std::string& error);
    // Closes the meter; refused while a run uses it.
    bool CloseMeter(std::string& error);
    // Each refuses while a run is active or the meter is not open; the error says why.
    bool StartCalibration(int16_t channelOrAll, std::string& error);
    bool StartLinearity(int16_t channel, std::vector<int32_t> ordinals, std::string& error);
    // The run's own stop command (METer:STOP, the window's Stop): `reason.ownStop`.
    void Stop(const StopReason& reason);
    void Continue();

    bool Active() const { return current_ && current_->Active(); }
    // The last run started, or null.
    const MeterRun* Current() const { return current_; }
    const LinearityRun* Linearity() const { return linearity_.get(); }
    const AutoCalibrationRun* Calibration() const { return calibration_.get(); }
    // IDLE, RUNNING, PROBE (waiting for the user to move the probe), FINISHED, FAILED, STOPPED.
    std::string StateName() const;
    // The finished linearity test's CSV, or empty.
    std::string Csv() const;

    // Called after every change of a run's state or progress.
    int AddListener(std::function<void()> listener);
    void RemoveListener(int id);

private:
    bool Ready(std::string& error) const;
    void Changed();

    Instrument& instrument_;
    MeterConnection& meter_;
    RunTimer& timer_;
    MeterSettings settings_;
    MeterRunSettings runSettings_;
    std::unique_ptr<AutoCalibrationRun> calibration_;
    std::unique_ptr<LinearityRun> linearity_;
    MeterRun* current_ = nullptr;
    std::vector<std::pair<int, std::function<void()>>> listeners_;
    int nextListener_ = 1;
};

}  // namespace tq
