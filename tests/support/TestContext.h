#pragma once
// A complete window context over the recording adapter, for widget and traffic tests.

#include <QApplication>
#include <memory>

#include "tests/support/RecordedInstrument.h"
#include "ui/WindowContext.h"
#include "ui/widgets/FrameCaptionStyle.h"
#include "ui/widgets/MessageSink.h"

namespace tq::testing {

// One QApplication for the whole test program (widget tests run offscreen).
inline QApplication& App() {
    static int argc = 1;
    static char name[] = "tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        InstallFrameCaptionStyle();
        return a;
    }();
    return *app;
}

struct TestContext : RecordedInstrument {
    RecordingMessageSink messages;
    std::vector<QString> opened;  // windows asked for through openWindow
    WindowContext context{state,
                          state,
                          instrument,
                          messages,
                          "/opt/tq",
                          "Test board",
                          nullptr,
                          [this](WindowId window) {
                              opened.push_back(WindowName(window));
                              return true;
                          }};

    TestContext() : RecordedInstrument(/*pulseAfterDataWrite=*/false) { App(); }
};

}  // namespace tq::testing
