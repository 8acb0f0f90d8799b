#include "app/SetupSlotFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "ui/widgets/ProgramSettings.h"

namespace tq {
namespace {

std::string Text(const QString& text) {
    return text.toStdString();
}

}  // namespace

QString SetupSlotFiles::ProgramFolder() {
    // Where the kept limits are: the folder of the program's settings file.
    return QFileInfo(ProgramSettings().fileName()).absolutePath();
}

QString SetupSlotFiles::PathOf(int slot) const {
    return QDir(folder_).filePath(QStringLiteral("setup-slot-%1.json").arg(slot));
}

std::optional<std::string> SetupSlotFiles::Load(int slot) {
    QFile file(PathOf(slot));
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        throw SlotError("setup slot " + std::to_string(slot) +
                        " cannot be read: " + Text(file.errorString()));
    // A file that large is no setup of ours: no more of it is read into memory (a device file
    // has no size; the read is bounded all the same).
    const QByteArray bytes = file.read(static_cast<qint64>(kMaxSetupSize) + 1);
    if (file.error() != QFileDevice::NoError)
        throw SlotError("setup slot " + std::to_string(slot) +
                        " cannot be read: " + Text(file.errorString()));
    if (file.size() > static_cast<qint64>(kMaxSetupSize) ||
        bytes.size() > static_cast<qsizetype>(kMaxSetupSize))
        throw SlotError("setup slot " + std::to_string(slot) + " holds more than a setup: " +
                        Text(file.fileName()) + " is not a setup of this program");
    return bytes.toStdString();
}

void SetupSlotFiles::Save(int slot, const std::string& text) {
    const auto fail = [slot](const QString& why) {
        throw SlotError("setup slot " + std::to_string(slot) + " was not written: " + Text(why));
    };
    if (!QDir().mkpath(folder_))
        fail(QStringLiteral("cannot create the folder %1").arg(folder_));
    // Written beside and renamed over the old one: a failure leaves the slot as it was.
    QSaveFile file(PathOf(slot));
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    const QByteArray bytes = QByteArray::fromStdString(text + "\n");
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        fail(file.errorString());
    }
    if (!file.commit())
        fail(file.errorString());
}

}  // namespace tq
