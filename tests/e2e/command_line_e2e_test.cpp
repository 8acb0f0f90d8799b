// The command line as a user meets it: --help against the manual page and the user's manual,
// --version, the exit status of every usage error, and a missing display.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <string>
#include <vector>

#include "core/Version.h"
#include "tests/e2e/ConsoleRunner.h"

namespace tq::testing {
namespace {

using ProgramRun = ConsoleRun;

// The program without any display: no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM.
ProgramRun RunWithoutDisplay(const QStringList& args) {
    auto env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    return RunEvalProgram(args, env, "", 30000);
}

std::string ReadFile(const char* path) {
    QFile file(QString::fromUtf8(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

// One option as a reader sees it: "-h, --help", "--scpi PORT", and its text in one line.
struct Listed {
    std::string names;
    std::string text;
    bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& option) {
    return out << option.names << ": " << option.text;
}

// --help: an option line starts with two spaces and a dash; its text starts after a gap of two
// or more spaces and goes on in the lines that follow, indented further (where one may start
// with a dash: "--list-boards").
std::vector<Listed> OptionsInHelp(const std::string& help) {
    std::vector<Listed> options;
    bool inOptions = false;
    for (const QString& line : QString::fromStdString(help).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Options:"))) {
            inOptions = true;
            continue;
        }
        if (!inOptions || line.trimmed().isEmpty()) {
            inOptions = inOptions && !line.trimmed().isEmpty();
            continue;
        }
        if (line.startsWith(QLatin1String("  -"))) {
            static const QRegularExpression gap(QStringLiteral("\\S\\s{2,}\\S"));
            const QString body = line.trimmed();
            const auto match = gap.match(body);
            QString names = match.hasMatch() ? body.left(match.capturedStart() + 1) : body;
            names.replace(QRegularExpression(QStringLiteral("<([A-Z]+)>")), QStringLiteral("\\1"));
            const QString text = match.hasMatch() ? body.mid(match.capturedEnd() - 1) : QString();
            options.push_back({names.toStdString(), text.toStdString()});
        } else if (!options.empty()) {
            options.back().text = (QString::fromStdString(options.back().text + " ") + line)
                                      .simplified()
                                      .toStdString();
        }
    }
    return options;
}

// The roff source's OPTIONS section: ".TP", a line of names, then the text.
std::vector<Listed> OptionsInManualPage(const std::string& roff) {
    std::vector<Listed> options;
    const QStringList lines = QString::fromStdString(roff).split(QLatin1Char('\n'));
    bool inOptions = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].startsWith(QLatin1String(".SH")))
            inOptions = lines[i] == QLatin1String(".SH OPTIONS");
        if (!inOptions || lines[i] != QLatin1String(".TP") || i + 2 >= lines.size())
            continue;
        auto plain = [](QString text) {
            text.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
            text.replace(QLatin1String("\\-"), QLatin1String("-"));
            text.replace(QLatin1String("\\e"), QLatin1String("\\"));
            text.remove(QLatin1String("\\&"));
            return text.simplified().toStdString();
        };
        options.push_back({plain(lines[i + 1]), plain(lines[i + 2])});
    }
    return options;
}

TEST(CommandLine, HelpAndTheManualPageListTheSameOptionsWithTheSameText) {
    const ProgramRun help = RunWithoutDisplay({QStringLiteral("--help")});
    ASSERT_EQ(help.exitCode, 0) << help.errors;
    const std::vector<Listed> inHelp = OptionsInHelp(help.output);
    const std::vector<Listed> inManual = OptionsInManualPage(ReadFile(TQ_MAN_PAGE));
    ASSERT_GE(inHelp.size(), 10u) << help.output;
    EXPECT_EQ(inHelp, inManual);
}

TEST(CommandLine, TheManualNamesEveryOption) {
    const std::string manual = ReadFile(TQ_MANUAL);
    ASSERT_FALSE(manual.empty());
    for (const Listed& option : OptionsInManualPage(ReadFile(TQ_MAN_PAGE))) {
        const std::string longName = option.names.substr(option.names.find("--"));
        const std::string name = longName.substr(0, longName.find(' '));
        EXPECT_NE(manual.find("`" + name), std::string::npos)
            << "docs/manual.md's option table lacks " << name;
    }
}

TEST(CommandLine, VersionInTheGnuForm) {
    const ProgramRun run = RunWithoutDisplay({QStringLiteral("--version")});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const QStringList lines = QString::fromStdString(run.output).split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0].toStdString(), std::string("tq2604x-eval ") + kProgramVersion);
    EXPECT_TRUE(lines[1].startsWith(QLatin1String("Copyright (C) 2026"))) << run.output;
    EXPECT_TRUE(lines[1].endsWith(QString::fromLatin1(kCopyrightHolder))) << run.output;
    EXPECT_TRUE(lines[2].startsWith(QLatin1String("License GPLv3+: GNU GPL version 3 or later")))
        << run.output;
    EXPECT_TRUE(run.errors.empty()) << run.errors;
}

