#include "ui/widgets/MessageSink.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <vector>

namespace tq {
namespace {

// A short text makes a narrow box, whose title bar then cuts the title ("TQ2604X Ev...").
// The box is made wide enough for the title and the title bar's buttons beside it.
void RoomForTitle(QMessageBox& box) {
    QFont bold = box.font();
    bold.setBold(true);
    const int width = QFontMetrics(bold).horizontalAdvance(box.windowTitle()) + 160;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

// Runs the box with the program's name as its title, and the buttons given.
QMessageBox::StandardButton AskInABox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                      QMessageBox::StandardButtons buttons,
                                      QMessageBox::StandardButton preferred) {
    QMessageBox box(icon, QApplication::applicationDisplayName(), text, buttons, parent);
    box.setDefaultButton(preferred);
    RoomForTitle(box);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void BoxMessageSink::ShowMessage(QWidget* parent, MessageIcon icon, const QString& text,
                                 const QString& title) {
    QMessageBox box(parent);
    switch (icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    // Without a title of its own a box carries the program's name.
    box.setWindowTitle(title.isEmpty() ? QApplication::applicationDisplayName() : title);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    RoomForTitle(box);
    box.exec();
}

void RecordingMessageSink::ShowMessage(QWidget*, MessageIcon icon, const QString& text,
                                       const QString& title) {
    messages.push_back({icon, text, title});
    if (listener)
        listener(messages.back());
}

bool BoxMessageSink::Ask(QWidget* parent, const QString& text) {
    return AskInABox(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
                     QMessageBox::No) == QMessageBox::Yes;
}

bool BoxMessageSink::Confirm(QWidget* parent, const QString& text) {
    return AskInABox(parent, QMessageBox::Information, text, QMessageBox::Ok | QMessageBox::Cancel,
                     QMessageBox::Ok) == QMessageBox::Ok;
}

int BoxMessageSink::Choose(QWidget* parent, const QString& text, const QStringList& choices,
                           int preferred) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Question);
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setText(text);
    std::vector<QPushButton*> buttons;
    for (qsizetype i = 0; i < choices.size(); ++i) {
        const bool last = i + 1 == choices.size();
        buttons.push_back(
            box.addButton(choices[i], last ? QMessageBox::RejectRole : QMessageBox::AcceptRole));
    }
    if (buttons.empty())
        return -1;
    RoomForTitle(box);
    box.setEscapeButton(buttons.back());
    if (preferred >= 0 && preferred < static_cast<int>(buttons.size()))
        box.setDefaultButton(buttons[static_cast<std::size_t>(preferred)]);
    box.exec();
    for (std::size_t i = 0; i < buttons.size(); ++i)
        if (box.clickedButton() == buttons[i])
            return static_cast<int>(i);
    return static_cast<int>(buttons.size()) - 1;
}

int RecordingMessageSink::Choose(QWidget* parent, const QString& text, const QStringList& choices,
                                 int preferred) {
    ShowMessage(parent, MessageIcon::Question,
                text + QStringLiteral(" [") + choices.join(QLatin1Char('|')) + QLatin1Char(']'),
                QString());
    return choice >= 0 ? choice : preferred;
}

bool RecordingMessageSink::Ask(QWidget* parent, const QString& text) {
    ShowMessage(parent, MessageIcon::Question, text, QString());
    return answer;
}

bool RecordingMessageSink::Confirm(QWidget* parent, const QString& text) {
    return Ask(parent, text);
}

QString MessageIconName(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QStringLiteral("information");
        case MessageIcon::Warning:
            return QStringLiteral("warning");
        case MessageIcon::Critical:
            return QStringLiteral("critical");
        case MessageIcon::Question:
            return QStringLiteral("question");
        case MessageIcon::None:
            break;
    }
    return QStringLiteral("none");
}

}  // namespace tq
