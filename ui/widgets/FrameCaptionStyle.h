#pragma once
// The program's style: the platform's own, with each frame's caption drawn in the font and colour
// the frame asks for (its "captionFont" and "captionColour" properties), while the controls inside
// keep the window's font and colours. One style object for the whole program costs far less at
// start-up than a style sheet on every frame.

#include <QProxyStyle>

namespace tq {

class FrameCaptionStyle : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl subControl, const QWidget* widget = nullptr) const override;
};

// Installs the style for the application (once), with text fitting (FitText.h).
void InstallFrameCaptionStyle();

}  // namespace tq
