#include "ui/main/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPalette>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <vector>

#include "core/Tables.h"
#include "core/Version.h"
#include "instrument/Setup.h"
#include "instrument/StartUp.h"
#include "ui/main/ActivityStatus.h"
#include "ui/main/CalibrationPanel.h"
#include "ui/main/ComposerPanel.h"
#include "ui/main/SetupFiles.h"
#include "ui/main/SwitchesPanel.h"
#include "ui/main/TemperaturePanel.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/ElidingStatusBar.h"
#include "ui/widgets/TabOrder.h"
#include "ui/widgets/Twips.h"

namespace tq {

namespace {

const QString kTitle = QString::fromLatin1(kProgramTitle);
const QString kNotResponding = QStringLiteral("Board not responding");

// The designed client area: 14670 x 8310 twips.
constexpr int kClientWidthTwips = 14670;
constexpr int kClientHeightTwips = 8310;

struct Place {
    int left, top, width, height;  // twips, relative to the container
};

template <typename W>
W* Make(QWidget* parent, const char* name, const Place& at) {
    auto* w = new W(parent);
    w->setObjectName(QLatin1String(name));
    PlaceTwips(w, at.left, at.top, at.width, at.height);
    return w;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const Place& at) {
    auto* label = Make<QLabel>(parent, name, at);
    label->setText(text);
    return label;
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& title, bool topLevel,
                     const Place& at) {
    auto* frame = Make<QGroupBox>(parent, name, at);
    frame->setTitle(title);
    StyleFrame(frame, topLevel, topLevel ? QColor(192, 64, 0) : QColor(0, 0, 255));
    return frame;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const Place& at) {
    auto* button = Make<QPushButton>(parent, name, at);
    button->setText(caption);
    return button;
}

QLineEdit* MakeEntry(QWidget* parent, const char* name, const QString& text, const Place& at) {
    auto* entry = Make<QLineEdit>(parent, name, at);
    entry->setText(text);
    return entry;
}

}  // namespace

MainForm::MainForm(WindowContext& context) : ctx_(context) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(kTitle);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("MainFormClient"));
    central->setFixedSize(kClientWidthTwips / kTwipsPerPixel, kClientHeightTwips / kTwipsPerPixel);
    setCentralWidget(central);

    BuildShapes(central);
    switches_ = new SwitchesPanel(ctx_, central);
    composer_ = new ComposerPanel(ctx_, *switches_, central);
    PlaceTwips(composer_, 120, 360, 14415, 2415);
    temperature_ = new TemperaturePanel(ctx_, *switches_, central);
    PlaceTwips(temperature_, 120, 6720, 4815, 1455);
    calibration_ = new CalibrationPanel(ctx_, central);
    PlaceTwips(calibration_, 5160, 6720, 9375, 1455);
    BuildHiddenControls(central);
    AddTips(central);
    BuildMenus();
    BuildStatusBar();

    // A fixed single border: the window keeps the size of its design.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    // The controls were made panel by panel; Tab goes as the window reads.
    SetReadingTabOrder(central);
}

MainForm::~MainForm() {
    ctx_.instrument.RemoveListener(listener_);
}

