#pragma once
// The "Input Register Contents" grid (Frame17): the 24-bit command word bit by bit, with its
// hexadecimal value. It only shows what it is told; the composer decides what and when.

#include <QGroupBox>
#include <QString>
#include <array>
#include <cstdint>

class QLabel;

namespace tq {

class WordDisplay : public QGroupBox {
    Q_OBJECT
public:
    explicit WordDisplay(QWidget* parent);

    // LabelRW: "0" or "1".
    void SetReadWrite(int16_t readWrite);
    // LabelREG2..LabelREG0 from a register select code.
    void SetRegisterCode(int16_t regSelect);
    // LabelA2..LabelA0 from an address code.
    void SetAddressCode(int16_t address);
    // LabelD15..LabelD0 from the low 16 bits of `data`.
    void SetDataBits(int32_t data);
    // LabelData.
    void SetWordText(const QString& text);

private:
    QLabel* AddCell(const QString& name, const QString& text, int left, int top, int width);
    static void SetBits(QLabel* const* cells, int count, int64_t value);

    QLabel* readWrite_ = nullptr;
    std::array<QLabel*, 3> registerCells_{};  // REG2, REG1, REG0
    std::array<QLabel*, 3> addressCells_{};   // A2, A1, A0
    std::array<QLabel*, 16> dataCells_{};     // D15 .. D0
    QLabel* word_ = nullptr;
};

}  // namespace tq
