// The program in the hands of someone who did not write it: closed or vanishing standard streams
// and set-up files that are not set-up files. Each case ends with a clear status, never a hang.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/ConsoleRunner.h"

namespace tq::testing {
namespace {

struct Outcome {
    bool finished = false;  // false: still running after the guard, then killed
    bool crashed = false;   // ended by a signal
    int exitCode = -1;
    std::string output;
    std::string errors;
};

// Runs the program offscreen on the simulated board; `child` runs in the new process just
// before the program starts, after its standard streams are set up.
Outcome RunProgram(const QStringList& args, const QByteArray& input,
                   const std::function<void()>& child = {}, int guardMs = 60000) {
    QProcess process;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    if (child)
        process.setChildProcessModifier(child);
    process.start(QStringLiteral(TQ_EVAL_BINARY), args);
    Outcome outcome;
    if (!process.waitForStarted(guardMs))
        return outcome;
    process.write(input);
    process.closeWriteChannel();
    outcome.finished = process.waitForFinished(guardMs);
    if (!outcome.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    outcome.crashed = process.exitStatus() == QProcess::CrashExit;
    outcome.exitCode = process.exitCode();
    outcome.output = process.readAllStandardOutput().toStdString();
    outcome.errors = process.readAllStandardError().toStdString();
    return outcome;
}

const QStringList kConsole{QStringLiteral("--simulate"), QStringLiteral("--automation")};

TEST(StandardStreams, ClosedInputIsEndOfInput) {
    const Outcome run = RunProgram(kConsole, {}, [] { close(STDIN_FILENO); });
    ASSERT_TRUE(run.finished) << "the console waited for ever on a closed input";
    EXPECT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.output, "ok\n");
}

TEST(StandardStreams, AClosedOutputEndsTheConsoleAndLeavesTheWindows) {
    QProcess process;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    // Standard output is a pipe whose reader has gone, as after `... | head -1`.
    process.setChildProcessModifier([] {
        int fds[2];
        if (pipe(fds) == 0) {
            close(fds[0]);
            dup2(fds[1], STDOUT_FILENO);
            close(fds[1]);
        }
    });
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(TQ_EVAL_BINARY), kConsole);
    ASSERT_TRUE(process.waitForStarted(60000));
    process.write("get MainForm\nget MainForm\n");  // no quit: the input stays open
    std::string errors;
    const std::string said = "the automation console's output was closed";
    while (errors.find(said) == std::string::npos && process.waitForReadyRead(60000))
        errors += process.readAllStandardError().toStdString();
    EXPECT_NE(errors.find(said), std::string::npos) << errors;
    // The console has ended; the program and its windows have not.
    EXPECT_EQ(process.state(), QProcess::Running)
        << "ended with " << process.exitCode() << (process.exitStatus() ? " by a signal" : "");
    process.kill();
    process.waitForFinished(5000);
}

QString WriteFile(const QTemporaryDir& dir, const std::string& text) {
    const QString path = dir.filePath(QStringLiteral("bench.txt"));
    std::ofstream(path.toStdString(), std::ios::binary) << text;
    return path;
}

TEST(SimSetupFile, WhatIsNotASetupFileIsRefusedWithItsReasonAndStatusTwo) {
    QTemporaryDir dir;
    struct Case {
        QString path;
        const char* reason;
    };
    const std::vector<Case> cases{
        {QStringLiteral("/dev/zero"), "not a regular file (a device or a pipe)"},
        {dir.path(), "a folder, not a file"},
        {dir.filePath(QStringLiteral("absent.txt")), "file not found"},
        {WriteFile(dir, std::string(2 << 20, '#')), "file of 2097152 bytes"},
    };
    for (const Case& c : cases) {
        const Outcome run = RunProgram(
            kConsole + QStringList{QStringLiteral("--sim-setup"), c.path}, "trace\nquit\n");
        ASSERT_TRUE(run.finished) << c.path.toStdString();
        EXPECT_EQ(run.exitCode, 2) << c.path.toStdString();
        EXPECT_NE(
            run.errors.find("cannot read the simulator set-up file: " + std::string(c.reason)),
            std::string::npos)
            << run.errors;
        EXPECT_EQ(run.output, "") << "the program must not start: " << c.path.toStdString();
    }
}

TEST(SimSetupFile, ABadLineIsNamedAndQuotedBriefly) {
    QTemporaryDir dir;
    struct Case {
        std::string text;
        std::string reason;
    };
    const std::vector<Case> cases{
        {"temp 40\n" + std::string(10000, 'r') + "\n", "line 2: longer than 4096 bytes"},
        {"reg 1 0 0x10\nbogus\x01\xff" + std::string(4000, 'x') + "\n",
         "line 2: unknown sim command 'bogus\\x01\\xFF" + std::string(73, 'x') + "...'"},
    };
    for (const Case& c : cases) {
        const Outcome run = RunProgram(
            kConsole + QStringList{QStringLiteral("--sim-setup"), WriteFile(dir, c.text)},
            "quit\n");
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.errors.find(c.reason), std::string::npos) << run.errors;
        EXPECT_LT(run.errors.size(), 400u) << run.errors;
    }
}

}  // namespace
}  // namespace tq::testing
