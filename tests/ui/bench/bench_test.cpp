#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "board/SimulatedBench.h"
#include "tests/support/TestContext.h"
#include "tests/support/WidgetFinder.h"
#include "ui/bench/BenchForm.h"

namespace tq::testing {
namespace {

class FakeBench : public SimulatedBench {
public:
    double OutputVolts(int channel) const override { return volts.at(channel); }
    double DieTemperature() const override { return celsius; }
    void SetDieTemperature(double c) override { applied.push_back(celsius = c); }
    int D0Level() const override { return d0; }
    int D1Level() const override { return d1; }
    void SetLatency(int64_t microseconds) override { latency = microseconds; }
    int64_t Latency() const override { return latency; }
    int64_t latency = 0;

    std::array<double, 4> volts{-10.00012, 0.5, 1.23456, 9.99999};
    double celsius = 25.0;
    int d0 = 1;
    int d1 = 0;
    std::vector<double> applied;
};

class BenchFormTest : public ::testing::Test {
protected:
    BenchFormTest() {
        t.context.bench = &bench;
        form = std::make_unique<BenchForm>(t.context);
        form->show();
    }

    template <typename T>
    T* Child(const char* name) {
        return FindChild<T>(*form, name);
    }
    QString Text(const char* name) { return Child<QLabel>(name)->text(); }
    void Enter(const QString& text) {
        auto* box = Child<QLineEdit>("TextTemp");
        TypeOver(box, text);
        QTest::keyClick(box, Qt::Key_Return);
    }

    TestContext t;
    FakeBench bench;
    std::unique_ptr<BenchForm> form;
};

TEST_F(BenchFormTest, ShowsTheBenchWhenOpened) {
    EXPECT_EQ(form->objectName(), "BenchForm");
    EXPECT_EQ(form->windowTitle(), "Simulated Bench");
    EXPECT_EQ(Text("LabelVout0"), "DAC A: -10.00012 V");
    EXPECT_EQ(Text("LabelVout1"), "DAC B: 0.50000 V");
    EXPECT_EQ(Text("LabelVout2"), "DAC C: 1.23456 V");
    EXPECT_EQ(Text("LabelVout3"), "DAC D: 9.99999 V");
    EXPECT_EQ(Text("LabelD0"), "D0: High");
    EXPECT_EQ(Text("LabelD1"), "D1: Low");
    EXPECT_EQ(Child<QLineEdit>("TextTemp")->text(), "25");
}

TEST_F(BenchFormTest, EveryBoardRequestRefreshesTheReadings) {
    bench.volts = {0.25, -0.125, 3.0, -5.00006};
    bench.d0 = 0;
    bench.d1 = 1;
    bench.celsius = 40.5;
    t.requests.WriteWord(0x11, 0xC000);
    EXPECT_EQ(Text("LabelVout0"), "DAC A: 0.25000 V");
    EXPECT_EQ(Text("LabelVout1"), "DAC B: -0.12500 V");
    EXPECT_EQ(Text("LabelVout3"), "DAC D: -5.00006 V");
    EXPECT_EQ(Text("LabelD0"), "D0: Low");
    EXPECT_EQ(Text("LabelD1"), "D1: High");
    EXPECT_EQ(Child<QLineEdit>("TextTemp")->text(), "40.5");
}

TEST_F(BenchFormTest, EnterAppliesTheTypedTemperature) {
    Enter(QStringLiteral("-12.5"));
    EXPECT_EQ(bench.applied, std::vector<double>{-12.5});
    EXPECT_EQ(Child<QLineEdit>("TextTemp")->text(), "-12.5");
}

TEST_F(BenchFormTest, TemperatureBeingTypedIsNotOverwrittenByRequests) {
    auto* box = Child<QLineEdit>("TextTemp");
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("3"));
    t.requests.WriteWord(0x11, 0);
    EXPECT_EQ(box->text(), "3");
    EXPECT_TRUE(bench.applied.empty());
}

class BenchBadTemperature
    : public BenchFormTest,
      public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(BenchBadTemperature, EmptiesAndFocusesTheBoxAndAppliesNothing) {
    Enter(QString::fromLatin1(GetParam().second));
    auto* box = Child<QLineEdit>("TextTemp");
    EXPECT_TRUE(bench.applied.empty());
    EXPECT_EQ(box->text(), "");
    EXPECT_EQ(form->focusWidget(), box);
    // It stays empty for the user to retype, whatever the board does meanwhile.
    t.requests.WriteWord(0x11, 0);
    EXPECT_EQ(box->text(), "");
}

INSTANTIATE_TEST_SUITE_P(Texts, BenchBadTemperature,
                         ::testing::Values(std::pair{"Empty", ""}, std::pair{"Word", "warm"},
                                           std::pair{"WithUnit", "25 C"},
                                           std::pair{"TooLarge", "1e999"},
                                           std::pair{"NotANumber", "nan"}),
                         [](const auto& info) { return std::string(info.param.first); });

TEST_F(BenchFormTest, RequestsAfterTheWindowIsGoneAreHarmless) {
    form.reset();
    t.requests.WriteWord(0x11, 0);
    SUCCEED();
}

TEST_F(BenchFormTest, EnterSetsTheLinkLatencyOrEmptiesABadEntry) {
    auto* box = Child<QLineEdit>("TextLatency");
    EXPECT_EQ(box->text(), "0");
    const std::vector<std::pair<QString, int64_t>> cases = {
        {"250", 250}, {"-1", 250}, {"1000001", 250}, {"2.5", 250}, {"0", 0}, {"1000000", 1000000}};
    for (const auto& [typed, expected] : cases) {
        TypeOver(box, typed);
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(bench.latency, expected) << typed.toStdString();
        EXPECT_EQ(box->text(), bench.latency == expected && typed == QString::number(expected)
                                   ? typed
                                   : QString())
            << typed.toStdString();
    }
}

}  // namespace
}  // namespace tq::testing
