#include "ui/widgets/MessageSink.h"

#include <QApplication>
#include <QMessageBox>

namespace tq {

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
    box.exec();
}

void RecordingMessageSink::ShowMessage(QWidget*, MessageIcon icon, const QString& text,
                                       const QString& title) {
    messages.push_back({icon, text, title});
    if (listener)
        listener(messages.back());
}

bool BoxMessageSink::Ask(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, QApplication::applicationDisplayName(), text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool BoxMessageSink::Confirm(QWidget* parent, const QString& text) {
    return QMessageBox::information(parent, QApplication::applicationDisplayName(), text,
                                    QMessageBox::Ok | QMessageBox::Cancel,
                                    QMessageBox::Ok) == QMessageBox::Ok;
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
