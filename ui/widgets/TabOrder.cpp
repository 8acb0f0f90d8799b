#include "ui/widgets/TabOrder.h"

#include <QWidget>
#include <algorithm>
#include <numeric>

namespace tq {
namespace {

bool TakesTab(const QWidget* w) {
    return (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !w->focusProxy();
}

bool HoldsTabStop(const QWidget* w) {
    if (TakesTab(w))
        return true;
    for (const QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->isWindow() && HoldsTabStop(child))
            return true;
    return false;
}

// The controls under `container` in reading order, containers opened in their place. Shapes and
// labels take no part: a frame drawn around a whole group must not make one row of it.
void Collect(QWidget* container, std::vector<QWidget*>& order) {
    std::vector<QWidget*> children;
    std::vector<QRect> boxes;
    for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() || !HoldsTabStop(child))
            continue;
        children.push_back(child);
        boxes.push_back(child->geometry());
    }
    for (const std::size_t i : ReadingOrder(boxes)) {
        QWidget* child = children[i];
        if (TakesTab(child))
            order.push_back(child);
        else
            Collect(child, order);
    }
}

}  // namespace

std::vector<std::size_t> ReadingOrder(const std::vector<QRect>& boxes) {
    std::vector<std::size_t> byTop(boxes.size());
    std::iota(byTop.begin(), byTop.end(), std::size_t{0});
    std::stable_sort(byTop.begin(), byTop.end(),
                     [&](std::size_t a, std::size_t b) { return boxes[a].top() < boxes[b].top(); });
    std::vector<std::size_t> order;
    order.reserve(boxes.size());
    std::size_t start = 0;
    while (start < byTop.size()) {
        // A row: every box that overlaps the height the row has so far.
        int bottom = boxes[byTop[start]].bottom();
        std::size_t end = start + 1;
        while (end < byTop.size() && boxes[byTop[end]].top() <= bottom) {
            bottom = std::max(bottom, boxes[byTop[end]].bottom());
            ++end;
        }
        std::vector<std::size_t> row(byTop.begin() + static_cast<std::ptrdiff_t>(start),
                                     byTop.begin() + static_cast<std::ptrdiff_t>(end));
        std::stable_sort(row.begin(), row.end(), [&](std::size_t a, std::size_t b) {
            return boxes[a].left() < boxes[b].left();
        });
        order.insert(order.end(), row.begin(), row.end());
        start = end;
    }
    return order;
}

void SetReadingTabOrder(QWidget* root) {
    std::vector<QWidget*> order;
    Collect(root, order);
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

}  // namespace tq
