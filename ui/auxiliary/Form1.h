#pragma once
// The legacy single-voltage panel: one corrected voltage written with a plain word write, a
// two-byte read-back, and an indicator of its own board connection. Closing it ends the program.
// Load with an empty voltage box sends nothing; a voltage beyond ±10 V is limited and the status
// bar says what was sent.

#include <QMainWindow>

#include "ui/WindowContext.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace tq {

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(WindowContext& context, QWidget* parent = nullptr);

    // Connects the board and loads its firmware; the indicator turns green when that succeeds.
    // Called by the program right after making the window.
    bool Form_Load();

    void Command1_Click();  // Load
    void CmdRead_Click();   // ReadBack
    void MnuExit_Click();
    void MnuI2c_Click();

    // The word write with the command byte as DeviceState composes it and DataValue.
    void LegacyWriteWord();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The parts of the window the constructor builds, in its order.
    void BuildMenu();
    void BuildVoltageFrame(QWidget* client);
    void BuildCorrections(QWidget* client);
    // What Load typed and sent, for the words of a refusal.
    struct Entry {
        double typed;
        double sent;
    };
    // The word write; a refusal is told in the status bar and a box, in the entry's words when
    // there is one.
    void SendComposedWord(const Entry* entry);
    void SetIndicator(const QColor& colour);
    // After a refused write: the voltage the composed word's channel outputs as the program
    // knows it, or an empty box.
    void ShowHeldVoltage();
    // Reads a correction box in single precision; a value beyond the float range empties the
    // box and gives it the focus.
    bool ReadCorrection(QLineEdit* box, float& value);

    WindowContext& ctx_;
    QMenu* MnuFile_;
    QAction* MnuExit_;
    QAction* MnuLine_;
    QAction* MnuI2c_;
    QFrame* Shape1_;
    QGroupBox* Frame1_;
    QLineEdit* Text1_;
    QLabel* Label1_;
    QPushButton* CmdRead_;
    QLabel* Label5_;
    QLabel* Label2_;
    QLineEdit* OffText_;
    QLabel* Label3_;
    QLineEdit* NGainText_;
    QLabel* Label4_;
    QLineEdit* PGainText_;
    QPushButton* Command1_;
};

}  // namespace tq
