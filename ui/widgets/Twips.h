#pragma once
// The windows are laid out in twips, 15 to a pixel, and share a few caption styles.

#include <QColor>
#include <QFont>
#include <QGroupBox>
#include <QRect>
#include <QWidget>

namespace tq {

inline constexpr int kTwipsPerPixel = 15;

inline QRect Twips(int left, int top, int width, int height) {
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                 height / kTwipsPerPixel);
}

inline void PlaceTwips(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(Twips(left, top, width, height));
}

inline QFont BoldSans(double points) {
    QFont f(QStringLiteral("Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(true);
    return f;
}

// Frame captions: 9.75-point bold at the top level, 8.25-point bold when nested, in the colour
// given (drawn by FrameCaptionStyle, which the program installs).
inline void StyleFrame(QGroupBox* frame, bool topLevel, const QColor& captionColour) {
    frame->setProperty("captionFont", BoldSans(topLevel ? 9.75 : 8.25));
    frame->setProperty("captionColour", captionColour);
}

}  // namespace tq
