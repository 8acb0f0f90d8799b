// The program as a whole on the simulated board: start-up traffic, options and start-up failures.

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "tests/e2e/ConsoleRunner.h"

namespace tq::testing {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Starts the program offscreen with these arguments and the given standard input.
void StartProgram(QProcess& process, const QStringList& args, const QByteArray& input = {}) {
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TQ_EVAL_BINARY), args);
    ASSERT_TRUE(process.waitForStarted(30000));
    process.write(input);
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(30000));
}

TEST(ProgramStartup, SendsExactlyTheStartupTraffic) {
    const ConsoleRun run = RunConsole("trace\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const auto lines = Lines(run.output);
    ASSERT_GE(lines.size(), 11u) << run.output;
    EXPECT_EQ(lines[0], "Search_For_Boards vid=0x456 pid=0xB202 result=0");
    EXPECT_EQ(lines[1], "Connect vid=0x456 pid=0xB202 board=0x0 result=0");
    EXPECT_EQ(lines[2].rfind("Download_Firmware path=", 0), 0u);
    EXPECT_NE(lines[2].find("/TQ2604.hex result=0"), std::string::npos) << lines[2];
    const std::vector<std::string> requests{
        // the function register read back, twice
        "Vendor_Request req=0xDD value=0x81 index=0x0 dir=1 len=3 reply=00 00 00 result=3",
        "Vendor_Request req=0xDD value=0x81 index=0x0 dir=1 len=3 reply=00 00 00 result=3",
        // the no-operation word
        "Vendor_Request req=0xDD value=0x0 index=0x0 dir=0 len=0 result=0",
        // the data register view: the function word with SDO enabled, then DAC A's data register
        "Vendor_Request req=0xDD value=0x1 index=0x0 dir=0 len=0 result=0",
        "Vendor_Request req=0xDD value=0x90 index=0x0 dir=1 len=3 reply=00 00 00 result=3",
        "Vendor_Request req=0xDD value=0x90 index=0x0 dir=1 len=3 reply=00 01 00 result=3",
        // DAC A's range, once, for the volts of the data view.
        "Vendor_Request req=0xDD value=0x98 index=0x0 dir=1 len=3 reply=00 01 00 result=3",
        "Vendor_Request req=0xDD value=0x98 index=0x0 dir=1 len=3 reply=00 00 00 result=3",
        "ok",
        "ok",
    };
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()), requests) << run.output;
}

