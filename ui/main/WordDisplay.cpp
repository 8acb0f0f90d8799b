#include "ui/main/WordDisplay.h"

#include <QLabel>

#include "ui/widgets/Twips.h"

namespace tq {
namespace {

// Grid geometry in twips inside the frame: one column per bit, bit 23 on the left, then the
// hexadecimal value; three rows of headings, bit names and bit values.
constexpr int kGridLeft = 120;
constexpr int kColumnWidth = 540;
constexpr int kCellHeight = 255;
constexpr int kHeadingTop = 240;
constexpr int kNameTop = kHeadingTop + kCellHeight;
constexpr int kValueTop = kNameTop + kCellHeight;
constexpr int kHexLeft = kGridLeft + 24 * kColumnWidth;
constexpr int kHexWidth = 1020;

constexpr int ColumnLeft(int bit) {
    return kGridLeft + (23 - bit) * kColumnWidth;
}

QString BitText(int64_t value, int bit) {
    return (value >> bit) & 1 ? QStringLiteral("1") : QStringLiteral("0");
}

}  // namespace

WordDisplay::WordDisplay(QWidget* parent)
    : QGroupBox(QStringLiteral("Input Register Contents"), parent) {
    setObjectName(QStringLiteral("Frame17"));
    StyleFrame(this, false, QColor(0, 0, 255));

    AddCell(QStringLiteral("Label51"), QString(), ColumnLeft(23), kHeadingTop, kColumnWidth);
    AddCell(QStringLiteral("Label50"), QString(), ColumnLeft(22), kHeadingTop, kColumnWidth);
    AddCell(QString(), QStringLiteral("Register Select"), ColumnLeft(21), kHeadingTop,
            3 * kColumnWidth);
    AddCell(QString(), QStringLiteral("DAC Address"), ColumnLeft(18), kHeadingTop,
            3 * kColumnWidth);
    AddCell(QString(), QStringLiteral("Data"), ColumnLeft(15), kHeadingTop, 16 * kColumnWidth);
    AddCell(QString(), QStringLiteral("Hex Value"), kHexLeft, kHeadingTop, kHexWidth);

    AddCell(QString(), QStringLiteral("R/W"), ColumnLeft(23), kNameTop, kColumnWidth);
    readWrite_ = AddCell(QStringLiteral("LabelRW"), QStringLiteral("0"), ColumnLeft(23), kValueTop,
                         kColumnWidth);
    AddCell(QStringLiteral("Label4"), QStringLiteral("0"), ColumnLeft(22), kNameTop, kColumnWidth);
    AddCell(QStringLiteral("Label3"), QStringLiteral("0"), ColumnLeft(22), kValueTop, kColumnWidth);
    for (int i = 0; i < 3; ++i) {
        const int bit = 21 - i;
        AddCell(QString(), QStringLiteral("REG %1").arg(2 - i), ColumnLeft(bit), kNameTop,
                kColumnWidth);
        registerCells_[i] = AddCell(QStringLiteral("LabelREG%1").arg(2 - i), QStringLiteral("0"),
                                    ColumnLeft(bit), kValueTop, kColumnWidth);
    }
    for (int i = 0; i < 3; ++i) {
        const int bit = 18 - i;
        AddCell(QString(), QStringLiteral("A%1").arg(2 - i), ColumnLeft(bit), kNameTop,
                kColumnWidth);
        addressCells_[i] = AddCell(QStringLiteral("LabelA%1").arg(2 - i), QStringLiteral("0"),
                                   ColumnLeft(bit), kValueTop, kColumnWidth);
    }
    for (int i = 0; i < 16; ++i) {
        const int bit = 15 - i;
        AddCell(QString(), QStringLiteral("D%1").arg(bit), ColumnLeft(bit), kNameTop, kColumnWidth);
        dataCells_[i] = AddCell(QStringLiteral("LabelD%1").arg(bit), QStringLiteral("0"),
                                ColumnLeft(bit), kValueTop, kColumnWidth);
    }
    hex_ = AddCell(QStringLiteral("LabelData"), QStringLiteral("000000"), kHexLeft, kValueTop,
                   kHexWidth);
}

QLabel* WordDisplay::AddCell(const QString& name, const QString& text, int left, int top,
                             int width) {
    auto* cell = new QLabel(text, this);
    if (!name.isEmpty())
        cell->setObjectName(name);
    cell->setFont(BoldSans(8.25));
    cell->setFrameShape(QFrame::Box);
    cell->setAlignment(Qt::AlignCenter);
    PlaceTwips(cell, left, top, width, kCellHeight);
    return cell;
}

void WordDisplay::SetBits(QLabel* const* cells, int count, int64_t value) {
    for (int i = 0; i < count; ++i)
        cells[i]->setText(BitText(value, count - 1 - i));
}

void WordDisplay::SetReadWrite(int16_t readWrite) {
    readWrite_->setText(QString::number(readWrite));
    word_.readWrite = readWrite & 1;
    ShowHex();
}

void WordDisplay::SetRegisterCode(int16_t regSelect) {
    SetBits(registerCells_.data(), 3, regSelect);
    word_.regSelect = regSelect & 7;
    ShowHex();
}

void WordDisplay::SetAddressCode(int16_t address) {
    SetBits(addressCells_.data(), 3, address);
    word_.address = address & 7;
    ShowHex();
}

void WordDisplay::SetDataBits(int32_t data) {
    SetBits(dataCells_.data(), 16, data);
    word_.data = data & 0xFFFF;
    ShowHex();
}

void WordDisplay::ShowWord(int16_t readWrite, int16_t regSelect, int16_t address, int32_t data) {
    SetReadWrite(readWrite);
    SetRegisterCode(regSelect);
    SetAddressCode(address);
    SetDataBits(data);
}

// The hexadecimal value is always that of the cells: the R/W bit never describes another word.
void WordDisplay::ShowHex() {
    const int64_t value = (int64_t{word_.readWrite} << 23) | (int64_t{word_.regSelect} << 19) |
                          (int64_t{word_.address} << 16) | word_.data;
    hex_->setText(QString::number(value, 16).toUpper());
}

}  // namespace tq
