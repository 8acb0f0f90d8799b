#pragma once
// The die temperature measured at a fixed interval: each reading (or failure) becomes one CSV
// line, handed on at once so that the file can be flushed per line, and the latest readings are
// kept for a strip chart. Driven by the same kind of timer as a waveform run, so tests use a
// fake clock and the program a timer on the user-interface thread.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "instrument/Instrument.h"
#include "instrument/Waveform.h"

namespace tq {

inline constexpr double kMinLogIntervalSeconds = 0.1;
// The strip chart keeps this many readings (a day at one a second); the file keeps them all.
inline constexpr std::size_t kLogPointsKept = 86400;

inline constexpr const char* kTemperatureLogHeader = "time_utc,seconds,celsius,error";

struct LogPoint {
    double seconds;                // since the start
    std::optional<float> celsius;  // none: the reading failed
};

// 2026-12-07T10:30:00.123Z: ISO 8601 in UTC with milliseconds.
std::string IsoUtc(std::chrono::system_clock::time_point when);

// It drives no output: the safe state leaves it running.
inline constexpr ActivityKind kTemperatureLogKind{.name = "the temperature log",
                                                  .subject = "temperature log",
                                                  .operationBit = kOperationMeasuring,
                                                  .window = "TemperatureLogForm",
                                                  .countsIn = "reading"};

class TemperatureLog : public Activity {
public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;
    // Takes one line (without its end) and returns false when it could not be kept.
    using LineSink = std::function<bool(const std::string& line)>;

    TemperatureLog(Instrument& instrument, RunTimer& timer, WallClock wallClock);
    ~TemperatureLog() override;

    // Writes the header (unless the sink goes on after one, as a log appended to its file), then
    // measures at once and every `intervalSeconds` (at least 0.1 s, at most a day;
    // ValueRangeError otherwise).
    void Start(double intervalSeconds, LineSink sink, bool writeHeader = true);
    void Stop(const StopReason& reason) override;
    void Stop() { Stop({instrument_.CurrentOrigin(), "the log was stopped"}); }
    // Takes the reading that is due; the timer calls it.
    void Measure();

    bool Running() const { return running_; }
    const std::deque<LogPoint>& Points() const { return points_; }
    int64_t Readings() const { return readings_; }
    int64_t Failures() const { return failures_; }
    // Why the log stopped by itself (the sink refused a line), or empty.
    const std::string& Error() const { return error_; }

private:
    Instrument& instrument_;
    RunTimer& timer_;
    WallClock wallClock_;
    LineSink sink_;
    bool running_ = false;
    double interval_ = 1.0;
    double start_ = 0.0;
    int64_t readings_ = 0;
    int64_t failures_ = 0;
    std::deque<LogPoint> points_;
    std::string error_;
};

}  // namespace tq
