#include "ui/widgets/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

#include "ui/widgets/ProgramSettings.h"

namespace tq {
namespace {

const QString kLastFolder = QStringLiteral("files/lastFolder");

QString StartFolder() {
    const QString kept = ProgramSettings().value(kLastFolder).toString();
    return !kept.isEmpty() && QFileInfo(kept).isDir() ? kept : QDir::homePath();
}

QString Remember(const QString& path) {
    if (!path.isEmpty()) {
        QSettings settings = ProgramSettings();
        settings.setValue(kLastFolder, QFileInfo(path).absolutePath());
    }
    return path;
}

}  // namespace

QString WithDefaultSuffix(const QString& path, const QString& suffix) {
    if (path.isEmpty() || suffix.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    return path + QLatin1Char('.') + suffix;
}

QString FilterSuffix(const QString& filter) {
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    const QRegularExpressionMatch match = pattern.match(filter);
    return match.hasMatch() ? match.captured(1) : QString();
}

QString QtFileDialogs::OpenFileName(QWidget* parent, const QString& caption,
                                    const QString& filter) {
    return Remember(QFileDialog::getOpenFileName(parent, caption, StartFolder(), filter));
}

QString QtFileDialogs::SaveFileName(QWidget* parent, const QString& caption,
                                    const QString& filter) {
    QFileDialog dialog(parent, caption, StartFolder(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(FilterSuffix(filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return Remember(dialog.selectedFiles().constFirst());
}

}  // namespace tq
