// Any text as automation console commands against a small window: no crash, and every command
// answers with a last line "ok" or "error: ...".

#include <QApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "adapter/tracing/TracingAdapter.h"
#include "tests/support/FakeSimulator.h"
#include "tests/support/TestContext.h"
#include "tests/ui/automation/ToyForm.h"
#include "ui/automation/AutomationConsole.h"

namespace {

struct Bench {
    tq::testing::TestContext t;
    tq::TracingAdapter trace{t.adapter};
    tq::testing::FakeSimulator sim;
    tq::testing::ToyForm toy;
    tq::AutomationConsole console{t.context, trace, &sim, t.messages};
    Bench() { toy.window->show(); }
};

bool Skipped(const std::string& line) {
    // Commands that write files or let time pass are not the parser's business.
    for (const char* word : {"grab", "wait"})
        if (line.find(word) != std::string::npos)
            return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static Bench* bench = new Bench;  // one window for the whole run
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    for (std::string line; std::getline(in, line);) {
        if (Skipped(line))
            continue;
        const std::string out = bench->console.Execute(line);
        if (out.empty())
            continue;  // blank lines print nothing
        const std::size_t last = out.rfind('\n', out.size() - 2);
        const std::string tail = out.substr(last == std::string::npos ? 0 : last + 1);
        if (tail != "ok\n" && tail.rfind("error: ", 0) != 0)
            std::abort();
    }
    return 0;
}
