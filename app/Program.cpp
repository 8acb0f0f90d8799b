#include "app/Program.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QScreen>
#include <QSocketNotifier>
#include <QSysInfo>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "adapter/libusb/LibusbAdapter.h"
#include "adapter/simulated/SimulatedBoard.h"
#include "app/NetworkLibrary.h"
#include "app/SetupSlotFiles.h"
#include "app/WebLibrary.h"
#include "board/SimCommands.h"
#include "core/Version.h"
#include "instrument/ListRun.h"
#include "instrument/MeterRuns.h"
#include "instrument/SafeStatePolicy.h"
#include "instrument/StartUp.h"
#include "meter/MeterByAddress.h"
#include "platform/TerminationSignals.h"
#include "remote/InstrumentCommands.h"
#include "ui/automation/AutomationConsole.h"
#include "ui/auxiliary/Form1.h"
#include "ui/auxiliary/Form2.h"
#include "ui/auxiliary/ManualForm.h"
#include "ui/auxiliary/TestForm.h"
#include "ui/auxiliary/VoutForm.h"
#include "ui/auxiliary/frmAbout.h"
#include "ui/bench/BenchForm.h"
#include "ui/main/MainForm.h"
#include "ui/main/SetupFiles.h"
#include "ui/meter/MeterForm.h"
#include "ui/protection/ProtectionForm.h"
#include "ui/protection/ProtectionSettings.h"
#include "ui/protection/RefusalNotices.h"
#include "ui/waveform/TemperatureLogForm.h"
#include "ui/waveform/WaveformForm.h"
#include "ui/widgets/Placement.h"
#include "ui/widgets/ProgramSettings.h"
#include "ui/widgets/WindowPlaces.h"

