#pragma once
// Tab in reading order: frame by frame, and within each from the top row down, left to right,
// whatever order the controls were made in.

#include <QRect>
#include <vector>

class QWidget;

namespace tq {

// The order in which to read boxes: rows from the top (a box joins a row when it overlaps the
// row's height), each row from the left. Returns indexes into `boxes`.
std::vector<std::size_t> ReadingOrder(const std::vector<QRect>& boxes);

// Sets the tab order of every control under `root` that takes the focus by Tab, in reading
// order; a container's controls (a frame's) come together, in the container's place.
void SetReadingTabOrder(QWidget* root);

}  // namespace tq