TEST(ProgramStartup, StartsFromAPreparedBench) {
    QTemporaryDir dir;
    const QString setup = WriteSetup(dir, "# D1 and D0 outputs, D1 high\nreg 1 0 0x1C\n");
    const ConsoleRun run = RunConsole(
        "get MainForm.Toggle3\nget MainForm.Toggle4\nget MainForm.Command6\nstate "
        "FnD1Output\nquit\n",
        {QStringLiteral("--sim-setup"), setup});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.output.find("text: D1 - Output\nvisible: 1\nenabled: 1\nstate: 1\nok"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("text: D0 - Output"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("text: READ\nvisible: 0"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("1\nok\nok\n"), std::string::npos) << run.output;
}

TEST(ProgramStartup, FailedDownloadExplainsAndEndsWithStatusOne) {
    struct Case {
        const char* setup;
        const char* firstLine;  // the explanation, or the start-up message alone
    };
    const Case cases[] = {
        {"fail-download -4\n", "message: warning The firmware file TQ2604.hex is missing"},
        {"fail-download -1\n", "message: warning The board did not answer"},
        {"fail-download 1\n",
         "message: warning Error Downloading Firmware - Check USB connections"},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const ConsoleRun run = RunConsole(
            "get MainForm\nquit\n", {QStringLiteral("--sim-setup"), WriteSetup(dir, c.setup)});
        EXPECT_EQ(run.exitCode, 1) << c.setup;
        EXPECT_EQ(run.output.rfind(c.firstLine, 0), 0u) << run.output;
        EXPECT_NE(run.output.find("message: warning Error Downloading Firmware - Check USB "
                                  "connections\n"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(run.output.find("ok"), std::string::npos) << "no command may run: " << run.output;
    }
}

TEST(ProgramStartup, WithoutABoardExplainsAndEndsWithStatusOne) {
    // No board is attached to the machines the tests run on.
    QProcess process;
    StartProgram(process, {QStringLiteral("--automation")}, "get MainForm\nquit\n");
    EXPECT_EQ(process.exitCode(), 1);
    const QByteArray out = process.readAllStandardOutput();
    EXPECT_TRUE(
        out.startsWith("message: warning No TQ2604X evaluation board (USB 0456:B202) is "
                       "attached."))
        << out.toStdString();
    EXPECT_TRUE(
        out.endsWith("message: warning Error Downloading Firmware - Check USB "
                     "connections\n"))
        << out.toStdString();
}

// A run loads what it uses: a start-up to the main window on the simulated board maps neither
// Qt Charts, USB, Qt Network, its Kerberos libraries, libtirpc, Avahi nor Qt HTTP Server; the
// first plot shown loads the plotting library with Qt Charts, the first LAN meter opened the
// network library with Qt Network and libtirpc, and USB and the web page's library (--http alone)
// never.
TEST(ProgramStartup, MapsEachLibraryOnlyOnceTheRunUsesIt) {
    QProcess process;
    QTemporaryDir config;
    StartConsole(process, config);
    ASSERT_TRUE(process.waitForStarted(30000));
    EXPECT_EQ(Ask(process, "get MainForm\n"),
              "text: TQ2604X Evaluation Software\nvisible: 1\nok\n");
    const std::string atStart = Maps(process);
    ASSERT_NE(atStart.find("tq2604x-eval"), std::string::npos) << "no maps read";
    for (const char* library :
         {"libQt6Charts", "tq2604x-eval-plots", "libusb-1.0", "libudev", "libQt6Network",
          "libavahi-client", "libtq2604x-eval-network", "libQt6HttpServer", "libtq2604x-eval-web"})
        EXPECT_EQ(atStart.find(library), std::string::npos) << library;
#if !defined(__SANITIZE_ADDRESS__)
    // A sanitizer build links libtirpc, and with it Kerberos, into the program itself, so that the
    // sanitizer's wrappers of its functions find it (app/CMakeLists.txt).
    for (const char* library : {"libgssapi_krb5", "libtirpc"})
        EXPECT_EQ(atStart.find(library), std::string::npos) << library;
#endif

    const std::string shown = Ask(process,
                                  "menu MainForm.MnuWaveform\n"
                                  "get WaveformForm.PlotPreview\n");
    EXPECT_NE(shown.find("visible: 1"), std::string::npos) << shown;
    const std::string afterPlot = Maps(process);
    EXPECT_NE(afterPlot.find("libQt6Charts.so"), std::string::npos);
    EXPECT_NE(afterPlot.find("libtq2604x-eval-plots.so"), std::string::npos);
    EXPECT_EQ(afterPlot.find("libQt6Network"), std::string::npos);

    Ask(process,
        "menu MainForm.MnuMeter\n"
        "type MeterForm.TextAddress TCPIP::127.0.0.1::9::SOCKET\n"
        "click MeterForm.CmdOpen\n");
    const std::string afterMeter = Maps(process);
    EXPECT_NE(afterMeter.find("libtq2604x-eval-network.so"), std::string::npos);
    EXPECT_NE(afterMeter.find("libQt6Network"), std::string::npos);
    EXPECT_NE(afterMeter.find("libtirpc"), std::string::npos);
    EXPECT_EQ(afterMeter.find("libusb-1.0"), std::string::npos);
    EXPECT_EQ(afterMeter.find("libQt6HttpServer"), std::string::npos);

    Ask(process, "quit\n");
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0);
}

// A copy of the program without its network library still shows its windows, and says what is
// missing where it is needed: serving the protocol ends with status 1, a LAN meter is refused.
TEST(ProgramStartup, WithoutTheNetworkLibrarySaysWhatIsMissing) {
    QTemporaryDir dir;
    const QString folder = QFileInfo(QStringLiteral(TQ_EVAL_BINARY)).absolutePath();
    const QString program = dir.filePath(QStringLiteral("tq2604x-eval"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TQ_EVAL_BINARY), program));
    ASSERT_TRUE(QFile::copy(folder + QStringLiteral("/TQ2604.hex"),
                            dir.filePath(QStringLiteral("TQ2604.hex"))));
    const std::string missing =
        dir.filePath(QStringLiteral("libtq2604x-eval-network.so")).toStdString() +
        " is missing; reinstall the program";
    const QProcessEnvironment env = OffscreenEnvironment(dir.path());

    const ConsoleRun served =
        RunEvalProgram({QStringLiteral("--simulate"), QStringLiteral("--headless"),
                        QStringLiteral("--scpi"), QStringLiteral("0")},
                       env, "", 30000, program);
    EXPECT_EQ(served.exitCode, 1);
    EXPECT_EQ(served.errors,
              "tq2604x-eval: cannot serve the instrument protocol on 127.0.0.1 port 0: " + missing +
                  "\n");

    const ConsoleRun windows =
        RunEvalProgram({QStringLiteral("--simulate"), QStringLiteral("--automation")}, env,
                       "menu MainForm.MnuMeter\n"
                       "type MeterForm.TextAddress TCPIP::127.0.0.1::9::SOCKET\n"
                       "click MeterForm.CmdOpen\n"
                       "messages\n"
                       "quit\n",
                       30000, program);
    EXPECT_EQ(windows.exitCode, 0) << windows.errors;
    EXPECT_NE(windows.output.find("message: warning LAN meters cannot be opened: " + missing),
              std::string::npos)
        << windows.output;
}

TEST(ProgramOptions, RefusesASetupFileWithoutTheSimulatedBoard) {
    QProcess process;
    StartProgram(process, {QStringLiteral("--sim-setup"), QStringLiteral("/nonexistent")});
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().contains("--sim-setup needs --simulate"));
}

TEST(ProgramOptions, ReportsAnUnreadableSetupFile) {
    const ConsoleRun run = RunConsole(
        "quit\n", {QStringLiteral("--sim-setup"), QStringLiteral("/nonexistent/bench.txt")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.errors.find("cannot read the simulator set-up file"), std::string::npos);
}

}  // namespace
}  // namespace tq::testing