void MainForm::AddTips(QWidget* central) {
    // What each control does, and what it sends to the board.
    const std::pair<const char*, const char*> tips[] = {
        {"ComboReg",
         "The register to write or read. Choosing one shows its controls and reads it back "
         "from the converter"},
        {"ComboAddr", "The channel the word is for; choosing one reads its register back"},
        {"Command1", "Read the register shown back from the converter (SDO must be enabled)"},
        {"ComboFunction",
         "A function of the converter: choosing one writes its word to the control register"},
        {"TextFunction",
         "The function register's word; Enter writes it and reads it back (SDO must be "
         "enabled)"},
        {"ComboCoarse", "The channel's output range: choosing one writes the coarse gain register"},
        {"TextFine", "The fine gain adjustment in steps; Enter writes the fine gain register"},
        {"TextOffset", "The offset adjustment in LSB; Enter writes the offset register"},
        {"TextVolts",
         "The output voltage to set, in volts; Enter writes the code for it to the data "
         "register"},
        {"TextData", "The code to set, as Hex/Dec shows; Enter writes it to the data register"},
        {"Command2", "Show the codes in hexadecimal or decimal; sends nothing"},
        {"Toggle1",
         "The local ground offset adjustment: the switch writes the function register's bit"},
        {"Toggle7",
         "Serial data output: enabled, the converter answers reads; the switch writes the "
         "function register's bit"},
        {"Toggle3", "Digital port D1 as an input or an output: writes the function register"},
        {"Toggle5", "The level D1 outputs: writes the function register"},
        {"Toggle4", "Digital port D0 as an input or an output: writes the function register"},
        {"Toggle6", "The level D0 outputs: writes the function register"},
        {"Command6", "Read the function register back: the switches show what the converter holds"},
        {"Command4", "Clear every channel's data to its clear code: sends the clear command"},
        {"Command5", "Load every channel's input register into its output: sends the load command"},
        {"Toggle2",
         "The BIN/2sCOMP pin: whether the converter reads codes as offset binary or two's "
         "complement"},
        {"Toggle8", "The CLR pin: low holds every output at 0 V; the switch sets the board's pin"},
        {"Check1",
         "Pulse LDAC after each data write, so a written code reaches the output at once; LDAC "
         "stays high between pulses"},
        {"Toggle9",
         "The LDAC pin: low, each data write reaches its output at once; high, codes wait for "
         "LOAD or a pulse"},
        {"Toggle10", "The RSTIN pin: low resets the converter, every output at 0 V"},
        {"Toggle12", "The level the board drives on D1 while D1 is an input"},
        {"Toggle11", "The level the board drives on D0 while D0 is an input"},
        {"Command7",
         "Measure the die temperature: writes the function register, reads the count back"},
        {"Command8",
         "Calibrate the selected channel's offset and gain with a meter: the program loads 0 V, "
         "then zero scale; you type what the meter reads, and it writes the offset and fine "
         "gain registers"},
        {"TextOff", "What your meter reads at the output now, in volts; Enter is Done"},
        {"TextFS", "What your meter reads at the output now, in volts; Enter is Done"},
        {"CommandOff", "Take the reading and correct the offset; then the gain step follows"},
        {"CommandFS", "Take the reading and correct the fine gain; the calibration ends"},
    };
    for (const auto& [name, tip] : tips)
        if (auto* control = central->findChild<QWidget*>(QLatin1String(name)))
            control->setToolTip(tr(tip));
}

void MainForm::BuildShapes(QWidget* central) {
    // Thin rectangles around the groups, drawn behind them.
    const Place shapes[] = {
        {60, 300, 14535, 2535},    // the composer
        {60, 2940, 14535, 2055},   // function register configuration
        {60, 5100, 14535, 1455},   // hardware configuration
        {60, 6660, 4935, 1575},    // temperature
        {5100, 6660, 9495, 1575},  // calibration
        {15, 2895, 14640, 3705},   // both configuration groups
        {15, 255, 14640, 8025},    // the whole design area
    };
    int number = 1;
    for (const Place& at : shapes) {
        auto* shape = Make<QFrame>(central, "", at);
        shape->setObjectName(QStringLiteral("Shape%1").arg(number++));
        shape->setFrameShape(QFrame::Box);
        shape->setFrameShadow(QFrame::Plain);
        QPalette grey = shape->palette();
        grey.setColor(QPalette::WindowText, QColor(0xb0, 0xb0, 0xb0));
        shape->setPalette(grey);
        shape->lower();
    }
}

void MainForm::BuildHiddenControls(QWidget* central) {
    // These lie below the designed client area; they exist for their names but are never seen.
    auto* frame23 = MakeFrame(central, "Frame23",
                              QStringLiteral("Analog Offset and Span Adjust.                    "
                                             "DACA - Vout   ,   DACC - Offset Adjust   ,   DACD - "
                                             "Span Adjust"),
                              true, {120, 8400, 14415, 1455});
    MakeEntry(frame23, "Text1", QStringLiteral("0000"), {360, 720, 615, 285});
    MakeLabel(frame23, "Label31", QStringLiteral("Label31"), {360, 480, 855, 255});
    frame23->hide();

    command10_ =
        MakeButton(central, "Command10", QStringLiteral("Command10"), {6480, 14280, 1455, 495});
    command10_->hide();
    connect(command10_, &QPushButton::clicked, this, &MainForm::Command10_Click);

    MakeButton(central, "Command9", QStringLiteral("Load FirmWare"), {8160, 14280, 1455, 495})
        ->hide();

    auto* frame18 = MakeFrame(central, "Frame18", QString(), true, {120, 9960, 6495, 1815});
    auto* label17 =
        MakeLabel(frame18, "Label17", QStringLiteral("TQ2604"), {1560, 120, 4815, 1575});
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(60);
    label17->setFont(arial);
    auto* label15 = MakeLabel(frame18, "Label15", QStringLiteral("a"), {120, 120, 1335, 1575});
    QFont logo(QStringLiteral("KVRLogo"));
    logo.setPointSize(72);
    label15->setFont(logo);
    frame18->hide();

    auto* frame2 = MakeFrame(central, "Frame2", QStringLiteral("Data Register"), true,
                             {120, 11880, 14415, 2295});
    auto* frame5 =
        MakeFrame(frame2, "Frame5", QStringLiteral("Read DAC Data"), false, {120, 360, 3495, 1695});
    MakeButton(frame5, "Command3", QStringLiteral("Read"), {240, 360, 1215, 375});
    MakeLabel(frame5, "Label13", QString(), {240, 960, 3015, 375});
    auto* frame4 = MakeFrame(frame2, "Frame4", QStringLiteral("Write DAC Data"), false,
                             {3720, 360, 4455, 1695});
    MakeEntry(frame4, "DacText", QStringLiteral("0000"), {240, 360, 1215, 285});
    MakeLabel(frame4, "Label54", QStringLiteral("Press Return Key to Load DAC Channel"),
              {240, 960, 4095, 375});
    auto* frame3 = MakeFrame(frame2, "Frame3", QStringLiteral("Select DAC Channel"), false,
                             {8280, 360, 6015, 1695});
    const char* const optionNames[] = {"Option1", "Option2", "Option3", "Option4", "Option5"};
    const char* const optionTexts[] = {"DAC A", "DAC B", "DAC C", "DAC D", "All DACs"};
    for (int i = 0; i < 5; ++i) {
        auto* option = Make<QRadioButton>(frame3, optionNames[i],
                                          {240 + (i % 3) * 1920, 360 + (i / 3) * 600, 1815, 375});
        option->setText(QLatin1String(optionTexts[i]));
    }
    frame2->hide();
}

