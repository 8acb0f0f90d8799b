// Every text of every window shows whole in its box, with the desktop's normal font and at 144 dpi
// (this program runs three times: at 96 dpi; with QT_FONT_DPI=144 and high-DPI scaling off, so
// fonts grow while the boxes keep their pixel sizes; and at QT_SCALE_FACTOR=1.5, 144 dots an inch
// as a scaled desktop has them). Measured independently of the fitting: a text's width and height
// against its box, and a caption against the controls placed over it. Texts that give way by
// design (the status bar's) end in an ellipsis and carry the whole text as their tooltip. Every
// window, its frame included, can be made small enough for a small screen.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "adapter/simulated/SimulatedBoard.h"
#include "instrument/MeterRuns.h"
#include "instrument/TemperatureLog.h"
#include "instrument/Waveform.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeMeter.h"
#include "tests/support/ShownActivity.h"
#include "tests/support/TestContext.h"
#include "ui/auxiliary/Form1.h"
#include "ui/auxiliary/Form2.h"
#include "ui/auxiliary/ManualForm.h"
#include "ui/auxiliary/TestForm.h"
#include "ui/auxiliary/VoutForm.h"
#include "ui/auxiliary/frmAbout.h"
#include "ui/bench/BenchForm.h"
#include "ui/main/MainForm.h"
#include "ui/meter/MeterForm.h"
#include "ui/protection/ProtectionForm.h"
#include "ui/waveform/TemperatureLogForm.h"
#include "ui/waveform/WaveformForm.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/FitText.h"
#include "ui/widgets/Toggle.h"

namespace tq::testing {
namespace {

std::string Name(const QWidget* w) {
    return w->window()->objectName().toStdString() + "." + w->objectName().toStdString() + " '" +
           (qobject_cast<const QGroupBox*>(w) ? qobject_cast<const QGroupBox*>(w)->title()
            : qobject_cast<const QLabel*>(w)  ? qobject_cast<const QLabel*>(w)->text()
            : qobject_cast<const QAbstractButton*>(w)
                ? qobject_cast<const QAbstractButton*>(w)->text()
                : QString())
               .toStdString() +
           "'";
}

bool ByLayout(const QWidget* w) {
    const QWidget* parent = w->parentWidget();
    return !parent || (parent->layout() && parent->layout()->indexOf(const_cast<QWidget*>(w)) >= 0);
}

int Widest(const QFontMetrics& fm, const QString& text) {
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, fm.horizontalAdvance(line));
    return widest;
}

// Where a label draws its text, in its parent's coordinates.
QRect LabelTextRect(const QLabel* label) {
    const QFontMetrics fm(label->font());
    const QRect box = label->contentsRect().translated(label->pos());
    const int width = Widest(fm, label->text());
    int left = box.left();
    if (label->alignment() & Qt::AlignRight)
        left = box.right() + 1 - width;
    else if (label->alignment() & Qt::AlignHCenter)
        left = box.left() + (box.width() - width) / 2;
    return QRect(left, box.top(), width, box.height());
}

// What is wrong with how `w` shows its text, or nothing.
std::string Clipped(const QWidget* w) {
    const QFontMetrics fm(w->font());
    const QStyle* style = w->style();
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        if (label->text().isEmpty() || label->textFormat() == Qt::RichText)
            return {};
        const QRect box = label->contentsRect();
        if (label->wordWrap()) {
            const QRect need =
                fm.boundingRect(QRect(0, 0, box.width(), 1 << 20),
                                Qt::TextWordWrap | label->alignment(), label->text());
            return need.height() <= box.height() ? std::string() : "wrapped lines cut off";
        }
        if (Widest(fm, label->text()) > box.width())
            return "wider than its box";
        if (fm.height() > box.height())
            return "taller than its box";
        // No other control may lie over the text (backgrounds that hold the whole box aside).
        const QRect text = LabelTextRect(label);
        const QWidget* parent = label->parentWidget();
        for (const QWidget* other : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other == label || !other->isVisibleTo(parent) ||
                other->geometry().contains(label->geometry()))
                continue;
            const bool control =
                qobject_cast<const QLabel*>(other) || qobject_cast<const QAbstractButton*>(other) ||
                qobject_cast<const QLineEdit*>(other) || qobject_cast<const QComboBox*>(other);
            if (control && other->geometry().intersects(text))
                return "covered by " + other->objectName().toStdString();
        }
        return {};
    }
    if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
        if (fm.horizontalAdvance(edit->text()) > w->width() - 8)
            return "entry text wider than its box";
        return fm.height() <= w->height() - 2 ? std::string() : "entry text taller than its box";
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(w))
        return combo->sizeHint().width() <= w->width() ? std::string()
                                                       : "items wider than the list";
    if (qobject_cast<const Toggle*>(w))
        return w->sizeHint().width() <= w->width() ? std::string() : "caption wider than switch";
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        int room = w->width() - 6;
        if (qobject_cast<const QCheckBox*>(w))
            room = w->width() - style->pixelMetric(QStyle::PM_IndicatorWidth) -
                   style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
        if (qobject_cast<const QRadioButton*>(w))
            room = w->width() - style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) -
                   style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
        const QString text = QString(button->text()).remove(QLatin1Char('&'));
        if (fm.horizontalAdvance(text) > room)
            return "caption wider than the button";
        return fm.height() <= w->height() ? std::string() : "caption taller than the button";
    }
    if (const auto* frame = qobject_cast<const QGroupBox*>(w)) {
        const QVariant caption = frame->property("captionFont");
        const QFontMetrics cfm(caption.isValid() ? caption.value<QFont>() : frame->font());
        if (cfm.horizontalAdvance(QString(frame->title()).remove(QLatin1Char('&'))) >
            w->width() - 16)
            return "caption wider than the frame";
        for (const QWidget* child : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child->isVisibleTo(frame) && child->y() < cfm.height())
                return "caption reaches into " + child->objectName().toStdString();
        return {};
    }
    return {};
}

