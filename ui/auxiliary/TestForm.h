#pragma once
// "Direct Read / Write": read or write any register by its register-and-channel byte and a data
// word, both typed in hexadecimal.

#include <QWidget>
#include <optional>

#include "ui/WindowContext.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tq {

class TestForm : public QWidget {
    Q_OBJECT
public:
    explicit TestForm(WindowContext& context, QWidget* parent = nullptr);

    void Command1_Click();  // Read
    void Command2_Click();  // Write

private:
    // The Address box as a signed 16-bit number, or nothing (after a warning) when it is out
    // of that range.
    std::optional<int16_t> ReadAddress();
    struct Target {
        int16_t address;
        int16_t reg;
    };
    static Target SplitAddress(int16_t address);

    WindowContext& ctx_;
    QLabel* Label3_;
    QLabel* Label1_;
    QLineEdit* Text1_;
    QLabel* Label2_;
    QLineEdit* Text2_;
    QPushButton* Command1_;
    QPushButton* Command2_;
};

}  // namespace tq
