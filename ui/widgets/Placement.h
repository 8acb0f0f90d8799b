#pragma once
// Placing a companion window (a tool or meter window) beside the window it belongs to, wholly on
// the screen's available area.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace tq {

// The top-left corner for a companion frame of `size` beside `anchor` (both frames, with their
// title bars): to the right with `gap` pixels between them, else to the left, else overlapping at
// the right edge of `available`; never above or left of `available`, so its title bar can always
// be taken with the mouse.
QPoint BesidePosition(const QRect& anchor, const QSize& size, const QRect& available, int gap = 12);

// Shows `companion` beside `anchor` once the window manager has placed `anchor` (when it is first
// exposed; at once if it already is). Before that, neither window's frame is known.
void ShowBesideOncePlaced(QWidget* companion, QWidget* anchor);

}  // namespace tq
