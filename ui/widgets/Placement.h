#pragma once
// Placing a companion window (a tool or meter window) beside the window it belongs to, wholly on
// the screen's available area.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace tq {

// Where a companion frame of `size` goes beside `anchor` (both frames, with their title bars),
// wholly on `available`: to the right with up to `gap` pixels between them, else to the left;
// where neither side has room but the two fit side by side on the screen, the anchor moves over
// to make it; else below, else above; only when nothing fits does the companion overlap the
// anchor, at the right edge of `available`. Never above or left of `available`, so a title bar
// can always be taken with the mouse. `anchor` is the anchor's corner after (moved or not).
struct BesidePlaces {
    QPoint anchor;
    QPoint companion;
};
BesidePlaces PlacesBeside(const QRect& anchor, const QSize& size, const QRect& available,
                          int gap = 12);

// Where a window's frame (title bar included) goes so that all of it is on `available`: where it
// is, if it fits; else made smaller, down to `least` (the frame's least size), and moved onto the
// area; a frame whose least size is larger still than the area keeps its title bar on it.
QRect OnScreen(const QRect& frame, const QSize& least, const QRect& available);

// Shows `companion` beside `anchor` once the window manager has placed `anchor` (when it is first
// exposed; at once if it already is). Before that, neither window's frame is known. The anchor
// may move over within the screen to make room (PlacesBeside).
void ShowBesideOncePlaced(QWidget* companion, QWidget* anchor);

}  // namespace tq
