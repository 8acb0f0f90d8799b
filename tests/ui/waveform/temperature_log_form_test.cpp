// The Temperature Log window with a fake clock over the recording adapter: the file it writes,
// line by line as the readings come, and what it refuses.

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>

#include "tests/support/FakeClock.h"
#include "tests/support/TestContext.h"
#include "tests/support/WidgetFinder.h"
#include "ui/waveform/TemperatureLogForm.h"

namespace tq::testing {
namespace {

class TemperatureLogFormTest : public ::testing::Test {
protected:
    TemperatureLogFormTest() {
        t.context.files = &files;
        form = std::make_unique<TemperatureLogForm>(t.context, &timer);
        form->show();
    }
    template <typename T>
    T* Child(const char* name) {
        return FindChild<T>(*form, name);
    }
    void Type(const char* name, const QString& text) { TypeOver(Child<QLineEdit>(name), text); }
    void Click(const char* name) { QTest::mouseClick(Child<QPushButton>(name), Qt::LeftButton); }
    QStringList FileLines(const QString& path) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    // One reading of `count` on the board converter, three times as Measure takes it.
    void QueueReading(uint16_t count) {
        for (int i = 0; i < kTemperatureReadings; ++i)
            t.adapter.QueueAdcReading(count);
    }

    TestContext t;
    FakeClock timer;
    ScriptedFileDialogs files;
    std::unique_ptr<TemperatureLogForm> form;
};

TEST_F(TemperatureLogFormTest, EachReadingIsOnDiskBeforeTheNext) {
    QTemporaryDir dir;
    const QString path = dir.filePath("temperature.csv");
    files.names = {path};
    Click("CmdBrowse");
    EXPECT_EQ(Child<QLineEdit>("TextFile")->text(), path);
    Type("TextInterval", "250");
    QueueReading(1900);  // 1.5261 V: 49.72 degrees
    Click("CmdStart");
    EXPECT_FALSE(Child<QPushButton>("CmdStart")->isEnabled());
    QStringList lines = FileLines(path);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "time_utc,seconds,celsius,error");
    EXPECT_TRUE(lines[1].endsWith("Z,0.000,49.7246,") && lines[1].size() == 39)
        << lines[1].toStdString();
    EXPECT_DOUBLE_EQ(*timer.wake, 0.25);
    QueueReading(4094);
    QueueReading(5000);  // beyond 12 bits: a failed reading
    timer.now = 0.25;
    form->Log().Measure();
    timer.now = 0.5;
    QueueReading(5000);
    form->Log().Measure();
    lines = FileLines(path);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[2].contains(",0.250,")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].contains(",0.500,,\"the temperature converter's reading is outside"))
        << lines[3].toStdString();
    form->ShowStatus();
    EXPECT_EQ(Child<QLabel>("LabelLast")->text(), "Last: reading failed");
    EXPECT_EQ(Child<QLabel>("LabelReadings")->text(), "Readings: 3, failed: 1");
    Click("CmdStop");
    EXPECT_FALSE(timer.wake.has_value());
    EXPECT_TRUE(t.messages.messages.empty());
}

TEST_F(TemperatureLogFormTest, RefusesAShortIntervalNoFileAndAnUnwritableOne) {
    QTemporaryDir dir;
    const std::vector<std::tuple<QString, QString, QString>> cases = {
        {"99", dir.filePath("a.csv"), "Interval: '99' is not a number of milliseconds"},
        {"abc", dir.filePath("a.csv"), "Interval: 'abc'"},
        // A decimal comma is no interval, nor a thousands separator (not 1500 ms).
        {"1,500", dir.filePath("a.csv"), "Interval: '1,500' is not a number"},
        {"100", "", "Choose the CSV file"},
        {"100", dir.filePath("no/such/folder/a.csv"), "cannot be written"},
    };
    for (const auto& [interval, path, says] : cases) {
        Type("TextInterval", interval);
        Type("TextFile", path);
        Click("CmdStart");
        ASSERT_EQ(t.messages.messages.size(), 1u) << says.toStdString();
        EXPECT_TRUE(t.messages.messages[0].text.contains(says))
            << t.messages.messages[0].text.toStdString();
        t.messages.messages.clear();
        // Text that holds no number, or a decimal comma, is emptied to be typed again.
        if (interval == "abc" || interval == "1,500") {
            EXPECT_EQ(Child<QLineEdit>("TextInterval")->text(), "");
        }
        EXPECT_FALSE(form->Log().Running());
        EXPECT_TRUE(t.adapter.Requests().empty());
    }
}

