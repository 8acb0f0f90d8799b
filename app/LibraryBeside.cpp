#include "app/LibraryBeside.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPluginLoader>

namespace tq {

QObject* LoadLibraryBeside(const char* fileName, QString& why) {
    const QString path =
        QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(fileName);
    if (!QFileInfo::exists(path)) {
        why = QStringLiteral("%1 is missing; reinstall the program").arg(path);
        return nullptr;
    }
    // The loader is only a handle: the library stays loaded.
    QPluginLoader loader(path);
    QObject* root = loader.instance();
    if (!root)
        why = loader.errorString();
    return root;
}

}  // namespace tq