void MainForm::BuildMenus() {
    for (QMenu* menu : {BuildFileMenu(), BuildProtectionMenu(), BuildToolsMenu()})
        menu->setToolTipsVisible(true);
    BuildHelpMenu();
    QAction* test = menuBar()->addAction(QStringLiteral("Direct Read/Write"));
    test->setObjectName(QStringLiteral("MnuTest"));
    connect(test, &QAction::triggered, this, &MainForm::MnuTest_Click);
}

// Setups and calibrations opened and saved, the slots, the recent setups, Exit.
QMenu* MainForm::BuildFileMenu() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->menuAction()->setObjectName(QStringLiteral("MnuFile"));
    const auto fileAction = [&](const char* name, const QString& text, QKeySequence keys,
                                void (MainForm::*handler)(), const QString& tip) {
        QAction* action = file->addAction(text);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(keys);
        action->setStatusTip(tip);
        action->setToolTip(tip);
        connect(action, &QAction::triggered, this, handler);
    };
    fileAction("MnuOpenSetup", QStringLiteral("&Open Setup..."), QKeySequence::Open,
               &MainForm::MnuOpenSetup_Click,
               tr("Open a saved setup and bring the board and the program to it"));
    fileAction("MnuSaveSetup", QStringLiteral("&Save Setup..."), QKeySequence::Save,
               &MainForm::MnuSaveSetup_Click,
               tr("Save the board's registers, pins and the program's settings to a file"));
    fileAction("MnuSaveCalibration", QStringLiteral("Save &Calibration..."), QKeySequence(),
               &MainForm::MnuSaveCalibration_Click,
               tr("Save only the channels' fine gain and offset to a file"));
    BuildSlotMenu(file);
    recentSeparator_ = file->addSeparator();
    for (int i = 0; i < static_cast<int>(recent_.size()); ++i) {
        QAction* action = file->addAction(QString());
        action->setObjectName(QStringLiteral("MnuRecent%1").arg(i + 1));
        connect(action, &QAction::triggered, this,
                [this, action] { OpenSetup(action->data().toString()); });
        recent_[static_cast<std::size_t>(i)] = action;
    }
    file->addSeparator();
    ShowRecentSetups();
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    exit->setObjectName(QStringLiteral("MnuExit"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    exit->setShortcutContext(Qt::ApplicationShortcut);
    connect(exit, &QAction::triggered, this, &MainForm::MnuExit_Click);
    return file;
}

// The protection's menu: its window, and the way back to 0 V from any window of the program.
QMenu* MainForm::BuildProtectionMenu() {
    QMenu* protection = menuBar()->addMenu(tr("&Protection"));
    protection->menuAction()->setObjectName(QStringLiteral("MnuProtect"));
    QAction* limits = protection->addAction(tr("Output &Protection..."));
    limits->setObjectName(QStringLiteral("MnuProtection"));
    limits->setStatusTip(tr("Set each channel's voltage limits and ramps, and when to go to 0 V"));
    connect(limits, &QAction::triggered, this, &MainForm::MnuProtection_Click);
    QAction* safe = protection->addAction(tr("&Safe State"));
    safe->setObjectName(QStringLiteral("MnuSafeState"));
    safe->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    safe->setShortcutContext(Qt::ApplicationShortcut);
    safe->setStatusTip(
        tr("Stop the runs and bring every output to 0 V, ramped where a ramp is set"));
    connect(safe, &QAction::triggered, this, &MainForm::MnuSafeState_Click);
    for (QAction* action : {limits, safe})
        action->setToolTip(action->statusTip());
    return protection;
}

// The windows this program adds, each with the object name it always had.
QMenu* MainForm::BuildToolsMenu() {
    QMenu* tools = menuBar()->addMenu(tr("&Tools"));
    tools->menuAction()->setObjectName(QStringLiteral("MnuTools"));
    const auto tool = [&](const char* name, const QString& text, const QString& tip,
                          std::function<void()> open) {
        QAction* action = tools->addAction(text);
        action->setObjectName(QLatin1String(name));
        action->setStatusTip(tip);
        action->setToolTip(tip);
        connect(action, &QAction::triggered, this, std::move(open));
    };
    tool("MnuVout", QStringLiteral("&Output Voltages"),
         tr("Set each channel's output in volts, and see what every channel outputs"),
         [this] { ShowVoutForm(); });
    if (ctx_.waveform)
        tool("MnuWaveform", QStringLiteral("&Waveform Generator"),
             tr("Send shapes or lists of set points to the channels, step by step"),
             [this] { ctx_.openWindow(WindowId::Waveform); });
    tool("MnuTemperatureLog", QStringLiteral("&Temperature Log"),
         tr("Measure the die temperature at an interval into a CSV file"),
         [this] { ctx_.openWindow(WindowId::TemperatureLog); });
    if (ctx_.meter)
        tool("MnuMeter", tr("Bench &Meter"),
             tr("Connect a bench meter for the automatic calibration and the linearity test"),
             [this] { ctx_.openWindow(WindowId::Meter); });
    if (ctx_.bench)
        tool("MnuBench", QStringLiteral("Simulated &Bench"),
             tr("The simulated board's outputs, die temperature and link latency"),
             [this] { MnuBench_Click(); });
    return tools;
}

// The manual and About.
void MainForm::BuildHelpMenu() {
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->menuAction()->setObjectName(QStringLiteral("MnuHelp"));
    QAction* manual = help->addAction(tr("&Manual"));
    manual->setObjectName(QStringLiteral("MnuManual"));
    manual->setShortcut(QKeySequence::HelpContents);
    manual->setStatusTip(tr("How to use the program, its windows and its remote control"));
    connect(manual, &QAction::triggered, this, [this] { ctx_.openWindow(WindowId::Manual); });
    QAction* about = help->addAction(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("MnuAbout"));
    connect(about, &QAction::triggered, this, &MainForm::MnuAbout_Click);
}

void MainForm::BuildStatusBar() {
    auto* bar = new ElidingStatusBar(this);
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    // The last lasting text keeps clear of the window's edge.
    bar->setContentsMargins(0, 0, 6, 0);
    setStatusBar(bar);
    const auto lasting = [bar](const char* name, const QString& tip) {
        auto* label = new ElidedLabel(bar);
        label->setObjectName(QLatin1String(name));
        label->SetTip(tip);
        return label;
    };
    // What runs in the background, windows' and remote clients' alike: a click opens the window
    // that shows (and stops) it.
    activities_ = new QWidget(bar);
    activities_->setObjectName(QStringLiteral("StatusActivities"));
    auto* row = new QHBoxLayout(activities_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    activities_->hide();
    bar->addPermanentWidget(activities_);
    activityTimer_ = new QTimer(this);
    activityTimer_->setSingleShot(true);
    activityTimer_->setInterval(200);
    connect(activityTimer_, &QTimer::timeout, this, &MainForm::ShowActivities);
    // The board and whether it answers are lasting parts of the status bar: a temporary message
    // (a menu's status tip) must not wipe them.
    boardLabel_ = lasting("StatusBoard", tr("The board the program drives"));
    boardLabel_->SetText(ctx_.boardName);
    bar->addPermanentWidget(boardLabel_);
    // Remote clients are a lasting part of the status bar, shown while there are any.
    remoteLabel_ = lasting("StatusRemote", tr("Clients connected over the instrument protocol"));
    remoteLabel_->hide();
    bar->addPermanentWidget(remoteLabel_);
    // The output protection: its limits while any are set, and a ramp while one runs.
    rampingLabel_ = lasting("StatusRamping", tr("An output is on its way to a new voltage in "
                                                "ramp steps (Protection, Output Protection)"));
    rampingLabel_->SetText(tr("Ramping\u2026"));
    rampingLabel_->setVisible(ctx_.instrument.Ramping());
    bar->addPermanentWidget(rampingLabel_);
    limitsLabel_ = lasting("StatusLimits", QString());
    bar->addPermanentWidget(limitsLabel_);
    ShowLimits();
    ShowActivities();
    listener_ = ctx_.instrument.AddListener([this](const InstrumentChange& c) { ShowChange(c); });
}

void MainForm::ShowActivities() {
    activityTimer_->stop();
    std::vector<const Activity*> running;
    for (const Activity* activity : ctx_.instrument.Activities())
        if (!activity->Kind().hasOwnIndicator)  // the ramp has its own lasting text
            running.push_back(activity);
    while (activityLabels_.size() < running.size()) {
        auto* label = new ElidedLabel(activities_);
        label->setObjectName(QStringLiteral("StatusActivity%1").arg(activityLabels_.size() + 1));
        activities_->layout()->addWidget(label);
        connect(label, &ElidedLabel::Clicked, this, [this, label] {
            const QVariant window = label->property("tqWindow");
            if (window.isValid())
                ctx_.openWindow(static_cast<WindowId>(window.toInt()));
        });
        activityLabels_.push_back(label);
    }
    for (std::size_t i = 0; i < activityLabels_.size(); ++i) {
        ElidedLabel* label = activityLabels_[i];
        if (i >= running.size()) {
            label->hide();
            continue;
        }
        const Activity& activity = *running[i];
        const bool remote = activity.Starter() != nullptr && !IsProgramWidget(activity.Starter());
        const std::optional<WindowId> window = ActivityWindow(activity);
        label->SetText(QString::fromStdString(ActivityStatusText(activity, remote)));
        QString tip =
            activity.Progress().empty() ? QString() : QString::fromStdString(activity.Progress());
        if (window) {
            tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) +
                   tr("Click to open its window, where it can be stopped");
            label->setProperty("tqWindow", static_cast<int>(*window));
            label->setCursor(Qt::PointingHandCursor);
        } else {
            label->setProperty("tqWindow", QVariant());
            label->unsetCursor();
        }
        label->SetTip(tip);
        label->show();
    }
    activities_->setVisible(!running.empty());
}

bool MainForm::IsProgramWidget(const void* origin) {
    for (QWidget* widget : QApplication::allWidgets())
        if (static_cast<const void*>(widget) == origin)
            return true;
    return false;
}

void MainForm::ShowRecentSetups() {
    const QStringList recent = RecentSetups();
    for (std::size_t i = 0; i < recent_.size(); ++i) {
        QAction* action = recent_[i];
        const bool used = i < static_cast<std::size_t>(recent.size());
        action->setVisible(used);
        if (!used)
            continue;
        const QString path = recent[static_cast<qsizetype>(i)];
        action->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()));
        action->setData(path);
        action->setStatusTip(QDir::toNativeSeparators(path));
    }
    recentSeparator_->setVisible(!recent.isEmpty());
}

