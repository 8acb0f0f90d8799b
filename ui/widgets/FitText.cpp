#include "ui/widgets/FitText.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTextDocumentFragment>
#include <algorithm>

namespace tq {

namespace {

// Smaller than this many pixels a text is no longer read.
constexpr double kSmallestPixels = 7.0;
constexpr double kStepPoints = 0.25;
const char* const kDesignFont = "tqDesignFont";
const char* const kCaptionFont = "captionFont";  // a frame's caption (FrameCaptionStyle)

// A frame's caption is drawn in its own font; every other text in the widget's.
bool IsFrame(const QWidget* w) {
    return qobject_cast<const QGroupBox*>(w) != nullptr;
}

QFont TextFont(const QWidget* w) {
    if (IsFrame(w)) {
        const QVariant caption = w->property(kCaptionFont);
        if (caption.isValid())
            return caption.value<QFont>();
    }
    return w->font();
}

void SetTextFont(QWidget* w, const QFont& font) {
    if (IsFrame(w)) {
        w->setProperty(kCaptionFont, font);
        w->update();
    } else {
        w->setFont(font);
    }
}

QString LabelText(const QLabel* label) {
    if (label->textFormat() == Qt::RichText ||
        (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text())))
        return QTextDocumentFragment::fromHtml(label->text()).toPlainText();
    return label->text();
}

// The widest line and the height of the lines of `text`.
QSize TextSize(const QFontMetrics& fm, const QString& text) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, fm.horizontalAdvance(line));
    return {width, fm.height() + fm.lineSpacing() * (static_cast<int>(lines.size()) - 1)};
}

bool Within(const QSize& text, const QSize& room) {
    return text.width() <= room.width() && text.height() <= room.height();
}

// Controls that cover part of another's box when placed over it.
bool IsControl(const QWidget* w) {
    return qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w) ||
           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w);
}

// The width a label's text can use when sibling controls overlap its box: a box placed over the
// start of a right-aligned caption leaves it only the rest.
int UncoveredWidth(const QLabel* label, const QRect& box) {
    const QRect area = box.translated(label->pos());
    int left = area.left(), right = area.right();
    const QWidget* parent = label->parentWidget();
    for (const QWidget* other : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other == label || !other->isVisibleTo(parent) || !IsControl(other))
            continue;
        const QRect cover = other->geometry() & area;
        if (cover.isEmpty() || cover == area)
            continue;
        if (cover.center().x() < area.center().x())
            left = std::max(left, cover.right() + 1);
        else
            right = std::min(right, cover.left() - 1);
    }
    // A cover on the side the text is aligned to hides it whatever its size: no help there.
    const Qt::Alignment align = label->alignment();
    if (align & Qt::AlignRight)
        return area.right() - left + 1;
    if (align & Qt::AlignHCenter) {
        const int centre = area.center().x();
        return 2 * std::min(centre - left, right - centre) + 1;
    }
    return right - area.left() + 1;
}

