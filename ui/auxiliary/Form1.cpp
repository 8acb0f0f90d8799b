#include "ui/auxiliary/Form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <algorithm>
#include <cmath>

#include "core/CheckedInt.h"
#include "core/ConverterCoding.h"
#include "core/Encoding.h"
#include "core/Tables.h"
#include "ui/auxiliary/RoundedText.h"
#include "ui/protection/RefusalNotices.h"
#include "ui/widgets/DecimalEntry.h"
#include "ui/widgets/EntryMessages.h"
#include "ui/widgets/Twips.h"

namespace tq {

namespace {

const QColor kPanelBlue(0, 0, 255);
const QColor kConnected(0, 255, 0);
const QColor kNotConnected(255, 0, 0);
constexpr double kFullScale = 10.0;
// The panel composes 16-bit data words, whatever the device.
constexpr ConverterCoding kPanelCoding{16};

void PaintWhiteOnBlue(QWidget* w) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, kPanelBlue);
    p.setColor(QPalette::WindowText, Qt::white);
    w->setPalette(p);
}

}  // namespace

Form1::Form1(WindowContext& context, QWidget* parent) : QMainWindow(parent), ctx_(context) {
    setObjectName(QStringLiteral("Form1"));

    BuildMenu();

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Form1Client"));
    client->setFixedSize(Twips(0, 0, 7155, 3420).size());
    client->setAutoFillBackground(true);
    PaintWhiteOnBlue(client);
    setCentralWidget(client);

    Shape1_ = new QFrame(client);
    Shape1_->setObjectName(QStringLiteral("Shape1"));
    Shape1_->setAutoFillBackground(true);
    PlaceTwips(Shape1_, 45, 45, 240, 240);
    SetIndicator(kNotConnected);

    BuildVoltageFrame(client);

    CmdRead_ = new QPushButton(QStringLiteral("ReadBack"), client);
    CmdRead_->setObjectName(QStringLiteral("CmdRead"));
    PlaceTwips(CmdRead_, 5520, 240, 1455, 495);

    Label5_ = new QLabel(client);
    Label5_->setObjectName(QStringLiteral("Label5"));
    Label5_->setFont(BoldSans(12));
    Label5_->setFrameShape(QFrame::Box);
    Label5_->setAlignment(Qt::AlignCenter);
    PlaceTwips(Label5_, 5520, 840, 1455, 435);

    BuildCorrections(client);

    Command1_ = new QPushButton(QStringLiteral("Load"), client);
    Command1_->setObjectName(QStringLiteral("Command1"));
    PlaceTwips(Command1_, 120, 2760, 1215, 495);

    setTabOrder(Text1_, OffText_);
    setTabOrder(OffText_, NGainText_);
    setTabOrder(NGainText_, PGainText_);
    setTabOrder(PGainText_, Command1_);
    setTabOrder(Command1_, CmdRead_);

    connect(MnuExit_, &QAction::triggered, this, &Form1::MnuExit_Click);
    connect(MnuI2c_, &QAction::triggered, this, &Form1::MnuI2c_Click);
    connect(Command1_, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(CmdRead_, &QPushButton::clicked, this, &Form1::CmdRead_Click);
    for (QLineEdit* box : {Text1_, OffText_, NGainText_, PGainText_})
        connect(box, &QLineEdit::returnPressed, this, &Form1::Command1_Click);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->setSizeGripEnabled(false);
    RefusalNotices::WordsItsOwnRefusals(this);
}

// File: Exit, a line, I2C Interface.
void Form1::BuildMenu() {
    MnuFile_ = menuBar()->addMenu(QStringLiteral("&File"));
    MnuFile_->setObjectName(QStringLiteral("MnuFile"));
    MnuFile_->menuAction()->setObjectName(QStringLiteral("MnuFile"));
    MnuExit_ = MnuFile_->addAction(QStringLiteral("E&xit"));
    MnuExit_->setObjectName(QStringLiteral("MnuExit"));
    MnuLine_ = MnuFile_->addSeparator();
    MnuLine_->setObjectName(QStringLiteral("MnuLine"));
    MnuLine_->setText(QStringLiteral("-"));
    MnuI2c_ = MnuFile_->addAction(QStringLiteral("I2C Interface"));
    MnuI2c_->setObjectName(QStringLiteral("MnuI2c"));
}

// The voltage to output, large, and the hint that Enter loads it.
void Form1::BuildVoltageFrame(QWidget* client) {
    Frame1_ = new QGroupBox(QStringLiteral("ENTER VOLTAGE TO OUTPUT"), client);
    Frame1_->setObjectName(QStringLiteral("Frame1"));
    StyleFrame(Frame1_, true, Qt::white);
    Frame1_->setProperty("captionFont", BoldSans(13.5));
    PlaceTwips(Frame1_, 360, 45, 4935, 2310);

    Text1_ = new QLineEdit(QStringLiteral("0.0000"), Frame1_);
    Text1_->setObjectName(QStringLiteral("Text1"));
    QFont big(QStringLiteral("Arial"));
    big.setPointSizeF(60);
    big.setBold(true);
    Text1_->setFont(big);
    QPalette black = Text1_->palette();
    black.setColor(QPalette::Text, Qt::black);
    Text1_->setPalette(black);
    PlaceTwips(Text1_, 120, 300, 4695, 1425);

    Label1_ = new QLabel(QStringLiteral("Hit Enter Key to Load DAC"), Frame1_);
    Label1_->setObjectName(QStringLiteral("Label1"));
    Label1_->setFont(BoldSans(18));
    Label1_->setAlignment(Qt::AlignCenter);
    PlaceTwips(Label1_, 120, 1770, 4695, 450);
    // The hint was drawn for a narrower face: shrink it until the whole sentence shows.
    QFont hint = Label1_->font();
    while (QFontMetrics(hint).horizontalAdvance(Label1_->text()) > Label1_->width() &&
           hint.pointSizeF() > 8)
        hint.setPointSizeF(hint.pointSizeF() - 0.5);
    Label1_->setFont(hint);
}

// The offset and the two gains the voltage is corrected by, each under its heading.
void Form1::BuildCorrections(QWidget* client) {
    auto heading = [&](const char* name, const QString& text, int left) {
        auto* l = new QLabel(text, client);
        l->setObjectName(QLatin1String(name));
        l->setFont(BoldSans(13.5));
        l->setAlignment(Qt::AlignCenter);
        PlaceTwips(l, left, 2400, 1575, 375);
        return l;
    };
    auto correction = [&](const char* name, const QString& text, int left) {
        auto* b = new QLineEdit(text, client);
        b->setObjectName(QLatin1String(name));
        PlaceTwips(b, left, 2820, 1575, 420);
        return b;
    };
    Label2_ = heading("Label2", QStringLiteral("Offset"), 1560);
    OffText_ = correction("OffText", QStringLiteral("-0.0037"), 1560);
    Label3_ = heading("Label3", QStringLiteral("-ve Gain"), 3300);
    NGainText_ = correction("NGainText", QStringLiteral("-0.0015"), 3300);
    Label4_ = heading("Label4", QStringLiteral("+ve Gain"), 5040);
    PGainText_ = correction("PGainText", QStringLiteral("0.0013"), 5040);
}

void Form1::SetIndicator(const QColor& colour) {
    QPalette p = Shape1_->palette();
    p.setColor(QPalette::Window, colour);
    Shape1_->setPalette(p);
}

bool Form1::Form_Load() {
    SetIndicator(kNotConnected);
    const bool connected = ctx_.instrument.ConnectBoard(ctx_.programFolder) == 0;
    if (connected)
        SetIndicator(kConnected);
    return connected;
}

bool Form1::ReadCorrection(QLineEdit* box, float& value) {
    value = ToSingle(ParseNumber(box->text().toStdString()));
    if (std::isfinite(value))
        return true;
    box->clear();
    box->setFocus();
    return false;
}

void Form1::Command1_Click() {
    // An empty voltage box is no request for 0 V.
    if (Text1_->text().trimmed().isEmpty()) {
        statusBar()->showMessage(EmptyEntryText(tr("The voltage box")), 15000);
        return;
    }
    // No number, or a decimal comma, in any of the four boxes: nothing is written.
    for (QLineEdit* box : {Text1_, OffText_, NGainText_, PGainText_})
        if (!TakeDecimalEntry(box))
            return;
    // The voltage stays in double precision here.
    const double typed = ParseNumber(Text1_->text().toStdString());
    double volts = typed;
    if (volts > kFullScale)
        volts = kFullScale;
    if (volts < -kFullScale)
        volts = -kFullScale;
    Text1_->setText(RoundedDecimalText(volts, 4));

    float offset = 0, negativeGain = 0, positiveGain = 0;
    if (!ReadCorrection(OffText_, offset) || !ReadCorrection(NGainText_, negativeGain) ||
        !ReadCorrection(PGainText_, positiveGain))
        return;

    // Each half of the range is stretched by its own correction.
    const float gain = volts >= 0 ? ToSingle(kFullScale + static_cast<double>(positiveGain))
                                  : ToSingle(kFullScale - static_cast<double>(negativeGain));
    const double exact = kPanelCoding.CodeCount() *
                         (volts * gain / kFullScale + offset + kFullScale) / (2 * kFullScale);
    // +10 V codes as 65536, and the corrections can reach past either end: both are limited to
    // the 16-bit code range rather than sent as a value the word cannot carry.
    ctx_.composer.DataValue =
        RoundToInt32(std::clamp(exact, 0.0, static_cast<double>(kPanelCoding.TopCode())));
    const Entry entry{typed, volts};
    SendComposedWord(&entry);
}

void Form1::LegacyWriteWord() {
    SendComposedWord(nullptr);
}

void Form1::SendComposedWord(const Entry* entry) {
    // Under this window's name, so that a refusal by the output protection is explained here.
    const Instrument::Origin own(ctx_.instrument, this);
    try {
        ctx_.instrument.WriteComposedWord();
        if (entry && entry->sent != entry->typed)
            statusBar()->showMessage(BeyondRangeText(entry->typed, kFullScale, entry->sent), 15000);
        else
            statusBar()->clearMessage();
    } catch (const RequestError&) {
        // The indicator turns red on the next connection attempt; nothing else to show here.
    } catch (const InstrumentError& e) {
        // Refused (a limit, a running activity): the message says why, the box what is held.
        const DeviceState& s = ctx_.state;
        const bool channel = s.RegSelect == kRegData && s.Address >= 0 && s.Address <= kAllChannels;
        const QString text =
            entry && channel ? RefusedEntryText(ctx_.instrument, s.Address, tr("The voltage box"),
                                                entry->typed, entry->sent, e.what())
                             : QString::fromUtf8(e.what());
        statusBar()->showMessage(text, 15000);
        if (dynamic_cast<const LimitError*>(&e))
            ctx_.messages.ShowMessage(this, MessageIcon::Warning, text);
        ShowHeldVoltage();
    }
}

void Form1::ShowHeldVoltage() {
    const DeviceState& s = ctx_.state;
    QString text;
    if (s.RegSelect == kRegData && s.Address >= 0 && s.Address <= kAllChannels) {
        const int16_t channel = s.Address < kAllChannels ? s.Address : 0;
        const ConverterMirror& mirror = ctx_.instrument.Mirror();
        const ConverterMirror::Channel& known = mirror.At(channel);
        if ((known.dac || known.input) && known.coarse)
            text = RoundedDecimalText(mirror.Model().Output(channel), 4);
    }
    Text1_->setText(text);
    Text1_->setModified(false);
}

void Form1::CmdRead_Click() {
    try {
        const auto bytes = ctx_.instrument.LegacyRead();
        const int32_t value = bytes[1] * 256 + bytes[0];
        Label5_->setText(QString::fromStdString(HexText4(value)));
    } catch (const InstrumentError&) {
        // No reply: stale buffer bytes are not a reading.
        Label5_->clear();
    }
}

void Form1::MnuExit_Click() {
    QCoreApplication::exit(0);
}

void Form1::MnuI2c_Click() {
    show();
    raise();
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    QCoreApplication::exit(0);
}

}  // namespace tq
