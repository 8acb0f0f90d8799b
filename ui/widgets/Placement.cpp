#include "ui/widgets/Placement.h"

#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace tq {

namespace {

void PlaceAndShow(QWidget* companion, QWidget* anchor) {
    companion->adjustSize();
    // The companion has no frame yet: it will get one like the anchor's.
    const QSize margins = anchor->frameGeometry().size() - anchor->size();
    const QScreen* screen = anchor->screen();
    const QRect available = screen ? screen->availableGeometry() : anchor->frameGeometry();
    const BesidePlaces places =
        PlacesBeside(anchor->frameGeometry(), companion->size() + margins, available);
    if (places.anchor != anchor->frameGeometry().topLeft())
        anchor->move(places.anchor);
    companion->move(places.companion);
    companion->show();
}

// Waits for the anchor's first exposure, then places the companion and goes.
class ExposeWatch : public QObject {
public:
    ExposeWatch(QWidget* companion, QWidget* anchor)
        : QObject(companion), companion_(companion), anchor_(anchor) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && anchor_ && anchor_->windowHandle() == watched &&
            anchor_->windowHandle()->isExposed()) {
            watched->removeEventFilter(this);
            PlaceAndShow(companion_, anchor_);
            deleteLater();
        }
        return false;
    }

private:
    QWidget* companion_;
    QPointer<QWidget> anchor_;
};

}  // namespace

BesidePlaces PlacesBeside(const QRect& anchor, const QSize& size, const QRect& available, int gap) {
    const auto within = [&](int y) {
        return std::max(std::min(y, available.bottom() + 1 - size.height()), available.top());
    };
    const int top = within(anchor.top());
    // Beside it, as it stands.
    if (anchor.right() + gap + size.width() <= available.right())
        return {anchor.topLeft(), {anchor.right() + 1 + gap, top}};
    if (anchor.left() - gap - size.width() >= available.left())
        return {anchor.topLeft(), {anchor.left() - gap - size.width(), top}};
    // Side by side across the screen, the anchor moved over as little as it takes.
    const int room = available.width() - anchor.width() - size.width();
    if (room >= 0) {
        const int between = std::min(gap, room);
        const int left = available.right() + 1 - size.width() - between - anchor.width();
        const QPoint moved(std::max(available.left(), std::min(anchor.left(), left)), anchor.top());
        return {moved, {moved.x() + anchor.width() + between, top}};
    }
    const int x =
        std::max(available.left(), std::min(anchor.left(), available.right() + 1 - size.width()));
    if (anchor.bottom() + gap + size.height() <= available.bottom())
        return {anchor.topLeft(), {x, anchor.bottom() + 1 + gap}};
    if (anchor.top() - gap - size.height() >= available.top())
        return {anchor.topLeft(), {x, anchor.top() - gap - size.height()}};
    return {anchor.topLeft(),
            {std::max(available.left(), available.right() + 1 - size.width()), top}};
}

QRect OnScreen(const QRect& frame, const QSize& least, const QRect& available) {
    const QSize size(std::max(std::min(frame.width(), available.width()), least.width()),
                     std::max(std::min(frame.height(), available.height()), least.height()));
    const auto within = [](int at, int length, int low, int room) {
        return std::max(std::min(at, low + room - length), low);
    };
    return {within(frame.x(), size.width(), available.x(), available.width()),
            within(frame.y(), size.height(), available.y(), available.height()), size.width(),
            size.height()};
}

void ShowBesideOncePlaced(QWidget* companion, QWidget* anchor) {
    QWindow* window = anchor->windowHandle();
    if (window && window->isExposed()) {
        PlaceAndShow(companion, anchor);
        return;
    }
    anchor->winId();  // makes the window handle to watch
    anchor->windowHandle()->installEventFilter(new ExposeWatch(companion, anchor));
}

}  // namespace tq
