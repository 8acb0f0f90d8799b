// The console reading commands from a pipe on the program's own event loop.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "adapter/tracing/TracingAdapter.h"
#include "platform/StandardStreams.h"
#include "tests/support/TestContext.h"
#include "tests/ui/automation/ToyForm.h"
#include "ui/automation/AutomationConsole.h"

namespace tq::testing {
namespace {

struct PipeRun {
    int exitCode = -1;
    std::string output;
    std::string errors;
};

std::string ReadAll(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    std::fclose(file);
    return text;
}

// Runs the console over input already open on `fd` until it ends the event loop; an end of the
// console without quitting exits with status 7.
PipeRun RunConsoleOn(TestContext& t, int fd, std::FILE* out) {
    TracingAdapter trace(t.adapter);
    std::FILE* err = std::tmpfile();
    PipeRun run;
    {
        AutomationConsole console(t.context, trace, nullptr, t.messages, out, err);
        QObject::connect(&console, &AutomationConsole::Ended, [] { QCoreApplication::exit(7); });
        console.StartReading(fd);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(60000);
        run.exitCode = QCoreApplication::exec();
    }
    run.errors = ReadAll(err);
    return run;
}

// The script from a file, which may be far larger than a pipe holds.
PipeRun RunFromFile(TestContext& t, const std::string& script) {
    std::FILE* in = std::tmpfile();
    EXPECT_EQ(std::fwrite(script.data(), 1, script.size(), in), script.size());
    std::fflush(in);
    std::rewind(in);
    std::FILE* out = std::tmpfile();
    PipeRun run = RunConsoleOn(t, fileno(in), out);
    run.output = ReadAll(out);
    std::fclose(in);
    return run;
}

// Feeds `script` through a pipe, runs the event loop until the console ends it, and returns what
// the console printed.
PipeRun RunScript(TestContext& t, const std::string& script) {
    TracingAdapter trace(t.adapter);
    std::FILE* out = std::tmpfile();
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], script.data(), script.size()), static_cast<ssize_t>(script.size()));
    close(fds[1]);

    PipeRun run;
    {
        AutomationConsole console(t.context, trace, nullptr, t.messages, out);
        console.StartReading(fds[0]);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(10000);
        run.exitCode = QCoreApplication::exec();
    }
    close(fds[0]);
    std::rewind(out);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0)
        run.output.append(buffer, n);
    std::fclose(out);
    return run;
}

TEST(ConsoleInput, RunsEachLineInTurnAndQuitsAtTheEnd) {
    TestContext t;
    ToyForm toy;
    QObject::connect(toy.check1, &QCheckBox::clicked, toy.label1, [&toy] {
        QTimer::singleShot(200, toy.label1, [&toy] { toy.label1->setText("later"); });
    });
    PipeRun run = RunScript(t,
                            "get ToyForm.Check1\n"
                            "click ToyForm.Check1\r\n"
                            "\n"
                            "get ToyForm.Label1\n"
                            "wait 400\n"
                            "bogus\n"
                            "get ToyForm.Label1");  // no final newline
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output,
              "text: Pulse & Go\nvisible: 1\nenabled: 1\nstate: 0\nok\n"
              "ok\n"
              "text: R&D\\nsecond line\nvisible: 1\nenabled: 1\nok\n"
              "ok\n"
              "error: unknown command 'bogus'\n"
              "text: later\nvisible: 1\nenabled: 1\nok\n"
              "ok\n");
    EXPECT_EQ(toy.ran, std::vector<std::string>{"Check1"});
}

TEST(ConsoleInput, QuitIgnoresTheRest) {
    TestContext t;
    ToyForm toy;
    PipeRun run = RunScript(t, "quit\nclick ToyForm.Command1\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "ok\n");
    EXPECT_TRUE(toy.ran.empty());
}

TEST(ConsoleInput, EmptyInputActsAsQuit) {
    TestContext t;
    PipeRun run = RunScript(t, "");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "ok\n");
}

