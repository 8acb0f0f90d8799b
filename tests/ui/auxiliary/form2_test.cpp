#include <gtest/gtest.h>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "tests/support/TestContext.h"
#include "ui/auxiliary/Form2.h"

namespace tq::testing {
namespace {

class Form2Test : public ::testing::Test {
protected:
    Form2Test() : form(tc.context) {
        form.show();
        option1 = form.findChild<QRadioButton*>(QStringLiteral("Option1"));
        option2 = form.findChild<QRadioButton*>(QStringLiteral("Option2"));
        ok = form.findChild<QPushButton*>(QStringLiteral("Command1"));
    }

    TestContext tc;
    Form2 form;
    QRadioButton* option1;
    QRadioButton* option2;
    QPushButton* ok;
};

TEST_F(Form2Test, OffersBothDevicesWithNeitherChosen) {
    EXPECT_EQ(form.windowTitle(), "Select Device");
    EXPECT_EQ(option1->text(), "TQ2404 - 14 bit DAC");
    EXPECT_EQ(option2->text(), "TQ2604 - 16 bit DAC");
    EXPECT_FALSE(option1->isChecked());
    EXPECT_FALSE(option2->isChecked());
}

struct ChoiceCase {
    const char* label;
    int option;  // 0: none, 1 or 2
    int16_t before;
    int16_t after;
    std::vector<int32_t> heard;  // the resolutions the instrument's listeners heard of
};

class Form2Choice : public Form2Test, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(Form2Choice, OkSetsTheResolutionOpensTheMainWindowAndHides) {
    const ChoiceCase& c = GetParam();
    tc.state.Resolution = c.before;
    std::vector<int32_t> heard;
    tc.instrument.AddListener([&heard](const InstrumentChange& change) {
        if (change.kind == InstrumentChange::Kind::Resolution)
            heard.push_back(change.value);
    });
    if (c.option == 1)
        QTest::mouseClick(option1, Qt::LeftButton);
    if (c.option == 2)
        QTest::mouseClick(option2, Qt::LeftButton);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(tc.state.Resolution, c.after);
    EXPECT_EQ(heard, c.heard) << "the listeners (the LAN advertisement) follow the choice";
    EXPECT_EQ(tc.opened, std::vector<QString>{QStringLiteral("MainForm")});
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(tc.adapter.calls.empty()) << "the main window's start-up talks to the board";
}

INSTANTIATE_TEST_SUITE_P(Choices, Form2Choice,
                         ::testing::Values(ChoiceCase{"NoneKeeps16", 0, 16, 16, {}},
                                           ChoiceCase{"NoneKeeps14", 0, 14, 14, {}},
                                           ChoiceCase{"FourteenBits", 1, 16, 14, {14}},
                                           ChoiceCase{"SixteenBits", 2, 14, 16, {16}}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(Form2Test, ShownAgainItKeepsTheChoiceAndOpensTheSameMainWindowAgain) {
    QTest::mouseClick(option1, Qt::LeftButton);
    QTest::mouseClick(ok, Qt::LeftButton);
    tc.state.Resolution = 16;
    form.show();
    EXPECT_TRUE(option1->isChecked());
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(tc.state.Resolution, 14);
    EXPECT_EQ(tc.opened,
              (std::vector<QString>{QStringLiteral("MainForm"), QStringLiteral("MainForm")}));
}

}  // namespace
}  // namespace tq::testing
