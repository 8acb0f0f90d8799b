// The Waveform Generator and the Temperature Log through the program's menus on the simulated
// board. Each run's first step (and the log's first reading) goes out when Start is clicked;
// a long dwell keeps the rest away, so nothing here depends on time.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <string>

#include "tests/e2e/ConsoleRunner.h"

namespace tq::testing {
namespace {

std::string Enter(const std::string& control, const std::string& text) {
    return "type " + control + " " + text + "\nkey " + control + " enter\n";
}

TEST(WaveformEndToEnd, TriangleAndStaircaseTogetherOwnTheirChannelsUntilStopped) {
    const std::string script =
        "menu MainForm.MnuWaveform\n"
        "select WaveformForm.ComboShape0 Triangle\n"
        "type WaveformForm.TextPoints0 4\n"
        "click WaveformForm.CheckChannel2\n"
        "type WaveformForm.TextPoints2 3\n"
        "type WaveformForm.TextDwell 100000\n"
        "click WaveformForm.CmdStart\n"
        "sim output 0\n"
        "sim output 2\n" +
        Enter("MainForm.TextVolts", "3") +
        "get MainForm.StatusBar\n"
        "sim output 0\n"
        "click WaveformForm.CmdStop\n"
        "get WaveformForm.LabelState\n" +
        Enter("MainForm.TextVolts", "3") + "sim output 0\nmessages\nquit\n";
    const ConsoleRun run = RunConsole(script);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
    // -5 V on DAC A and C at once (each with its own fixed error), kept while the main window
    // is refused, then the main window's 3 V once the run has stopped.
    const std::string expected =
        "-5.000700\nok\n-5.001420\nok\nok\nok\n"
        "text: Refused: DAC A is driven by the waveform run; stop it to change the output\n"
        "visible: 1\nenabled: 1\nok\n-5.000700\nok\nok\n"
        "text: Stopped after 1 steps\nvisible: 1\nenabled: 1\nok\nok\nok\n3.000858\nok\nok\nok\n";
    EXPECT_NE(run.output.find(expected), std::string::npos) << run.output;
}

TEST(TemperatureLogEndToEnd, TheFirstReadingIsOnDiskAtStart) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("log.csv").toStdString();
    const ConsoleRun run = RunConsole(
        "sim temp 40\nmenu MainForm.MnuTemperatureLog\ntype TemperatureLogForm.TextInterval "
        "3600000\ntype TemperatureLogForm.TextFile " +
        path +
        "\nclick TemperatureLogForm.CmdStart\nget TemperatureLogForm.LabelLast\n"
        "click TemperatureLogForm.CmdStop\nmessages\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.output.find("text: Last: 39.93 \u00b0C\n"), std::string::npos) << run.output;
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], "time_utc,seconds,celsius,error");
    EXPECT_TRUE(lines[1].endsWith(",0.000,39.9253,")) << lines[1].toStdString();
}

}  // namespace
}  // namespace tq::testing
