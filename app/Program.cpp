#include "app/Program.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <cstdio>
#include <fstream>

#include "adapter/libusb/LibusbAdapter.h"
#include "adapter/simulated/SimulatedBoard.h"
#include "ui/automation/AutomationConsole.h"
#include "ui/automation/SimCommands.h"
#include "ui/auxiliary/Form1.h"
#include "ui/auxiliary/Form2.h"
#include "ui/auxiliary/TestForm.h"
#include "ui/auxiliary/VoutForm.h"
#include "ui/auxiliary/frmAbout.h"
#include "ui/bench/BenchForm.h"
#include "ui/main/MainForm.h"

namespace tq {

Program::Program(const ProgramOptions& options) : options_(options) {
    QString boardName;
    if (options_.simulate) {
        auto simulated = std::make_unique<SimulatedBoard>();
        simulator_ = simulated.get();
        board_ = std::move(simulated);
        boardName = QStringLiteral("Simulated board");
    } else {
        board_ = std::make_unique<LibusbAdapter>();
        boardName = QString::fromUtf8(LibusbAdapter::kBoardName);
    }
    // Every adapter call is traced so that the automation console can show the board traffic.
    trace_ = std::make_unique<TracingAdapter>(*board_);
    requests_ = std::make_unique<BoardRequests>(state_, *trace_);
    registers_ = std::make_unique<RegisterAccess>(state_, *requests_);
    MessageSink& messages = options_.automation ? static_cast<MessageSink&>(recorded_) : boxes_;
    const QByteArray folder = QFile::encodeName(QCoreApplication::applicationDirPath());
    context_ = std::make_unique<WindowContext>(WindowContext{
        state_, *trace_, *requests_, *registers_, messages, folder.toStdString(), boardName,
        simulator_, [this](const QString& name) { return OpenWindow(name); }});
}

Program::~Program() {
    // Windows go first: they hold references into the context and the board.
    console_.reset();
    for (auto& [name, window] : windows_)
        delete window.data();
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
    std::ifstream in(QFile::encodeName(options_.simSetupFile).toStdString());
    if (!in) {
        std::fprintf(stderr, "tq2604x-eval: cannot read the simulator set-up file %s\n",
                     qPrintable(options_.simSetupFile));
        return false;
    }
    std::string error;
    if (!RunSimSetup(*simulator_, in, error)) {
        std::fprintf(stderr, "tq2604x-eval: %s: %s\n", qPrintable(options_.simSetupFile),
                     error.c_str());
        return false;
    }
    return true;
}

bool Program::OpenMainForm() {
    auto& slot = windows_[QStringLiteral("MainForm")];
    if (!slot) {
        auto* main = new MainForm(*context_);
        slot = main;
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
            OpenWindow(QStringLiteral("BenchForm"));
            // The bench stands beside the main window, like a meter beside the board.
            if (QWidget* bench = windows_[QStringLiteral("BenchForm")])
                bench->move(main->frameGeometry().right() + 12, main->frameGeometry().top());
        }
    }
    slot->show();
    slot->raise();
    slot->activateWindow();
    return true;
}

bool Program::OpenWindow(const QString& name) {
    if (name == QLatin1String("MainForm"))
        return OpenMainForm();
    auto& slot = windows_[name];
    if (!slot) {
        if (name == QLatin1String("TestForm")) {
            slot = new TestForm(*context_);
        } else if (name == QLatin1String("VoutForm")) {
            slot = new VoutForm(*context_);
        } else if (name == QLatin1String("Form2")) {
            slot = new Form2(*context_);
        } else if (name == QLatin1String("frmAbout")) {
            slot = new frmAbout(*context_);  // deletes itself on OK; made again next time
        } else if (name == QLatin1String("Form1")) {
            auto* legacy = new Form1(*context_);
            slot = legacy;
            legacy->Form_Load();
        } else if (name == QLatin1String("BenchForm") && simulator_) {
            slot = new BenchForm(*context_);
        } else {
            windows_.erase(name);
            return false;
        }
    }
    slot->show();
    slot->raise();
    return true;
}

void Program::StartLegacyPanel() {
    OpenWindow(QStringLiteral("Form1"));
    // The panel writes the composed word as it stands: point it at DAC A's data register and let
    // writes reach the output at once (LDAC low).
    state_.Address = 0;
    state_.RegSelect = 2;
    state_.LdacPin = 0;
    requests_->SendPinWord();
}

int Program::Run() {
    ApplyStartDefaults(state_);
    if (!options_.simSetupFile.isEmpty() && !ApplySimSetup())
        return 2;

    bool started = true;
    if (options_.legacyPanel) {
        StartLegacyPanel();
    } else if (options_.selectDevice) {
        OpenWindow(QStringLiteral("Form2"));
    } else {
        started = OpenMainForm();
    }
    if (!started || startupFailed_)
        return 1;

    if (options_.automation) {
        console_ = std::make_unique<AutomationConsole>(*context_, *trace_, simulator_, recorded_);
        console_->Start();
    }
    const int status = QApplication::exec();
    return startupFailed_ ? 1 : status;
}

}  // namespace tq
