// tq2604x-eval: the TQ2604X evaluation board's control program.

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <cstdio>
#include <memory>

#include "app/Program.h"
#include "core/Version.h"
#include "platform/StandardStreams.h"
#include "ui/widgets/FrameCaptionStyle.h"

namespace {

int UsageError(QString why) {
    if (why.endsWith(QLatin1Char('.')))
        why.chop(1);
    std::fprintf(stderr, "tq2604x-eval: %s (see tq2604x-eval --help)\n", qPrintable(why));
    return 2;
}

int UsageError(const char* why) {
    return UsageError(QString::fromUtf8(why));
}

}  // namespace

int main(int argc, char** argv) {
    tq::PrepareStandardStreams();
    QCoreApplication::setApplicationName(QStringLiteral("tq2604x-eval"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Control program for the TQ2604X evaluation board. Without options it drives a real "
        "board over USB; --simulate runs it on the built-in simulated board."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    parser.addOption(help);
    parser.addOption(version);
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
    const QCommandLineOption scpi(
        QStringLiteral("scpi"),
        QStringLiteral("Serve the SCPI instrument protocol on TCP PORT (5025 is customary; 0 picks "
                       "a free port, printed on standard error)."),
        QStringLiteral("PORT"));
    const QCommandLineOption headlessOption(
        QStringLiteral("headless"),
        QStringLiteral("With --scpi: serve the protocol without any window or display; SIGINT or "
                       "SIGTERM end the program."));
    const QCommandLineOption listen(
        QStringLiteral("listen"),
        QStringLiteral("With --scpi: listen on ADDRESS instead of the loopback address (anyone "
                       "who can reach the port can then drive the outputs)."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption resolution(
        QStringLiteral("resolution"),
        QStringLiteral("The converter: 16 (TQ2604X, the default) or 14 (TQ2404) bits, without "
                       "the selection window."),
        QStringLiteral("BITS"));
    const QCommandLineOption listBoards(
        QStringLiteral("list-boards"),
        QStringLiteral("Print each attached board's USB location (bus-ports, such as 1-4.2) and "
                       "serial number where it reports one, and end."));
    const QCommandLineOption board(
        QStringLiteral("board"),
        QStringLiteral("Use the board at this USB LOCATION (from --list-boards) rather than the "
                       "first found; it is also the serial field of *IDN?."),
        QStringLiteral("LOCATION"));
    const QCommandLineOption setup(
        QStringLiteral("setup"),
        QStringLiteral(
            "Open the setup saved in FILE right after start-up (see docs/setup-format.md)."),
        QStringLiteral("FILE"));
    const QCommandLineOption simMeter(
        QStringLiteral("sim-meter"),
        QStringLiteral("With --simulate: serve a simulated DC voltmeter (SCPI) on the loopback "
                       "address, port PORT (0: a free one)."),
        QStringLiteral("PORT"));
    parser.addOptions({simulate, automation, simSetup, selectDevice, legacyPanel, scpi,
                       headlessOption, listen, resolution, listBoards, board, setup, simMeter});
    // The command line is read before any application object exists: help, version and usage
    // errors need no display, and --headless must not ask for one.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!parser.parse(arguments))
        return UsageError(parser.errorText());
    if (parser.isSet(help)) {
        // Without an application object the parser does not know the program's name.
        QString text = parser.helpText();
        text.replace(QStringLiteral("<executable_name>"), QStringLiteral("tq2604x-eval"));
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("tq2604x-eval %s\n", tq::kProgramVersion);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return UsageError(QStringLiteral("unexpected argument ") +
                          parser.positionalArguments().first());

    if (parser.isSet(listBoards))
        return tq::ListBoards();

    tq::ProgramOptions options;
    options.simulate = parser.isSet(simulate);
    options.automation = parser.isSet(automation);
    options.selectDevice = parser.isSet(selectDevice);
    options.legacyPanel = parser.isSet(legacyPanel);
    options.simSetupFile = parser.value(simSetup);
    options.headless = parser.isSet(headlessOption);
    options.setupFile = parser.value(setup);
    if (!options.setupFile.isEmpty() && (options.legacyPanel || options.selectDevice))
        return UsageError(
            "--setup goes with the main window or --headless, not --legacy-panel "
            "or --select-device (choose the device with --resolution)");
    if (!options.simSetupFile.isEmpty() && !options.simulate)
        return UsageError("--sim-setup needs --simulate");
    if (parser.isSet(simMeter)) {
        bool ok = false;
        const uint port = parser.value(simMeter).toUInt(&ok);
        if (!ok || port > 65535)
            return UsageError("--sim-meter takes a port number from 0 to 65535");
        if (!options.simulate)
            return UsageError("--sim-meter needs --simulate");
        options.simMeterPort = static_cast<int>(port);
    }
    if (options.selectDevice && options.legacyPanel)
        return UsageError("choose either --select-device or --legacy-panel");
    if (parser.isSet(scpi)) {
        bool ok = false;
        const uint port = parser.value(scpi).toUInt(&ok);
        if (!ok || port > 65535)
            return UsageError("--scpi takes a port number from 0 to 65535");
        options.scpiPort = static_cast<int>(port);
    }
    if (options.headless && options.scpiPort < 0)
        return UsageError("--headless serves the protocol: it needs --scpi PORT");
    if (options.headless && (options.automation || options.selectDevice || options.legacyPanel))
        return UsageError(
            "--headless has no windows: leave out --automation, --select-device "
            "and --legacy-panel");
    if (parser.isSet(listen)) {
        if (options.scpiPort < 0)
            return UsageError("--listen goes with --scpi PORT");
        if (!options.listenAddress.setAddress(parser.value(listen)))
            return UsageError("--listen takes an IP address such as 0.0.0.0 or 192.0.2.7");
    }
    if (parser.isSet(resolution)) {
        const QString bits = parser.value(resolution);
        if (bits != QLatin1String("16") && bits != QLatin1String("14"))
            return UsageError("--resolution is 16 or 14");
        if (options.selectDevice)
            return UsageError("choose either --resolution or --select-device");
        options.resolution = static_cast<int16_t>(bits.toInt());
    }

    if (parser.isSet(board)) {
        if (options.simulate)
            return UsageError("--board picks a real board: leave out --simulate");
        options.boardLocation = parser.value(board);
    }

    std::unique_ptr<QCoreApplication> app;
    if (options.headless) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
        tq::InstallFrameCaptionStyle();
        QApplication::setApplicationDisplayName(QString::fromLatin1(tq::kProgramTitle));
    }
    QCoreApplication::setApplicationVersion(QString::fromLatin1(tq::kProgramVersion));
    tq::Program program(options);
    return program.Run();
}
