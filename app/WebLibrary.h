#pragma once
// Loading the web page's library (web/WebLibrary.h says what it offers).

#include <QString>

#include "web/WebLibrary.h"

namespace tq {

// The library beside the program; null with the reason in `why` when it is missing or from
// another release.
WebLibrary* LoadWebLibrary(QString& why);

}  // namespace tq
