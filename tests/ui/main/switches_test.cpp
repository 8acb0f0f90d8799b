#include "ui/main/SwitchesPanel.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "tests/support/Requests.h"
#include "tests/support/TestContext.h"
#include "tests/support/WidgetFinder.h"
#include "ui/widgets/Toggle.h"

namespace tq::testing {
namespace {

// Two read transfers (R/W 1, address 1): one read-back of the function register.
const Requests kFunctionRead{"DD 129 0 1 3", "DD 129 0 1 3"};

Requests Concat(std::initializer_list<Requests> parts) {
    Requests all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The panel as the window leaves it after a start-up that read the function register as 0.
struct SwitchesFixture : ::testing::Test {
    SwitchesFixture() {
        window.resize(980, 560);
        panel.ShowPinDefaults();
        panel.ShowFunctionRegister(0);
        panel.ApplyStartupEnables();
        ctx.instrument.SetPulseAfterDataWrite(true);  // as the start-up leaves it
        window.show();
    }

    template <typename T = Toggle>
    T* Find(const char* name) {
        return FindChild<T>(window, name);
    }
    void Click(const char* name) { QTest::mouseClick(Find<QAbstractButton>(name), Qt::LeftButton); }
    bool Visible(const char* name) { return Find<QWidget>(name)->isVisibleTo(&window); }
    bool Enabled(const char* name) { return Find<QWidget>(name)->isEnabled(); }

    TestContext ctx;
    QWidget window;
    SwitchesPanel panel{ctx.context, &window};
};

TEST_F(SwitchesFixture, FramesCarryTheirCaptionsAndSwitchesTheirCaptions) {
    struct Case {
        const char* name;
        const char* text;
    };
    for (const Case& c : std::vector<Case>{{"Frame6", "Function Register Configuration"},
                                           {"Frame7", "Local Gnd Offset Adjust"},
                                           {"Frame9", "Serial Data Output (SDO)"},
                                           {"Frame8", "Digital I/O Ports"},
                                           {"Frame11", ""},
                                           {"Frame10", ""},
                                           {"Frame12", "Hardware Configuration"},
                                           {"Frame13", "Bin / 2sComp"},
                                           {"Frame14", "CLR Pin"},
                                           {"Frame15", "LDAC Pin"},
                                           {"Frame16", "RSTIN Pin"},
                                           {"Frame21", "Drive D1 Pin"},
                                           {"Frame20", "Drive D0 Pin"}})
        EXPECT_EQ(Find<QGroupBox>(c.name)->title(), QString::fromUtf8(c.text)) << c.name;
    for (const Case& c : std::vector<Case>{{"Toggle1", "Disabled"},
                                           {"Toggle7", "Enabled"},
                                           {"Toggle3", "D1 - Input"},
                                           {"Toggle5", "D1 - Low"},
                                           {"Toggle4", "D0 - Input"},
                                           {"Toggle6", "D0 - Low"},
                                           {"Toggle2", "Binary"},
                                           {"Toggle8", "High"},
                                           {"Toggle9", "High"},
                                           {"Toggle10", "High"},
                                           {"Toggle11", "Low"},
                                           {"Toggle12", "Low"},
                                           {"Command4", "CLEAR"},
                                           {"Command5", "LOAD"},
                                           {"Command6", "READ"},
                                           {"Check1", "Pulse After Data Write"}})
        EXPECT_EQ(Find<QAbstractButton>(c.name)->text(), QString::fromUtf8(c.text)) << c.name;
    // Frames sit at their twips places, 15 to a pixel.
    EXPECT_EQ(Find<QGroupBox>("Frame6")->geometry(), QRect(8, 200, 961, 129));
    EXPECT_EQ(Find<QGroupBox>("Frame20")->geometry(), QRect(848, 24, 97, 49));
    EXPECT_EQ(Find<QGroupBox>("Frame20")->parentWidget()->objectName(), QStringLiteral("Frame12"));
}

TEST_F(SwitchesFixture, EachPinSwitchSetsItsFlagAndSendsTheWholePinWordOnly) {
    ctx.adapter.Clear();
    Click("Check1");  // makes the LDAC switch usable
    ASSERT_TRUE(ctx.adapter.Requests().empty());
    struct Case {
        const char* toggle;
        int16_t DeviceState::*flag;
        int16_t expectedFlag;
        std::string request;
    };
    // Starting from the pin defaults (value 159, index 0).
    const std::vector<Case> cases{
        {"Toggle2", &DeviceState::BinaryCoding, 0, PinWord(155, 0)},
        {"Toggle8", &DeviceState::ClrPin, 0, PinWord(147, 0)},
        {"Toggle9", &DeviceState::LdacPin, 0, PinWord(131, 0)},
        {"Toggle10", &DeviceState::RstinPin, 0, PinWord(129, 0)},
        {"Toggle11", &DeviceState::DriveD0, 1, PinWord(129, 1)},
        {"Toggle12", &DeviceState::DriveD1, 1, PinWord(129, 3)},
    };
    for (const Case& c : cases) {
        ctx.adapter.Clear();
        Click(c.toggle);
        EXPECT_EQ(ctx.state.*c.flag, c.expectedFlag) << c.toggle;
        EXPECT_EQ(ctx.adapter.Requests(), Requests{c.request}) << c.toggle;
    }
    EXPECT_EQ(ctx.state.FunctionImage, 0);
}

// A coding change the limits refuse is not shown as made: the switch shows the board's coding.
TEST_F(SwitchesFixture, ARefusedCodingChangeLeavesTheSwitchAsTheBoardHolds) {
    for (const int16_t reg : {kRegCoarseGain, kRegFineGain, kRegOffset})
        ctx.instrument.WriteRegister(kAllChannels, reg, 0);
    ctx.instrument.WriteRegister(kAllChannels, kRegData, 0x9333);  // 1.5 V, about -8.5 V else
    ctx.instrument.SetLimits(0, {-2.0, 2.0, std::nullopt, 0.0});
    ctx.adapter.Clear();
    Click("Toggle2");
    EXPECT_TRUE(ctx.adapter.Requests().empty());
    EXPECT_TRUE(Find("Toggle2")->State());
}

TEST_F(SwitchesFixture, EveryFunctionWriteCarriesAllSixFlags) {
    struct Case {
        const char* toggle;
        int flagsBefore;  // the other flags, as DeviceState holds them
        int expectedWord;
    };
    const std::vector<Case> cases{
        {"Toggle1", 0x00, 0x20},
        {"Toggle1", 0x16, 0x16},  // Toggle1 back to "Disabled", D0/D1 settings re-sent
        {"Toggle7", 0x16, 0x17},
        {"Toggle7", 0x0A, 0x0A},
    };
    for (const Case& c : cases) {
        ctx.state.FnD1Output = (c.flagsBefore >> 4) & 1;
        ctx.state.FnD1High = (c.flagsBefore >> 3) & 1;
        ctx.state.FnD0Output = (c.flagsBefore >> 2) & 1;
        ctx.state.FnD0High = (c.flagsBefore >> 1) & 1;
        ctx.adapter.Clear();
        Click(c.toggle);
        EXPECT_EQ(ctx.adapter.Requests(), Requests{FunctionWrite(c.expectedWord)}) << c.toggle;
        EXPECT_EQ(ctx.state.FunctionImage, c.expectedWord) << c.toggle;
    }
}

struct PinNames {
    const char* direction;
    const char* level;
    const char* driveFrame;
    const char* drive;
    std::string toOutput;
    std::string toInput;
    int16_t DeviceState::*outputFlag;
    int outputBit;
};
const PinNames kD1{"Toggle3",
                   "Toggle5",
                   "Frame21",
                   "Toggle12",
                   "DC 0 0 1 0",
                   "DC 1 0 1 0",
                   &DeviceState::FnD1Output,
                   0x10};
const PinNames kD0{"Toggle4",
                   "Toggle6",
                   "Frame20",
                   "Toggle11",
                   "DB 0 0 1 0",
                   "DB 1 0 1 0",
                   &DeviceState::FnD0Output,
                   0x04};

TEST_F(SwitchesFixture, DirectionSwitchesHandThePinOverAndKeepTheControlsConsistent) {
    for (const PinNames& pin : {kD1, kD0}) {
        ctx.adapter.Clear();
        Click(pin.direction);
        EXPECT_EQ(ctx.adapter.Requests(), (Requests{pin.toOutput, FunctionWrite(pin.outputBit)}))
            << pin.direction;
        EXPECT_EQ(ctx.state.*pin.outputFlag, 1);
        EXPECT_TRUE(Enabled(pin.level));
        EXPECT_FALSE(Enabled(pin.driveFrame));
        EXPECT_FALSE(Enabled(pin.drive));
        EXPECT_TRUE(Visible("Command6")) << "the other pin is still an input";

        Click(pin.direction);
        EXPECT_EQ(ctx.adapter.Requests(), (Requests{pin.toOutput, FunctionWrite(pin.outputBit),
                                                    pin.toInput, FunctionWrite(0)}));
        EXPECT_EQ(ctx.state.*pin.outputFlag, 0);
        EXPECT_FALSE(Enabled(pin.level));
        EXPECT_TRUE(Enabled(pin.driveFrame));
        EXPECT_TRUE(Enabled(pin.drive));
    }
}

TEST_F(SwitchesFixture, ReadIsHiddenExactlyWhileBothPinsAreOutputs) {
    struct Step {
        const char* click;
        bool readVisible;
    };
    for (const Step& s : std::vector<Step>{{"Toggle3", true},
                                           {"Toggle4", false},
                                           {"Toggle3", true},
                                           {"Toggle3", false},
                                           {"Toggle4", true},
                                           {"Toggle4", false}}) {
        Click(s.click);
        EXPECT_EQ(Visible("Command6"), s.readVisible) << "after " << s.click;
    }
}

TEST_F(SwitchesFixture, LevelSwitchesActOnlyWhileTheirPinIsAnOutput) {
    for (const PinNames& pin : {kD1, kD0}) {
        ctx.adapter.Clear();
        Click(pin.level);  // an input: the switch is not usable
        EXPECT_TRUE(ctx.adapter.Requests().empty()) << pin.level;
        EXPECT_FALSE(Find(pin.level)->State());
    }
    EXPECT_EQ(ctx.state.FnD1High, 0);
    EXPECT_EQ(ctx.state.FnD0High, 0);

    Click("Toggle3");
    ctx.adapter.Clear();
    Click("Toggle5");
    EXPECT_EQ(ctx.state.FnD1High, 1);
    EXPECT_EQ(ctx.adapter.Requests(), Requests{FunctionWrite(0x18)});
    // Back to an input: the level flag stays and goes out with the word.
    ctx.adapter.Clear();
    Click("Toggle3");
    EXPECT_EQ(ctx.adapter.Requests(), (Requests{"DC 1 0 1 0", FunctionWrite(0x08)}));
}

TEST_F(SwitchesFixture, PulseAfterDataWriteHoldsLdacHighAndUncheckingLeavesThePin) {
    EXPECT_TRUE(panel.PulseAfterDataWrite());
    EXPECT_FALSE(Enabled("Toggle9"));

    ctx.adapter.Clear();
    Click("Check1");
    EXPECT_FALSE(panel.PulseAfterDataWrite());
    EXPECT_TRUE(Enabled("Toggle9"));
    EXPECT_EQ(ctx.state.LdacPin, 1);
    EXPECT_TRUE(ctx.adapter.Requests().empty());

    Click("Toggle9");
    EXPECT_EQ(ctx.state.LdacPin, 0);
    ctx.adapter.Clear();
    Click("Check1");
    EXPECT_TRUE(panel.PulseAfterDataWrite());
    EXPECT_TRUE(Find("Toggle9")->State());
    EXPECT_FALSE(Enabled("Toggle9"));
    EXPECT_EQ(ctx.state.LdacPin, 1);
    EXPECT_EQ(ctx.adapter.Requests(), Requests{PinWord(159, 0)});
}

TEST_F(SwitchesFixture, ClearAndLoadNeverPulseAndTouchNoSwitch) {
    ASSERT_TRUE(panel.PulseAfterDataWrite());
    ctx.adapter.Clear();
    Click("Command4");
    Click("Command5");
    EXPECT_EQ(ctx.adapter.Requests(), (Requests{"DD 4 0 0 0", "DD 5 0 0 0"}));
    EXPECT_FALSE(Find("Toggle3")->State());
    EXPECT_FALSE(Find("Toggle7")->State());
}

TEST_F(SwitchesFixture, ReadTakesTheLineLevelsWithSdoEnabled) {
    struct Case {
        const char* what;
        uint16_t firstReadBack;
        int flags;  // the six function flags before READ
        int expectedWrite;
        uint16_t secondReadBack;
        int16_t driveD1, driveD0;
    };
    const std::vector<Case> cases{
        {"both levels high, SDO disabled", 0x0B, 0x01, 0x0A, 0x0A, 1, 1},
        {"D1 high only", 0x08, 0x00, 0x08, 0x08, 1, 0},
        {"D0 high only", 0x36, 0x00, 0x36, 0x32, 0, 1},
        // Nothing answered: the word the switches stand for, with SDO enabled.
        {"silent serial output", 0xFFFF, 0x25, 0x24, 0x24, 0, 0},
    };
    for (const Case& c : cases) {
        ctx.state.FnLocalGndOffset = (c.flags >> 5) & 1;
        ctx.state.FnD0Output = (c.flags >> 2) & 1;
        ctx.state.FnSdoDisable = c.flags & 1;
        panel.SetSdoSwitch(c.flags & 1);
        ctx.adapter.Clear();
        ctx.adapter.QueueRegisterRead(c.firstReadBack);
        ctx.adapter.QueueRegisterRead(c.secondReadBack);
        Click("Command6");
        EXPECT_EQ(ctx.adapter.Requests(),
                  Concat({kFunctionRead, {FunctionWrite(c.expectedWrite)}, kFunctionRead}))
            << c.what;
        EXPECT_EQ(ctx.state.FunctionImage, c.secondReadBack) << c.what;
        EXPECT_EQ(ctx.state.DriveD1, c.driveD1) << c.what;
        EXPECT_EQ(ctx.state.DriveD0, c.driveD0) << c.what;
        EXPECT_EQ(ctx.state.FnSdoDisable, 0) << c.what;
        EXPECT_EQ(Find("Toggle7")->text(), QStringLiteral("Enabled")) << c.what;
        EXPECT_EQ(Find("Toggle5")->State(), c.driveD1 == 1) << c.what;
        EXPECT_EQ(Find("Toggle6")->State(), c.driveD0 == 1) << c.what;
    }
}

TEST_F(SwitchesFixture, MirroringAWordSetsTheSixSwitchesAndSendsNothing) {
    struct Case {
        int32_t image;
        std::vector<bool> states;  // Toggle1, 3, 5, 4, 6, 7
    };
    const char* const names[] = {"Toggle1", "Toggle3", "Toggle5", "Toggle4", "Toggle6", "Toggle7"};
    ctx.adapter.Clear();
    for (const Case& c : std::vector<Case>{{0x3F, {true, true, true, true, true, true}},
                                           {0x20, {true, false, false, false, false, false}},
                                           {0x15, {false, true, false, true, false, true}},
                                           {0x0A, {false, false, true, false, true, false}},
                                           {0x00, {false, false, false, false, false, false}}}) {
        panel.MirrorFunctionBits(c.image);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(Find(names[i])->State(), c.states[i]) << c.image << " " << names[i];
    }
    EXPECT_TRUE(ctx.adapter.Requests().empty());
    EXPECT_EQ(ctx.state.FunctionImage, 0);
}

}  // namespace
}  // namespace tq::testing
