// The temperature log on the simulated board with a fake clock: one CSV line per reading with
// its UTC time and seconds since the start, failures as failures, the schedule, a sink that fails.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "instrument/TemperatureLog.h"
#include "tests/support/FakeClock.h"
#include "tests/support/SimulatedInstrument.h"

namespace tq {
namespace {

using namespace std::chrono;

// 2026-12-07 10:30:00 UTC and 123 ms.
const system_clock::time_point kStart =
    sys_days{year{2026} / December / 7} + hours{10} + minutes{30} + milliseconds{123};

struct Logged : testing::SimulatedInstrument {
    testing::FakeClock timer{50.0};
    TemperatureLog log{instrument, timer,
                       [this] { return kStart + microseconds(llround((timer.now - 50.0) * 1e6)); }};
    std::vector<std::string> lines;
    void Fire(double late = 0.0) {
        ASSERT_TRUE(timer.wake.has_value());
        timer.now = *timer.wake + late;
        log.Measure();
    }
};

TEST(IsoUtc, MillisecondsAndTheDateLine) {
    // Before 1970 and at the ends of centuries, where the day count's arithmetic turns.
    EXPECT_EQ(IsoUtc(sys_days{year{1969} / December / 31} + hours{23} + milliseconds{999}),
              "1969-12-31T23:00:00.999Z");
    EXPECT_EQ(IsoUtc(sys_days{year{2000} / March / 1}), "2000-03-01T00:00:00.000Z");
    EXPECT_EQ(IsoUtc(sys_days{year{2100} / February / 28} + hours{12}), "2100-02-28T12:00:00.000Z");
    EXPECT_EQ(IsoUtc(kStart), "2026-12-07T10:30:00.123Z");
    EXPECT_EQ(IsoUtc(sys_days{year{2024} / February / 29} + hours{23} + minutes{59} + seconds{59} +
                     milliseconds{999}),
              "2024-02-29T23:59:59.999Z");
    EXPECT_EQ(IsoUtc(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
}

TEST(TemperatureLog, EachReadingIsALineAndAFailureIsNoNumber) {
    Logged l;
    l.board.SetDieTemperature(25.0);
    l.log.Start(0.5, [&l](const std::string& line) {
        l.lines.push_back(line);
        return true;
    });
    l.board.SetDieTemperature(40.0);
    l.Fire();
    l.board.Unplug();
    l.Fire(0.2);  // late: the next keeps the schedule
    l.board.Plug();
    l.Fire();
    // At the top of the board converter's counts the pin may be anywhere beyond: no number.
    l.board.SetDieTemperature(500.0);
    l.Fire();
    const std::vector<std::string> expected = {
        "time_utc,seconds,celsius,error",
        "2026-12-07T10:30:00.123Z,0.000,24.9853,",
        "2026-12-07T10:30:00.623Z,0.500,39.9253,",
        "2026-12-07T10:30:01.323Z,1.200,,\"board request failed (-1): " +
            Instrument::ExplainResult(-1) + "\"",
        "2026-12-07T10:30:01.623Z,1.500,39.9253,",
        "2026-12-07T10:30:02.123Z,2.000,,\"over range: the TEMP pin is at or above the board "
        "converter's top\"",
    };
    EXPECT_EQ(l.lines, expected);
    ASSERT_EQ(l.log.Points().size(), 5u);
    EXPECT_FALSE(l.log.Points()[2].celsius.has_value());
    EXPECT_NEAR(*l.log.Points()[3].celsius, 40.0, 0.1);
    EXPECT_FALSE(l.log.Points()[4].celsius.has_value());
    EXPECT_EQ(l.log.Readings(), 5);
    EXPECT_EQ(l.log.Failures(), 2);
    l.log.Stop();
    EXPECT_FALSE(l.timer.wake.has_value());
    l.log.Measure();
    EXPECT_EQ(l.lines.size(), expected.size());
}

TEST(TemperatureLog, ASlowReadingSkipsWhatItMissed) {
    Logged l;
    l.log.Start(0.1, [](const std::string&) { return true; });
    l.Fire(0.35);  // due at 0.1, taken at 0.45: the next is due at 0.5
    EXPECT_NEAR(*l.timer.wake - 50.0, 0.5, 1e-9);
}

TEST(TemperatureLog, RefusesAShortIntervalAndStopsWhenTheFileFails) {
    Logged l;
    EXPECT_THROW(l.log.Start(0.099, [](const std::string&) { return true; }), ValueRangeError);
    int accepted = 2;
    l.log.Start(1.0, [&accepted](const std::string&) { return accepted-- > 0; });
    EXPECT_TRUE(l.log.Running());
    l.Fire();
    EXPECT_FALSE(l.log.Running());
    EXPECT_FALSE(l.timer.wake.has_value());
    EXPECT_NE(l.log.Error().find("could not be written"), std::string::npos);
}

}  // namespace
}  // namespace tq
