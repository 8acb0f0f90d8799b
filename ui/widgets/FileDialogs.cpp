#include "ui/widgets/FileDialogs.h"

#include <QFileDialog>

namespace tq {

QString QtFileDialogs::OpenFileName(QWidget* parent, const QString& caption,
                                    const QString& filter) {
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QString QtFileDialogs::SaveFileName(QWidget* parent, const QString& caption,
                                    const QString& filter) {
    return QFileDialog::getSaveFileName(parent, caption, QString(), filter);
}

}  // namespace tq
