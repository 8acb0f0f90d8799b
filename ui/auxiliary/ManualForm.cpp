#include "ui/auxiliary/ManualForm.h"

#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace tq {

ManualForm::ManualForm(WindowContext&) {
    setObjectName(QStringLiteral("ManualForm"));
    setWindowTitle(tr("TQ2604X Evaluation Software Manual"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    text_ = new QTextBrowser(this);
    text_->setObjectName(QStringLiteral("TextManual"));
    // Links to the web go to the desktop's browser; the manual's own anchors stay here.
    text_->setOpenExternalLinks(true);
    QFile manual(QStringLiteral(":/manual/docs/manual.md"));
    if (manual.open(QIODevice::ReadOnly))
        text_->setMarkdown(QString::fromUtf8(manual.readAll()));
    else
        text_->setPlainText(tr("The manual is missing from this build of the program."));
    layout->addWidget(text_);
    resize(fontMetrics().averageCharWidth() * 100, fontMetrics().height() * 40);
}

QString ManualForm::Text() const {
    return text_->toPlainText();
}

}  // namespace tq
