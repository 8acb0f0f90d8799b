// The entry boxes' check before they read a number, Tab in reading order, the default suffix of
// a saved file, texts that give way in a status bar, and window places kept between runs.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <string>
#include <vector>

#include "tests/support/TestContext.h"
#include "ui/widgets/DecimalEntry.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/ElidingStatusBar.h"
#include "ui/widgets/FileDialogs.h"
#include "ui/widgets/TabOrder.h"
#include "ui/widgets/WindowPlaces.h"

namespace tq::testing {
namespace {

TEST(DecimalEntry, RefusesNoNumberAndADecimalCommaOnly) {
    struct Case {
        const char* text;
        bool holds;
    };
    const std::vector<Case> cases{// No number at all.
                                  {"x", false},
                                  {"abc", false},
                                  {"-", false},
                                  {"+", false},
                                  {".", false},
                                  {"-.", false},
                                  {"&H", false},
                                  {"&Hxyz", false},
                                  {"&O9", false},
                                  {"e5", false},
                                  {"V5", false},
                                  {"nan", false},
                                  {"\xef\xbc\x95", false},  // a full-width five
                                                            // A decimal comma, whatever follows it.
                                  {"1,5", false},
                                  {"-0,25", false},
                                  {"1 , 5", false},
                                  {"1,5V", false},
                                  {"1e3,5", false},
                                  {"&H1F,2", false},
                                  {"2.5,1", false},
                                  // Every other text keeps its reading.
                                  {"", true},
                                  {"   ", true},
                                  {"12V", true},
                                  {"1.5.7", true},
                                  {"&H1F", true},
                                  {"&o17", true},
                                  {"1 5", true},
                                  {"-.5", true},
                                  {"5.", true},
                                  {"1e", true},
                                  {"1e-3", true},
                                  {"1,x", true},
                                  {"1,", true},
                                  {"1,,5", true},
                                  {"+3 V", true},
                                  {"2D3", true}};
    for (const Case& c : cases)
        EXPECT_EQ(HoldsDecimalNumber(c.text), c.holds) << '"' << c.text << '"';
}

TEST(DecimalEntry, ARefusedBoxIsEmptiedAndFocused) {
    App();
    QWidget window;
    auto* other = new QPushButton(&window);
    auto* box = new QLineEdit(&window);
    window.show();
    other->setFocus();
    box->setText(QStringLiteral("1,5"));
    box->setModified(true);
    EXPECT_FALSE(TakeDecimalEntry(box));
    EXPECT_EQ(box->text(), QString());
    EXPECT_FALSE(box->isModified());
    EXPECT_EQ(window.focusWidget(), box);
    box->setText(QStringLiteral("1.5"));
    other->setFocus();
    EXPECT_TRUE(TakeDecimalEntry(box));
    EXPECT_EQ(box->text(), QStringLiteral("1.5"));
    EXPECT_EQ(window.focusWidget(), other);
}

TEST(ReadingOrder, RowsFromTheTopEachFromTheLeft) {
    struct Case {
        const char* name;
        std::vector<QRect> boxes;
        std::vector<std::size_t> order;
    };
    const std::vector<Case> cases{
        {"one row", {{300, 10, 50, 20}, {10, 10, 50, 20}, {150, 12, 50, 20}}, {1, 2, 0}},
        {"a box lower in the row joins it",
         {{500, 40, 60, 20}, {10, 30, 80, 20}, {200, 45, 60, 20}, {10, 200, 80, 20}},
         {1, 2, 0, 3}},
        {"two rows, the lower made first",
         {{10, 100, 50, 20}, {80, 10, 50, 20}, {10, 10, 50, 20}},
         {2, 1, 0}},
        {"a tall box holds its neighbours in its row",
         {{10, 0, 50, 100}, {100, 60, 40, 20}, {100, 0, 40, 20}, {10, 150, 40, 20}},
         {0, 2, 1, 3}},
        {"none", {}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadingOrder(c.boxes), c.order) << c.name;
}

TEST(ReadingOrder, TabFollowsFramesThenRowsWhateverTheOrderOfMaking) {
    App();
    QWidget window;
    window.resize(400, 300);
    const auto place = [](QWidget* w, const char* name, QRect at) {
        w->setObjectName(QLatin1String(name));
        w->setGeometry(at);
        return w;
    };
    // The lower frame and its boxes are made first, and a frame drawn round everything too.
    auto* around = place(new QWidget(&window), "Around", {0, 0, 400, 300});
    around->lower();
    auto* lower = place(new QWidget(&window), "Lower", {0, 150, 400, 100});
    place(new QLineEdit(lower), "C", {200, 10, 80, 20});
    place(new QPushButton(lower), "D", {10, 12, 80, 20});
    place(new QLineEdit(&window), "B", {200, 20, 80, 20});
    QWidget* a = place(new QLineEdit(&window), "A", {10, 20, 80, 20});
    SetReadingTabOrder(&window);
    std::vector<std::string> order;
    QWidget* w = a;
    for (int i = 0; i < 4; ++i) {
        order.push_back(w->objectName().toStdString());
        do {
            w = w->nextInFocusChain();
        } while (!(w->focusPolicy() & Qt::TabFocus));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"A", "B", "D", "C"}));
}

TEST(SavedFiles, ANameWithoutAnExtensionGetsTheFiltersSuffix) {
    struct Case {
        const char* path;
        const char* suffix;
        const char* saved;
    };
    for (const Case& c : std::vector<Case>{{"/home/u/setup1", "json", "/home/u/setup1.json"},
                                           {"/home/u/setup1.json", "json", "/home/u/setup1.json"},
                                           {"/home/u/bench.setup", "json", "/home/u/bench.setup"},
                                           {"/home/u.d/setup1", "json", "/home/u.d/setup1.json"},
                                           {"log", "csv", "log.csv"},
                                           {"", "json", ""}})
        EXPECT_EQ(WithDefaultSuffix(QString::fromLatin1(c.path), QString::fromLatin1(c.suffix)),
                  QString::fromLatin1(c.saved))
            << c.path;
    EXPECT_EQ(FilterSuffix(QStringLiteral("Setups (*.json);;All files (*)")), "json");
    EXPECT_EQ(FilterSuffix(QStringLiteral("CSV files (*.csv *.txt)")), "csv");
    EXPECT_EQ(FilterSuffix(QStringLiteral("All files (*)")), "");
}

TEST(ElidedText, AStatusTextThatIsCutCarriesTheWholeTextAsItsTooltip) {
    App();
    ElidedLabel label;
    const QString whole = QStringLiteral("Linearity test DAC A 12/257 and a good deal more text");
    label.SetText(whole);
    label.SetTip(QStringLiteral("Click to open its window"));
    label.resize(2000, 20);
    label.show();
    EXPECT_FALSE(label.Elided());
    EXPECT_EQ(label.toolTip(), "Click to open its window");
    label.resize(80, 20);
    EXPECT_TRUE(label.Elided());
    EXPECT_TRUE(label.ShownText().endsWith(QChar(0x2026))) << label.ShownText().toStdString();
    EXPECT_EQ(label.text(), whole);  // what the console reads stays whole
    EXPECT_EQ(label.toolTip(), whole + "\nClick to open its window");
    EXPECT_LT(label.minimumSizeHint().width(), 80);
}

TEST(ElidedText, AMessageThatMeetsTheLastingTextsEndsInAnEllipsis) {
    App();
    QWidget window;
    auto* bar = new ElidingStatusBar(&window);
    auto* board = new QLabel(QStringLiteral("Simulated board"), bar);
    bar->addPermanentWidget(board);
    window.resize(300, 40);
    bar->setGeometry(0, 0, 300, 30);
    window.show();
    QApplication::processEvents();
    const QString longMessage = QStringLiteral(
        "Refused: DAC A is driven by the waveform run; stop it to change the output");
    bar->showMessage(longMessage);
    QApplication::processEvents();
    EXPECT_EQ(bar->currentMessage(), longMessage);
    EXPECT_TRUE(bar->ShownMessage().endsWith(QChar(0x2026)));
    EXPECT_LE(bar->MessageRect().right(), board->x());
    EXPECT_EQ(bar->toolTip(), longMessage);
    bar->showMessage(QStringLiteral("Saved"));
    EXPECT_EQ(bar->ShownMessage(), "Saved");
    EXPECT_EQ(bar->toolTip(), QString());
}

TEST(WindowPlaces, AWindowComesBackWhereItWas) {
    App();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("places.ini"));
    {
        QSettings settings(file, QSettings::IniFormat);
        QWidget window;
        window.setObjectName(QStringLiteral("ToolForm"));
        KeepWindowPlace(&window, settings);
        KeepWindowPlace(&window, settings);  // once is enough
        EXPECT_FALSE(HasKeptPlace(QStringLiteral("ToolForm"), settings));
        window.show();
        window.setGeometry(120, 90, 333, 222);
        window.hide();
        EXPECT_TRUE(HasKeptPlace(QStringLiteral("ToolForm"), settings));
    }
    ASSERT_TRUE(QFile::exists(file));
    QSettings settings(file, QSettings::IniFormat);
    QWidget again;
    again.setObjectName(QStringLiteral("ToolForm"));
    KeepWindowPlace(&again, settings);
    again.show();
    EXPECT_EQ(again.geometry().size(), QSize(333, 222));
    EXPECT_FALSE(HasKeptPlace(QStringLiteral("OtherForm"), settings));
    // Shown and hidden where it was kept: the file is not written again.
    ASSERT_TRUE(QFile::remove(file));
    again.hide();
    settings.sync();
    EXPECT_FALSE(QFile::exists(file));
    again.show();
    again.resize(300, 200);
    again.hide();
    settings.sync();
    EXPECT_TRUE(QFile::exists(file));

    // Kept on a screen that is gone, and taller than this one: it comes back whole, shorter.
    const QRect available = again.screen()->availableGeometry();
    {
        QWidget gone;
        gone.setObjectName(QStringLiteral("GoneForm"));
        KeepWindowPlace(&gone, settings);
        gone.show();
        gone.setGeometry(available.right() - 100, 40, 300, available.height() + 200);
        gone.hide();
    }
    QWidget back;
    back.setObjectName(QStringLiteral("GoneForm"));
    KeepWindowPlace(&back, settings);
    back.show();
    EXPECT_TRUE(available.contains(back.frameGeometry())) << back.x() << "," << back.y();
    EXPECT_EQ(back.width(), 300);

    // Shown the first time, a window opens over its home window.
    QWidget tool;
    tool.setObjectName(QStringLiteral("NewForm"));
    tool.resize(200, 100);
    KeepWindowPlace(&tool, settings, &again);
    again.show();
    tool.show();
    EXPECT_EQ(tool.frameGeometry().center(), again.frameGeometry().center());
}

}  // namespace
}  // namespace tq::testing