// Every shown text of `window`; `when` names the moment for the failure messages. Controls
// placed by a layout are checked too where `layouts` says so: their labels, buttons, lists and
// frames (an entry box scrolls a long text by design, an elided text is checked on its own).
void ExpectAllFit(QWidget* window, const std::string& when, bool layouts = false) {
    window->show();
    QApplication::processEvents();
    // A window with wrapped text settles its height for its width in a second pass.
    if (layouts) {
        QTest::qWait(50);
        QApplication::processEvents();
    }
    int checked = 0;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || (ByLayout(w) && !layouts))
            continue;
        if (qobject_cast<const ElidedLabel*>(w) || (ByLayout(w) && qobject_cast<QLineEdit*>(w)))
            continue;
        // A layout gives a wrapped label the height its text layout asks for, which a font
        // metrics' bounding box does not measure to the pixel.
        if (const auto* label = qobject_cast<const QLabel*>(w);
            ByLayout(w) && label && label->wordWrap())
            continue;
        ++checked;
        const std::string fault = Clipped(w);
        EXPECT_EQ(fault, "") << Name(w) << " " << when << ", box " << w->width() << "x"
                             << w->height() << ", " << w->font().pointSizeF() << " pt";
    }
    EXPECT_GT(checked, 0) << when;
}

