#include "ui/main/SwitchesPanel.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QPushButton>

#include "core/Tables.h"
#include "ui/widgets/Toggle.h"
#include "ui/widgets/Twips.h"

namespace tq {

namespace {

const QColor kTopCaption(192, 64, 0);
const QColor kNestedCaption(0, 0, 255);

struct Place {
    int left, top, width, height;  // twips, relative to the container
};

QFont PlainSans(double points) {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    return font;
}

// Fonts here are wider than the ones the window was drawn for: a caption that would be cut off
// takes the condensed face of its font instead.
// A frame's caption has a font of its own (its "captionFont"); other controls use their font.
void FitCaption(QWidget* w, const QString& caption, int available) {
    const QVariant captionFont = w->property("captionFont");
    QFont font = captionFont.isValid() ? captionFont.value<QFont>() : w->font();
    if (QFontMetrics(font).horizontalAdvance(caption) <= available)
        return;
    font.setStretch(QFont::Condensed);
    if (captionFont.isValid())
        w->setProperty("captionFont", font);
    else
        w->setFont(font);
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& title, bool topLevel,
                     const Place& at) {
    auto* frame = new QGroupBox(title, parent);
    frame->setObjectName(QLatin1String(name));
    StyleFrame(frame, topLevel, topLevel ? kTopCaption : kNestedCaption);
    PlaceTwips(frame, at.left, at.top, at.width, at.height);
    FitCaption(frame, title, frame->width() - 12);
    return frame;
}

Toggle* MakeToggle(QWidget* parent, const char* name, const QString& falseCaption,
                   const QString& trueCaption, const Place& at) {
    auto* toggle = new Toggle(falseCaption, trueCaption, parent);
    toggle->setObjectName(QLatin1String(name));
    toggle->setFont(PlainSans(8.25));
    PlaceTwips(toggle, at.left, at.top, at.width, at.height);
    return toggle;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const Place& at) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setFont(BoldSans(8.25));
    PlaceTwips(button, at.left, at.top, at.width, at.height);
    return button;
}

}  // namespace

SwitchesPanel::SwitchesPanel(WindowContext& context, QWidget* window)
    : QObject(window), ctx_(context) {
    setObjectName(QStringLiteral("SwitchesPanel"));
    BuildFunctionFrame(window);
    BuildHardwareFrame(window);

    d1_ = {toggle3_,
           toggle5_,
           toggle4_,
           frame21_,
           toggle12_,
           FunctionFlag::D1High,
           &Instrument::SetD1Output};
    d0_ = {toggle4_,
           toggle6_,
           toggle3_,
           frame20_,
           toggle11_,
           FunctionFlag::D0High,
           &Instrument::SetD0Output};

    connect(toggle1_, &Toggle::Changed, this, [this] { Handle(&SwitchesPanel::Toggle1_Change); });
    connect(toggle2_, &Toggle::Changed, this, [this] { Handle(&SwitchesPanel::Toggle2_Change); });
    connect(toggle3_, &Toggle::Changed, this, [this] { Handle(&SwitchesPanel::Toggle3_Change); });
    connect(toggle4_, &Toggle::Changed, this, [this] { Handle(&SwitchesPanel::Toggle4_Change); });
    connect(toggle5_, &Toggle::Changed, this, [this] { Handle(&SwitchesPanel::Toggle5_Change); });
    connect(toggle6_, &Toggle::Changed, this, [this] { Handle(&SwitchesPanel::Toggle6_Change); });
    connect(toggle7_, &Toggle::Changed, this, [this] { Handle(&SwitchesPanel::Toggle7_Change); });
    connect(toggle8_, &Toggle::Changed, this, [this] { Handle(&SwitchesPanel::Toggle8_Change); });
    connect(toggle9_, &Toggle::Changed, this, [this] { Handle(&SwitchesPanel::Toggle9_Change); });
    connect(toggle10_, &Toggle::Changed, this, [this] { Handle(&SwitchesPanel::Toggle10_Change); });
    connect(toggle11_, &Toggle::Changed, this, [this] { Handle(&SwitchesPanel::Toggle11_Change); });
    connect(toggle12_, &Toggle::Changed, this, [this] { Handle(&SwitchesPanel::Toggle12_Change); });
    // clicked() is a user's click only; setting the box from code runs no handler.
    connect(check1_, &QCheckBox::clicked, this, [this] { Handle(&SwitchesPanel::Check1_Click); });
    connect(command4_, &QPushButton::clicked, this,
            [this] { Handle(&SwitchesPanel::Command4_Click); });
    connect(command5_, &QPushButton::clicked, this,
            [this] { Handle(&SwitchesPanel::Command5_Click); });
    connect(command6_, &QPushButton::clicked, this,
            [this] { Handle(&SwitchesPanel::Command6_Click); });
}

