#pragma once
// Help, Manual: the program's manual (docs/manual.md), built into the program so that it is there
// however the system was installed, shown as formatted text with its links.

#include <QWidget>

#include "ui/WindowContext.h"

class QTextBrowser;

namespace tq {

class ManualForm : public QWidget {
public:
    explicit ManualForm(WindowContext& context);
    // The manual's text as the window shows it.
    QString Text() const;

private:
    QTextBrowser* text_;
};

}  // namespace tq