class TextFit : public ::testing::Test {
protected:
    void SetUp() override {
        if (qgetenv("QT_FONT_DPI") == "144") {
            // The larger font must really be in force, or this run proves nothing.
            ASSERT_EQ(QGuiApplication::primaryScreen()->logicalDotsPerInchY(), 144);
            ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 1.0);
        }
        if (qgetenv("QT_SCALE_FACTOR") == "1.5") {
            ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 1.5);
        }
    }
    TextFit() {
        t.context.waveform = &run;
        t.context.meter = &runs;
        t.context.bench = &board;
    }
    struct Window {
        std::string name;
        std::function<QWidget*()> make;
        bool designed;  // a window of the original design, its controls placed where drawn
    };
    std::vector<Window> EveryWindow() {
        return {
            {"MainForm", [&] { return new MainForm(t.context); }, false},
            {"TestForm", [&] { return new TestForm(t.context); }, true},
            {"VoutForm", [&] { return new VoutForm(t.context); }, true},
            {"Form2", [&] { return new Form2(t.context); }, true},
            {"frmAbout", [&] { return new frmAbout(t.context); }, true},
            {"Form1", [&] { return new Form1(t.context); }, true},
            {"WaveformForm", [&] { return new WaveformForm(t.context); }, false},
            {"TemperatureLogForm", [&] { return new TemperatureLogForm(t.context, &runTimer); },
             false},
            {"MeterForm", [&] { return new MeterForm(t.context, runs); }, false},
            {"ProtectionForm", [&] { return new ProtectionForm(t.context); }, false},
            {"BenchForm", [&] { return new BenchForm(t.context); }, false},
            {"ManualForm", [&] { return new ManualForm(t.context); }, false},
        };
    }
    TestContext t;
    FakeClock runTimer;
    WaveformRun run{t.instrument, runTimer};
    FakeMeter meter;
    FakeClock meterTimer;
    MeterRuns runs{t.instrument, meter, meterTimer};
    SimulatedBoard board;
};

TEST_F(TextFit, MainWindowInEachRegisterViewAndTheCalibration) {
    MainForm form(t.context);
    t.adapter.QueueRegisterRead(0);
    ASSERT_TRUE(form.Load());
    ExpectAllFit(&form, "at start");
    auto* list = form.findChild<QComboBox*>(QStringLiteral("ComboReg"));
    for (int i = 0; i < list->count(); ++i) {
        list->setCurrentIndex(i);
        emit list->activated(i);
        ExpectAllFit(&form, "in the view " + list->itemText(i).toStdString());
    }
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command8")), Qt::LeftButton);
    ExpectAllFit(&form, "during the calibration");
}

TEST_F(TextFit, AuxiliaryWindows) {
    for (const Window& w : EveryWindow()) {
        if (!w.designed)
            continue;
        std::unique_ptr<QWidget> window(w.make());
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        ExpectAllFit(window.get(), w.name);
    }
}

// Every window can be made small enough for a 1920 x 1080 screen at scale 1.5 less a taskbar
// (1280 x 680 logical pixels), its frame (a title bar and borders as desktops draw them)
// included. Windows taller than that scroll their content rather than cut it.
TEST_F(TextFit, EveryWindowFitsASmallScreenFrameIncluded) {
    constexpr QSize kFrame(2 * 6, 36 + 6);
    constexpr QSize kScreen(1280, 680);
    for (const Window& w : EveryWindow()) {
        std::unique_ptr<QWidget> window(w.make());
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->show();
        QApplication::processEvents();
        const QSize least = window->minimumSizeHint().expandedTo(window->minimumSize()) + kFrame;
        EXPECT_LE(least.width(), kScreen.width()) << w.name;
        EXPECT_LE(least.height(), kScreen.height()) << w.name;
        // Made that small, every control a layout places keeps at least its own least size
        // (the designed windows place theirs where they were drawn, checked above).
        window->resize(least - kFrame);
        QApplication::processEvents();
        for (const QWidget* c : window->findChildren<QWidget*>()) {
            const QLayout* layout = c->parentWidget() ? c->parentWidget()->layout() : nullptr;
            if (c->isVisibleTo(window.get()) && c->minimumSizeHint().isValid() && layout &&
                layout->indexOf(c) >= 0 && !c->inherits("QScrollBar")) {
                EXPECT_GE(c->height(), c->minimumSizeHint().height())
                    << w.name << "." << c->objectName().toStdString();
            }
        }
    }
}

