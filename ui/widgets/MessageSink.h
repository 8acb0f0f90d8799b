#pragma once
// Message boxes go through this interface so that tests and the automation console can record
// them instead of blocking on a modal box.

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

namespace tq {

enum class MessageIcon { None, Information, Warning, Critical, Question };

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows a box with one OK button and returns when it is closed.
    virtual void ShowMessage(QWidget* parent, MessageIcon icon, const QString& text,
                             const QString& title = QString()) = 0;
    // Asks a question with Yes and No; true for Yes.
    virtual bool Ask(QWidget* parent, const QString& text) = 0;
    // Asks the user to do something first, with OK and Cancel; true for OK.
    virtual bool Confirm(QWidget* parent, const QString& text) = 0;
    // Asks a question with a button for each of `choices`, the last of which cancels (Esc, or
    // closing the box, chooses it too). Returns the index chosen; `preferred` is the default.
    virtual int Choose(QWidget* parent, const QString& text, const QStringList& choices,
                       int preferred) = 0;
};

// Real modal message boxes.
class BoxMessageSink : public MessageSink {
public:
    void ShowMessage(QWidget* parent, MessageIcon icon, const QString& text,
                     const QString& title) override;
    bool Ask(QWidget* parent, const QString& text) override;
    bool Confirm(QWidget* parent, const QString& text) override;
    int Choose(QWidget* parent, const QString& text, const QStringList& choices,
               int preferred) override;
};

// Records boxes (accepted at once); an optional listener sees each as it is shown.
class RecordingMessageSink : public MessageSink {
public:
    struct Message {
        MessageIcon icon;
        QString text;
        QString title;
    };
    void ShowMessage(QWidget* parent, MessageIcon icon, const QString& text,
                     const QString& title) override;
    // Recorded as a "question" box and answered with `answer` (Yes, or OK, unless a test says
    // No, or Cancel).
    bool Ask(QWidget* parent, const QString& text) override;
    bool Confirm(QWidget* parent, const QString& text) override;
    // Recorded as a "question" box with its choices after the text ("... [Stop it|Cancel]") and
    // answered with `choice`, or the box's default while it is negative.
    int Choose(QWidget* parent, const QString& text, const QStringList& choices,
               int preferred) override;

    std::vector<Message> messages;
    bool answer = true;
    int choice = -1;
    std::function<void(const Message&)> listener;
};

// "warning", "information", "critical", "question", "none".
QString MessageIconName(MessageIcon icon);

}  // namespace tq
