#include "ui/auxiliary/Form2.h"

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

#include "ui/widgets/Twips.h"

namespace tq {

Form2::Form2(WindowContext& context, QWidget* parent) : QWidget(parent), ctx_(context) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Select Device"));
    setFixedSize(Twips(0, 0, 4335, 1935).size());
    const QFont font = BoldSans(8.25);

    Frame1_ = new QGroupBox(QStringLiteral("Select Device"), this);
    Frame1_->setObjectName(QStringLiteral("Frame1"));
    StyleFrame(Frame1_, false, palette().color(QPalette::WindowText));
    PlaceTwips(Frame1_, 120, 120, 4095, 1695);

    // Neither choice is made until the user makes one.
    Option1_ = new QRadioButton(QStringLiteral("TQ2404 - 14 bit DAC"), Frame1_);
    Option1_->setObjectName(QStringLiteral("Option1"));
    Option1_->setFont(font);
    PlaceTwips(Option1_, 240, 420, 2655, 375);
    Option2_ = new QRadioButton(QStringLiteral("TQ2604 - 16 bit DAC"), Frame1_);
    Option2_->setObjectName(QStringLiteral("Option2"));
    Option2_->setFont(font);
    PlaceTwips(Option2_, 240, 1020, 2655, 375);
    Command1_ = new QPushButton(QStringLiteral("OK"), Frame1_);
    Command1_->setObjectName(QStringLiteral("Command1"));
    Command1_->setFont(font);
    PlaceTwips(Command1_, 3000, 660, 975, 495);

    setTabOrder(Option1_, Option2_);
    setTabOrder(Option2_, Command1_);

    connect(Command1_, &QPushButton::clicked, this, &Form2::Command1_Click);
}

// The choice goes through the instrument, which tells its listeners (the LAN advertisement
// names the model) before the main window opens.
void Form2::Command1_Click() {
    const Instrument::Origin own(ctx_.instrument, this);
    if (Option1_->isChecked())
        ctx_.instrument.SetResolution(14);
    if (Option2_->isChecked())
        ctx_.instrument.SetResolution(16);
    ctx_.openWindow(WindowId::Main);
    hide();
}

}  // namespace tq