// A text is fitted for its text, box and font: a longer text shown shrinks, the short one or a
// wider box brings the design back, and a font the window sets since is the design from then on.
TEST_F(TextFit, ATextIsFittedAgainWhenItsTextBoxOrFontChanges) {
    QWidget window;
    window.setObjectName(QStringLiteral("Window"));
    window.setFixedSize(400, 100);
    auto* label = new QLabel(QStringLiteral("DAC A"), &window);
    label->setObjectName(QStringLiteral("Label"));
    label->setGeometry(10, 10, 100, 24);
    QFont design(QStringLiteral("Sans Serif"));
    design.setPointSizeF(8.25);
    design.setBold(true);
    label->setFont(design);
    const auto reshow = [&] {
        window.hide();
        ExpectAllFit(&window, label->text().toStdString());
    };
    reshow();
    EXPECT_EQ(label->font().pointSizeF(), 8.25);
    label->setText(QStringLiteral("Pulse After Write"));
    reshow();
    const double shrunk = label->font().pointSizeF();
    EXPECT_LT(shrunk, 8.25);
    reshow();
    EXPECT_EQ(label->font().pointSizeF(), shrunk);
    label->setText(QStringLiteral("DAC A"));
    reshow();
    EXPECT_EQ(label->font().pointSizeF(), 8.25);
    label->setText(QStringLiteral("Pulse After Write"));
    label->setGeometry(10, 10, 380, 24);
    reshow();
    EXPECT_EQ(label->font().pointSizeF(), 8.25);
    QFont smaller = design;
    smaller.setPointSizeF(6);
    label->setFont(smaller);
    label->setText(QStringLiteral("DAC A"));
    reshow();
    EXPECT_EQ(label->font().pointSizeF(), 6);
}

// The font of each shown text of a new `window`, by control.
std::vector<std::string> ShownFonts(std::unique_ptr<QWidget> window) {
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->show();
    QApplication::processEvents();
    std::vector<std::string> fonts;
    for (const QWidget* w : window->findChildren<QWidget*>()) {
        const QVariant caption = w->property("captionFont");
        if (w->isVisibleTo(window.get()))
            fonts.push_back(
                Name(w) + " " +
                (caption.isValid() ? caption.value<QFont>() : w->font()).toString().toStdString());
    }
    return fonts;
}

// Fits kept by one start are what the next one shows: the sizes measuring gives, in every window.
// A file of something else, or fits kept where the fonts measured otherwise, are measured again and
// written anew.
TEST_F(TextFit, KeptFitsAreTheMeasuredOnes) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("text-fits"));
    const auto read = [&] {
        QFile kept(file);
        return kept.open(QIODevice::ReadOnly) ? kept.readAll() : QByteArray();
    };
    const auto rewrite = [&](const std::function<void(QByteArray&)>& change) {
        QByteArray bytes = read();
        change(bytes);
        QFile kept(file);
        ASSERT_TRUE(kept.open(QIODevice::WriteOnly | QIODevice::Truncate));
        kept.write(bytes);
    };
    const std::vector<std::pair<std::string, std::function<void()>>> starts = {
        {"kept as they were", [] {}},
        {"a file of something else", [&] { rewrite([](QByteArray& b) { b.fill('x'); }); }},
        {"6 pt kept where the fonts measured otherwise",
         [&] {  // each fit: 8 bytes of what it was made for, the size, what the fonts made of it
             rewrite([](QByteArray& b) {
                 const QByteArray six("\x40\x18\0\0\0\0\0\0", 8);  // 6.0, big-endian
                 for (qsizetype fit = 12; fit + 24 <= b.size(); fit += 24) {
                     b.replace(fit + 8, 8, six);
                     b[fit + 23] = static_cast<char>(b[fit + 23] ^ 1);
                 }
             });
         }},
    };
    for (const Window& w : EveryWindow()) {
        KeepTextFits(QString());
        const std::vector<std::string> measured = ShownFonts(std::unique_ptr<QWidget>(w.make()));
        QFile::remove(file);
        KeepTextFits(file);
        EXPECT_EQ(ShownFonts(std::unique_ptr<QWidget>(w.make())), measured) << w.name;
        ASSERT_TRUE(SaveTextFits());
        if (!QFile::exists(file))
            continue;  // every control placed by a layout: nothing to fit
        for (const auto& [start, prepare] : starts) {
            prepare();
            const QByteArray before = read();
            KeepTextFits(file);  // as the next start reads them
            EXPECT_EQ(ShownFonts(std::unique_ptr<QWidget>(w.make())), measured)
                << w.name << ", " << start;
            ASSERT_TRUE(SaveTextFits());
            const QByteArray after = read();
            EXPECT_EQ(after.size() % 24, 12) << w.name << ", " << start;
            EXPECT_EQ(after == before, start == "kept as they were") << w.name << ", " << start;
        }
    }
    KeepTextFits(QString());
}