void SwitchesPanel::BuildFunctionFrame(QWidget* window) {
    frame6_ = MakeFrame(window, "Frame6", QStringLiteral("Function Register Configuration"), true,
                        {120, 3000, 14415, 1935});

    auto* frame7 = MakeFrame(frame6_, "Frame7", QStringLiteral("Local Gnd Offset Adjust"), false,
                             {120, 360, 2415, 1335});
    toggle1_ = MakeToggle(frame7, "Toggle1", QStringLiteral("Disabled"), QStringLiteral("Enabled"),
                          {360, 600, 1815, 375});

    auto* frame9 = MakeFrame(frame6_, "Frame9", QStringLiteral("Serial Data Output (SDO)"), false,
                             {2640, 360, 2415, 1335});
    toggle7_ = MakeToggle(frame9, "Toggle7", QStringLiteral("Enabled"), QStringLiteral("Disabled"),
                          {360, 600, 1815, 375});

    auto* frame8 = MakeFrame(frame6_, "Frame8", QStringLiteral("Digital I/O Ports"), false,
                             {5160, 360, 7695, 1335});
    auto* frame11 = MakeFrame(frame8, "Frame11", QString(), false, {120, 240, 3495, 855});
    toggle3_ = MakeToggle(frame11, "Toggle3", QStringLiteral("D1 - Input"),
                          QStringLiteral("D1 - Output"), {90, 300, 1680, 375});
    toggle5_ = MakeToggle(frame11, "Toggle5", QStringLiteral("D1 - Low"),
                          QStringLiteral("D1 - High"), {1830, 300, 1620, 375});
    // The narrow upright READ button stands between the D1 and D0 groups.
    command6_ = MakeButton(frame8, "Command6", QStringLiteral("READ"), {3645, 300, 420, 795});
    command6_->setFont(BoldSans(6.75));
    command6_->setStyleSheet(QStringLiteral("QPushButton#Command6 { padding: 0px; }"));
    auto* frame10 = MakeFrame(frame8, "Frame10", QString(), false, {4080, 240, 3495, 855});
    toggle4_ = MakeToggle(frame10, "Toggle4", QStringLiteral("D0 - Input"),
                          QStringLiteral("D0 - Output"), {90, 300, 1680, 375});
    toggle6_ = MakeToggle(frame10, "Toggle6", QStringLiteral("D0 - Low"),
                          QStringLiteral("D0 - High"), {1830, 300, 1620, 375});

    command4_ = MakeButton(frame6_, "Command4", QStringLiteral("CLEAR"), {13020, 480, 1275, 435});
    command5_ = MakeButton(frame6_, "Command5", QStringLiteral("LOAD"), {13020, 1140, 1275, 435});
}

