// The limits and options kept between runs: written by one instrument, read by the next one as
// the program's next run reads them, and what is done with a kept value that cannot be used.

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>
#include <memory>

#include "tests/support/TestContext.h"
#include "ui/protection/ProtectionSettings.h"

namespace tq::testing {
namespace {

using AllLimits = std::array<ChannelLimits, kChannelCount>;

AllLimits LimitsOf(const Instrument& instrument) {
    AllLimits all{};
    for (int16_t ch = 0; ch < kChannelCount; ++ch)
        all[static_cast<std::size_t>(ch)] = instrument.Limits(ch);
    return all;
}

class KeptProtection : public ::testing::Test {
protected:
    QString File() const { return dir.filePath(QStringLiteral("tq2604x-eval.conf")); }
    // A program's run: its own instrument and its own settings object on the file.
    struct Run {
        explicit Run(const QString& file) : settings(file, QSettings::IniFormat) {}
        TestContext t;
        QSettings settings;
    };
    std::unique_ptr<Run> NextRun() { return std::make_unique<Run>(File()); }

    QTemporaryDir dir;
};

TEST_F(KeptProtection, TheNextRunStartsWithWhatThisOneSet) {
    struct Case {
        AllLimits limits;
        ProtectionOptions options;
        bool powerOnStatusClear = false;  // *PSC
    };
    const std::vector<Case> cases{
        {{ChannelLimits{}, ChannelLimits{-2.0, 2.0, std::nullopt, 0.0}, ChannelLimits{},
          ChannelLimits{}},
         {}},
        {{ChannelLimits{-5.0, 5.0, 0.5, 0.1}, ChannelLimits{std::nullopt, 1.25, std::nullopt, 0.0},
          ChannelLimits{-0.1, std::nullopt, 0.001, 10.0}, ChannelLimits{0.0, 0.0, 21.0526, 0.0}},
         {true, false, true},
         true},
        // Numbers that print long come back the same.
        {{ChannelLimits{-1.0 / 3.0, 2.0 / 3.0, 0.1 + 0.2, 0.7}, ChannelLimits{}, ChannelLimits{},
          ChannelLimits{}},
         {false, true, false}},
        // Limits taken off are kept off.
        {{}, {}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        {
            auto run = NextRun();
            for (int16_t ch = 0; ch < kChannelCount; ++ch)
                run->t.instrument.SetLimits(ch, c.limits[static_cast<std::size_t>(ch)]);
            run->t.instrument.SetProtectionOptions(c.options);
            run->t.instrument.SetPowerOnStatusClear(c.powerOnStatusClear);
            SaveProtection(run->settings, run->t.instrument);
        }
        auto next = NextRun();
        EXPECT_TRUE(LoadProtection(next->settings, next->t.instrument).isEmpty()) << i;
        EXPECT_EQ(LimitsOf(next->t.instrument), c.limits) << i;
        EXPECT_EQ(next->t.instrument.ProtectionOptionsInEffect(), c.options) << i;
        EXPECT_EQ(next->t.instrument.PowerOnStatusClear(), c.powerOnStatusClear) << i;
        EXPECT_TRUE(next->t.adapter.calls.empty()) << i;
    }
}

TEST_F(KeptProtection, NothingKeptSetsNothing) {
    auto run = NextRun();
    int changes = 0;
    run->t.instrument.AddListener([&](const InstrumentChange& c) {
        changes += c.kind == InstrumentChange::Kind::Protection;
    });
    EXPECT_TRUE(LoadProtection(run->settings, run->t.instrument).isEmpty());
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(run->t.instrument.LimitsActive());
}

TEST_F(KeptProtection, AKeptValueThatCannotBeUsedLeavesItsChannelOffAndSaysWhy) {
    struct Case {
        const char* key;
        const char* value;
        int16_t channel;
        const char* says;
    };
    const std::vector<Case> cases{
        {"B.low", "abc", 1, "DAC B: the kept low limit 'abc' is not a number"},
        {"C.high", "", 2, "DAC C: the kept high limit '' is not a number"},
        {"D.rampStep", "0x10", 3, "DAC D: the kept ramp step '0x10' is not a number"},
        {"A.low", "1", 0, "DAC A: the low limit 1 V is above 0 V"},
        {"B.high", "99", 1, "DAC B: the high limit must lie within"},
        {"C.rampWait", "60", 2, "DAC C: the wait between ramp steps must lie within 0 s to 10 s"},
        {"D.high", "inf", 3, "DAC D: the high limit must lie within"},
    };
    for (const Case& c : cases) {
        QFile::remove(File());
        {
            QSettings settings(File(), QSettings::IniFormat);
            settings.setValue(QStringLiteral("protection/A.high"), QStringLiteral("4"));
            settings.setValue(QStringLiteral("protection/B.low"), QStringLiteral("-4"));
            settings.setValue(QStringLiteral("protection/D.rampStep"), QStringLiteral("1"));
            settings.setValue(QStringLiteral("protection/%1").arg(QLatin1String(c.key)),
                              QString::fromLatin1(c.value));
            settings.setValue(QStringLiteral("protection/safeOnExit"), true);
        }
        auto run = NextRun();
        const QStringList problems = LoadProtection(run->settings, run->t.instrument);
        ASSERT_EQ(problems.size(), 1) << c.key;
        EXPECT_TRUE(problems[0].startsWith(QString::fromLatin1(c.says)))
            << problems[0].toStdString();
        EXPECT_FALSE(run->t.instrument.Limits(c.channel).Active()) << c.key;
        // The other channels and the options are taken as kept.
        for (int16_t ch : {0, 1, 3}) {
            if (ch != c.channel) {
                EXPECT_TRUE(run->t.instrument.Limits(ch).Active()) << c.key << " " << ch;
            }
        }
        EXPECT_TRUE(run->t.instrument.ProtectionOptionsInEffect().safeOnExit) << c.key;
    }
}

}  // namespace
}  // namespace tq::testing
