// Frame captions take their font and colour without changing the controls inside the frame.

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QImage>
#include <QLabel>

#include "tests/support/TestContext.h"
#include "ui/widgets/Twips.h"

namespace tq::testing {
namespace {

int PixelsOfColour(const QImage& image, const QRect& area, const QColor& colour) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) == colour)
                ++count;
    return count;
}

TEST(FrameCaption, ColoursTheCaptionButNotTheControlsInside) {
    App();
    struct Case {
        bool topLevel;
        QColor colour;
    };
    for (const Case& c : {Case{true, QColor(192, 64, 0)}, Case{false, QColor(0, 0, 255)}}) {
        QGroupBox frame(QStringLiteral("Function Register Configuration"));
        frame.setObjectName(QStringLiteral("Frame6"));
        StyleFrame(&frame, c.topLevel, c.colour);
        frame.resize(400, 120);
        auto* inside = new QLabel(QStringLiteral("Disabled"), &frame);
        inside->setGeometry(20, 60, 200, 30);

        // The controls inside keep the window's own font and text colour.
        EXPECT_FALSE(inside->font().bold());
        EXPECT_EQ(inside->font(), QApplication::font());
        EXPECT_NE(inside->palette().color(QPalette::WindowText), c.colour);

        const QImage image = frame.grab().toImage();
        EXPECT_GT(PixelsOfColour(image, QRect(0, 0, 400, 25), c.colour), 20)
            << "the caption is drawn in its colour";
        EXPECT_EQ(PixelsOfColour(image, QRect(0, 55, 400, 40), c.colour), 0)
            << "the label inside is not";
    }
}

}  // namespace
}  // namespace tq::testing