bool Fits(const QWidget* w, const QFont& font) {
    const QFontMetrics fm(font);
    QStyle* style = w->style();
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        if (label->text().isEmpty())
            return true;
        const int margin = 2 * label->margin();
        const QRect box = label->contentsRect();
        if (label->wordWrap()) {
            // Wrapped lines must all show; a little air for the text layout's own rounding.
            const QRect room(0, 0, box.width() - margin - 2, box.height() - margin);
            const QRect need =
                fm.boundingRect(QRect(0, 0, room.width(), 1 << 20),
                                Qt::TextWordWrap | label->alignment(), LabelText(label));
            return need.width() <= room.width() && need.height() + fm.descent() <= room.height();
        }
        return Within(TextSize(fm, LabelText(label)),
                      QSize(UncoveredWidth(label, box) - margin, box.height() - margin));
    }
    if (const auto* button = qobject_cast<const QPushButton*>(w)) {
        if (button->text().isEmpty())
            return true;
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect room = style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        // A little air between the caption and the bevel.
        return Within(TextSize(fm, QString(button->text()).remove(QLatin1Char('&'))),
                      QSize(room.width() - 4, room.height()));
    }
    if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w)) {
        const auto* button = static_cast<const QAbstractButton*>(w);
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const bool check = qobject_cast<const QCheckBox*>(w) != nullptr;
        const QRect room = style->subElementRect(
            check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents, &option, button);
        return Within(TextSize(fm, QString(button->text()).remove(QLatin1Char('&'))),
                      QSize(room.width() - 2, w->height()));
    }
    if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
        const int frame = edit->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
        const QMargins margins = edit->textMargins();
        // QLineEdit keeps 2 pixels either side of its text.
        const QSize room(w->width() - 2 * frame - 4 - margins.left() - margins.right(),
                         w->height() - 2 * frame - margins.top() - margins.bottom());
        const QString text = edit->text().isEmpty() ? edit->placeholderText() : edit->text();
        return Within(QSize(fm.horizontalAdvance(text), fm.height()), room);
    }
    if (qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractButton*>(w)) {
        // Lists and other buttons (the switch) say in their size hint what their widest item or
        // caption needs.
        QWidget* probe = const_cast<QWidget*>(w);
        const QFont old = probe->font();
        probe->setFont(font);
        const QSize wanted = w->sizeHint();
        probe->setFont(old);
        return wanted.width() <= w->width() && fm.height() <= w->height();
    }
    if (const auto* frame = qobject_cast<const QGroupBox*>(w)) {
        if (frame->title().isEmpty())
            return true;
        // The caption starts where the style puts it; it must end inside the frame.
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        option.fontMetrics = fm;
        option.lineWidth = 1;
        const QRect label =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, nullptr);
        const int width = fm.horizontalAdvance(QString(frame->title()).remove(QLatin1Char('&')));
        // Nor may it reach down into the controls placed in the frame.
        int contentsTop = w->height();
        for (const QWidget* child : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child->isVisibleTo(frame))
                contentsTop = std::min(contentsTop, child->y());
        const int side = std::max(label.left(), 8);
        return width <= w->width() - 2 * side && label.top() + fm.height() <= contentsTop;
    }
    return true;
}

bool PlacedByLayout(const QWidget* w) {
    const QWidget* parent = w->parentWidget();
    if (!parent || w->isWindow())
        return true;  // a window is sized by its own means
    if (qobject_cast<const QComboBox*>(parent) || qobject_cast<const QAbstractSpinBox*>(parent))
        return true;  // parts of another control
    return parent->layout() && parent->layout()->indexOf(const_cast<QWidget*>(w)) >= 0;
}

class TextFitter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) &&
            watched->isWidgetType()) {
            auto* w = static_cast<QWidget*>(watched);
            if (event->type() == QEvent::Show)
                FitText(w);
            // A control shown or hidden over another changes the room that one has, and one
            // shown in a frame may stand where the frame's caption reaches.
            if (QWidget* parent = w->parentWidget(); parent && !w->isWindow()) {
                for (QWidget* other : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                    if (other != w && other->isVisible() &&
                        other->geometry().intersects(w->geometry()))
                        FitText(other);
                if (qobject_cast<QGroupBox*>(parent) && parent->isVisible())
                    FitText(parent);
            }
        }
        return false;
    }
};

}  // namespace

bool TextFits(const QWidget* widget) {
    return Fits(widget, TextFont(widget));
}

void FitText(QWidget* w) {
    if (PlacedByLayout(w))
        return;
    const QVariant design = w->property(kDesignFont);
    const QFont designed = design.isValid() ? design.value<QFont>() : TextFont(w);
    if (Fits(w, designed)) {
        if (design.isValid() && TextFont(w) != designed)
            SetTextFont(w, designed);
        return;
    }
    if (designed.pointSizeF() <= 0)
        return;  // sized in pixels: nothing to scale
    if (!design.isValid())
        w->setProperty(kDesignFont, designed);
    const double smallestPoints = kSmallestPixels * 72.0 / w->logicalDpiY();
    QFont font = designed;
    while (font.pointSizeF() - kStepPoints >= smallestPoints && !Fits(w, font))
        font.setPointSizeF(font.pointSizeF() - kStepPoints);
    SetTextFont(w, font);
}

void InstallTextFitting() {
    static TextFitter* fitter = nullptr;
    if (fitter == nullptr) {
        fitter = new TextFitter(qApp);
        qApp->installEventFilter(fitter);
    }
}

}  // namespace tq
