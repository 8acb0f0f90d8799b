#pragma once
// "Select Device": choose the 16-bit converter or its 14-bit sibling, then open the main window.

#include <QWidget>

#include "ui/WindowContext.h"

class QGroupBox;
class QPushButton;
class QRadioButton;

namespace tq {

class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(WindowContext& context, QWidget* parent = nullptr);

    void Command1_Click();  // OK

private:
    WindowContext& ctx_;
    QGroupBox* Frame1_;
    QRadioButton* Option1_;
    QRadioButton* Option2_;
    QPushButton* Command1_;
};

}  // namespace tq
