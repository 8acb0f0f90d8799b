#include "ui/widgets/FrameCaptionStyle.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionGroupBox>
#include <QWidget>
#include <optional>

#include "ui/widgets/FitText.h"

namespace tq {

namespace {
// A copy of a frame's option measured and coloured for its caption, or nothing for other
// controls and for frames without caption properties.
std::optional<QStyleOptionGroupBox> CaptionOption(const QStyleOptionComplex* option,
                                                  const QWidget* widget) {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (!box || !widget)
        return std::nullopt;
    const QVariant font = widget->property("captionFont");
    const QVariant colour = widget->property("captionColour");
    if (!font.isValid() && !colour.isValid())
        return std::nullopt;
    QStyleOptionGroupBox caption(*box);
    if (font.isValid())
        caption.fontMetrics = QFontMetrics(font.value<QFont>());
    if (colour.isValid()) {
        caption.palette.setColor(QPalette::WindowText, colour.value<QColor>());
        caption.textColor = colour.value<QColor>();
    }
    return caption;
}
}  // namespace

void FrameCaptionStyle::drawComplexControl(ComplexControl control,
                                           const QStyleOptionComplex* option, QPainter* painter,
                                           const QWidget* widget) const {
    const auto caption = control == CC_GroupBox ? CaptionOption(option, widget) : std::nullopt;
    if (!caption) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    painter->save();
    const QVariant font = widget->property("captionFont");
    if (font.isValid())
        painter->setFont(font.value<QFont>());
    QProxyStyle::drawComplexControl(control, &*caption, painter, widget);
    painter->restore();
}

QRect FrameCaptionStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                        SubControl subControl, const QWidget* widget) const {
    const auto caption = control == CC_GroupBox ? CaptionOption(option, widget) : std::nullopt;
    return QProxyStyle::subControlRect(control, caption ? &*caption : option, subControl, widget);
}

void InstallFrameCaptionStyle() {
    if (!qobject_cast<FrameCaptionStyle*>(QApplication::style()))
        QApplication::setStyle(new FrameCaptionStyle(QApplication::style()->name()));
    // Part of the program's look: the fixed windows' texts shrink to their boxes.
    InstallTextFitting();
}

}  // namespace tq
