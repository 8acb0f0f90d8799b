#include "ui/widgets/Toggle.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <algorithm>

namespace tq {

namespace {
// The switch's track, drawn left of the caption.
constexpr int kTrackWidth = 30;
constexpr int kTrackHeight = 16;
constexpr int kKnobInset = 2;
constexpr int kCaptionGap = 6;
constexpr int kMargin = 2;
}  // namespace

Toggle::Toggle(const QString& falseCaption, const QString& trueCaption, QWidget* parent)
    : QAbstractButton(parent), falseCaption_(falseCaption), trueCaption_(trueCaption) {
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    // clicked() comes only from a click, the space key or click(); setChecked() raises toggled()
    // alone, so SetState() from code never reaches the handlers.
    connect(this, &QAbstractButton::clicked, this, [this] { emit Changed(); });
    connect(this, &QAbstractButton::toggled, this, [this] { UpdateCaption(); });
    UpdateCaption();
}

void Toggle::SetState(bool state) {
    setChecked(state);
    UpdateCaption();
}

void Toggle::UpdateCaption() {
    const QString& caption = isChecked() ? trueCaption_ : falseCaption_;
    if (text() != caption)
        setText(caption);
    update();
}

QSize Toggle::sizeHint() const {
    const QFontMetrics fm(font());
    const int captionWidth =
        std::max(fm.horizontalAdvance(falseCaption_), fm.horizontalAdvance(trueCaption_));
    const int height = std::max(kTrackHeight, fm.height()) + 2 * kMargin;
    return {kMargin + kTrackWidth + kCaptionGap + captionWidth + kMargin, height};
}

void Toggle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool on = isChecked();
    const bool enabled = isEnabled();
    const QPalette& pal = palette();

    const QRectF track(kMargin + 0.5, (height() - kTrackHeight) / 2.0 + 0.5, kTrackWidth - 1,
                       kTrackHeight - 1);
    QColor trackColour = on ? pal.color(QPalette::Highlight) : pal.color(QPalette::Mid);
    if (!enabled)
        trackColour = pal.color(QPalette::Disabled, QPalette::Midlight);
    p.setPen(QPen(
        enabled ? pal.color(QPalette::Dark) : pal.color(QPalette::Disabled, QPalette::Mid), 1.0));
    p.setBrush(trackColour);
    p.drawRoundedRect(track, kTrackHeight / 2.0, kTrackHeight / 2.0);

    const double knobSize = kTrackHeight - 2 * kKnobInset;
    const double knobLeft =
        on ? track.right() - kKnobInset - knobSize + 0.5 : track.left() + kKnobInset - 0.5;
    const QRectF knob(knobLeft, track.top() + kKnobInset - 0.5, knobSize, knobSize);
    p.setBrush(enabled ? pal.color(QPalette::Base)
                       : pal.color(QPalette::Disabled, QPalette::Button));
    p.drawEllipse(knob);

    const QRect captionRect(kMargin + kTrackWidth + kCaptionGap, 0,
                            width() - (kMargin + kTrackWidth + kCaptionGap), height());
    p.setPen(pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.setFont(font());
    p.drawText(captionRect, Qt::AlignLeft | Qt::AlignVCenter, text());

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(0, 0, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
}

}  // namespace tq
