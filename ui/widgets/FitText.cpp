#include "ui/widgets/FitText.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDataStream>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QSet>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTextDocumentFragment>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace tq {

namespace {

// Smaller than this many pixels a text is no longer read.
constexpr double kSmallestPixels = 7.0;
constexpr double kStepPoints = 0.25;
const char* const kFitRecord = "tqTextFit";
const char* const kCaptionFont = "captionFont";  // a frame's caption (FrameCaptionStyle)

// What decides whether a widget's text fits, besides its font.
struct FitKey {
    size_t text = 0;  // the texts shown and how they are set out
    QSize size;
    int room = 0;  // what other controls leave of the box (labels) or above them (frames)
    int dpi = 0;
    bool operator==(const FitKey&) const = default;
};

// A widget's last fit: while its key and its font stay as they were, the font it was given still
// fits, and nothing is measured again however often the widget is shown.
struct FitRecord {
    FitKey key;
    QFont designed;  // the font the window asked for
    QFont fitted;    // the font the text got
};

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

// How many times over `room` holds `need`, in the tighter direction: 1 or more fits. A text grows
// about in proportion to its font, so this also says how far a text that does not fit must shrink.
double Spare(const QSize& need, const QSize& room) {
    const auto ratio = [](int need, int room) {
        if (need <= 0)
            return room >= need ? std::numeric_limits<double>::infinity() : 0.0;
        return static_cast<double>(room) / need;
    };
    return std::min(ratio(need.width(), room.width()), ratio(need.height(), room.height()));
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
    for (const QObject* child : parent->children()) {
        if (child == label || !child->isWidgetType())
            continue;
        // The box first: most siblings are elsewhere, and asking what a control is costs more.
        const auto* other = static_cast<const QWidget*>(child);
        const QRect cover = other->geometry() & area;
        if (cover.isEmpty() || cover == area || !other->isVisibleTo(parent) || !IsControl(other))
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

// Where the first control placed in a frame starts.
int ContentsTop(const QGroupBox* frame) {
    int top = frame->height();
    for (const QObject* child : frame->children())
        if (child->isWidgetType() && static_cast<const QWidget*>(child)->isVisibleTo(frame))
            top = std::min(top, static_cast<const QWidget*>(child)->y());
    return top;
}

constexpr double kFits = std::numeric_limits<double>::infinity();

double LabelSpare(const QLabel* label, const QFontMetrics& fm) {
    if (label->text().isEmpty())
        return kFits;
    const int margin = 2 * label->margin();
    const QRect box = label->contentsRect();
    if (label->wordWrap()) {
        // Wrapped lines must all show; a little air for the text layout's own rounding.
        const QRect room(0, 0, box.width() - margin - 2, box.height() - margin);
        const QRect need = fm.boundingRect(QRect(0, 0, room.width(), 1 << 20),
                                           Qt::TextWordWrap | label->alignment(), LabelText(label));
        return Spare(QSize(need.width(), need.height() + fm.descent()), room.size());
    }
    return Spare(TextSize(fm, LabelText(label)),
                 QSize(UncoveredWidth(label, box) - margin, box.height() - margin));
}

double PushButtonSpare(const QPushButton* button, const QFontMetrics& fm) {
    if (button->text().isEmpty())
        return kFits;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect room =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    // A little air between the caption and the bevel.
    return Spare(TextSize(fm, QString(button->text()).remove(QLatin1Char('&'))),
                 QSize(room.width() - 4, room.height()));
}

// A check box's or an option button's caption beside its mark.
double MarkedButtonSpare(const QAbstractButton* button, bool check, const QFontMetrics& fm) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect room = button->style()->subElementRect(
        check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents, &option, button);
    return Spare(TextSize(fm, QString(button->text()).remove(QLatin1Char('&'))),
                 QSize(room.width() - 2, button->height()));
}

double LineEditSpare(const QLineEdit* edit, const QFontMetrics& fm) {
    const int frame =
        edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
    const QMargins margins = edit->textMargins();
    // QLineEdit keeps 2 pixels either side of its text.
    const QSize room(edit->width() - 2 * frame - 4 - margins.left() - margins.right(),
                     edit->height() - 2 * frame - margins.top() - margins.bottom());
    const QString text = edit->text().isEmpty() ? edit->placeholderText() : edit->text();
    return Spare(QSize(fm.horizontalAdvance(text), fm.height()), room);
}

// Lists and other buttons (the switch) say in their size hint what their widest item or caption
// needs; only a smaller font is tried on the widget itself.
double SizeHintSpare(const QWidget* w, const QFont& font, const QFontMetrics& fm) {
    QSize wanted = w->sizeHint();
    if (font != w->font()) {
        QWidget* probe = const_cast<QWidget*>(w);
        const QFont old = probe->font();
        probe->setFont(font);
        wanted = w->sizeHint();
        probe->setFont(old);
    }
    return Spare(QSize(wanted.width(), fm.height()), w->size());
}

double GroupBoxSpare(const QGroupBox* frame, const QFontMetrics& fm) {
    if (frame->title().isEmpty())
        return kFits;
    // The caption starts where the style puts it; it must end inside the frame.
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = frame->title();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    option.fontMetrics = fm;
    option.lineWidth = 1;
    const QRect label = frame->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                       QStyle::SC_GroupBoxLabel, nullptr);
    const int width = fm.horizontalAdvance(QString(frame->title()).remove(QLatin1Char('&')));
    // Nor may it reach down into the controls placed in the frame.
    const int side = std::max(label.left(), 8);
    return Spare(QSize(width, label.top() + fm.height()),
                 QSize(frame->width() - 2 * side, ContentsTop(frame)));
}

// Spare() of `w`'s text in `font`.
double Spare(const QWidget* w, const QFont& font) {
    const QFontMetrics fm(font);
    if (const auto* label = qobject_cast<const QLabel*>(w))
        return LabelSpare(label, fm);
    if (const auto* button = qobject_cast<const QPushButton*>(w))
        return PushButtonSpare(button, fm);
    if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w))
        return MarkedButtonSpare(static_cast<const QAbstractButton*>(w),
                                 qobject_cast<const QCheckBox*>(w) != nullptr, fm);
    if (const auto* edit = qobject_cast<const QLineEdit*>(w))
        return LineEditSpare(edit, fm);
    if (qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractButton*>(w))
        return SizeHintSpare(w, font, fm);
    if (const auto* frame = qobject_cast<const QGroupBox*>(w))
        return GroupBoxSpare(frame, fm);
    return kFits;
}

