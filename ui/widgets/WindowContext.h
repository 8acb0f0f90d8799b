#pragma once
// What the program entry hands every window: the one DeviceState, the board, the register
// routines, the message boxes, and a way to open other windows by name. Windows never create
// each other directly; the program entry owns them all.

#include <QString>
#include <functional>
#include <string>

#include "board/Adapter.h"
#include "board/BoardRequests.h"
#include "board/SimulatedBench.h"
#include "core/DeviceState.h"
#include "board/RegisterAccess.h"
#include "ui/widgets/MessageSink.h"

namespace tq {

struct WindowContext {
    DeviceState& state;
    Adapter& adapter;
    BoardRequests& requests;
    RegisterAccess& registers;
    MessageSink& messages;
    std::string programFolder;        // where the firmware file lies
    QString boardName;                // "Simulated board" or the real board, for the status bar
    SimulatedBench* bench = nullptr;  // only with the simulated board
    // Create (once) and show the window with this object name: "MainForm", "TestForm",
    // "VoutForm", "frmAbout", "Form2", "Form1", "BenchForm". Returns false if it cannot.
    std::function<bool(const QString& windowName)> openWindow;
};

}  // namespace tq
