#pragma once
// Runs the program with the automation console on the simulated board and collects what it
// prints. TQ_EVAL_BINARY is the program's path, set by CMake.

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
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

// Runs the program with `args` in `env`, `input` on its standard input, and waits up to
// `timeoutMs` for it to end.
inline ConsoleRun RunEvalProgram(const QStringList& args, const QProcessEnvironment& env,
                                 const std::string& input, int timeoutMs) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TQ_EVAL_BINARY), args);
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

// Feeds `script` (lines separated by '\n') on standard input. Extra arguments come after
// "--simulate --automation". The program keeps its settings (the output protection's limits among
// them) in `configFolder`; without one, each run has a fresh empty folder of its own, so that no
// run sees what another kept.
inline ConsoleRun RunConsole(const std::string& script, const QStringList& extraArgs = {},
                             int timeoutMs = 60000, const QString& configFolder = QString()) {
    QStringList args{QStringLiteral("--simulate"), QStringLiteral("--automation")};
    args += extraArgs;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QTemporaryDir ownConfig;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"),
               configFolder.isEmpty() ? ownConfig.path() : configFolder);
    return RunEvalProgram(args, env, script, timeoutMs);
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

}  // namespace tq::testing
