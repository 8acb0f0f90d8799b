#pragma once
// What the program keeps between runs (the recent setups, the output protection) lives in the
// user's configuration folder under the program's name.

#include <QSettings>

namespace tq {

inline QSettings ProgramSettings() {
    return QSettings(QStringLiteral("tq2604x-eval"), QStringLiteral("tq2604x-eval"));
}

}  // namespace tq
