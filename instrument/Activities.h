#pragma once
// The activity registry: every activity running on the instrument (a ramp, a waveform or list
// run, a meter run, a linearity test, an automatic calibration, a temperature log) with its kind,
// its owner, the channels it drives and its progress, so that any view or client can show what
// goes on in the background and wait for it.

#include <cstdint>
#include <string>
#include <vector>

namespace tq {

enum class ActivityKind {
    Ramp,
    WaveformRun,
    ListRun,
    MeterRun,
    LinearityTest,
    AutomaticCalibration,
    TemperatureLog,
};

struct Activity {
    ActivityKind kind = ActivityKind::Ramp;
    const void* owner = nullptr;      // the object that runs it
    const void* startedBy = nullptr;  // whose call started it (a client, a window), or null
    std::string name{};               // "the waveform run"
    std::vector<int16_t> channels{};  // the channels it drives (claimed while it runs)
    int64_t done = 0;                 // steps done so far
    int64_t total = 0;                // steps in all; 0 when open-ended
    std::string progress{};           // what a view shows of its progress, or ""
};

class ActivityRegistry {
public:
    // Replaces an activity of the same owner.
    const Activity& Add(Activity activity);
    // The activity, or null when the owner runs none.
    Activity* Find(const void* owner);
    const Activity* Find(const void* owner) const;
    // Removes it; false when the owner ran none.
    bool Remove(const void* owner);
    const std::vector<Activity>& All() const { return activities_; }
    // Any running activity that `startedBy` started.
    bool AnyStartedBy(const void* startedBy) const;

private:
    std::vector<Activity> activities_;
};

}  // namespace tq