struct UsageCase {
    QStringList args;
    std::string says;  // part of the one line on standard error
};

TEST(CommandLine, EveryUsageErrorEndsWithStatusTwoAndOneLine) {
    const auto s = [](const char* text) { return QString::fromLatin1(text); };
    const std::vector<UsageCase> cases{
        {{s("--no-such-option")}, "Unknown option 'no-such-option'"},
        {{s("--scpi")}, "Missing value after '--scpi'"},
        {{s("stray")}, "unexpected argument stray"},
        {{s("--sim-setup"), s("/nonexistent")}, "--sim-setup needs --simulate"},
        {{s("--select-device"), s("--legacy-panel")}, "choose either --select-device or"},
        {{s("--scpi"), s("65536")}, "--scpi takes a port number from 0 to 65535"},
        {{s("--scpi"), s("port")}, "--scpi takes a port number"},
        {{s("--headless")},
         "--headless serves the protocol or the web page: it needs --scpi PORT "
         "or --http PORT"},
        {{s("--scpi"), s("0"), s("--headless"), s("--automation")}, "--headless has no windows"},
        {{s("--listen"), s("0.0.0.0")}, "--listen goes with --scpi PORT or --http PORT"},
        {{s("--http"), s("65536")}, "--http takes a port number from 0 to 65535"},
        {{s("--scpi"), s("0"), s("--listen"), s("nowhere")},
         "--listen takes an IP address such as 0.0.0.0 or a host name: nowhere: "},
        {{s("--scpi"), s("0"), s("--idle-timeout"), s("-5")}, "--idle-timeout takes a whole"},
        {{s("--idle-timeout"), s("60")}, "--idle-timeout goes with --scpi PORT"},
        {{s("--no-advertise")}, "--no-advertise goes with --scpi PORT or --http PORT"},
        {{s("--no-vxi11")}, "--no-vxi11 goes with --scpi PORT"},
        {{s("--resolution"), s("12")}, "--resolution is 16 or 14"},
        {{s("--resolution"), s("14"), s("--select-device")}, "choose either --resolution or"},
        {{s("--simulate"), s("--board"), s("1-4")}, "--board picks a real board"},
        {{s("--headless"), s("--http"), s("0"), s("--http-certificate"), s(TQ_MANUAL),
          s("--http-key"), s(TQ_MANUAL)},
         "holds no PEM certificate"},
        {{s("--sim-meter"), s("0")}, "--sim-meter needs --simulate"},
        {{s("--simulate"), s("--sim-meter"), s("65536")}, "--sim-meter takes a port number"},
        {{s("--setup"), s("a.json"), s("--legacy-panel")}, "--setup goes with the main window"},
        {{s("--http"), s("0"), s("--no-vxi11")}, "--no-vxi11 goes with --scpi PORT"},
        // Every value is read before what the options need of each other.
        {{s("--resolution"), s("15"), s("--select-device")}, "--resolution is 16 or 14"},
        // What a text names is read only once the options' rules hold.
        {{s("--listen"), s("nowhere")}, "--listen goes with --scpi PORT or --http PORT"},
        {{s("--http-password-file"), s("pw")}, "--http-password-file goes with --http PORT"},
        {{s("--http"), s("0"), s("--http-password-file"), s("/nonexistent/pw")},
         "cannot read the password file /nonexistent/pw: "},
        {{s("--http"), s("0"), s("--http-key"), s("k.pem")},
         "--http-certificate and --http-key go together"},
        {{s("--http-certificate"), s("c.pem"), s("--http-key"), s("k.pem")},
         "--http-certificate and --http-key go with --http PORT"},
    };
    for (const UsageCase& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const ProgramRun run = RunWithoutDisplay(c.args);
        EXPECT_EQ(run.exitCode, 2) << run.errors;
        EXPECT_NE(run.errors.find(c.says), std::string::npos) << run.errors;
        EXPECT_EQ(run.errors.rfind("tq2604x-eval: ", 0), 0u) << run.errors;
        EXPECT_EQ(run.errors.find('\n'), run.errors.size() - 1) << "one line: " << run.errors;
        EXPECT_NE(run.errors.find("(see tq2604x-eval --help)"), std::string::npos);
        EXPECT_TRUE(run.output.empty()) << run.output;
    }
}

TEST(CommandLine, WithoutADisplaySaysWhatWorksAndEndsWithStatusOne) {
    const ProgramRun run = RunWithoutDisplay({QStringLiteral("--simulate")});
    EXPECT_EQ(run.exitCode, 1) << run.errors;
    EXPECT_NE(run.errors.find("no display"), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find("--simulate --headless --scpi 5025"), std::string::npos)
        << run.errors;
}

}  // namespace
}  // namespace tq::testing