bool Fits(const QWidget* w, const QFont& font) {
    return Spare(w, font) >= 1.0;
}

FitKey KeyOf(const QWidget* w) {
    FitKey key{0, w->size(), 0, w->logicalDpiY()};
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        const QRect box = label->contentsRect();  // the frame and margins drawn round the text
        key.text =
            qHashMulti(0, label->text(), int(label->textFormat()), label->wordWrap(),
                       label->margin(), label->alignment().toInt(), box.width(), box.height());
        if (!label->wordWrap() && !label->text().isEmpty())
            key.room = UncoveredWidth(label, box);
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        key.text = qHash(button->text());
    } else if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
        const QMargins margins = edit->textMargins();
        key.text = qHashMulti(0, edit->text(), edit->placeholderText(), edit->hasFrame(),
                              margins.left(), margins.right(), margins.top(), margins.bottom());
    } else if (const auto* list = qobject_cast<const QComboBox*>(w)) {
        size_t seed = qHash(list->count());
        for (int i = 0; i < list->count(); ++i)
            seed = qHashMulti(seed, list->itemText(i));
        key.text = seed;
    } else if (const auto* frame = qobject_cast<const QGroupBox*>(w)) {
        key.text = qHash(frame->title());
        key.room = ContentsTop(frame);
    }
    return key;
}

// A fit kept between runs: the size a control's text got and what the fonts in use made of the font
// of that size (FontFacts).
struct KeptFit {
    double points = 0;
    quint64 facts = 0;
};

// Fits kept between runs: what each control's text got, by everything it was fitted for. A start
// that finds a control's fit here sets its size without measuring the text again; measuring at each
// size tried costs a font of that size and the shaping of the text.
class KeptFits {
public:
    explicit KeptFits(QString file) : file_(std::move(file)) {
        QFile in(file_);
        if (!in.open(QIODevice::ReadOnly) || in.size() > kLargestFile)
            return;
        QDataStream stream(in.readAll());
        quint32 magic = 0, version = 0, count = 0;
        stream >> magic >> version >> count;
        if (magic != kMagic || version != kVersion || count > kMostFits)
            return;
        QHash<quint64, KeptFit> sizes;
        for (quint32 i = 0; i < count; ++i) {
            quint64 id = 0;
            KeptFit fit;
            stream >> id >> fit.points >> fit.facts;
            if (!(fit.points > 0 && fit.points <= kLargestPoints))
                return;
            sizes.insert(id, fit);
        }
        if (stream.status() == QDataStream::Ok && stream.atEnd())
            sizes_ = std::move(sizes);
    }

