#pragma once
// Texts fitted to their boxes. The windows are laid out to a fixed design; with another face or a
// larger desktop font a caption can be wider or taller than its box. Rather than move anything,
// the font of a control whose text does not fit is made smaller until it does.

class QWidget;

namespace tq {

// Fits `widget`'s text (label, button, check box, option button, switch, entry box, list, frame
// caption) to its box, starting again from the font it was designed with. Widgets placed by a
// layout are left alone: the layout gives them room.
void FitText(QWidget* widget);

// Whether the text shows whole in its box with the font it has now.
bool TextFits(const QWidget* widget);

// From now on every control is fitted whenever it is shown, so that texts set while it was hidden
// fit too.
void InstallTextFitting();

}  // namespace tq
