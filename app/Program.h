#pragma once
// The program: the board it runs on, the one DeviceState, the register routines and every window,
// created on first use and kept until the program ends.

#include <QPointer>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <map>
#include <memory>

#include "adapter/tracing/TracingAdapter.h"
#include "board/BoardRequests.h"
#include "board/SimulatedBench.h"
#include "core/DeviceState.h"
#include "instrument/Instrument.h"
#include "platform/StandardErrorLog.h"
#include "timers/QtRunTimer.h"
#include "ui/WindowContext.h"
#include "ui/widgets/FileDialogs.h"
#include "ui/widgets/MessageSink.h"

namespace tq {

class AutomationConsole;
class LibusbAdapter;
class InstrumentCommands;
class LanAnnouncement;
class LoopbackServer;
class ListRun;
class NetworkLibrary;
class ProtocolServer;
class WebServer;
class MeterByAddress;
class MeterRuns;
class RefusalNotices;
class SafeStatePolicy;
class SetupSlots;

struct ProgramOptions {
    bool simulate = false;
    bool automation = false;
    bool selectDevice = false;
    bool legacyPanel = false;
    QString simSetupFile;
    int scpiPort = -1;  // -1: no protocol server
    int httpPort = -1;  // -1: no web page
    // The page's sign-in password (read from --http-password-file); empty: no changes from the
    // page. Overwritten once the page's server has its hash.
    std::string httpPassword;
    QString httpCertificate;  // with httpKey: the page over HTTPS
    QString httpKey;
    bool headless = false;
    QString listenAddress = QStringLiteral("127.0.0.1");  // as --listen names it
    // What it names, resolved once: the servers listen on each.
    QStringList listenAddresses{QStringLiteral("127.0.0.1")};
    bool advertise = true;   // on the LAN, when listening beyond loopback
    bool vxi11 = true;       // VXI-11 beside the raw socket
    int16_t resolution = 0;  // 0: the default (16 bits, or the selection window's choice)
    QString boardLocation;   // the real board to use ("1-4.2"); empty: the first found
    QString setupFile;       // a setup to open after start-up
    int simMeterPort = -1;   // the simulated meter's port; -1: none
    // A protocol client that sends nothing for this long is closed; 0: never.
    int64_t idleTimeoutSeconds = 600;
};

// Owns one window. A window that deletes itself (the About window on OK) leaves it empty, so the
// next use makes a new one.
class OwnedWindow {
public:
    OwnedWindow() = default;
    ~OwnedWindow() { delete window_.data(); }
    OwnedWindow(const OwnedWindow&) = delete;
    OwnedWindow& operator=(const OwnedWindow&) = delete;
    OwnedWindow& operator=(QWidget* window) {
        delete window_.data();
        window_ = window;
        return *this;
    }
    operator QWidget*() const { return window_.data(); }
    QWidget* operator->() const { return window_.data(); }
    QWidget* data() const { return window_.data(); }

private:
    QPointer<QWidget> window_;
};

// --list-boards: each attached board's location and serial number, one a line.
int ListBoards();

class Program {
public:
    explicit Program(const ProgramOptions& options);
    ~Program();

    // Runs the start-up and the event loop; returns the exit status.
    int Run();

private:
    bool OpenWindow(WindowId window);
    bool OpenMainForm();
    QWidget* MainWindow() const;
    bool ApplySimSetup();
    void StartLegacyPanel();
    void PrintMessagesAtOnce(bool atOnce);
    // The protocol server and the web page as the options ask, then their advertisement; false
    // (with the reason printed) when one cannot listen.
    bool StartServers();
    // The command tree the protocol's clients and the web page read the instrument through.
    InstrumentCommands& Commands();
    bool StartProtocolServer();
    bool StartWebPage();
    // Beyond loopback (unless --no-advertise): the servers on the LAN over mDNS/DNS-SD.
    void Advertise();
    // The simulated bench's meter on the options' port; false (with the reason printed) when it
    // cannot listen.
    bool StartSimulatedMeter();
    // Without windows: the start-up (instrument/StartUp.h), then serve until a signal.
    int RunHeadless();
    // What the headless server says while it serves (its clients, the safe state's reasons), on
    // standard error without waiting for it.
    void Log(const std::string& line);
    // After a connection: the identity names the real board's location.
    void TakeBoardLocation();
    // The output protection's limits and options as the last run left them, kept from now on
    // whenever they change.
    void KeepProtection();
    // With the option on, every output to 0 V before the board is let go.
    void EndInSafeState();

    ProgramOptions options_;
    // What the program keeps between runs, read once at start; what changed is written when the
    // event loop next turns, and at the end, once.
    QSettings settings_;
    DeviceState state_;
    std::unique_ptr<Adapter> board_;
    SimulatorControl* simulator_ = nullptr;  // the simulated board, when there is one
    LibusbAdapter* usb_ = nullptr;           // the real board's adapter, when there is one
    std::unique_ptr<TracingAdapter> trace_;
    std::unique_ptr<BoardRequests> requests_;
    std::unique_ptr<Instrument> instrument_;
    std::unique_ptr<QtRunTimer> runTimer_;
    std::unique_ptr<WaveformRun> waveform_;  // before the timer it wakes up: ends first
    std::unique_ptr<ListRun> listRun_;       // the lists the protocol's list runs send
    std::unique_ptr<QtRunTimer> rampTimer_;  // the output protection's ramps
    BoxMessageSink boxes_;
    QtFileDialogs fileDialogs_;
    RecordingMessageSink recorded_;
    std::unique_ptr<MeterByAddress> meterLink_;
    std::unique_ptr<QtRunTimer> meterTimer_;
    std::unique_ptr<MeterRuns> meterRuns_;
    std::unique_ptr<LoopbackServer> simulatedMeter_;
    std::unique_ptr<WindowContext> context_;
    // Each window once, made on first use, owned here until the end.
    std::map<WindowId, OwnedWindow> windows_;
    std::unique_ptr<AutomationConsole> console_;
    std::unique_ptr<SetupSlots> setupSlots_;  // *SAV and *RCL's, kept between runs
    std::unique_ptr<InstrumentCommands> commands_;
    std::unique_ptr<ProtocolServer> server_;
    StandardErrorLog log_;
    QTimer logRetry_;  // tells the lines dropped once standard error takes them
    bool vxi11Served_ = false;
    std::unique_ptr<WebServer> web_;
    std::unique_ptr<LanAnnouncement> advertiser_;
    int advertiserListener_ = 0;
    std::unique_ptr<QtRunTimer> safeStateTimer_;  // wakes the safe state from the event loop
    std::unique_ptr<SafeStatePolicy> safeState_;
    std::unique_ptr<RefusalNotices> refusals_;
    int keepListener_ = 0;
    bool startupFailed_ = false;
};

}  // namespace tq
