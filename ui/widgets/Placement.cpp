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
    companion->move(
        BesidePosition(anchor->frameGeometry(), companion->size() + margins, available));
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

QPoint BesidePosition(const QRect& anchor, const QSize& size, const QRect& available, int gap) {
    int x = anchor.right() + 1 + gap;
    if (x + size.width() - 1 > available.right()) {
        x = anchor.left() - gap - size.width();
        if (x < available.left())
            x = available.right() + 1 - size.width();
    }
    x = std::max(x, available.left());
    int y = std::min(anchor.top(), available.bottom() + 1 - size.height());
    y = std::max(y, available.top());
    return {x, y};
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
