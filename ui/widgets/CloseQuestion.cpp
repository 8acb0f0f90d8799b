#include "ui/widgets/CloseQuestion.h"

#include <QCoreApplication>
#include <QStringList>

#include "ui/widgets/MessageSink.h"

namespace tq {

CloseAnswer AskAboutRunningActivity(MessageSink& messages, QWidget* window, const QString& what) {
    const QString text =
        QCoreApplication::translate(
            "CloseQuestion",
            "%1 is still running. Stop it, or keep it running after this window closes? A run "
            "kept running shows in the main window's status bar; click it there to open this "
            "window again.")
            .arg(what);
    const QStringList choices{QCoreApplication::translate("CloseQuestion", "Stop it"),
                              QCoreApplication::translate("CloseQuestion", "Keep it running"),
                              QCoreApplication::translate("CloseQuestion", "Cancel")};
    switch (messages.Choose(window, text, choices, 1)) {
        case 0:
            return CloseAnswer::Stop;
        case 1:
            return CloseAnswer::Keep;
        default:
            return CloseAnswer::Cancel;
    }
}

}  // namespace tq
