#pragma once
// The "Input Register Contents" grid (Frame17): the 24-bit command word bit by bit, with its
// hexadecimal value, which always follows the cells. It only shows what it is told; the composer
// decides what and when.

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
    // All of them at once: the word just sent, or read with the register's value as data.
    void ShowWord(int16_t readWrite, int16_t regSelect, int16_t address, int32_t data);

private:
    QLabel* AddCell(const QString& name, const QString& text, int left, int top, int width);
    static void SetBits(QLabel* const* cells, int count, int64_t value);
    void ShowHex();

    struct Word {
        int32_t readWrite = 0, regSelect = 0, address = 0, data = 0;
    };
    Word word_;

    QLabel* readWrite_ = nullptr;
    std::array<QLabel*, 3> registerCells_{};  // REG2, REG1, REG0
    std::array<QLabel*, 3> addressCells_{};   // A2, A1, A0
    std::array<QLabel*, 16> dataCells_{};     // D15 .. D0
    QLabel* hex_ = nullptr;                   // LabelData
};

}  // namespace tq