void MainForm::SaveSetup(bool calibrationOnly) {
    if (!ctx_.files)
        return;
    // A name typed without an extension is a setup all the same: Open's filter must show it.
    const QString path = WithDefaultSuffix(
        ctx_.files->SaveFileName(
            this,
            calibrationOnly ? QStringLiteral("Save Calibration") : QStringLiteral("Save Setup"),
            QStringLiteral("Setups (*.json);;All files (*)")),
        QStringLiteral("json"));
    if (path.isEmpty())
        return;
    try {
        const Setup setup = WindowsSetup();
        WriteSetupFile(path, calibrationOnly ? CalibrationPart(setup) : setup);
        RememberSetup(path);
        ShowRecentSetups();
        statusBar()->showMessage(QStringLiteral("Saved %1").arg(QFileInfo(path).fileName()), 5000);
    } catch (const InstrumentError& e) {
        ctx_.messages.ShowMessage(
            this, MessageIcon::Warning,
            QStringLiteral("The setup was not saved: %1").arg(QString::fromStdString(e.what())));
    }
}

void MainForm::MnuSaveSetup_Click() {
    SaveSetup(false);
}

void MainForm::MnuSaveCalibration_Click() {
    SaveSetup(true);
}

void MainForm::MnuOpenSetup_Click() {
    if (!ctx_.files)
        return;
    const QString path = ctx_.files->OpenFileName(this, QStringLiteral("Open Setup"),
                                                  QStringLiteral("Setups (*.json);;All files (*)"));
    if (!path.isEmpty())
        OpenSetup(path);
}

