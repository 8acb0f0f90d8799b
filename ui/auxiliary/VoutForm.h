#pragma once
// "Program Output Voltage": one entry box per channel; Enter reads the channel's range back,
// limits the typed voltage to it and writes the matching code to the channel's data register.
// Each box shows its channel's output as the program knows it when the window opens and after
// every change made elsewhere, "0 (CLR)" while a pin holds the outputs at 0 V, and is empty while
// the program knows nothing of the channel. The one read it makes of its own is a channel's range
// it does not know when its data is known (after a write to ALL DACs), once. An empty box, or one
// that shows a held output, sends nothing; the status line under the rows says what each Enter
// did when it did not simply send what was typed.

#include <QWidget>
#include <array>
#include <optional>

#include "ui/WindowContext.h"

class QLabel;
class QLineEdit;
class QStatusBar;

namespace tq {

class VoutForm : public QWidget {
    Q_OBJECT
public:
    explicit VoutForm(WindowContext& context, QWidget* parent = nullptr);
    ~VoutForm() override;

    void Text1_KeyPress();  // Enter in channel A's box
    void Text2_KeyPress();
    void Text3_KeyPress();
    void Text4_KeyPress();

    // Half-span of the range last read back, shared by the four boxes; 0 until the first read.
    float RangeLimit = 0.0f;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Shows the outputs after a change that another window or a remote client made, and the
    // output protection's limits as they change.
    void ShowChange(const InstrumentChange& change);
    // The channel's box from what the program knows; unless `force`, a box typed in since it was
    // last set is left alone.
    void ShowOutput(int16_t channel, bool force);
    // The line under the channel's row: its limits and ramp, hidden while it has none.
    void ShowLimits(int16_t channel);
    // Reads the range of each channel whose data the program knows but whose range it does not.
    void LearnRanges();
    int listener_ = 0;
    bool learning_ = false;
    // Enter in a channel's box: the voltage typed, within the range the board reads back and the
    // channel's limits, to the data register; the status bar says what came of it.
    void EnterVoltage(int16_t address);
    // Whether the box holds a voltage typed (not what the program showed, nor nothing), as a
    // decimal number; the status bar or a box says why not.
    bool HoldsVoltageToSend(int16_t address);
    struct EnteredVoltage {
        float volts;  // as sent: the voltage typed, within the channel's range
        int32_t code;
    };
    // Nothing when the range cannot be read (the status bar says why) or gives no code (the box
    // is emptied).
    std::optional<EnteredVoltage> LimitToRange(int16_t address, double typed);

    WindowContext& ctx_;
    QLabel* Label5_;
    std::array<QLabel*, 4> labels_{};
    std::array<QLineEdit*, 4> boxes_{};
    std::array<QLabel*, 4> limitLines_{};
    QStatusBar* status_ = nullptr;
    // The box shows "0 (CLR)" as the program put it there: no voltage to send.
    std::array<bool, 4> showsHeld_{};
};

}  // namespace tq
