#pragma once
// The question a window asks when it is closed while its activity runs: stop it, keep it running
// in the background (the main window's status bar shows it, and a click there opens the window
// again), or do not close.

#include <QCloseEvent>
#include <QString>

class QWidget;

namespace tq {

class MessageSink;

enum class CloseAnswer { Stop, Keep, Cancel };

// Asks about `what` ("The temperature log"), with "Keep it running" as the default.
CloseAnswer AskAboutRunningActivity(MessageSink& messages, QWidget* window, const QString& what);

// The whole closing: while `running`, asks; Stop calls `stop` and closes, Keep closes, Cancel
// ignores the event. Returns whether the window closes.
template <typename Stop>
bool CloseWithRunningActivity(QCloseEvent* event, MessageSink& messages, QWidget* window,
                              bool running, const QString& what, Stop&& stop) {
    if (running) {
        switch (AskAboutRunningActivity(messages, window, what)) {
            case CloseAnswer::Stop:
                stop();
                break;
            case CloseAnswer::Keep:
                break;
            case CloseAnswer::Cancel:
                event->ignore();
                return false;
        }
    }
    event->accept();
    return true;
}

}  // namespace tq
