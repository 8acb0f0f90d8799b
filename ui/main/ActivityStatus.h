#pragma once
// What the main window's status bar says of a running activity, and which window shows it.

#include <optional>
#include <string>

#include "instrument/Activities.h"
#include "ui/WindowContext.h"

namespace tq {

// "Waveform run 120/600", "Temperature log 42 readings", "Linearity test DAC A 12/257",
// "Automatic calibration DAC A-D 3/16"; an activity a remote client started says so at the end
// (" (remote)").
std::string ActivityStatusText(const Activity& activity, bool remote);

// The window that shows and stops the activity, or nothing (a ramp has none of its own).
std::optional<WindowId> ActivityWindow(const Activity& activity);

}  // namespace tq
