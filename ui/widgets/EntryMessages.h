#pragma once
// What a voltage box tells its user in the window's status bar, in the same words in every
// window: an empty box sends nothing, a value beyond the range is limited and the user hears what
// was sent, a read-back the entry needs and cannot get says why and what to do.

#include <QString>

class QWidget;

namespace tq {

// A volts value as the messages write it: at most six significant digits ("12", "-10.2564").
QString MessageVolts(double volts);

// "The voltage box is empty: nothing was sent. Type a voltage, then press Enter." (a value, for
// a box that takes other numbers).
QString EmptyEntryText(const QString& box, bool voltage = true);
// The one refusal of a box of the program's own windows, naming it: "DAC B low limit: 'abc' is
// not a number of volts (digits, a full stop before any decimals)", the hint only for a text that
// holds no number. `what` is what the box takes: "a whole number of milliseconds from 1 to 600000".
QString NotANumberText(const QString& box, const QString& typed, const QString& what);
// "12 V is beyond the ±10 V range: 10 V was sent"
QString BeyondRangeText(double typed, double fullScale, double sent);
// "DAC B's range could not be read back: ..."; the entry sent nothing.
QString RangeUnreadableText(const QString& channel, bool serialOutputDisabled);

// Shows `text` in the status bar of the control's window (a QStatusBar anywhere in it) for a
// while; a window without one shows nothing.
void ShowInStatusBar(QWidget* control, const QString& text);

}  // namespace tq