bool MainForm::OpenSetup(const QString& path) {
    try {
        if (!ApplyOpenedSetup(OpenSetupFile(path, ctx_.instrument), QFileInfo(path).fileName()))
            return false;
        RememberSetup(path);
        ShowRecentSetups();
        return true;
    } catch (const InstrumentError& e) {
        ctx_.messages.ShowMessage(
            this, MessageIcon::Warning,
            QStringLiteral("The setup was not opened: %1").arg(QString::fromStdString(e.what())));
        statusBar()->showMessage(
            QStringLiteral("Setup not opened: %1").arg(QString::fromStdString(e.what())));
        return false;
    }
}

bool MainForm::ApplyOpenedSetup(const Setup& setup, const QString& name) {
    // The setup's changes are shown by every view, this window's too.
    if (FromAnotherBoard(setup, ctx_.instrument) &&
        !ctx_.messages.Ask(this,
                           QStringLiteral("%1 was saved from board %2; this is board %3. "
                                          "Open it on this board?")
                               .arg(name, QString::fromStdString(setup.board),
                                    QString::fromStdString(ctx_.instrument.Identity().serial))))
        return false;
    ApplySetup(ctx_.instrument, setup);
    if (setup.waveform && ctx_.waveform)
        ctx_.waveform->OfferDefinition(*setup.waveform);
    statusBar()->showMessage(QStringLiteral("Opened %1").arg(name), 5000);
    return true;
}

