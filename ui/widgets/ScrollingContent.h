#pragma once
// A window's content that scrolls on a screen too short for it: the window opens at the
// content's own size where the screen has room, and can be made as short as a few rows while the
// content keeps its least size (its entries stay readable) and scrolls up and down.

class QScrollArea;
class QWidget;

namespace tq {

// `content` in a frameless scroll area that takes its width and gives way in height; put the
// result where `content` would have gone (a window's layout, or a main window's centre).
QScrollArea* ScrollingContent(QWidget* content);

// A window's whole content (a new widget the window's controls are laid out in), scrolling as
// above, as the window's only child.
void SetScrollingContent(QWidget* window, QWidget* content);

}  // namespace tq
