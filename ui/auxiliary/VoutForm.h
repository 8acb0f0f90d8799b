#pragma once
// "Program Output Voltage": one entry box per channel; Enter reads the channel's range back,
// limits the typed voltage to it and writes the matching code to the channel's data register.

#include <QWidget>
#include <array>

#include "ui/WindowContext.h"

class QLabel;
class QLineEdit;

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

private:
    // Shows a voltage that another window or a remote client wrote, without board traffic, and
    // the output protection's limits as they change.
    void ShowChange(const InstrumentChange& change);
    // The line under the channel's row: its limits and ramp, hidden while it has none.
    void ShowLimits(int16_t channel);
    int listener_ = 0;
    void EnterVoltage(int16_t address);

    WindowContext& ctx_;
    QLabel* Label5_;
    std::array<QLabel*, 4> labels_{};
    std::array<QLineEdit*, 4> boxes_{};
    std::array<QLabel*, 4> limitLines_{};
};

}  // namespace tq