Setup MainForm::WindowsSetup() const {
    Setup setup = CaptureSetup(ctx_.instrument);
    // The Waveform Generator's definition travels with the windows' setups only.
    if (ctx_.waveform && ctx_.waveform->Definition())
        setup.waveform = ctx_.waveform->Definition();
    return setup;
}

void MainForm::BuildSlotMenu(QMenu* file) {
    if (!ctx_.setupSlots)
        return;
    QMenu* menu = file->addMenu(tr("Setup S&lots"));
    menu->menuAction()->setObjectName(QStringLiteral("MnuSetupSlots"));
    menu->setToolTipsVisible(true);
    QMenu* save = menu->addMenu(tr("&Save to Slot"));
    QMenu* open = menu->addMenu(tr("&Open from Slot"));
    for (int slot = 0; slot < SetupSlots::kCount; ++slot) {
        QAction* saveTo = save->addAction(tr("Slot &%1").arg(slot));
        saveTo->setObjectName(QStringLiteral("MnuSaveSlot%1").arg(slot));
        saveTo->setStatusTip(tr("Save the setup to slot %1, which *RCL %1 opens").arg(slot));
        connect(saveTo, &QAction::triggered, this, [this, slot] { SaveToSlot(slot); });
        QAction* openFrom = open->addAction(tr("Slot &%1").arg(slot));
        openFrom->setObjectName(QStringLiteral("MnuOpenSlot%1").arg(slot));
        openFrom->setStatusTip(tr("Open the setup of slot %1, which *SAV %1 saves").arg(slot));
        connect(openFrom, &QAction::triggered, this, [this, slot] { OpenSlot(slot); });
    }
    // An empty slot is nothing to open: its item is greyed as the menu opens.
    connect(open, &QMenu::aboutToShow, this, [this, open] {
        for (int slot = 0; slot < SetupSlots::kCount; ++slot) {
            bool filled = false;
            try {
                filled = ctx_.setupSlots->Load(slot).has_value();
            } catch (const SlotError&) {
                filled = true;  // opening it says why it cannot be read
            }
            open->actions()[slot]->setEnabled(filled);
        }
    });
}

void MainForm::SaveToSlot(int slot) {
    try {
        ctx_.setupSlots->Save(slot, SetupToJson(WindowsSetup()));
        statusBar()->showMessage(tr("Saved to setup slot %1").arg(slot), 5000);
    } catch (const std::exception& e) {
        ctx_.messages.ShowMessage(this, MessageIcon::Warning,
                                  tr("The setup was not saved to slot %1: %2")
                                      .arg(slot)
                                      .arg(QString::fromStdString(e.what())));
    }
}

bool MainForm::OpenSlot(int slot) {
    const QString name = tr("setup slot %1").arg(slot);
    try {
        const std::optional<std::string> text = ctx_.setupSlots->Load(slot);
        if (!text)
            throw SetupError(
                tr("it is empty; File, Setup Slots, Save to Slot fills it").toStdString());
        Setup setup = SetupFromJson(*text);
        CheckSetup(setup, ctx_.instrument);
        return ApplyOpenedSetup(setup, name);
    } catch (const std::exception& e) {
        const QString why = QString::fromStdString(e.what());
        ctx_.messages.ShowMessage(this, MessageIcon::Warning,
                                  tr("The %1 was not opened: %2").arg(name, why));
        statusBar()->showMessage(tr("Setup not opened: %1: %2").arg(name, why));
        return false;
    }
}