    const KeptFit* Find(quint64 id) {
        const auto found = sizes_.constFind(id);
        if (found == sizes_.constEnd())
            return nullptr;
        used_.insert(id);
        return &*found;
    }

    void Put(quint64 id, KeptFit fit) {
        used_.insert(id);
        const auto found = sizes_.constFind(id);
        if (found != sizes_.constEnd() && found->points == fit.points && found->facts == fit.facts)
            return;
        sizes_.insert(id, fit);
        changed_ = true;
    }

    // Written only when a fit was added; fits of texts long gone are dropped once there are many.
    bool Save() {
        if (!changed_)
            return true;
        if (sizes_.size() > kMostFits)
            sizes_.removeIf([this](const auto& fit) { return !used_.contains(fit.key()); });
        if (sizes_.size() > kMostFits)
            return false;
        QDir().mkpath(QFileInfo(file_).absolutePath());
        QSaveFile out(file_);
        if (!out.open(QIODevice::WriteOnly))
            return false;
        QDataStream stream(&out);
        stream << kMagic << kVersion << static_cast<quint32>(sizes_.size());
        for (auto fit = sizes_.constBegin(); fit != sizes_.constEnd(); ++fit)
            stream << fit.key() << fit->points << fit->facts;
        if (stream.status() != QDataStream::Ok || !out.commit())
            return false;
        changed_ = false;
        return true;
    }

private:
    static constexpr quint32 kMagic = 0x74714654;  // "tqFT"
    static constexpr quint32 kVersion = 2;
    static constexpr qsizetype kMostFits = 4096;
    static constexpr qint64 kLargestFile = 12 + kMostFits * 24;
    static constexpr double kLargestPoints = 1000;

    QString file_;
    QHash<quint64, KeptFit> sizes_;
    QSet<quint64> used_;
    bool changed_ = false;
};

std::unique_ptr<KeptFits>& Kept() {
    static std::unique_ptr<KeptFits> kept;
    return kept;
}

// The font's request as its measures depend on it: QFont::key() says the same, but builds a text.
size_t FontHash(const QFont& font, size_t seed = 0) {
    return qHashMulti(seed, font, font.letterSpacing(), int(font.letterSpacingType()),
                      font.wordSpacing(), int(font.capitalization()), font.kerning());
}

// What the fonts in use make of `font`: the face the font database picked for it and its measures.
// Another face, another version of it or other hinting gives other measures, so a fit kept from a
// run with other fonts is not taken. Only fonts that the controls show are asked, which their
// painting loads anyway.
quint64 FontFacts(const QFont& font) {
    static QHash<size_t, quint64> facts;
    const size_t hash = FontHash(font);
    const auto found = facts.constFind(hash);
    if (found != facts.constEnd())
        return *found;
    const QFontInfo info(font);
    const QFontMetricsF fm(font);
    // A digit's advance, as hinting rounds it; one glyph, as each costs loading.
    const size_t seed =
        qHashMulti(0, info.family(), info.styleName(), info.pointSizeF(), info.pixelSize(),
                   info.weight(), info.italic(), fm.height(), fm.ascent(), fm.lineSpacing(),
                   fm.averageCharWidth(), fm.horizontalAdvance(QLatin1Char('0')));
    return facts.insert(hash, seed).value();
}

// All that a control's fit depends on but the fonts in use: its kind, its texts, box and room, the
// screen's dots and scale, the style that places its text and the font it was designed with.
quint64 FitId(const QWidget* w, const FitKey& key, const QFont& designed) {
    return qHashMulti(FontHash(designed), QLatin1String(w->metaObject()->className()), key.text,
                      key.size.width(), key.size.height(), key.room, key.dpi,
                      w->devicePixelRatioF(), w->style()->name(), QLatin1String(qVersion()));
}

bool PlacedByLayout(const QWidget* w) {
    const QWidget* parent = w->parentWidget();
    if (!parent || w->isWindow())
        return true;  // a window is sized by its own means
    if (qobject_cast<const QComboBox*>(parent) || qobject_cast<const QAbstractSpinBox*>(parent))
        return true;  // parts of another control
    return parent->layout() && parent->layout()->indexOf(const_cast<QWidget*>(w)) >= 0;
}

