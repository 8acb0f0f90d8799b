#include "ui/widgets/ElidingStatusBar.h"

#include <QPaintEvent>
#include <QPainter>
#include <QSizeGrip>
#include <QStyleOption>
#include <algorithm>

namespace tq {

ElidingStatusBar::ElidingStatusBar(QWidget* parent) : QStatusBar(parent) {
    connect(this, &QStatusBar::messageChanged, this, &ElidingStatusBar::UpdateTip);
}

QRect ElidingStatusBar::MessageRect() const {
    // As Qt places it: from 6 pixels in to 2 pixels before the first lasting text.
    int right = width() - 12;
    for (const QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isVisible() && !qobject_cast<const QSizeGrip*>(child))
            right = std::min(right, child->x() - 2);
    return {6, 0, std::max(0, right - 6), height()};
}

QString ElidingStatusBar::ShownMessage() const {
    return fontMetrics().elidedText(currentMessage(), Qt::ElideRight, MessageRect().width());
}

void ElidingStatusBar::paintEvent(QPaintEvent* event) {
    if (currentMessage().isEmpty()) {
        QStatusBar::paintEvent(event);
        return;
    }
    // What QStatusBar draws while a message shows, with the message elided.
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_PanelStatusBar, &option, &painter, this);
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisible() || qobject_cast<QSizeGrip*>(child))
            continue;
        QStyleOption item;
        item.rect = child->geometry().adjusted(-2, -1, 2, 1);
        item.palette = palette();
        item.state = QStyle::State_None;
        if (event->rect().intersects(item.rect))
            style()->drawPrimitive(QStyle::PE_FrameStatusBarItem, &item, &painter, child);
    }
    painter.setPen(palette().windowText().color());
    painter.drawText(MessageRect(), Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
                     ShownMessage());
    // The lasting texts may have moved since the message came.
    UpdateTip();
}

void ElidingStatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    UpdateTip();
}

void ElidingStatusBar::UpdateTip() {
    const QString message = currentMessage();
    const QString tip = !message.isEmpty() && ShownMessage() != message ? message : QString();
    if (toolTip() != tip)
        setToolTip(tip);
}

}  // namespace tq
