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
#include "remote/SetupSlots.h"
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
    Manual,           // ManualForm
};

inline constexpr std::array<std::pair<WindowId, std::string_view>, 12> kWindowNames{{
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
    {WindowId::Manual, "ManualForm"},
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

// The fields of the one DeviceState that belong to the main window's register composer: the word
// it composes (address, register, R/W, data, function word), its number mode, the range it
// codes volts in, the coarse gain it read back and its function list's items. `DataValue` is
// also the calibration's and the legacy panel's. They are the only fields a window writes; every
// other field changes through the instrument, whose calls tell every view.
struct ComposerFields {
    ComposerFields(DeviceState& s)  // NOLINT(google-explicit-constructor): a view of `s`
        : Address(s.Address),
          RegSelect(s.RegSelect),
          ReadWrite(s.ReadWrite),
          DataValue(s.DataValue),
          FunctionImage(s.FunctionImage),
          NumberMode(s.NumberMode),
          RangeVolts(s.RangeVolts),
          CoarseReadBack(s.CoarseReadBack),
          FunctionChoices(s.FunctionChoices) {}

    int16_t& Address;
    int16_t& RegSelect;
    int16_t& ReadWrite;
    int32_t& DataValue;
    int32_t& FunctionImage;
    std::string& NumberMode;
    float& RangeVolts;
    int32_t& CoarseReadBack;
    std::array<std::string, 6>& FunctionChoices;
};

struct WindowContext {
    const DeviceState& state;  // read only: the instrument changes it and tells the views
    ComposerFields composer;   // the same record's fields that the composer writes
    Instrument& instrument;
    MessageSink& messages;
    std::string programFolder;        // where the firmware file lies
    QString boardName;                // "Simulated board" or the real board, for the status bar
    SimulatedBench* bench = nullptr;  // only with the simulated board
    // Create (once) and show a window. Returns false if it cannot.
    std::function<bool(WindowId window)> openWindow;
    FileDialogs* files = nullptr;      // the choosers of setup files
    WaveformRun* waveform = nullptr;   // the program's one waveform run
    MeterRuns* meter = nullptr;        // the bench meter and its runs
    SetupSlots* setupSlots = nullptr;  // the ten slots *SAV and *RCL use, for File, Setup Slots
};

}  // namespace tq
