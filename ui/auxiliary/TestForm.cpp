#include "ui/auxiliary/TestForm.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>
#include <limits>

#include "core/Encoding.h"
#include "ui/widgets/Twips.h"

namespace tq {

namespace {

const QString kAddressOutOfRange = QStringLiteral("The address is out of range (0 to FFFF).");
const QString kDataOutOfRange = QStringLiteral("The data value is out of range (0 to FFFFFFFF).");

// The box read as "&h" followed by its text: hexadecimal digits, blanks ignored, up to the
// first other character. Up to FFFF reads as a signed 16-bit pattern, up to FFFFFFFF as a signed
// 32-bit one, anything larger as +infinity.
double ReadHexBox(const QLineEdit* box) {
    return ParseNumber("&h" + box->text().toStdString());
}

template <typename Int>
bool Fits(double value) {
    return std::isfinite(value) && value >= std::numeric_limits<Int>::min() &&
           value <= std::numeric_limits<Int>::max();
}

}  // namespace

TestForm::TestForm(WindowContext& context, QWidget* parent) : QWidget(parent), ctx_(context) {
    setObjectName(QStringLiteral("TestForm"));
    setWindowTitle(QStringLiteral("Direct Read / Write"));
    setFixedSize(Twips(0, 0, 5055, 1155).size());

    const QFont font = BoldSans(9.75);
    auto label = [&](const char* name, const QString& text, int left, int top, int width) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setFont(font);
        l->setAlignment(Qt::AlignCenter);
        PlaceTwips(l, left, top, width, 255);
        return l;
    };
    auto box = [&](const char* name, int left, int width) {
        auto* b = new QLineEdit(QStringLiteral("0"), this);
        b->setObjectName(QLatin1String(name));
        b->setFont(font);
        PlaceTwips(b, left, 600, width, 375);
        return b;
    };
    auto button = [&](const char* name, const QString& text, int left) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setFont(font);
        PlaceTwips(b, left, 570, 1035, 435);
        return b;
    };

    Label3_ = label("Label3", QStringLiteral("Enter Values in Hex"), 120, 40, 4815);
    Label3_->setFont(BoldSans(8.25));
    Label1_ = label("Label1", QStringLiteral("Address"), 120, 320, 1095);
    Text1_ = box("Text1", 120, 1095);
    Label2_ = label("Label2", QStringLiteral("Data"), 1320, 320, 1335);
    Text2_ = box("Text2", 1320, 1335);
    Command1_ = button("Command1", QStringLiteral("Read"), 2760);
    Command2_ = button("Command2", QStringLiteral("Write"), 3900);

    setTabOrder(Text1_, Text2_);
    setTabOrder(Text2_, Command1_);
    setTabOrder(Command1_, Command2_);

    connect(Command1_, &QPushButton::clicked, this, &TestForm::Command1_Click);
    connect(Command2_, &QPushButton::clicked, this, &TestForm::Command2_Click);
}

std::optional<int16_t> TestForm::ReadAddress() {
    const double address = ReadHexBox(Text1_);
    if (!Fits<int16_t>(address)) {
        ctx_.messages.ShowMessage(this, MessageIcon::Warning, kAddressOutOfRange);
        Text1_->setFocus();
        return std::nullopt;
    }
    return static_cast<int16_t>(address);
}

TestForm::Target TestForm::SplitAddress(int16_t address) {
    // Bits 2..0 name the channel, bits 5..3 the register; higher bits are ignored.
    return {static_cast<int16_t>(address & 7), static_cast<int16_t>((address & 0x38) / 8)};
}

void TestForm::Command1_Click() {
    const auto address = ReadAddress();
    if (!address)
        return;
    const Target target = SplitAddress(*address);
    try {
        const int32_t value = ctx_.instrument.ReadRegister(target.address, target.reg);
        Text2_->setText(QString::fromStdString(HexText(value)));
    } catch (const InstrumentError&) {
        // The status bar says the board is not responding; the box keeps what it had.
    }
}

void TestForm::Command2_Click() {
    const double data = ReadHexBox(Text2_);
    if (!Fits<int32_t>(data)) {
        ctx_.messages.ShowMessage(this, MessageIcon::Warning, kDataOutOfRange);
        Text2_->setFocus();
        return;
    }
    const auto address = ReadAddress();
    if (!address)
        return;
    const Target target = SplitAddress(*address);
    // Under this window's name, so that a refusal by the output protection is explained here.
    const Instrument::Origin own(ctx_.instrument, this);
    try {
        ctx_.instrument.WriteRegister(target.address, target.reg, static_cast<int32_t>(data));
    } catch (const InstrumentError&) {
        // The status bar says the board is not responding.
    }
}

}  // namespace tq
