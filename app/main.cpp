// tq2604x-eval: the TQ2604X evaluation board's control program.

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/Options.h"
#include "app/Program.h"
#include "app/WebLibrary.h"
#include "core/Version.h"
#include "platform/IpAddress.h"
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

// The page's sign-in password from its file: one line (its line end dropped) of at least
// kShortestPassword characters, in a file that only its owner can read. False with the reason.
constexpr qsizetype kShortestPassword = 12;
bool ReadPasswordFile(const QString& path, std::string& password, QString& why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("cannot read the password file %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) {
        why = QStringLiteral(
                  "the password file %1 can be read by others: make it readable by its owner "
                  "only (chmod 600 %1)")
                  .arg(path);
        return false;
    }
    QByteArray text = file.read(4096);
    if (text.endsWith('\n'))
        text.chop(1);
    if (text.endsWith('\r'))
        text.chop(1);
    const qsizetype length = QString::fromUtf8(text).toUcs4().size();
    const bool oneLine = !text.contains('\n') && !text.contains('\r') && file.atEnd();
    password.assign(text.constData(), static_cast<std::size_t>(text.size()));
    text.fill('\0');
    if (!oneLine) {
        why = QStringLiteral(
                  "the password file %1 holds more than one line: the password "
                  "alone, on one line")
                  .arg(path);
        return false;
    }
    if (length < kShortestPassword) {
        why = QStringLiteral("the password in %1 has %2 characters: it needs at least %3")
                  .arg(path)
                  .arg(length)
                  .arg(kShortestPassword);
        return false;
    }
    return true;
}

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The parser over the options table; IsSet and Value take only names the table has, so a
// misspelt name fails at once instead of reading as "not given".
class Arguments {
public:
    Arguments() {
        parser_.setApplicationDescription(QStringLiteral(
            "Control program for the TQ2604X evaluation board. Without options it drives a real "
            "board over USB; --simulate runs it on the built-in simulated board."));
        for (const tq::OptionRow& row : tq::CommandLineOptions()) {
            QStringList names;
            if (!row.shortName.empty())
                names << FromView(row.shortName);
            names << FromView(row.name);
            parser_.addOption(
                QCommandLineOption(names, FromView(row.help), FromView(row.valueName)));
        }
    }

    QCommandLineParser& Parser() { return parser_; }
    bool IsSet(std::string_view name) const { return parser_.isSet(Known(name)); }
    QString Value(std::string_view name) const { return parser_.value(Known(name)); }

private:
    static QString Known(std::string_view name) {
        for (const tq::OptionRow& row : tq::CommandLineOptions()) {
            if (row.name == name)
                return FromView(name);
        }
        std::fprintf(stderr, "tq2604x-eval: internal error: no option --%.*s in the table\n",
                     static_cast<int>(name.size()), name.data());
        std::abort();
    }

    QCommandLineParser parser_;
};

