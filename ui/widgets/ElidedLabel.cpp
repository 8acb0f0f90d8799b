#include "ui/widgets/ElidedLabel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

namespace tq {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
}

void ElidedLabel::SetText(const QString& text) {
    if (text == QLabel::text())
        return;
    setText(text);
    UpdateTip();
}

void ElidedLabel::SetTip(const QString& tip) {
    tip_ = tip;
    UpdateTip();
}

QString ElidedLabel::ShownText() const {
    const int width = contentsRect().width() - 2 * margin();
    return fontMetrics().elidedText(text(), Qt::ElideRight, std::max(0, width));
}

bool ElidedLabel::Elided() const {
    // Before it is laid out and shown a label has no width of its own to measure against.
    return isVisible() && ShownText() != text();
}

QSize ElidedLabel::minimumSizeHint() const {
    // Room for a few letters and the ellipsis: the rest of the text may always give way.
    const QSize full = QLabel::minimumSizeHint();
    const int few = fontMetrics().horizontalAdvance(text().left(4) + QChar(0x2026));
    return {std::min(full.width(), few + 2 * margin() + 2), full.height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect box = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&painter, box, static_cast<int>(alignment()), palette(), isEnabled(),
                          ShownText(), foregroundRole());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    UpdateTip();
}

void ElidedLabel::showEvent(QShowEvent* event) {
    QLabel::showEvent(event);
    UpdateTip();
}

void ElidedLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Clicked();
    QLabel::mouseReleaseEvent(event);
}

void ElidedLabel::UpdateTip() {
    if (!Elided()) {
        setToolTip(tip_);
        return;
    }
    setToolTip(tip_.isEmpty() ? text() : text() + QLatin1Char('\n') + tip_);
}

void SetControlTip(QWidget* control, const QString& tip) {
    if (auto* label = qobject_cast<ElidedLabel*>(control))
        label->SetTip(tip);
    else
        control->setToolTip(tip);
}

}  // namespace tq