namespace tq {
namespace {

// The headless server's steps of the start-up: what goes wrong is said on standard error.
class HeadlessStartUp : public StartUpSteps {
public:
    explicit HeadlessStartUp(std::function<void()> connected) : connected_(std::move(connected)) {}
    void NotConnected(const std::vector<std::string>& reasons) override {
        for (const std::string& why : reasons)
            std::fprintf(stderr, "tq2604x-eval: %s\n", why.c_str());
    }
    void Connected() override { connected_(); }
    void FunctionRegisterTaken(const std::optional<std::string>& error) override {
        if (error)
            std::fprintf(stderr, "tq2604x-eval: %s\n", error->c_str());
    }

private:
    std::function<void()> connected_;
};

// What the LAN advertiser and the portmapper's registration have to say, on standard error; a
// problem with the program's name in front.
void SayOnStandardError(const std::string& line, bool problem) {
    std::fprintf(stderr, "%s%s\n", problem ? "tq2604x-eval: " : "", line.c_str());
    std::fflush(stderr);
}

}  // namespace

Program::Program(const ProgramOptions& options) : options_(options), settings_(ProgramSettings()) {
    QString boardName;
    if (options_.simulate) {
        auto simulated = std::make_unique<SimulatedBoard>();
        simulator_ = simulated.get();
        board_ = std::move(simulated);
        boardName = QStringLiteral("Simulated board");
    } else {
        auto usb = std::make_unique<LibusbAdapter>();
        usb->SelectLocation(options_.boardLocation.toStdString());
        usb_ = usb.get();
        board_ = std::move(usb);
        boardName = QString::fromUtf8(LibusbAdapter::kBoardName);
    }
    // Every adapter call is traced so that the automation console can show the board traffic.
    // Without the console nobody reads the trace: it would only fill memory (some 10 MB for its
    // last 100,000 lines) while a remote client drives the board.
    if (options_.automation)
        trace_ = std::make_unique<TracingAdapter>(*board_);
    requests_ =
        std::make_unique<BoardRequests>(state_, trace_ ? static_cast<Adapter&>(*trace_) : *board_);
    instrument_ = std::make_unique<Instrument>(
        state_, *requests_,
        BoardIdentity{boardName.toStdString(), options_.simulate ? "SIMULATED" : ""});
    // One run for the windows and the protocol alike; its steps go out between events.
    runTimer_ = std::make_unique<QtRunTimer>();
    waveform_ = std::make_unique<WaveformRun>(*instrument_, *runTimer_);
    listRun_ = std::make_unique<ListRun>();
    // A ramp's steps go out between events too, windows and clients served between them.
    rampTimer_ = std::make_unique<QtRunTimer>();
    instrument_->SetRampTimer(rampTimer_.get());
    // A LAN meter comes from the network library, loaded when the first one is opened.
    meterLink_ = std::make_unique<MeterByAddress>(
        [](std::string& error) -> std::unique_ptr<MeterConnection> {
            QString why;
            NetworkLibrary* network = LoadNetworkLibrary(why);
            if (!network) {
                error = "LAN meters cannot be opened: " + why.toStdString();
                return nullptr;
            }
            return network->LanMeter();
        });
    meterTimer_ = std::make_unique<QtRunTimer>();
    meterRuns_ = std::make_unique<MeterRuns>(*instrument_, *meterLink_, *meterTimer_);
    MessageSink& messages = options_.automation ? static_cast<MessageSink&>(recorded_) : boxes_;
    const QByteArray folder = QFile::encodeName(QCoreApplication::applicationDirPath());
    // One set of slots for *SAV and *RCL and the windows' File, Setup Slots.
    setupSlots_ = std::make_unique<SetupSlotFiles>(SetupSlotFiles::ProgramFolder());
    context_ = std::make_unique<WindowContext>(
        WindowContext{state_, state_, *instrument_, messages, folder.toStdString(), boardName,
                      simulator_, [this](WindowId window) { return OpenWindow(window); },
                      &fileDialogs_, waveform_.get(), meterRuns_.get(), setupSlots_.get()});
    safeStateTimer_ = std::make_unique<QtRunTimer>();
    safeState_ = std::make_unique<SafeStatePolicy>(
        *instrument_, *safeStateTimer_, [this](const std::string& why) {
            if (options_.headless)
                Log("tq2604x-eval: " + why);
            else
                context_->messages.ShowMessage(MainWindow(), MessageIcon::Warning,
                                               QString::fromStdString(why));
        });
    QObject::connect(&logRetry_, &QTimer::timeout, &logRetry_, [this] {
        log_.Retry();
        if (log_.Owed() == 0)
            logRetry_.stop();
    });
}

Program::~Program() {
    // Windows and clients go first: they hold references into the context and the board.
    instrument_->RemoveListener(advertiserListener_);
    advertiser_.reset();
    web_.reset();
    server_.reset();
    console_.reset();
    refusals_.reset();
    windows_.clear();
    safeState_.reset();
    safeStateTimer_.reset();
    instrument_->RemoveListener(keepListener_);
    instrument_->SetRampTimer(nullptr);
    meterRuns_.reset();
}

QWidget* Program::MainWindow() const {
    const auto main = windows_.find(WindowId::Main);
    return main != windows_.end() ? main->second.data() : nullptr;
}

void Program::KeepProtection() {
    for (const QString& why : LoadProtection(settings_, *instrument_))
        std::fprintf(stderr, "tq2604x-eval: the kept output limits were not used: %s\n",
                     qPrintable(why));
    keepListener_ = instrument_->AddListener([this](const InstrumentChange& c) {
        if (c.kind == InstrumentChange::Kind::Protection)
            SaveProtection(settings_, *instrument_);
    });
}

void Program::EndInSafeState() {
    if (startupFailed_)
        return;
    if (const auto why = safeState_->ProgramEnding()) {
        std::fprintf(stderr, "tq2604x-eval: %s\n", why->c_str());
        std::fflush(stderr);
    }
}

bool Program::StartSimulatedMeter() {
    if (!simulator_ || options_.simMeterPort < 0)
        return true;
    QString error;
    if (NetworkLibrary* network = LoadNetworkLibrary(error))
        simulatedMeter_ = network->SimulatedMeter(*simulator_);
    if (!simulatedMeter_ ||
        !simulatedMeter_->Listen(static_cast<uint16_t>(options_.simMeterPort), error)) {
        std::fprintf(stderr, "tq2604x-eval: cannot serve the simulated meter on port %d: %s\n",
                     options_.simMeterPort, qPrintable(error));
        return false;
    }
    // Ready to open: the simulated meter selects channels as a scanner does.
    MeterSettings& settings = meterRuns_->Settings();
    settings.address = "TCPIP::127.0.0.1::" + std::to_string(simulatedMeter_->Port()) + "::SOCKET";
    settings.selectCommand = "ROUT:CLOS (@10{ch})";
    std::fprintf(stderr, "simulated meter on 127.0.0.1:%u\n", simulatedMeter_->Port());
    std::fflush(stderr);
    return true;
}

void Program::PrintMessagesAtOnce(bool atOnce) {
    if (!options_.automation)
        return;
    if (atOnce) {
        recorded_.listener = [](const RecordingMessageSink::Message& m) {
            std::printf("%s\n", AutomationConsole::FormatMessageLine(m).c_str());
            std::fflush(stdout);
        };
        recorded_.messages.clear();
    } else {
        // Boxes shown so far were printed as they came; `messages` starts after them.
        recorded_.listener = nullptr;
        recorded_.messages.clear();
    }
}

bool Program::ApplySimSetup() {
    std::string error;
    if (!RunSimSetupFile(*simulator_, QFile::encodeName(options_.simSetupFile).toStdString(),
                         error)) {
        std::fprintf(stderr, "tq2604x-eval: --sim-setup %s: %s\n",
                     qPrintable(options_.simSetupFile), error.c_str());
        return false;
    }
    return true;
}

bool Program::OpenMainForm() {
    auto& slot = windows_[WindowId::Main];
    if (!slot) {
        auto* main = new MainForm(*context_);
        slot = main;
        KeepWindowPlace(main, settings_);
        PrintMessagesAtOnce(true);
        const bool loaded = main->Load();
        PrintMessagesAtOnce(false);
        if (!loaded) {
            startupFailed_ = true;
            QCoreApplication::exit(1);
            return false;
        }
        main->show();
        if (simulator_) {
            // The bench stands beside the main window, like a meter beside the board, once the
            // window manager has placed the main window.
            windows_[WindowId::Bench] = new BenchForm(*context_);
            // The main window keeps the keyboard: the user starts there.
            windows_[WindowId::Bench]->setAttribute(Qt::WA_ShowWithoutActivating);
            KeepWindowPlace(windows_[WindowId::Bench], settings_);
            if (HasKeptPlace(QStringLiteral("BenchForm"), settings_))
                windows_[WindowId::Bench]->show();
            else
                ShowBesideOncePlaced(windows_[WindowId::Bench], main);
        }
    }
    slot->show();
    slot->raise();
    slot->activateWindow();
    return true;
}

bool Program::OpenWindow(WindowId window) {
    if (window == WindowId::Main)
        return OpenMainForm();
    auto& slot = windows_[window];
    if (!slot) {
        switch (window) {
            case WindowId::DirectReadWrite:
                slot = new TestForm(*context_);
                break;
            case WindowId::OutputVoltages:
                slot = new VoutForm(*context_);
                break;
            case WindowId::DeviceSelection:
                slot = new Form2(*context_);
                break;
            case WindowId::About:
                slot = new frmAbout(*context_);  // deletes itself on OK; made again next time
                break;
            case WindowId::LegacyPanel: {
                auto* legacy = new Form1(*context_);
                slot = legacy;
                legacy->Form_Load();
                break;
            }
            case WindowId::Bench:
                if (simulator_)
                    slot = new BenchForm(*context_);
                break;
            case WindowId::Waveform:
                slot = new WaveformForm(*context_);
                break;
            case WindowId::TemperatureLog:
                slot = new TemperatureLogForm(*context_);
                break;
            case WindowId::Meter:
                slot = new MeterForm(*context_, *meterRuns_);
                break;
            case WindowId::Protection:
                slot = new ProtectionForm(*context_);
                break;
            case WindowId::Manual:
                slot = new ManualForm(*context_);
                break;
            case WindowId::Main:
                break;
        }
        if (!slot) {
            windows_.erase(window);
            return false;
        }
        // The first time, a window opens over the main window, on its screen.
        const auto main = windows_.find(WindowId::Main);
        KeepWindowPlace(slot, settings_,
                        main == windows_.end() ? nullptr : static_cast<QWidget*>(main->second));
    }
    slot->show();
    slot->raise();
    slot->activateWindow();
    return true;
}

void Program::StartLegacyPanel() {
    OpenWindow(WindowId::LegacyPanel);
    // The panel writes the composed word as it stands: point it at DAC A's data register and let
    // writes reach the output at once (LDAC low).
    state_.Address = 0;
    state_.RegSelect = 2;
    try {
        instrument_->SetPin(Pin::Ldac, false);
    } catch (const InstrumentError&) {
        // The panel's indicator already shows that no board answered.
    }
}

int ListBoards() {
    LibusbAdapter usb;
    const auto boards = usb.ListBoards();
    if (boards.empty())
        std::fprintf(stderr, "tq2604x-eval: no board (USB 0456:B202) is attached\n");
    for (const auto& board : boards)
        std::printf("%s%s%s\n", board.location.c_str(), board.serial.empty() ? "" : " ",
                    board.serial.c_str());
    return 0;
}

void Program::TakeBoardLocation() {
    if (usb_)
        instrument_->SetIdentity({instrument_->Identity().displayName, usb_->ConnectedLocation()});
}

InstrumentCommands& Program::Commands() {
    if (!commands_) {
        commands_ = std::make_unique<InstrumentCommands>(*instrument_, simulator_, waveform_.get(),
                                                         meterRuns_.get(), listRun_.get());
        commands_->SetSetupSlots(setupSlots_.get());
    }
    return *commands_;
}

bool Program::StartServers() {
    if (options_.scpiPort >= 0 && !StartProtocolServer())
        return false;
    if (options_.httpPort >= 0 && !StartWebPage())
        return false;
    Advertise();
    return true;
}

bool Program::StartProtocolServer() {
    QString error;
    const QString& address = options_.listenAddress;
    NetworkLibrary* network = LoadNetworkLibrary(error);
    if (network) {
        server_ = network->Server(Commands());
        server_->SetIdleTimeout(std::chrono::seconds(options_.idleTimeoutSeconds));
    }
    if (!network || !server_->Listen(options_.listenAddresses,
                                     static_cast<uint16_t>(options_.scpiPort), error)) {
        std::fprintf(stderr,
                     "tq2604x-eval: cannot serve the instrument protocol on %s port %d: %s\n",
                     qPrintable(address), options_.scpiPort, qPrintable(error));
        return false;
    }
    if (server_->BeyondLoopback())
        std::fprintf(stderr,
                     "tq2604x-eval: warning: listening beyond this computer: anyone who can reach "
                     "port %u can drive the board's outputs\n",
                     server_->Port());
    QObject::connect(server_.get(), &ProtocolServer::ClientCountChanged, server_.get(),
                     [policy = safeState_.get()](int count) { policy->ClientCountChanged(count); });
    if (options_.headless)
        server_->LogClients([this](const std::string& line) { Log(line); });
    for (const QString& listening : server_->Addresses())
        std::fprintf(stderr, "listening on %s:%u\n", qPrintable(listening), server_->Port());
    std::fflush(stderr);
    vxi11Served_ = options_.vxi11 && server_->ServeVxi11(SayOnStandardError, error);
    if (options_.vxi11 && !vxi11Served_)
        std::fprintf(stderr, "tq2604x-eval: VXI-11 is not served (the raw socket is): %s\n",
                     qPrintable(error));
    if (auto* main = qobject_cast<MainForm*>(windows_[WindowId::Main].data())) {
        QObject::connect(server_.get(), &ProtocolServer::ClientCountChanged, main,
                         &MainForm::ShowRemoteClients);
        commands_->Lock().AddListener([main = QPointer<MainForm>(main)](const std::string& holder) {
            if (main)
                main->ShowRemoteLock(QString::fromStdString(holder));
        });
    }
    return true;
}

void Program::Log(const std::string& line) {
    log_.Say(line);
    if (log_.Owed() > 0 && !logRetry_.isActive())
        logRetry_.start(250);
}

bool Program::StartWebPage() {
    QString error;
    const QString& address = options_.listenAddress;
    WebFacts facts;
    facts.hostName = QSysInfo::machineHostName().toStdString();
    if (server_) {
        facts.scpiAddress = server_->Addresses().value(0).toStdString();
        facts.scpiPort = server_->Port();
        facts.vxi11 = vxi11Served_;
    }
    facts.mdnsName = [this] {
        return advertiser_ ? advertiser_->EstablishedName() : std::string();
    };
    WebAccess access;
    access.password.swap(options_.httpPassword);
    access.idle = std::chrono::seconds(options_.idleTimeoutSeconds);
    access.certificateFile = options_.httpCertificate;
    access.keyFile = options_.httpKey;
    const bool signIn = !access.password.empty();
    WebLibrary* library = LoadWebLibrary(error);
    if (library)
        web_ = library->Server(Commands(), std::move(facts), access);
    std::fill(access.password.begin(), access.password.end(), '\0');
    if (!library ||
        !web_->Listen(options_.listenAddresses, static_cast<uint16_t>(options_.httpPort), error)) {
        std::fprintf(stderr, "tq2604x-eval: cannot serve the web page on %s port %d: %s\n",
                     qPrintable(address), options_.httpPort, qPrintable(error));
        return false;
    }
    for (const QString& listening : web_->Addresses())
        std::fprintf(stderr, "web page on %s://%s:%u/\n", qPrintable(web_->Scheme()),
                     qPrintable(listening), web_->Port());
    const QStringList reachable = web_->AddressesBeyondLoopback();
    if (signIn && !reachable.isEmpty() && web_->Scheme() == QLatin1String("http"))
        std::fprintf(stderr,
                     "tq2604x-eval: warning: the web page's password travels unencrypted on the "
                     "network (the page listens on %s); give --http-certificate and --http-key "
                     "to serve it over HTTPS\n",
                     qPrintable(reachable.join(QStringLiteral(", "))));
    std::fflush(stderr);
    return true;
}

void Program::Advertise() {
    const bool beyondLoopback =
        (server_ && server_->BeyondLoopback()) || (web_ && web_->BeyondLoopback());
    if (!options_.advertise || !beyondLoopback)
        return;
    QString error;
    NetworkLibrary* network = LoadNetworkLibrary(error);
    if (!network) {
        std::fprintf(stderr, "tq2604x-eval: not advertised on the LAN: %s\n", qPrintable(error));
        return;
    }
    const auto model = [this] { return std::string(instrument_->Profile().model); };
    const std::string serial = instrument_->Identity().serial;
    ScpiAnnouncement announcement =
        AnnounceBoard(model(), serial, kProgramVersion, server_ ? server_->Port() : 0);
    if (web_)
        announcement.webPort = web_->Port();
    // On the first address a host name resolves to.
    advertiser_ = network->Announce(std::move(announcement), options_.listenAddresses.value(0),
                                    SayOnStandardError);
    // The TXT records name the model, which a change of resolution changes.
    advertiserListener_ =
        instrument_->AddListener([this, model, serial](const InstrumentChange& c) {
            if (c.kind == InstrumentChange::Kind::Resolution)
                advertiser_->UpdateTxt(BoardTxtRecords(model(), serial, kProgramVersion));
        });
    advertiser_->Start();
}

int Program::RunHeadless() {
    HeadlessStartUp steps([this] { TakeBoardLocation(); });
    if (!StartUp(*instrument_, context_->programFolder, steps))
        return 1;
    if (!options_.setupFile.isEmpty()) {
        // Without windows nobody can be asked: a setup from another board is refused too.
        try {
            const Setup setup = OpenSetupFile(options_.setupFile, *instrument_);
            if (FromAnotherBoard(setup, *instrument_))
                throw SetupError(options_.setupFile.toStdString() + ": saved from board " +
                                 setup.board + ", this is " + instrument_->Identity().serial);
            ApplySetup(*instrument_, setup);
        } catch (const InstrumentError& e) {
            std::fprintf(stderr, "tq2604x-eval: the setup was not opened: %s\n", e.what());
            return 2;
        }
    }
    // Watched before the server says it is listening: a client may stop it at once.
    std::unique_ptr<QSocketNotifier> terminationWatch;
    if (TerminationSignals::Install()) {
        terminationWatch =
            std::make_unique<QSocketNotifier>(TerminationSignals::ReadFd(), QSocketNotifier::Read);
        QObject::connect(terminationWatch.get(), &QSocketNotifier::activated, [] {
            TerminationSignals::Acknowledge();
            QCoreApplication::exit(0);
        });
    }
    if (!StartServers())
        return 1;
    const int status = QCoreApplication::exec();
    EndInSafeState();
    return status;
}

int Program::Run() {
    ApplyStartDefaults(state_);
    KeepProtection();
    if (options_.resolution != 0)
        instrument_->SetResolution(options_.resolution);
    if (!options_.simSetupFile.isEmpty() && !ApplySimSetup())
        return 2;
    if (!StartSimulatedMeter())
        return 1;
    if (options_.headless)
        return RunHeadless();

    // A window's change refused by the limits is explained in a box.
    refusals_ = std::make_unique<RefusalNotices>(*instrument_, context_->messages);
    bool started = true;
    if (options_.legacyPanel) {
        StartLegacyPanel();
    } else if (options_.selectDevice) {
        OpenWindow(WindowId::DeviceSelection);
    } else {
        started = OpenMainForm();
    }
    if (!started || startupFailed_)
        return 1;
    TakeBoardLocation();
    if (!options_.setupFile.isEmpty()) {
        if (auto* main = qobject_cast<MainForm*>(windows_[WindowId::Main].data()))
            main->OpenSetup(options_.setupFile);
    }
    if (!StartServers())
        return 1;

    if (options_.automation) {
        console_ = std::make_unique<AutomationConsole>(*context_, *trace_, simulator_, recorded_);
        console_->Start();
    }
    const int status = QCoreApplication::exec();
    EndInSafeState();
    return startupFailed_ ? 1 : status;
}

}  // namespace tq
