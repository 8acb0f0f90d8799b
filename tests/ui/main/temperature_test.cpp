#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <string>
#include <vector>

#include "tests/support/Requests.h"
#include "tests/support/RowNames.h"
#include "tests/support/TestContext.h"
#include "ui/main/TemperaturePanel.h"

namespace tq::testing {
namespace {

// Records each SDO switch setting with the number of adapter calls made before it.
class RecordingSwitches : public FunctionSwitches {
public:
    explicit RecordingSwitches(const RecordingAdapter& adapter) : adapter_(adapter) {}
    void SetSdoSwitch(bool disabled) override { sdo.push_back({disabled, adapter_.calls.size()}); }
    void MirrorFunctionBits(int32_t) override { ++mirrored; }

    struct Setting {
        bool disabled;
        std::size_t callsBefore;
        bool operator==(const Setting&) const = default;
    };
    std::vector<Setting> sdo;
    int mirrored = 0;

private:
    const RecordingAdapter& adapter_;
};

const std::string kAdcRead = "DA 0 0 1 2";

class TemperatureTest : public ::testing::Test {
protected:
    TemperatureTest() : switches(t.adapter), panel(t.context, switches, nullptr) {}

    QString Text(const char* name) {
        auto* label = panel.findChild<QLabel*>(QLatin1String(name));
        EXPECT_NE(label, nullptr) << name;
        return label ? label->text() : QString();
    }
    void Measure() { panel.findChild<QPushButton*>(QStringLiteral("Command7"))->click(); }
    void QueueReadings(uint16_t first, uint16_t second, uint16_t third) {
        t.adapter.QueueAdcReading(first);
        t.adapter.QueueAdcReading(second);
        t.adapter.QueueAdcReading(third);
    }

    TestContext t;
    RecordingSwitches switches;
    TemperaturePanel panel;
};

struct Sample {
    uint16_t count;
    const char* volts;
    const char* celsius;
};

class TemperatureSamples : public TemperatureTest, public ::testing::WithParamInterface<Sample> {};

TEST_P(TemperatureSamples, ShowsVoltageAndTemperatureOfTheThirdReading) {
    const Sample& s = GetParam();
    QueueReadings(4000, 100, s.count);
    Measure();
    EXPECT_EQ(Text("Label23"), QString::fromUtf8(s.volts));
    EXPECT_EQ(Text("Label25"), QString::fromUtf8(s.celsius));
}

INSTANTIATE_TEST_SUITE_P(Readings, TemperatureSamples,
                         ::testing::Values(Sample{1745, "1.402", "25"}, Sample{1600, "1.285", "2"},
                                           Sample{1, ".001", "-255"},
                                           Sample{1590, "1.277", "0"},   // -0.07 degrees
                                           Sample{1000, ".803", "-95"},  // below 1 V
                                           Sample{4094, "3.288", "402"},
                                           // At either end of the board converter's counts the
                                           // pin may be anywhere beyond: no reading.
                                           Sample{4095, "over range", "over range"},
                                           Sample{0, "under range", "under range"}),
                         tq::testing::NamedBy<&Sample::count>{});

struct FlagCase {
    const char* name;
    int16_t localGnd, d1Out, d1High, d0Out, d0High, sdoDisable;
    int32_t before;  // the function word sent before the readings
    int32_t after;   // and after them
};

class TemperatureTraffic : public TemperatureTest,
                           public ::testing::WithParamInterface<FlagCase> {};

TEST_P(TemperatureTraffic, DisablesSerialOutputForTheReadingsThenRestoresIt) {
    const FlagCase& c = GetParam();
    DeviceState& s = t.state;
    s.FnLocalGndOffset = c.localGnd;
    s.FnD1Output = c.d1Out;
    s.FnD1High = c.d1High;
    s.FnD0Output = c.d0Out;
    s.FnD0High = c.d0High;
    s.FnSdoDisable = c.sdoDisable;
    QueueReadings(1745, 1745, 1745);

    Measure();

    const std::vector<std::string> expected{FunctionWrite(c.before), kAdcRead, kAdcRead, kAdcRead,
                                            FunctionWrite(c.after)};
    EXPECT_EQ(t.adapter.Requests(), expected);
    // The switch shows "Disabled" after the first write and what it was after the last one.
    const std::vector<RecordingSwitches::Setting> sdo{{true, 1}, {c.sdoDisable != 0, 5}};
    EXPECT_EQ(switches.sdo, sdo);
    EXPECT_EQ(s.FnSdoDisable, c.sdoDisable);
    EXPECT_EQ(s.FunctionImage, c.after);
    EXPECT_EQ(s.FnD1Output, c.d1Out);
    EXPECT_EQ(switches.mirrored, 0);
}

INSTANTIATE_TEST_SUITE_P(Flags, TemperatureTraffic,
                         ::testing::Values(FlagCase{"AllClear", 0, 0, 0, 0, 0, 0, 1, 0},
                                           FlagCase{"PinsAndGround", 1, 1, 0, 0, 1, 0, 51, 50},
                                           FlagCase{"D0Output", 0, 0, 1, 1, 0, 0, 13, 12},
                                           FlagCase{"AlreadyDisabled", 0, 1, 1, 0, 0, 1, 25, 25}),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadReading {
    const char* name;
    uint16_t third;
};

class TemperatureOutOfRange : public TemperatureTest,
                              public ::testing::WithParamInterface<BadReading> {};

TEST_P(TemperatureOutOfRange, ShowsOutOfRangeAndStillRestoresTheSerialOutput) {
    QueueReadings(1745, 1745, GetParam().third);
    Measure();
    EXPECT_EQ(Text("Label23"), "out of range");
    EXPECT_EQ(Text("Label25"), "out of range");
    ASSERT_EQ(t.adapter.Requests().size(), 5u);
    EXPECT_EQ(t.adapter.Requests().back(), "DD 1 0 0 0");
    EXPECT_EQ(t.state.FnSdoDisable, 0);
}

INSTANTIATE_TEST_SUITE_P(Readings, TemperatureOutOfRange,
                         ::testing::Values(BadReading{"JustAboveRange", 4096},
                                           BadReading{"LargePositive", 0x7FFF},
                                           BadReading{"SignBitSet", 0x8000},
                                           BadReading{"AllOnes", 0xFFFF}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TemperatureTest, ABadDiscardedReadingDoesNotSpoilTheMeasurement) {
    QueueReadings(0xFFFF, 5000, 1600);
    Measure();
    EXPECT_EQ(Text("Label23"), "1.285");
    EXPECT_EQ(Text("Label25"), "2");
}

TEST_F(TemperatureTest, BoxesStartEmptyAndShowTheLatestMeasurement) {
    EXPECT_EQ(Text("Label23"), "");
    EXPECT_EQ(Text("Label25"), "");
    QueueReadings(0, 0, 1745);
    Measure();
    QueueReadings(0, 0, 0xFFFF);
    Measure();
    EXPECT_EQ(Text("Label23"), "out of range");
    QueueReadings(0, 0, 1600);
    Measure();
    EXPECT_EQ(Text("Label23"), "1.285");
    EXPECT_EQ(Text("Label25"), "2");
}

}  // namespace
}  // namespace tq::testing
