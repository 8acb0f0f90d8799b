#pragma once
// Windows come back where the user left them: each window's place (and size, where it can be
// resized) is kept in the program's settings under its object name, written when it is hidden or
// moved (only when it differs from the one kept) and taken back when it is first shown. A kept
// place that no screen shows any more is brought back onto the screen.

#include <QByteArray>
#include <QString>

class QSettings;
class QWidget;

namespace tq {

// Keeps `window`'s place from now on, in `settings`, which must outlive the window. The settings
// write the place to their file when they next sync.
void KeepWindowPlace(QWidget* window, QSettings& settings);

// Whether a place is kept for the window of this object name.
bool HasKeptPlace(const QString& name, const QSettings& settings);

}  // namespace tq
