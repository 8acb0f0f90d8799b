#include "ui/main/SetupFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#include "ui/widgets/ProgramSettings.h"

namespace tq {
namespace {

constexpr int kRecentCount = 4;
const QString kRecentKey = QStringLiteral("recentSetups");

[[noreturn]] void Refuse(const QString& path, const QString& why) {
    throw SetupError(QDir::toNativeSeparators(path).toStdString() + ": " + why.toStdString());
}

}  // namespace

Setup ReadSetupFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        Refuse(path, QStringLiteral("no such file"));
    if (!info.isFile())
        Refuse(path, QStringLiteral("not a regular file"));
    if (info.size() > kMaxSetupFileBytes)
        Refuse(path, QStringLiteral("larger than a setup can be (1 MiB)"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Refuse(path, QStringLiteral("cannot be read: ") + file.errorString());
    const QByteArray bytes = file.read(kMaxSetupFileBytes + 1);
    if (bytes.size() > kMaxSetupFileBytes)
        Refuse(path, QStringLiteral("larger than a setup can be (1 MiB)"));
    try {
        return SetupFromJson(
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    } catch (const SetupError& e) {
        Refuse(path, QString::fromStdString(e.what()));
    }
}

void WriteSetupFile(const QString& path, const Setup& setup) {
    const std::string text = SetupToJson(setup);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        Refuse(path, QStringLiteral("cannot be written: ") + file.errorString());
    // commit() alone reports success for a file cut short by a full disk or a size limit; the
    // flush is what notices, and then the old file must stay.
    if (file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.flush()) {
        file.cancelWriting();
        file.commit();
        Refuse(path, QStringLiteral("cannot be written whole (is the disk full?); the file "
                                    "keeps what it held"));
    }
    if (!file.commit())
        Refuse(path, QStringLiteral("cannot be written: ") + file.errorString());
}

Setup OpenSetupFile(const QString& path, const Instrument& instrument) {
    Setup setup = ReadSetupFile(path);
    try {
        CheckSetup(setup, instrument);
    } catch (const SetupError& e) {
        Refuse(path, QString::fromStdString(e.what()));
    }
    return setup;
}

QStringList RecentSetups() {
    QStringList recent = ProgramSettings().value(kRecentKey).toStringList();
    while (recent.size() > kRecentCount)
        recent.removeLast();
    return recent;
}

void RememberSetup(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList recent = RecentSetups();
    recent.removeAll(absolute);
    recent.prepend(absolute);
    while (recent.size() > kRecentCount)
        recent.removeLast();
    ProgramSettings().setValue(kRecentKey, recent);
}

}  // namespace tq
