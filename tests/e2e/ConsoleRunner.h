#pragma once
// Runs the program with the automation console on the simulated board and collects what it
// prints. TQ_EVAL_BINARY is the program's path, set by CMake.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tq::testing {

struct ConsoleRun {
    int exitCode = -1;   // -1: the program crashed or did not end
    std::string output;  // standard output
    std::string errors;  // standard error
};

// Runs the program (another copy of it: `program`) with `args` in `env`, `input` on its standard
// input, and waits up to `timeoutMs` for it to end.
inline ConsoleRun RunEvalProgram(const QStringList& args, const QProcessEnvironment& env,
                                 const std::string& input, int timeoutMs,
                                 const QString& program = QStringLiteral(TQ_EVAL_BINARY)) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    ConsoleRun run;
    if (!process.waitForStarted(timeoutMs))
        return run;
    process.write(input.data(), static_cast<qint64>(input.size()));
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished(5000);
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = process.readAllStandardOutput().toStdString();
    run.errors = process.readAllStandardError().toStdString();
    return run;
}

// The environment of a run offscreen with its settings in `configFolder`.
inline QProcessEnvironment OffscreenEnvironment(const QString& configFolder) {
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configFolder);
    return env;
}

// Feeds `script` (lines separated by '\n') on standard input. Extra arguments come after
// "--simulate --automation". The program keeps its settings (the output protection's limits among
// them) in `configFolder`; without one, each run has a fresh empty folder of its own, so that no
// run sees what another kept.
inline ConsoleRun RunConsole(const std::string& script, const QStringList& extraArgs = {},
                             int timeoutMs = 60000, const QString& configFolder = QString()) {
    QStringList args{QStringLiteral("--simulate"), QStringLiteral("--automation")};
    args += extraArgs;
    QTemporaryDir ownConfig;
    return RunEvalProgram(
        args, OffscreenEnvironment(configFolder.isEmpty() ? ownConfig.path() : configFolder),
        script, timeoutMs);
}

// The two console lines that type `text` into the box `field` and press Enter in it.
inline std::string Enter(const std::string& field, const std::string& text) {
    return "type " + field + " " + text + "\nkey " + field + " enter\n";
}

// The output cut into one answer per command, each ending with its "ok" or "error: ..." line.
inline std::vector<std::string> Answers(const std::string& output) {
    std::vector<std::string> answers;
    std::string current;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        current += line + "\n";
        if (line == "ok" || line.rfind("error:", 0) == 0) {
            answers.push_back(current);
            current.clear();
        }
    }
    return answers;
}

// The volts printed by `sim output`.
inline double Volts(const std::string& answer) {
    return std::stod(answer);
}

// Writes `text` to a file in `dir` (the simulated bench's --sim-setup file); its path.
inline QString WriteSetup(const QTemporaryDir& dir, const std::string& text) {
    const QString path = dir.filePath(QStringLiteral("bench.txt"));
    std::ofstream(path.toStdString()) << text;
    return path;
}

// Whether the run ended well with `count` answers, which it leaves in `answers`; where not, what
// the program printed. For ASSERT_TRUE, so that the checks after it may index the answers.
inline ::testing::AssertionResult AnsweredAll(const ConsoleRun& run, std::size_t count,
                                              std::vector<std::string>& answers) {
    if (run.exitCode != 0) {
        return ::testing::AssertionFailure() << "the program ended with " << run.exitCode << ":\n"
                                             << run.errors;
    }
    answers = Answers(run.output);
    if (answers.size() != count) {
        return ::testing::AssertionFailure() << answers.size() << " answers, not " << count << ":\n"
                                             << run.output;
    }
    return ::testing::AssertionSuccess();
}

// Starts the program on the simulated board with its console, offscreen, its settings in `config`,
// for Ask() to talk to while it runs.
inline void StartConsole(QProcess& process, const QTemporaryDir& config) {
    process.setProcessEnvironment(OffscreenEnvironment(config.path()));
    process.start(QStringLiteral(TQ_EVAL_BINARY),
                  {QStringLiteral("--simulate"), QStringLiteral("--automation")});
}

// Sends `commands` to a running console and waits (at most 30 s) until each has answered.
inline std::string Ask(QProcess& process, const std::string& commands) {
    process.write(commands.data(), static_cast<qint64>(commands.size()));
    const int expected = static_cast<int>(std::count(commands.begin(), commands.end(), '\n'));
    std::string output;
    for (int i = 0; i < 300 && static_cast<int>(Answers(output).size()) < expected; ++i) {
        process.waitForReadyRead(100);
        output += process.readAllStandardOutput().toStdString();
    }
    return output;
}

// The shared objects a running program has mapped (/proc/PID/maps).
inline std::string Maps(const QProcess& process) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(process.processId()));
    return maps.open(QIODevice::ReadOnly) ? maps.readAll().toStdString() : std::string();
}

}  // namespace tq::testing
