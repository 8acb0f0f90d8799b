#pragma once
// Windows come back where the user left them: each window's place (and size, where it can be
// resized) is kept in the program's settings under its object name, written when it is hidden or
// moved (only when it differs from the one kept) and taken back when it is first shown. Whatever
// the kept place, a window opens wholly on a screen: a place that is off the screen now, or a
// window taller than the screen, is moved onto it and made smaller (down to its least size). A
// window without a kept place opens over its home window (the main window), on its screen.

#include <QByteArray>
#include <QString>

class QSettings;
class QWidget;

namespace tq {

// Keeps `window`'s place from now on, in `settings`, which must outlive the window. The settings
// write the place to their file when they next sync. `home` is the window it opens over the
// first time (none: where the window manager puts it).
void KeepWindowPlace(QWidget* window, QSettings& settings, QWidget* home = nullptr);

// Whether a place is kept for the window of this object name.
bool HasKeptPlace(const QString& name, const QSettings& settings);

}  // namespace tq