void SwitchesPanel::BuildHardwareFrame(QWidget* window) {
    frame12_ = MakeFrame(window, "Frame12", QStringLiteral("Hardware Configuration"), true,
                         {120, 5160, 14415, 1335});
    const QString low = QStringLiteral("Low");
    const QString high = QStringLiteral("High");

    auto* frame13 = MakeFrame(frame12_, "Frame13", QStringLiteral("Bin / 2sComp"), false,
                              {240, 360, 1695, 735});
    toggle2_ = MakeToggle(frame13, "Toggle2", QStringLiteral("2sComplement"),
                          QStringLiteral("Binary"), {60, 300, 1620, 375});

    auto* frame14 =
        MakeFrame(frame12_, "Frame14", QStringLiteral("CLR Pin"), false, {2520, 360, 1455, 735});
    toggle8_ = MakeToggle(frame14, "Toggle8", low, high, {180, 300, 1200, 375});

    auto* frame15 =
        MakeFrame(frame12_, "Frame15", QStringLiteral("LDAC Pin"), false, {4560, 360, 3255, 735});
    check1_ = new QCheckBox(QStringLiteral("Pulse After Data Write"), frame15);
    check1_->setObjectName(QStringLiteral("Check1"));
    check1_->setFont(PlainSans(8.25));
    check1_->setChecked(true);
    PlaceTwips(check1_, 90, 300, 2070, 375);
    FitCaption(check1_, check1_->text(), check1_->width() - 20);
    toggle9_ = MakeToggle(frame15, "Toggle9", low, high, {2175, 300, 1050, 375});

    auto* frame16 =
        MakeFrame(frame12_, "Frame16", QStringLiteral("RSTIN Pin"), false, {8520, 360, 1455, 735});
    toggle10_ = MakeToggle(frame16, "Toggle10", low, high, {180, 300, 1200, 375});

    frame21_ = MakeFrame(frame12_, "Frame21", QStringLiteral("Drive D1 Pin"), false,
                         {10680, 360, 1455, 735});
    toggle12_ = MakeToggle(frame21_, "Toggle12", low, high, {180, 300, 1200, 375});

    frame20_ = MakeFrame(frame12_, "Frame20", QStringLiteral("Drive D0 Pin"), false,
                         {12720, 360, 1455, 735});
    toggle11_ = MakeToggle(frame20_, "Toggle11", low, high, {180, 300, 1200, 375});
}

void SwitchesPanel::SetSdoSwitch(bool disabled) {
    toggle7_->SetState(disabled);
}

void SwitchesPanel::MirrorFunctionBits(int32_t image) {
    toggle1_->SetState(image & kBitLocalGndOffset);
    toggle3_->SetState(image & kBitD1Output);
    toggle5_->SetState(image & kBitD1High);
    toggle4_->SetState(image & kBitD0Output);
    toggle6_->SetState(image & kBitD0High);
    toggle7_->SetState(image & kBitSdoDisable);
}

void SwitchesPanel::ShowPinDefaults() {
    toggle9_->SetState(true);
    toggle8_->SetState(true);
    toggle2_->SetState(true);
    toggle10_->SetState(true);
}

void SwitchesPanel::ShowFunctionRegister(int32_t image) {
    MirrorFunctionBits(image);
    ShowDriveEnables(d1_);
    ShowDriveEnables(d0_);
}

void SwitchesPanel::ApplyStartupEnables() {
    toggle5_->setEnabled(false);
    toggle6_->setEnabled(false);
    command6_->setVisible(!toggle4_->State() || !toggle3_->State());
    // The start-up lets data writes pulse LDAC (instrument/StartUp.h).
    check1_->setChecked(true);
    toggle9_->setEnabled(false);
}

bool SwitchesPanel::PulseAfterDataWrite() const {
    return ctx_.instrument.PulseAfterDataWrite();
}

void SwitchesPanel::Handle(void (SwitchesPanel::*handler)()) {
    const Instrument::Origin own(ctx_.instrument, frame6_->window());
    try {
        (this->*handler)();
    } catch (const RequestError&) {
        // The status bar says the board is not responding.
    } catch (const InstrumentError&) {
        // Refused (the limits, a running activity): the switches show what the board holds,
        // not the change that was not made.
        ShowInstrumentState();
    }
}

void SwitchesPanel::ShowInstrumentState() {
    const DeviceState& s = ctx_.instrument.State();
    toggle1_->SetState(s.FnLocalGndOffset != 0);
    toggle3_->SetState(s.FnD1Output != 0);
    toggle4_->SetState(s.FnD0Output != 0);
    toggle5_->SetState(s.FnD1High != 0);
    toggle6_->SetState(s.FnD0High != 0);
    toggle7_->SetState(s.FnSdoDisable != 0);
    toggle2_->SetState(s.BinaryCoding != 0);
    toggle8_->SetState(s.ClrPin != 0);
    toggle9_->SetState(s.LdacPin != 0);
    toggle10_->SetState(s.RstinPin != 0);
    toggle11_->SetState(s.DriveD0 != 0);
    toggle12_->SetState(s.DriveD1 != 0);
    check1_->setChecked(ctx_.instrument.PulseAfterDataWrite());
    toggle9_->setEnabled(!check1_->isChecked());
    for (const DigitalPin* pin : {&d1_, &d0_}) {
        pin->level->setEnabled(pin->direction->State());
        ShowDriveEnables(*pin);
    }
    command6_->setVisible(!toggle4_->State() || !toggle3_->State());
}

