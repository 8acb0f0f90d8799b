#include "instrument/TemperatureLog.h"

#include <cstdio>
#include <ctime>

namespace tq {

std::string IsoUtc(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto millis = duration_cast<milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds =
        static_cast<std::time_t>(millis >= 0 ? millis / 1000 : (millis - 999) / 1000);
    const int rest = static_cast<int>(millis - static_cast<int64_t>(seconds) * 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];  // room for any int the format could be handed
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, rest);
    return text;
}

TemperatureLog::TemperatureLog(Instrument& instrument, RunTimer& timer, WallClock wallClock)
    : instrument_(instrument), timer_(timer), wallClock_(std::move(wallClock)) {}

TemperatureLog::~TemperatureLog() {
    timer_.Cancel();
}

void TemperatureLog::Start(double intervalSeconds, LineSink sink) {
    if (!(intervalSeconds >= kMinLogIntervalSeconds && intervalSeconds <= 86400.0))
        throw ValueRangeError("the interval must be 100 ms to one day");
    Stop();
    sink_ = std::move(sink);
    interval_ = intervalSeconds;
    readings_ = 0;
    failures_ = 0;
    points_.clear();
    error_.clear();
    if (!sink_(kTemperatureLogHeader)) {
        error_ = "the log file could not be written";
        return;
    }
    running_ = true;
    start_ = timer_.Now();
    Measure();
}

void TemperatureLog::Stop() {
    timer_.Cancel();
    running_ = false;
}

void TemperatureLog::Measure() {
    if (!running_)
        return;
    const double seconds = timer_.Now() - start_;
    const std::string when = IsoUtc(wallClock_());
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.3f", seconds);
    std::string line = when + "," + elapsed + ",";
    LogPoint point{seconds, std::nullopt};
    try {
        const TemperatureReading reading = instrument_.MeasureTemperature();
        char celsius[32];
        std::snprintf(celsius, sizeof celsius, "%.4f", static_cast<double>(reading.celsius));
        line += std::string(celsius) + ",";
        point.celsius = reading.celsius;
    } catch (const InstrumentError& e) {
        // A failure is a line of its own with an empty value, never a number.
        std::string why = e.what();
        for (char& c : why)
            if (c == '"')
                c = '\'';
        line += ",\"" + why + "\"";
        ++failures_;
    }
    ++readings_;
    points_.push_back(point);
    if (points_.size() > kLogPointsKept)
        points_.pop_front();
    if (!sink_(line)) {
        error_ = "the log file could not be written; the log stopped";
        Stop();
        return;
    }
    // The schedule is kept from the start, so that a slow reading does not shift the rest; a
    // reading missed altogether is skipped rather than taken twice at once.
    const double now = timer_.Now() - start_;
    double next = static_cast<double>(static_cast<int64_t>(now / interval_) + 1) * interval_;
    timer_.WakeAt(start_ + next);
}

}  // namespace tq
