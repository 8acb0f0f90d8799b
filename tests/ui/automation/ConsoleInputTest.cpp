// The console reading commands from a pipe on the program's own event loop.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "adapter/tracing/TracingAdapter.h"
#include "tests/support/TestContext.h"
#include "tests/ui/automation/ToyForm.h"
#include "ui/automation/AutomationConsole.h"

namespace tq::testing {
namespace {

struct PipeRun {
    int exitCode = -1;
    std::string output;
};

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

}  // namespace
}  // namespace tq::testing
