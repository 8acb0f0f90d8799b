#pragma once
// The check every decimal entry box makes before it reads its text. The program's number reading
// (core/Encoding.h, ParseNumber) takes any text and gives 0 where it finds no number, and stops at
// a comma: "x" would write 0 V and "1,5" (a decimal comma, as many desktops type it) 1 V. The boxes
// refuse such texts instead; every other text keeps its meaning ("", "12V", "1.5.7", "&H1F",
// "1 5" read as 15).

#include <optional>
#include <string_view>

class QLineEdit;

namespace tq {

// False for a text that holds no number at all ("x", "-", "&H"), or whose number goes on with a
// comma and a digit ("1,5", "-0,25", "1e3,5"). Blanks count as nothing, as ParseNumber has them.
// The empty text passes: each box gives it its own meaning.
bool HoldsDecimalNumber(std::string_view text);

// Checks the box's text: true when it may be read. A refused text empties the box and gives it
// the focus, as every failed entry does; the caller then writes nothing.
bool TakeDecimalEntry(QLineEdit* box);

// The one rule of the boxes of the waveform, protection, meter and temperature log windows: the
// number the text holds, read as the composer and Output Voltages read theirs ("12V" 12, "&H1F"
// 31, "1 5" 15). Nothing for the empty text, for a text HoldsDecimalNumber refuses, and for a
// number too large to be finite.
std::optional<double> EntryNumber(std::string_view text);

}  // namespace tq
