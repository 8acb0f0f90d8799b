#pragma once
// The "Simulated Bench" window: what a voltmeter and a logic probe would show on the simulated
// board, and the die temperature the board's converter reads.

#include <QWidget>

#include "ui/WindowContext.h"

class QLabel;
class QLineEdit;

namespace tq {

class BenchForm : public QWidget {
    Q_OBJECT
public:
    // context.bench must be set: this window exists only with the simulated board.
    explicit BenchForm(WindowContext& context);

    // Read the bench again: output voltages, line levels, and the temperature unless the user
    // is editing it.
    void Refresh();

private:
    void TextTemp_KeyPress();
    void TextLatency_KeyPress();

    SimulatedBench& bench_;
    QLabel* labelVout_[4] = {};
    QLineEdit* textTemp_ = nullptr;
    QLabel* labelD0_ = nullptr;
    QLabel* labelD1_ = nullptr;
    QLineEdit* textLatency_ = nullptr;
};

}  // namespace tq
