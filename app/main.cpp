// tq2604x-eval: the TQ2604X evaluation board's control program.

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

#include "app/Program.h"
#include "core/Version.h"
#include "platform/StandardStreams.h"
#include "ui/widgets/FrameCaptionStyle.h"

int main(int argc, char** argv) {
    tq::PrepareStandardStreams();
    QApplication app(argc, argv);
    tq::InstallFrameCaptionStyle();
    QApplication::setApplicationName(QStringLiteral("tq2604x-eval"));
    QApplication::setApplicationDisplayName(QString::fromLatin1(tq::kProgramTitle));
    QApplication::setApplicationVersion(QString::fromLatin1(tq::kProgramVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Control program for the TQ2604X evaluation board. Without options it drives a real "
        "board over USB; --simulate runs it on the built-in simulated board."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("Run on the built-in simulated board."));
    const QCommandLineOption automation(
        QStringLiteral("automation"),
        QStringLiteral("Also read automation commands from standard input, one per line."));
    const QCommandLineOption simSetup(
        QStringLiteral("sim-setup"),
        QStringLiteral(
            "Prepare the simulated board with the sim commands in FILE before start-up."),
        QStringLiteral("FILE"));
    const QCommandLineOption selectDevice(
        QStringLiteral("select-device"),
        QStringLiteral("Choose the converter (16-bit or 14-bit) before the main window opens."));
    const QCommandLineOption legacyPanel(
        QStringLiteral("legacy-panel"),
        QStringLiteral("Start the single-voltage legacy panel instead of the main window."));
    parser.addOptions({simulate, automation, simSetup, selectDevice, legacyPanel});
    parser.process(app);

    tq::ProgramOptions options;
    options.simulate = parser.isSet(simulate);
    options.automation = parser.isSet(automation);
    options.selectDevice = parser.isSet(selectDevice);
    options.legacyPanel = parser.isSet(legacyPanel);
    options.simSetupFile = parser.value(simSetup);
    if (!options.simSetupFile.isEmpty() && !options.simulate) {
        std::fprintf(stderr, "tq2604x-eval: --sim-setup needs --simulate\n");
        return 2;
    }
    if (options.selectDevice && options.legacyPanel) {
        std::fprintf(stderr, "tq2604x-eval: choose either --select-device or --legacy-panel\n");
        return 2;
    }
    tq::Program program(options);
    return program.Run();
}