// Where a window system is needed and none is named, Qt would abort with a core dump; say what
// works instead.
bool HasDisplay() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    tq::PrepareStandardStreams();
    QCoreApplication::setApplicationName(QStringLiteral("tq2604x-eval"));

    Arguments parser;
    // The command line is read before any application object exists: help, version and usage
    // errors need no display, and --headless must not ask for one.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!parser.Parser().parse(arguments))
        return UsageError(parser.Parser().errorText());
    if (parser.IsSet("help")) {
        // Without an application object the parser does not know the program's name.
        QString text = parser.Parser().helpText();
        text.replace(QStringLiteral("<executable_name>"), QStringLiteral("tq2604x-eval"));
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (parser.IsSet("version")) {
        std::printf(
            "tq2604x-eval %s\n"
            "Copyright (C) %s %s\n"
            "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
            "This is free software: you are free to change and redistribute it.\n"
            "There is NO WARRANTY, to the extent permitted by law.\n",
            tq::kProgramVersion, tq::kCopyrightYears, tq::kCopyrightHolder);
        return 0;
    }
    if (!parser.Parser().positionalArguments().isEmpty())
        return UsageError(QStringLiteral("unexpected argument ") +
                          parser.Parser().positionalArguments().first());

    if (parser.IsSet("list-boards"))
        return tq::ListBoards();

    tq::ProgramOptions options;
    options.simulate = parser.IsSet("simulate");
    options.automation = parser.IsSet("automation");
    options.selectDevice = parser.IsSet("select-device");
    options.legacyPanel = parser.IsSet("legacy-panel");
    options.simSetupFile = parser.Value("sim-setup");
    options.headless = parser.IsSet("headless");
    options.setupFile = parser.Value("setup");
    if (!options.setupFile.isEmpty() && (options.legacyPanel || options.selectDevice))
        return UsageError(
            "--setup goes with the main window or --headless, not --legacy-panel "
            "or --select-device (choose the device with --resolution)");
    if (!options.simSetupFile.isEmpty() && !options.simulate)
        return UsageError("--sim-setup needs --simulate");
    // A port option's value, -1 when it is not given; false when it is not a port.
    const auto port = [&parser](const char* name, int& value) {
        if (!parser.IsSet(name))
            return true;
        bool ok = false;
        const uint number = parser.Value(name).toUInt(&ok);
        value = static_cast<int>(number);
        return ok && number <= 65535;
    };
    if (!port("sim-meter", options.simMeterPort))
        return UsageError("--sim-meter takes a port number from 0 to 65535");
    if (options.simMeterPort >= 0 && !options.simulate)
        return UsageError("--sim-meter needs --simulate");
    if (options.selectDevice && options.legacyPanel)
        return UsageError("choose either --select-device or --legacy-panel");
    if (!port("scpi", options.scpiPort))
        return UsageError("--scpi takes a port number from 0 to 65535");
    if (!port("http", options.httpPort))
        return UsageError("--http takes a port number from 0 to 65535");
    const bool serving = options.scpiPort >= 0 || options.httpPort >= 0;
    if (options.headless && !serving)
        return UsageError(
            "--headless serves the protocol or the web page: it needs --scpi PORT "
            "or --http PORT");
    if (options.headless && (options.automation || options.selectDevice || options.legacyPanel))
        return UsageError(
            "--headless has no windows: leave out --automation, --select-device "
            "and --legacy-panel");
    if (parser.IsSet("listen")) {
        if (!serving)
            return UsageError("--listen goes with --scpi PORT or --http PORT");
        options.listenAddress = parser.Value("listen");
        std::string why;
        const std::vector<std::string> addresses =
            tq::ListenAddresses(options.listenAddress.toStdString(), why);
        if (addresses.empty())
            return UsageError(QStringLiteral("--listen takes an IP address such as 0.0.0.0 or a "
                                             "host name: %1: %2")
                                  .arg(options.listenAddress, QString::fromStdString(why)));
        options.listenAddresses.clear();
        for (const std::string& address : addresses)
            options.listenAddresses.append(QString::fromStdString(address));
    }
    if (parser.IsSet("no-vxi11")) {
        if (options.scpiPort < 0)
            return UsageError("--no-vxi11 goes with --scpi PORT");
        options.vxi11 = false;
    }
    if (parser.IsSet("no-advertise")) {
        if (!serving)
            return UsageError("--no-advertise goes with --scpi PORT or --http PORT");
        options.advertise = false;
    }
    if (parser.IsSet("idle-timeout")) {
        bool ok = false;
        options.idleTimeoutSeconds = parser.Value("idle-timeout").toUInt(&ok);
        if (!ok)
            return UsageError("--idle-timeout takes a whole number of seconds (0: never)");
        if (!serving)
            return UsageError("--idle-timeout goes with --scpi PORT or --http PORT");
    }
    if (parser.IsSet("http-password-file")) {
        if (options.httpPort < 0)
            return UsageError("--http-password-file goes with --http PORT");
        QString why;
        if (!ReadPasswordFile(parser.Value("http-password-file"), options.httpPassword, why))
            return UsageError(why);
    }
    if (parser.IsSet("http-certificate") != parser.IsSet("http-key"))
        return UsageError("--http-certificate and --http-key go together");
    if (parser.IsSet("http-certificate")) {
        if (options.httpPort < 0)
            return UsageError("--http-certificate and --http-key go with --http PORT");
        options.httpCertificate = parser.Value("http-certificate");
        options.httpKey = parser.Value("http-key");
    }
    if (parser.IsSet("resolution")) {
        const QString bits = parser.Value("resolution");
        if (bits != QLatin1String("16") && bits != QLatin1String("14"))
            return UsageError("--resolution is 16 or 14");
        if (options.selectDevice)
            return UsageError("choose either --resolution or --select-device");
        options.resolution = static_cast<int16_t>(bits.toInt());
    }

    if (parser.IsSet("board")) {
        if (options.simulate)
            return UsageError("--board picks a real board: leave out --simulate");
        options.boardLocation = parser.Value("board");
    }

    if (!options.headless && !HasDisplay()) {
        std::fprintf(stderr,
                     "tq2604x-eval: there is no display to show the windows on (DISPLAY and "
                     "WAYLAND_DISPLAY are unset); run it under a virtual display (xvfb-run -a "
                     "tq2604x-eval --simulate) or serve the instrument protocol without windows "
                     "(tq2604x-eval --simulate --headless --scpi 5025)\n");
        return 1;
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
    // Checked at start rather than at the first browser's handshake (the library is found beside
    // the program, so once the application is made); without the library the page is not served
    // at all, and the start says why.
    if (!options.httpCertificate.isEmpty()) {
        QString why;
        tq::WebLibrary* web = tq::LoadWebLibrary(why);
        if (web && !web->CheckTls(options.httpCertificate, options.httpKey, why))
            return UsageError(why);
    }
    tq::Program program(options);
    return program.Run();
}