// A pin that is an output of the converter must not be driven by the board.
void SwitchesPanel::ShowDriveEnables(const DigitalPin& pin) {
    const bool input = !pin.direction->State();
    pin.driveFrame->setEnabled(input);
    pin.drive->setEnabled(input);
}

void SwitchesPanel::PinSwitchChanged(const Toggle* toggle, Pin pin) {
    ctx_.instrument.SetPin(pin, toggle->State());
}

void SwitchesPanel::FunctionSwitchChanged(const Toggle* toggle, FunctionFlag flag) {
    ctx_.instrument.SetFunctionFlag(flag, toggle->State());
}

void SwitchesPanel::LevelSwitchChanged(const DigitalPin& pin) {
    // The level is the converter's only while the pin is its output.
    if (!pin.direction->State())
        return;
    ctx_.instrument.SetFunctionFlag(pin.highFlag, pin.level->State());
}

void SwitchesPanel::DirectionSwitchChanged(const DigitalPin& pin) {
    const bool output = pin.direction->State();
    pin.level->setEnabled(output);
    command6_->setVisible(!(output && pin.otherDirection->State()));
    ShowDriveEnables(pin);
    // The board's side of the line is set before the converter's.
    (ctx_.instrument.*pin.setOutput)(output);
}

void SwitchesPanel::Toggle1_Change() {
    FunctionSwitchChanged(toggle1_, FunctionFlag::LocalGndOffset);
}
void SwitchesPanel::Toggle7_Change() {
    FunctionSwitchChanged(toggle7_, FunctionFlag::SdoDisable);
}
void SwitchesPanel::Toggle3_Change() {
    DirectionSwitchChanged(d1_);
}
void SwitchesPanel::Toggle4_Change() {
    DirectionSwitchChanged(d0_);
}
void SwitchesPanel::Toggle5_Change() {
    LevelSwitchChanged(d1_);
}
void SwitchesPanel::Toggle6_Change() {
    LevelSwitchChanged(d0_);
}
void SwitchesPanel::Toggle2_Change() {
    PinSwitchChanged(toggle2_, Pin::BinaryCoding);
}
void SwitchesPanel::Toggle8_Change() {
    PinSwitchChanged(toggle8_, Pin::Clr);
}
void SwitchesPanel::Toggle9_Change() {
    PinSwitchChanged(toggle9_, Pin::Ldac);
}
void SwitchesPanel::Toggle10_Change() {
    PinSwitchChanged(toggle10_, Pin::Rstin);
}
void SwitchesPanel::Toggle11_Change() {
    PinSwitchChanged(toggle11_, Pin::DriveD0);
}
void SwitchesPanel::Toggle12_Change() {
    PinSwitchChanged(toggle12_, Pin::DriveD1);
}

void SwitchesPanel::Check1_Click() {
    if (check1_->isChecked()) {
        // The box sends the pin word with LDAC high itself; the instrument keeps it high while
        // writes pulse, and the switch shows that.
        toggle9_->SetState(true);
        toggle9_->setEnabled(false);
        ctx_.instrument.SetPin(Pin::Ldac, true);
        ctx_.instrument.SetPulseAfterDataWrite(true);
    } else {
        ctx_.instrument.SetPulseAfterDataWrite(false);
        toggle9_->setEnabled(true);
    }
}

void SwitchesPanel::Command4_Click() {
    ctx_.instrument.ClearAllChannels();
}

void SwitchesPanel::Command5_Click() {
    ctx_.instrument.LoadAllChannels();
}

void SwitchesPanel::Command6_Click() {
    const DeviceState& s = ctx_.instrument.State();
    ctx_.instrument.ReadFunctionRegister();
    toggle7_->SetState(false);
    toggle5_->SetState(s.DriveD1 != 0);
    toggle6_->SetState(s.DriveD0 != 0);
}

}  // namespace tq
