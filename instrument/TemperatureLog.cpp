#include "instrument/TemperatureLog.h"

#include <cstdint>

#include "core/Printed.h"

namespace tq {

namespace {

// The proleptic Gregorian date of a day count since 1970-01-01, without the C library's
// gmtime_r or gmtime_s (one of which each platform lacks).
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shifted = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

std::string IsoUtc(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const int64_t millis = duration_cast<milliseconds>(when.time_since_epoch()).count();
    const int64_t seconds = millis >= 0 ? millis / 1000 : (millis - 999) / 1000;
    const int rest = static_cast<int>(millis - seconds * 1000);
    const int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const int64_t ofDay = seconds - days * 86400;
    int64_t year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    return Printed("%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ", static_cast<long long>(year), month,
                   day, static_cast<int>(ofDay / 3600), static_cast<int>(ofDay / 60 % 60),
                   static_cast<int>(ofDay % 60), rest);
}

TemperatureLog::TemperatureLog(Instrument& instrument, RunTimer& timer, WallClock wallClock)
    : Activity(kTemperatureLogKind),
      instrument_(instrument),
      timer_(timer),
      wallClock_(std::move(wallClock)) {}

TemperatureLog::~TemperatureLog() {
    timer_.Cancel();
    if (running_)
        instrument_.EndActivity(*this, OutcomeOf({nullptr, "the program ended"}, {}));
}

void TemperatureLog::Start(double intervalSeconds, LineSink sink, bool writeHeader) {
    if (!(intervalSeconds >= kMinLogIntervalSeconds && intervalSeconds <= 86400.0))
        throw ValueRangeError("the interval must be 100 ms to one day");
    Stop();
    sink_ = std::move(sink);
    interval_ = intervalSeconds;
    readings_ = 0;
    failures_ = 0;
    points_.clear();
    error_.clear();
    if (writeHeader && !sink_(kTemperatureLogHeader)) {
        error_ = "the log file could not be written";
        return;
    }
    running_ = true;
    instrument_.BeginActivity(*this);
    // The log starts with its first reading: what the listeners of its start do is not time
    // of the log's.
    start_ = timer_.Now();
    Measure();
}

void TemperatureLog::Stop(const StopReason& reason) {
    timer_.Cancel();
    if (running_)
        instrument_.EndActivity(*this, error_.empty()
                                           ? OutcomeOf(reason, {})
                                           : OutcomeOf({nullptr, error_, false, true},
                                                       "reading " + std::to_string(readings_)));
    running_ = false;
}

void TemperatureLog::Measure() {
    if (!running_)
        return;
    const double seconds = timer_.Now() - start_;
    const std::string when = IsoUtc(wallClock_());
    std::string line = when + "," + Printed("%.3f", seconds) + ",";
    LogPoint point{seconds, std::nullopt};
    try {
        const TemperatureReading reading = instrument_.MeasureTemperature();
        if (reading.OverRange() || reading.UnderRange())
            throw ReadingError(reading.OverRange()
                                   ? "over range: the TEMP pin is at or above the board "
                                     "converter's top"
                                   : "under range: the TEMP pin is at or below 0 V");
        line += Printed("%.4f", static_cast<double>(reading.celsius)) + ",";
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
    instrument_.AdvanceActivity(*this, readings_, 0);
    points_.push_back(point);
    if (points_.size() > kLogPointsKept)
        points_.pop_front();
    if (!sink_(line)) {
        error_ = "the log file could not be written; the log stopped";
        Stop({});
        return;
    }
    // The schedule is kept from the start, so that a slow reading does not shift the rest; a
    // reading missed altogether is skipped rather than taken twice at once.
    const double now = timer_.Now() - start_;
    double next = static_cast<double>(static_cast<int64_t>(now / interval_) + 1) * interval_;
    timer_.WakeAt(start_ + next, [this] { Measure(); });
}

}  // namespace tq