TEST(ConsoleInput, AnOverlongLineIsDiscardedWithAnErrorAndTheNextLineRuns) {
    TestContext t;
    ToyForm toy;
    const std::size_t limit = AutomationConsole::kMaxLineBytes;
    struct Case {
        std::size_t length;  // of the line "click ToyForm.Check1" padded with blanks
        bool runs;
    };
    for (const Case& c : {Case{limit, true}, Case{limit + 1, false}, Case{3 * limit, false}}) {
        toy.ran.clear();
        std::string line = "click ToyForm.Check1";
        line.resize(c.length, ' ');
        const PipeRun run = RunFromFile(t, line + "\nclick ToyForm.Command1\n");
        EXPECT_EQ(run.exitCode, 0) << c.length;
        if (c.runs) {
            EXPECT_EQ(run.output, "ok\nok\nok\n") << c.length;
            EXPECT_EQ(toy.ran, (std::vector<std::string>{"Check1", "Command1"})) << c.length;
        } else {
            EXPECT_EQ(run.output,
                      "error: line longer than 1048576 bytes, discarded: 'click "
                      "ToyForm.Check1" +
                          std::string(60, ' ') + "...'\nok\nok\n")
                << c.length;
            EXPECT_EQ(toy.ran, std::vector<std::string>{"Command1"}) << c.length;
        }
    }
}

TEST(ConsoleInput, AnOverlongLastLineWithoutABreakIsDiscardedToo) {
    TestContext t;
    const PipeRun run = RunFromFile(t, std::string(AutomationConsole::kMaxLineBytes + 5, '\0'));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output.rfind("error: line longer than 1048576 bytes, discarded: '\\0\\0", 0), 0u)
        << run.output.substr(0, 200);
    EXPECT_LT(run.output.size(), 300u);
}

TEST(ConsoleInput, InputFarBeyondWhatMayWaitStillRunsEveryLineInTurn) {
    TestContext t;
    ToyForm toy;
    // About 12 MB of commands: more than may wait at once, so reading pauses and resumes.
    const std::string line = "get ToyForm.Check1" + std::string(1000, ' ') + "\n";
    const std::size_t count = 3 * AutomationConsole::kMaxWaitingBytes / line.size();
    std::string script;
    for (std::size_t i = 0; i < count; ++i)
        script += line;
    script += "click ToyForm.Command1\n";
    const PipeRun run = RunFromFile(t, script);
    EXPECT_EQ(run.exitCode, 0);
    std::size_t oks = 0;
    for (std::size_t at = 0; (at = run.output.find("ok\n", at)) != std::string::npos; at += 3)
        ++oks;
    EXPECT_EQ(oks, count + 2);  // every get, the click and the final quit
    EXPECT_EQ(toy.ran, std::vector<std::string>{"Command1"});
}

TEST(ConsoleInput, AClosedOutputEndsTheConsoleNotTheProgram) {
    // As the program does at start: a write to a pipe nobody reads fails instead of killing.
    PrepareStandardStreams();
    TestContext t;
    ToyForm toy;
    int output[2];
    ASSERT_EQ(pipe(output), 0);
    close(output[0]);
    std::FILE* out = fdopen(output[1], "w");
    std::FILE* in = std::tmpfile();
    const std::string script = "click ToyForm.Check1\nclick ToyForm.Command1\nquit\n";
    std::fwrite(script.data(), 1, script.size(), in);
    std::fflush(in);
    std::rewind(in);
    const PipeRun run = RunConsoleOn(t, fileno(in), out);
    std::fclose(out);
    std::fclose(in);
    EXPECT_EQ(run.exitCode, 7) << "the console ends by itself, without quitting the program";
    EXPECT_EQ(toy.ran, std::vector<std::string>{"Check1"}) << "nothing runs unseen";
    EXPECT_NE(run.errors.find("automation console's output was closed (Broken pipe)"),
              std::string::npos)
        << run.errors;
}

}  // namespace
}  // namespace tq::testing
