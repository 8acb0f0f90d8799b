#pragma once
// The program: the board it runs on, the one DeviceState, the register routines and every window,
// created on first use and kept until the program ends.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <map>
#include <memory>

#include "adapter/tracing/TracingAdapter.h"
#include "board/BoardRequests.h"
#include "board/SimulatedBench.h"
#include "core/DeviceState.h"
#include "instrument/Instrument.h"
#include "ui/WindowContext.h"
#include "ui/widgets/MessageSink.h"

namespace tq {

class AutomationConsole;

struct ProgramOptions {
    bool simulate = false;
    bool automation = false;
    bool selectDevice = false;
    bool legacyPanel = false;
    QString simSetupFile;
};

class Program {
public:
    explicit Program(const ProgramOptions& options);
    ~Program();

    // Runs the start-up and the event loop; returns the exit status.
    int Run();

private:
    bool OpenWindow(WindowId window);
    bool OpenMainForm();
    bool ApplySimSetup();
    void StartLegacyPanel();
    void PrintMessagesAtOnce(bool atOnce);

    ProgramOptions options_;
    DeviceState state_;
    std::unique_ptr<Adapter> board_;
    SimulatorControl* simulator_ = nullptr;  // the simulated board, when there is one
    std::unique_ptr<TracingAdapter> trace_;
    std::unique_ptr<BoardRequests> requests_;
    std::unique_ptr<Instrument> instrument_;
    BoxMessageSink boxes_;
    RecordingMessageSink recorded_;
    std::unique_ptr<WindowContext> context_;
    // Each window once, made on first use; deleted here at the end (the About window may have
    // deleted itself first, which the guarded pointer notices).
    std::map<WindowId, QPointer<QWidget>> windows_;
    std::unique_ptr<AutomationConsole> console_;
    bool startupFailed_ = false;
};

}  // namespace tq