// Fits controls as they are shown. A window shows all its controls before it gets its own Show
// event; they are fitted then, each once, with all of them in place. After that each control shown
// or hidden is fitted, with the controls whose room it changes.
class TextFitter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if ((type != QEvent::Show && type != QEvent::Hide) || !watched->isWidgetType())
            return false;
        auto* w = static_cast<QWidget*>(watched);
        if (w->isWindow()) {
            if (type == QEvent::Hide) {
                shown_.remove(w);
            } else {
                shown_.insert(w);
                for (QWidget* control : w->findChildren<QWidget*>())
                    if (control->isVisible())
                        FitText(control);
            }
            return false;
        }
        if (!shown_.contains(w->window()))
            return false;
        if (type == QEvent::Show)
            FitText(w);
        // A control shown or hidden over another changes the room that one has, and one shown in
        // a frame may stand where the frame's caption reaches.
        if (QWidget* parent = w->parentWidget()) {
            for (QWidget* other : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (other != w && other->isVisible() && other->geometry().intersects(w->geometry()))
                    FitText(other);
            if (qobject_cast<QGroupBox*>(parent) && parent->isVisible())
                FitText(parent);
        }
        return false;
    }

private:
    QSet<const QWidget*> shown_;  // windows shown, whose controls are fitted one by one
};

}  // namespace

bool TextFits(const QWidget* widget) {
    return Fits(widget, TextFont(widget));
}

namespace {

// `designed` at the largest size, in steps down from it, whose text fits in `w`; or at the smallest
// size still read.
QFont Fitted(const QWidget* w, const QFont& designed, int dpi) {
    QFont font = designed;
    const double design = designed.pointSizeF();
    const double spare = Spare(w, designed);
    if (spare >= 1.0)
        return font;
    // Each size tried costs a font of that size, so the search starts at the size the room allows
    // by proportion and steps from there.
    const int most =
        static_cast<int>(std::floor((design - kSmallestPixels * 72.0 / dpi) / kStepPoints + 1e-9));
    const auto fitsAt = [&](int steps) {
        font.setPointSizeF(design - steps * kStepPoints);
        return Fits(w, font);
    };
    if (most > 0) {
        int steps = std::clamp(
            static_cast<int>(std::ceil((1.0 - std::max(spare, 0.0)) * design / kStepPoints)), 1,
            most);
        if (fitsAt(steps)) {
            while (steps > 1 && fitsAt(steps - 1))
                --steps;
        } else {
            while (steps < most && !fitsAt(++steps)) {
            }
        }
        font.setPointSizeF(design - steps * kStepPoints);
    }
    return font;
}

}  // namespace

void FitText(QWidget* w) {
    if (PlacedByLayout(w))
        return;
    const QFont current = TextFont(w);
    const QVariant kept = w->property(kFitRecord);
    const FitRecord last = kept.isValid() ? kept.value<FitRecord>() : FitRecord{};
    // A font other than the one fitted last was set since: that is the design now.
    const bool fittedBefore = kept.isValid() && last.fitted == current;
    const QFont designed = fittedBefore ? last.designed : current;
    const FitKey key = KeyOf(w);
    if (fittedBefore && last.key == key)
        return;
    QFont font = designed;
    const double design = designed.pointSizeF();
    if (design > 0) {  // a font sized in pixels is kept
        KeptFits* store = Kept().get();
        const quint64 id = store ? FitId(w, key, designed) : 0;
        const KeptFit* known = store ? store->Find(id) : nullptr;
        if (known) {
            if (known->points != design)
                font.setPointSizeF(known->points);
            if (FontFacts(font) != known->facts) {  // the fonts in use changed since
                known = nullptr;
                font = designed;
            }
        }
        if (!known) {
            font = Fitted(w, designed, key.dpi);
            if (store)
                store->Put(id, {font.pointSizeF(), FontFacts(font)});
        }
    }
    if (font != current)
        SetTextFont(w, font);
    w->setProperty(kFitRecord, QVariant::fromValue(FitRecord{key, designed, TextFont(w)}));
}

void KeepTextFits(const QString& file) {
    if (file.isEmpty())
        Kept().reset();
    else
        Kept() = std::make_unique<KeptFits>(file);
}

bool SaveTextFits() {
    return !Kept() || Kept()->Save();
}

void InstallTextFitting() {
    static TextFitter* fitter = nullptr;
    if (fitter == nullptr) {
        fitter = new TextFitter(qApp);
        qApp->installEventFilter(fitter);
    }
}

}  // namespace tq
