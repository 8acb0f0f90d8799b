#pragma once
// The output protection's limits and options, kept between runs in the program's settings.

#include <QSettings>
#include <QStringList>

#include "instrument/Instrument.h"

namespace tq {

// Writes every channel's limits and the options as the instrument has them now.
void SaveProtection(QSettings& settings, const Instrument& instrument);

// Gives the instrument what `settings` kept. A channel whose kept limits cannot be read or used
// keeps no limits; each such channel's reason is returned, naming the channel.
QStringList LoadProtection(QSettings& settings, Instrument& instrument);

}  // namespace tq
