#include "ui/widgets/ScrollingContent.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

namespace tq {
namespace {

class ContentScroll : public QScrollArea {
public:
    explicit ContentScroll(QWidget* content) {
        setObjectName(content->objectName() + QStringLiteral("Scroll"));
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setWidget(content);
    }

    // The content's own size: QScrollArea's default caps it at a few dozen text lines.
    QSize sizeHint() const override { return Outer(widget()->sizeHint()); }

    // As wide as the content needs (it scrolls up and down, not sideways), and a few rows high.
    QSize minimumSizeHint() const override {
        const QSize least = widget()->minimumSizeHint().expandedTo(widget()->minimumSize());
        const int rows = 8 * fontMetrics().height();
        return Outer({least.width(), std::min(least.height(), rows)});
    }

private:
    QSize Outer(const QSize& inner) const {
        const int frame = 2 * frameWidth();
        return {inner.width() + frame + verticalScrollBar()->sizeHint().width(),
                inner.height() + frame};
    }
};

}  // namespace

QScrollArea* ScrollingContent(QWidget* content) {
    return new ContentScroll(content);
}

void SetScrollingContent(QWidget* window, QWidget* content) {
    auto* outer = new QVBoxLayout(window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(ScrollingContent(content));
}

}  // namespace tq
