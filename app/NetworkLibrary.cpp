#include "app/NetworkLibrary.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPluginLoader>

namespace tq {

NetworkLibrary* LoadNetworkLibrary(QString& why) {
    const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                         QLatin1String(kNetworkLibraryName);
    if (!QFileInfo::exists(path)) {
        why = QStringLiteral("%1 is missing; reinstall the program").arg(path);
        return nullptr;
    }
    // The loader is only a handle: the library stays loaded for the program's life, and asking
    // again gives the same instance.
    QPluginLoader loader(path);
    QObject* root = loader.instance();
    auto* library = qobject_cast<NetworkLibrary*>(root);
    if (!root)
        why = loader.errorString();
    else if (!library)
        why = QStringLiteral("%1 is from another release of the program; reinstall it").arg(path);
    return library;
}

}  // namespace tq