void MainForm::ShowRemoteClients(int count) {
    remoteClients_ = count;
    QString text = count == 1 ? QStringLiteral("Remote: 1 client")
                              : QStringLiteral("Remote: %1 clients").arg(count);
    // The windows stay usable while a client holds the lock: the person at the bench comes first.
    if (!lockHolder_.isEmpty())
        text += QStringLiteral(", locked by %1").arg(lockHolder_);
    remoteLabel_->SetText(text);
    remoteLabel_->setVisible(count > 0);
}

void MainForm::ShowRemoteLock(const QString& holder) {
    lockHolder_ = holder;
    ShowRemoteClients(remoteClients_);
}

void MainForm::ShowLimits() {
    // Channels with the same limits share one entry: "A, C -5 V to 5 V; B -2 V to 2 V".
    std::vector<std::pair<QString, ChannelLimits>> groups;
    QStringList letters;
    QStringList lines;
    for (int16_t channel = 0; channel < kChannelCount; ++channel) {
        const ChannelLimits& limits = ctx_.instrument.Limits(channel);
        if (!limits.Active())
            continue;
        const QString letter(QChar(QLatin1Char(static_cast<char>('A' + channel))));
        letters << letter;
        lines << QString::fromStdString(ChannelName(channel) + ": " + DescribeLimits(limits));
        const auto same = std::find_if(groups.begin(), groups.end(),
                                       [&](const auto& group) { return group.second == limits; });
        if (same != groups.end())
            same->first += QStringLiteral(", ") + letter;
        else
            groups.emplace_back(letter, limits);
    }
    QStringList parts;
    for (const auto& [names, limits] : groups)
        parts << names + QLatin1Char(' ') + QString::fromStdString(DescribeLimits(limits));
    QString text = tr("Limits: %1").arg(parts.join(QStringLiteral("; ")));
    // Four different ramps would crowd out the rest of the bar: the tip has them all.
    if (text.size() > 90)
        text = tr("Limits on %1 (see Protection)").arg(letters.join(QStringLiteral(", ")));
    limitsLabel_->SetText(text);
    limitsLabel_->SetTip(lines.join(QLatin1Char('\n')));
    limitsLabel_->setVisible(!groups.empty());
}

void MainForm::ShowChange(const InstrumentChange& c) {
    using Kind = InstrumentChange::Kind;
    switch (c.kind) {
        case Kind::RequestResult:
            RequestFinished(c.value);
            break;
        case Kind::Protection:
            ShowLimits();
            break;
        case Kind::Activity:
            // Progress comes with every step: the texts follow a few times a second.
            if (c.value == 2) {
                if (!activityTimer_->isActive())
                    activityTimer_->start();
            } else {
                ShowActivities();
            }
            if (c.value != 2) {
                rampingLabel_->setVisible(ctx_.instrument.Ramping());
                // Safe State's ramp has ended: its message says where the outputs are now.
                if (!ctx_.instrument.Ramping() &&
                    statusBar()->currentMessage() == SafeStateText(true))
                    statusBar()->showMessage(SafeStateText(false), 5000);
            }
            // How an activity ended other than as it was made to, whoever started it.
            if (c.value == 0 && c.activity && c.activity->OutcomeReported())
                statusBar()->showMessage(QString::fromStdString(c.activity->OutcomeText()), 10000);
            break;
        case Kind::BoardBack:
            // Shown until the next action: the call that found the board back still runs.
            statusBar()->showMessage(QString::fromStdString(c.text));
            boardBackShown_ = true;
            QTimer::singleShot(0, this, [this] { boardBackSettled_ = boardBackShown_; });
            break;
        case Kind::Refused:
            // The event says why: the limits, or who holds the channel.
            statusBar()->showMessage(tr("Refused: %1").arg(QString::fromStdString(c.text)), 10000);
            break;
        case Kind::ReadWrite:
            if (composer_)
                composer_->ShowReadWrite(static_cast<int16_t>(c.value));
            break;
        case Kind::Resolution:
            // Another device (the device window, a remote client): the entries' prompts follow.
            if (composer_ && loaded_)
                composer_->SetRangePrompts(static_cast<int16_t>(c.value));
            break;
        case Kind::Pins:
        case Kind::FunctionFlags:
        case Kind::D0Direction:
        case Kind::D1Direction:
        case Kind::PulseAfterDataWrite:
            // The window's own handlers set their switches as they go; the rest is shown here.
            if (c.origin != this && switches_ && loaded_)
                switches_->ShowInstrumentState();
            break;
        default:
            break;
    }
}