// A file that holds something is written over only when asked: Append, Cancel, Replace.
TEST_F(TemperatureLogFormTest, AFileThatHoldsSomethingIsReplacedOrContinuedOnlyWhenAsked) {
    QTemporaryDir dir;
    const QString path = dir.filePath("kept.csv");
    const QString log = QStringLiteral("time_utc,seconds,celsius,error");
    const QString old = QStringLiteral("2026-01-01T00:00:00.000Z,0.000,25.0000,");
    struct Case {
        QString held;  // its last line without a line feed
        int choice;
        QStringList after;  // the new reading is "new"
    };
    for (const Case& c : std::vector<Case>{{log + '\n' + old, 1, {log, old, "new"}},
                                           {log + '\n' + old, 2, {log, old}},
                                           {"volts\n1.5", 0, {log, "new"}}}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.held.toUtf8());
        file.close();
        t.messages.messages.clear();
        t.messages.choice = c.choice;
        QueueReading(1900);
        Type("TextFile", path);
        Click("CmdStart");
        ASSERT_EQ(t.messages.messages.size(), 1u);
        EXPECT_TRUE(t.messages.messages[0].text.endsWith(
            c.held.startsWith(log) ? "[Replace|Append|Cancel]" : "[Replace|Cancel]"));
        Click("CmdStop");
        QStringList lines = FileLines(path);
        for (QString& line : lines)
            if (line.endsWith(QStringLiteral(",49.7246,")))
                line = QStringLiteral("new");
        EXPECT_EQ(lines, c.after);
    }
}

// Closing the window while the log runs asks: Stop it closes and stops the log, Keep it running
// closes and the log goes on (the status bar shows it), Cancel leaves the window open. Closing an
// idle window asks nothing.
TEST_F(TemperatureLogFormTest, ClosingWhileTheLogRunsAsksWhatToDo) {
    QTemporaryDir dir;
    struct Case {
        int choice;  // Stop it, Keep it running, Cancel
        bool closed;
        bool running;
    };
    for (const Case& c : {Case{1, true, true}, Case{2, false, true}, Case{0, true, false}}) {
        SCOPED_TRACE(c.choice);
        form->show();
        if (!form->Log().Running()) {
            QueueReading(1745);
            Type("TextFile", dir.filePath("log.csv"));
            Click("CmdStart");
        }
        ASSERT_TRUE(form->Log().Running());
        t.messages.messages.clear();
        t.messages.choice = c.choice;
        EXPECT_EQ(form->close(), c.closed);
        ASSERT_EQ(t.messages.messages.size(), 1u);
        EXPECT_EQ(t.messages.messages[0].icon, MessageIcon::Question);
        EXPECT_TRUE(t.messages.messages[0].text.startsWith(
            "The temperature log is still running. Stop it, or keep it running"));
        EXPECT_TRUE(t.messages.messages[0].text.endsWith("[Stop it|Keep it running|Cancel]"));
        EXPECT_EQ(form->isVisible(), !c.closed);
        EXPECT_EQ(form->Log().Running(), c.running);
        EXPECT_EQ(t.instrument.Activities().size(), c.running ? 1u : 0u);
    }
    form->show();
    t.messages.messages.clear();
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(t.messages.messages.empty());
}

}  // namespace
}  // namespace tq::testing