// The longest limits a channel can have, on the line under each row of the Output Voltages window.
TEST_F(TextFit, OutputVoltagesWithTheLongestLimits) {
    for (int16_t channel = 0; channel < kChannelCount; ++channel)
        t.instrument.SetLimits(channel, {-10.5263, 10.5263, 0.000123457, 9.87654});
    VoutForm window(t.context);
    ExpectAllFit(&window, "with limits");
}

// The windows this program adds, laid out by layouts, with their longest texts.
TEST_F(TextFit, TheWindowsThisProgramAdds) {
    {
        WaveformForm waveform(t.context);
        waveform.findChild<QCheckBox*>(QStringLiteral("CheckFast"))->setChecked(true);
        waveform.findChild<QCheckBox*>(QStringLiteral("CheckContinuous"))->setChecked(true);
        t.instrument.SetRangeCode(kAllChannels, 0);
        waveform.CmdStart_Click();  // "Asked: as fast as the link allows" beside "Achieved"
        ExpectAllFit(&waveform, "WaveformForm running as fast as the link allows", true);
        run.Stop({});
    }
    TemperatureLogForm log(t.context, &runTimer);
    ExpectAllFit(&log, "TemperatureLogForm", true);
    MeterForm meterForm(t.context, runs);
    ExpectAllFit(&meterForm, "MeterForm", true);
    ProtectionForm protection(t.context);
    ExpectAllFit(&protection, "ProtectionForm", true);
    BenchForm bench(t.context);
    ExpectAllFit(&bench, "BenchForm", true);
}

// The status bar with the longest lasting texts and a long message: nothing runs past the
// window's edge; a text cut short ends in an ellipsis and its tooltip holds it whole.
TEST_F(TextFit, TheStatusBarWithTwoRunsLimitsAndAMessage) {
    MainForm form(t.context);
    t.adapter.QueueRegisterRead(0);
    ASSERT_TRUE(form.Load());
    for (int16_t channel = 0; channel < kChannelCount; ++channel)
        t.instrument.SetLimits(channel,
                               {-10.5263 + channel, 10.5263 - channel, 0.000123457, 9.87654});
    form.ShowRemoteClients(8);
    ShownActivity log(kTemperatureLogKind);
    ShownActivity linearity(kLinearityTestKind, {0});
    t.instrument.BeginActivity(log);
    t.instrument.BeginActivity(linearity, 65536);
    form.show();
    form.statusBar()->showMessage(
        QStringLiteral("Refused: DAC A is driven by the linearity test; stop it to change the "
                       "output, or wait until it ends"));
    QApplication::processEvents();
    QStatusBar* bar = form.statusBar();
    for (QWidget* w : bar->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(bar) || w->parentWidget() != bar)
            continue;
        EXPECT_LE(w->geometry().right(), bar->width()) << w->objectName().toStdString();
    }
    int labels = 0;
    for (ElidedLabel* label : bar->findChildren<ElidedLabel*>()) {
        if (!label->isVisibleTo(bar))
            continue;
        ++labels;
        const QFontMetrics fm(label->font());
        if (label->Elided()) {
            EXPECT_TRUE(label->ShownText().endsWith(QChar(0x2026)));
            EXPECT_TRUE(label->toolTip().startsWith(label->text()))
                << label->objectName().toStdString();
        } else {
            EXPECT_LE(fm.horizontalAdvance(label->text()), label->contentsRect().width())
                << label->objectName().toStdString();
        }
        EXPECT_LE(fm.height(), label->height()) << label->objectName().toStdString();
    }
    EXPECT_GE(labels, 5);
    if (bar->fontMetrics().horizontalAdvance(bar->currentMessage()) > bar->width()) {
        EXPECT_EQ(bar->toolTip(), bar->currentMessage());
    }
    t.instrument.EndActivity(log);
    t.instrument.EndActivity(linearity);
}

}  // namespace
}  // namespace tq::testing