void MainForm::RequestFinished(int32_t result) {
    if (boardBackSettled_) {
        boardBackShown_ = boardBackSettled_ = false;
        statusBar()->clearMessage();
    }
    const bool silent = result < 0;
    if (silent == boardSilent_)
        return;
    boardSilent_ = silent;
    boardLabel_->SetText(silent ? ctx_.boardName + QStringLiteral(" \u2014 ") + kNotResponding
                                : ctx_.boardName);
}

bool MainForm::Load() {
    const Instrument::Origin own(ctx_.instrument, this);
    switches_->ShowPinDefaults();
    if (!StartUp(ctx_.instrument, ctx_.programFolder, *this))
        return false;
    loaded_ = true;
    return true;
}

void MainForm::NotConnected(const std::vector<std::string>& reasons) {
    for (const std::string& why : reasons)
        ctx_.messages.ShowMessage(this, MessageIcon::Warning, QString::fromStdString(why));
}

void MainForm::Connected() {
    setWindowTitle(kTitle);
    composer_->SetRangePrompts(ctx_.state.Resolution);
}

// The switches, the function list and the lists of the composer as the converter's function
// register has them (when nothing answered, as the read left the flags, as FFFF would have been
// taken). Filling the lists sends the composer's no-operation word.
void MainForm::FunctionRegisterTaken(const std::optional<std::string>& /*error*/) {
    ComposerFields& s = ctx_.composer;
    const int32_t image = s.FunctionImage;
    switches_->ShowFunctionRegister(image);
    for (std::size_t i = 0; i < kFunctionChoices.size(); ++i) {
        const FunctionChoice& choice = kFunctionChoices[i];
        const std::string_view text = (image & choice.mask) ? choice.whenSet : choice.whenClear;
        s.FunctionChoices[i] = std::string(text);
    }
    composer_->FillLists();
    composer_->ApplyStartupVisibility();
    switches_->ApplyStartupEnables();
}

void MainForm::Started() {
    Command10_Click();
}

void MainForm::Command10_Click() {
    composer_->SelectRegisterByText(QStringLiteral("Data register"));
}

void MainForm::ShowVoutForm() {
    ctx_.openWindow(WindowId::OutputVoltages);
}

// Closing the window or Exit ends the program; while a run drives an output the user is asked
// first, as the run's own window asks when it is closed.
void MainForm::closeEvent(QCloseEvent* event) {
    if (!MayQuit()) {
        event->ignore();
        return;
    }
    event->accept();
    QCoreApplication::exit(0);
}

void MainForm::MnuExit_Click() {
    if (MayQuit())
        QCoreApplication::exit(0);
}

bool MainForm::MayQuit() {
    QStringList running;
    for (const Activity* activity : ctx_.instrument.Activities())
        if (activity->DrivesOutputs())
            running << QString::fromUtf8(activity->Name());
    if (running.isEmpty())
        return true;
    QString what = running.join(QStringLiteral(", "));
    what[0] = what[0].toUpper();
    const QString text =
        tr("%1 %2 still running. Quitting stops %3 where %4 left the outputs. Quit all the same?")
            .arg(what, running.size() == 1 ? tr("is") : tr("are"),
                 running.size() == 1 ? tr("it") : tr("them"),
                 running.size() == 1 ? tr("its last step") : tr("their last steps"));
    return ctx_.messages.Choose(this, text, {tr("Stop and quit"), tr("Cancel")}, 1) == 0;
}

void MainForm::MnuAbout_Click() {
    ctx_.openWindow(WindowId::About);
}

void MainForm::MnuTest_Click() {
    ctx_.openWindow(WindowId::DirectReadWrite);
}

void MainForm::MnuBench_Click() {
    ctx_.openWindow(WindowId::Bench);
}

void MainForm::MnuProtection_Click() {
    ctx_.openWindow(WindowId::Protection);
}

QString MainForm::SafeStateText(bool ramping) {
    return ramping ? tr("Safe State: every output ramping to 0 V")
                   : tr("Safe State: every output at 0 V");
}

void MainForm::MnuSafeState_Click() {
    const Instrument::Origin own(ctx_.instrument, this);
    try {
        ctx_.instrument.GoToSafeState({this, tr("Safe State in the main window").toStdString()});
        statusBar()->showMessage(SafeStateText(ctx_.instrument.Ramping()), 5000);
    } catch (const InstrumentError& e) {
        ctx_.messages.ShowMessage(
            this, MessageIcon::Warning,
            tr("The outputs were not brought to 0 V: %1. Check the board and choose Safe State "
               "again.")
                .arg(QString::fromStdString(e.what())));
    }
}

}  // namespace tq
