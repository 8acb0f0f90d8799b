#pragma once
// What the program entry hands every window: the instrument (the one way to the board), the
// message boxes, the board's name and a typed way to open other windows. Windows never create
// each other; the program entry owns them all.

#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/DeviceState.h"
#include "instrument/Instrument.h"
#include "instrument/Waveform.h"
#include "ui/widgets/FileDialogs.h"
#include "ui/widgets/MessageSink.h"

namespace tq {

class SimulatedBench;
class MeterRuns;

// The windows, by what they are; WindowName gives each one's object name.
enum class WindowId {
    Main,             // MainForm
    DirectReadWrite,  // TestForm
    OutputVoltages,   // VoutForm
    DeviceSelection,  // Form2
    About,            // frmAbout
    LegacyPanel,      // Form1
    Bench,            // BenchForm, only with the simulated board
    Waveform,         // WaveformForm
    TemperatureLog,   // TemperatureLogForm
    Meter,            // MeterForm
    Protection,       // ProtectionForm
};

inline constexpr std::array<std::pair<WindowId, std::string_view>, 11> kWindowNames{{
    {WindowId::Main, "MainForm"},
    {WindowId::DirectReadWrite, "TestForm"},
    {WindowId::OutputVoltages, "VoutForm"},
    {WindowId::DeviceSelection, "Form2"},
    {WindowId::About, "frmAbout"},
    {WindowId::LegacyPanel, "Form1"},
    {WindowId::Bench, "BenchForm"},
    {WindowId::Waveform, "WaveformForm"},
    {WindowId::TemperatureLog, "TemperatureLogForm"},
    {WindowId::Meter, "MeterForm"},
    {WindowId::Protection, "ProtectionForm"},
}};

inline QString WindowName(WindowId id) {
    for (const auto& [window, name] : kWindowNames)
        if (window == id)
            return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    return {};
}

inline std::optional<WindowId> WindowByName(const QString& name) {
    for (const auto& [window, text] : kWindowNames)
        if (name == QLatin1String(text.data(), static_cast<qsizetype>(text.size())))
            return window;
    return std::nullopt;
}

struct WindowContext {
    DeviceState& state;  // the main window composer's fields; the rest is the instrument's
    Instrument& instrument;
    MessageSink& messages;
    std::string programFolder;        // where the firmware file lies
    QString boardName;                // "Simulated board" or the real board, for the status bar
    SimulatedBench* bench = nullptr;  // only with the simulated board
    // Create (once) and show a window. Returns false if it cannot.
    std::function<bool(WindowId window)> openWindow;
    FileDialogs* files = nullptr;     // the choosers of setup files
    WaveformRun* waveform = nullptr;  // the program's one waveform run
    MeterRuns* meter = nullptr;       // the bench meter and its runs
};

}  // namespace tq
