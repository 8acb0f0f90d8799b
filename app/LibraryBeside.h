#pragma once
// A library beside the program (the network library, the web page's), loaded the first time a run
// needs it, so a run that does not maps neither it nor what it links.

#include <QObject>
#include <QString>

namespace tq {

// The library's root object, or null with the reason in `why` when it is missing or cannot be
// loaded. The library stays loaded for the program's life; asking again gives the same object.
QObject* LoadLibraryBeside(const char* fileName, QString& why);

// Its root object as the interface the program knows it by; null with the reason in `why`, a
// library of another release among them (the interface's name carries the release).
template <class Interface>
Interface* LoadInterfaceBeside(const char* fileName, QString& why) {
    QObject* root = LoadLibraryBeside(fileName, why);
    auto* library = qobject_cast<Interface*>(root);
    if (root && !library)
        why = QStringLiteral("%1 is from another release of the program; reinstall it")
                  .arg(QLatin1String(fileName));
    return library;
}

}  // namespace tq
