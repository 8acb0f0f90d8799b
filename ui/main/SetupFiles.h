#pragma once
// Setup files on disk: read whole and checked before anything is written to the board, written
// atomically so that a crash or a full disk never leaves half a setup.

#include <QString>
#include <QStringList>

#include "instrument/Setup.h"

namespace tq {

inline constexpr qint64 kMaxSetupFileBytes = 1 << 20;

// Throws SetupError naming the file: not a regular file, unreadable, over 1 MiB, not a setup.
Setup ReadSetupFile(const QString& path);
// ReadSetupFile, then CheckSetup for this instrument, the error naming the file.
Setup OpenSetupFile(const QString& path, const Instrument& instrument);
// Throws SetupError naming the file when it cannot be written whole; the old file then stays.
void WriteSetupFile(const QString& path, const Setup& setup);

// The four setups opened or saved last, newest first, kept between runs.
QStringList RecentSetups();
void RememberSetup(const QString& path);

}  // namespace tq
