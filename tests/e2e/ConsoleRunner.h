#pragma once
// Runs the program with the automation console on the simulated board and collects what it
// prints. TQ_EVAL_BINARY is the program's path, set by CMake.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <sstream>
#include <string>
#include <vector>

namespace tq::testing {

struct ConsoleRun {
    int exitCode = -1;
    std::string output;  // standard output
    std::string errors;  // standard error
};

// Feeds `script` (lines separated by '\n') on standard input. Extra arguments come after
// "--simulate --automation". The program keeps its settings (the output protection's limits among
// them) in `configFolder`; without one, each run has a fresh empty folder of its own, so that no
// run sees what another kept.
inline ConsoleRun RunConsole(const std::string& script, const QStringList& extraArgs = {},
                             int timeoutMs = 60000, const QString& configFolder = QString()) {
    QProcess process;
    QStringList args{QStringLiteral("--simulate"), QStringLiteral("--automation")};
    args += extraArgs;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QTemporaryDir ownConfig;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"),
               configFolder.isEmpty() ? ownConfig.path() : configFolder);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TQ_EVAL_BINARY), args);
    ConsoleRun run;
    if (!process.waitForStarted(timeoutMs))
        return run;
    process.write(script.data(), static_cast<qint64>(script.size()));
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished(5000);
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = process.readAllStandardOutput().toStdString();
    run.errors = process.readAllStandardError().toStdString();
    return run;
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

}  // namespace tq::testing
