#pragma once
// Texts fitted to their boxes. The windows are laid out to a fixed design; with another face or a
// larger desktop font a caption can be wider or taller than its box. Rather than move anything,
// the font of a control whose text does not fit is made smaller until it does.

class QString;
class QWidget;

namespace tq {

// Fits `widget`'s text (label, button, check box, option button, switch, entry box, list, frame
// caption) to its box, starting again from the font it was designed with. Widgets placed by a
// layout are left alone: the layout gives them room.
void FitText(QWidget* widget);

// Whether the text shows whole in its box with the font it has now.
bool TextFits(const QWidget* widget);

// From now on each fit is kept with everything it was made for (the control's kind, texts, box and
// room, the screen, the style, the font and what the fonts in use make of it) and read from `file`
// and written back by SaveTextFits(): a later run that meets the same finds its sizes there
// without measuring its texts again. Without this call, or after it with an empty name, fits are
// measured every time.
void KeepTextFits(const QString& file);
// Writes the kept fits where a fit was added since they were read; false if they could not be.
bool SaveTextFits();

// From now on every control is fitted whenever it is shown, so that texts set while it was hidden
// fit too.
void InstallTextFitting();

}  // namespace tq
