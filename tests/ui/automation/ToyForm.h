#pragma once
// Small top-level windows for driving the console: every kind of control it knows, some hidden,
// disabled or read-only, a menu, and a log of the handlers that ran.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <memory>
#include <string>
#include <vector>

#include "ui/widgets/Toggle.h"

namespace tq::testing {

struct ToyForm {
    std::unique_ptr<QMainWindow> window = std::make_unique<QMainWindow>();
    std::unique_ptr<QWidget> hiddenWindow = std::make_unique<QWidget>();
    std::vector<std::string> ran;  // handlers, in order

    QLineEdit* text1 = nullptr;
    QComboBox* combo1 = nullptr;
    QCheckBox* check1 = nullptr;
    QRadioButton* option1 = nullptr;
    QLabel* label1 = nullptr;
    Toggle* toggle1 = nullptr;

    ToyForm() {
        window->setObjectName("ToyForm");
        window->setWindowTitle("Toy Form");
        auto* central = new QWidget(window.get());
        window->setCentralWidget(central);

        text1 = Add<QLineEdit>(central, "Text1");
        QObject::connect(text1, &QLineEdit::returnPressed,
                         [this] { Log("Text1 return " + text1->text()); });
        QObject::connect(text1, &QLineEdit::textEdited,
                         [this](const QString& t) { Log("Text1 edited " + t); });
        Add<QLineEdit>(central, "HiddenText")->hide();
        Add<QLineEdit>(central, "ReadOnlyText")->setReadOnly(true);

        combo1 = Add<QComboBox>(central, "Combo1");
        combo1->addItems({"Data Register", "Fine Gain", "Offset"});
        QObject::connect(combo1, &QComboBox::activated,
                         [this](int i) { Log("Combo1 " + combo1->itemText(i)); });
        auto* disabledCombo = Add<QComboBox>(central, "DisabledCombo");
        disabledCombo->addItem("Only");
        disabledCombo->setEnabled(false);

        check1 = Add<QCheckBox>(central, "Check1", "&Pulse && Go");
        option1 = Add<QRadioButton>(central, "Option1", "Option &1");
        option1->setChecked(true);
        Add<QRadioButton>(central, "Option2", "Option &2");
        Add<QPushButton>(central, "Command1", "&Apply");
        Add<QPushButton>(central, "HiddenButton", "Hidden")->hide();
        Add<QPushButton>(central, "DisabledButton", "Disabled")->setEnabled(false);
        toggle1 = new Toggle("Input", "Output", central);
        toggle1->setObjectName("Toggle1");
        QObject::connect(toggle1, &Toggle::Changed, [this] { Log("Toggle1"); });

        label1 = Add<QLabel>(central, "Label1", "R&&D\r\nsecond line");
        Add<QLabel>(central, "Label2", "<b>Bold</b> &amp; plain");
        Add<QGroupBox>(central, "Frame1", "&Settings");
        auto* hiddenFrame = Add<QGroupBox>(central, "HiddenFrame", "Hidden frame");
        Add<QPushButton>(hiddenFrame, "InnerButton", "Inner");
        hiddenFrame->hide();
        auto* disabledFrame = Add<QGroupBox>(central, "DisabledFrame", "Disabled frame");
        Add<QPushButton>(disabledFrame, "DisabledInner", "Inner");
        disabledFrame->setEnabled(false);

        QMenu* file = window->menuBar()->addMenu("&File");
        AddAction(file, "MnuGo", "&Go");
        AddAction(file, "MnuOff", "Off")->setEnabled(false);
        AddAction(file, "MnuHidden", "Hidden")->setVisible(false);

        hiddenWindow->setObjectName("HiddenForm");
        Add<QPushButton>(hiddenWindow.get(), "Button", "Button");

        window->show();
    }

    void Log(const QString& text) { ran.push_back(text.toStdString()); }

    template <typename T>
    T* Add(QWidget* parent, const char* name) {
        auto* widget = new T(parent);
        widget->setObjectName(name);
        if constexpr (std::is_base_of_v<QAbstractButton, T>) {
            QObject::connect(widget, &QAbstractButton::clicked, [this, name] { Log(name); });
        }
        return widget;
    }

    template <typename T>
    T* Add(QWidget* parent, const char* name, const char* caption) {
        T* widget = Add<T>(parent, name);
        if constexpr (std::is_same_v<T, QGroupBox>) {
            widget->setTitle(caption);
        } else {
            widget->setText(caption);
        }
        return widget;
    }

    QAction* AddAction(QMenu* menu, const char* name, const char* caption) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        QObject::connect(action, &QAction::triggered, [this, name] { Log(name); });
        return action;
    }
};

}  // namespace tq::testing
