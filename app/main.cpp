// tq2604x-eval: the TQ2604X evaluation board's control program.

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "app/Options.h"
#include "app/Program.h"
#include "app/WebLibrary.h"
#include "core/Version.h"
#include "platform/IpAddress.h"
#include "platform/StandardStreams.h"
#include "ui/widgets/FitText.h"
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

// What --listen names, resolved once, into `addresses`. False with the usage error.
bool ResolveListen(const QString& text, QStringList& addresses, QString& why) {
    std::string reason;
    const std::vector<std::string> found = tq::ListenAddresses(text.toStdString(), reason);
    if (found.empty()) {
        why = QStringLiteral("--listen takes an IP address such as 0.0.0.0 or a host name: %1: %2")
                  .arg(text, QString::fromStdString(reason));
        return false;
    }
    addresses.clear();
    for (const std::string& address : found)
        addresses.append(QString::fromStdString(address));
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
    // The options as the table's checks read them.
    tq::GivenOption Given() const {
        return [this](std::string_view name) -> std::optional<std::string> {
            if (!IsSet(name))
                return std::nullopt;
            return Value(name).toStdString();
        };
    }

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

int PrintHelp(const QCommandLineParser& parser) {
    // Without an application object the parser does not know the program's name.
    QString text = parser.helpText();
    text.replace(QStringLiteral("<executable_name>"), QStringLiteral("tq2604x-eval"));
    std::fputs(qPrintable(text), stdout);
    return 0;
}

int PrintVersion() {
    std::printf(
        "tq2604x-eval %s\n"
        "Copyright (C) %s %s\n"
        "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
        "This is free software: you are free to change and redistribute it.\n"
        "There is NO WARRANTY, to the extent permitted by law.\n",
        tq::kProgramVersion, tq::kCopyrightYears, tq::kCopyrightHolder);
    return 0;
}

// The program's settings from options the table has checked, with what they name read: the
// addresses --listen resolves to and the page's password. The usage error, or an empty text.
QString ReadOptions(const Arguments& parser, tq::ProgramOptions& options) {
    options.simulate = parser.IsSet("simulate");
    options.automation = parser.IsSet("automation");
    options.selectDevice = parser.IsSet("select-device");
    options.legacyPanel = parser.IsSet("legacy-panel");
    options.headless = parser.IsSet("headless");
    options.vxi11 = !parser.IsSet("no-vxi11");
    options.advertise = !parser.IsSet("no-advertise");
    options.simSetupFile = parser.Value("sim-setup");
    options.setupFile = parser.Value("setup");
    options.boardLocation = parser.Value("board");
    const auto number = [&parser](const char* name, auto& field) {
        if (parser.IsSet(name))
            field = static_cast<std::remove_reference_t<decltype(field)>>(
                *tq::OptionNumber(parser.Value(name).toStdString(), UINT64_MAX));
    };
    number("sim-meter", options.simMeterPort);
    number("scpi", options.scpiPort);
    number("http", options.httpPort);
    number("idle-timeout", options.idleTimeoutSeconds);
    number("resolution", options.resolution);
    options.httpCertificate = parser.Value("http-certificate");
    options.httpKey = parser.Value("http-key");
    QString why;
    if (parser.IsSet("listen")) {
        options.listenAddress = parser.Value("listen");
        if (!ResolveListen(options.listenAddress, options.listenAddresses, why))
            return why;
    }
    if (parser.IsSet("http-password-file") &&
        !ReadPasswordFile(parser.Value("http-password-file"), options.httpPassword, why))
        return why;
    return {};
}

// The page's certificate and key, checked at start rather than at the first browser's handshake
// (the library is found beside the program, so once the application is made); without the library
// the page is not served at all, and the start says why. The usage error, or an empty text.
QString CheckTls(const tq::ProgramOptions& options) {
    QString why;
    if (options.httpCertificate.isEmpty())
        return why;
    tq::WebLibrary* web = tq::LoadWebLibrary(why);
    if (web && !web->CheckTls(options.httpCertificate, options.httpKey, why))
        return why;
    return {};
}

// Without a display, what works instead.
int NoDisplay() {
    std::fprintf(stderr,
                 "tq2604x-eval: there is no display to show the windows on (DISPLAY and "
                 "WAYLAND_DISPLAY are unset); run it under a virtual display (xvfb-run -a "
                 "tq2604x-eval --simulate) or serve the instrument protocol without windows "
                 "(tq2604x-eval --simulate --headless --scpi 5025)\n");
    return 1;
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
    if (parser.IsSet("help"))
        return PrintHelp(parser.Parser());
    if (parser.IsSet("version"))
        return PrintVersion();
    if (!parser.Parser().positionalArguments().isEmpty())
        return UsageError(QStringLiteral("unexpected argument ") +
                          parser.Parser().positionalArguments().first());
    if (parser.IsSet("list-boards"))
        return tq::ListBoards();
    if (const std::string error = tq::CheckOptions(parser.Given()); !error.empty())
        return UsageError(error.c_str());

    tq::ProgramOptions options;
    if (const QString error = ReadOptions(parser, options); !error.isEmpty())
        return UsageError(error);
    if (!options.headless && !HasDisplay())
        return NoDisplay();
    std::unique_ptr<QCoreApplication> app;
    if (options.headless) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
        tq::InstallFrameCaptionStyle();
        // The texts' fits of the last run, in the user's cache (where there is one): a start with
        // the same windows and fonts sets their sizes without measuring them again.
        if (const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
            !cache.isEmpty()) {
            tq::KeepTextFits(cache + QStringLiteral("/text-fits"));
            QObject::connect(app.get(), &QCoreApplication::aboutToQuit, [] { tq::SaveTextFits(); });
        }
        QApplication::setApplicationDisplayName(QString::fromLatin1(tq::kProgramTitle));
    }
    QCoreApplication::setApplicationVersion(QString::fromLatin1(tq::kProgramVersion));
    if (const QString error = CheckTls(options); !error.isEmpty())
        return UsageError(error);
    tq::Program program(options);
    return program.Run();
}
