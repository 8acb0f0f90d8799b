#include "ui/automation/AutomationConsole.h"

#include <unistd.h>
#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "board/SimCommands.h"
#include "board/SimulatedBench.h"
#include "board/TrafficTrace.h"
#include "core/DeviceState.h"
#include "core/InputExcerpt.h"
#include "ui/WindowContext.h"

namespace tq {

namespace {

// A command that cannot run; its reason follows "error: ".
struct CommandError {
    std::string reason;
};

[[noreturn]] void Fail(std::string reason) {
    throw CommandError{std::move(reason)};
}

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Line breaks print as \n so that every printed value stays on its line.
std::string OneLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar('\r'), QChar('\n'));
    text.replace(QChar(QChar::LineSeparator), QChar('\n'));
    text.replace(QChar(QChar::ParagraphSeparator), QChar('\n'));
    text.replace(QStringLiteral("\n"), QStringLiteral("\\n"));
    return text.toStdString();
}

// A caption as shown: the mnemonic '&' dropped, "&&" shown as '&'.
QString WithoutMnemonics(const QString& caption) {
    QString shown;
    shown.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&')) {
            if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&')) {
                shown += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        shown += caption[i];
    }
    return shown;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Splits "first rest": `rest` is everything after the one blank that follows `first`.
void SplitFirst(std::string_view text, std::string_view& first, std::string_view& rest) {
    std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos) {
        first = text;
        rest = {};
    } else {
        first = text.substr(0, blank);
        rest = text.substr(blank + 1);
    }
}

// "W.C" -> window and control names.
struct Target {
    std::string text;
    QString window;
    QString control;
};

Target ParseTarget(std::string_view text) {
    std::size_t dot = text.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == text.size()) {
        Fail("expected Window.Control, got " + QuotedInput(text));
    }
    // The text as quoted in messages; the names are looked up as given.
    return {InputExcerpt(text), FromUtf8(text.substr(0, dot)), FromUtf8(text.substr(dot + 1))};
}

QWidget* FindWindow(const QString& name) {
    QWidget* found = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() != name)
            continue;
        if (window->isVisible())
            return window;
        if (found == nullptr)
            found = window;
    }
    if (found == nullptr)
        Fail("no window " + InputExcerpt(name.toStdString()));
    return found;
}

QWidget* FindControl(QWidget* window, const Target& target) {
    auto* control = window->findChild<QWidget*>(target.control);
    if (control == nullptr)
        Fail("no control " + target.text);
    return control;
}

QAction* FindAction(QWidget* window, const QString& name) {
    if (auto* action = window->findChild<QAction*>(name))
        return action;
    // Actions owned elsewhere but added to one of the window's menus or widgets.
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* widget : widgets) {
        for (QAction* action : widget->actions()) {
            if (action->objectName() == name)
                return action;
        }
    }
    return nullptr;
}

// What stops a user from acting on the window at all.
void CheckWindowReachable(QWidget* window) {
    if (window->property("busy").toBool())
        Fail("busy");
    if (!window->isVisible())
        Fail("window " + window->objectName().toStdString() + " is hidden");
}

void CheckReachable(QWidget* window, QWidget* control, const Target& target) {
    CheckWindowReachable(window);
    if (!control->isVisibleTo(window))
        Fail(target.text + " is hidden");
    if (!control->isEnabled())
        Fail(target.text + " is disabled");
}

bool IsRichText(const QLabel* label) {
    return label->textFormat() == Qt::RichText ||
           (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
}

QString ShownText(QWidget* control) {
    if (auto* label = qobject_cast<QLabel*>(control)) {
        if (IsRichText(label))
            return QTextDocumentFragment::fromHtml(label->text()).toPlainText();
        return WithoutMnemonics(label->text());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        return WithoutMnemonics(button->text());
    }
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        return edit->text();
    if (auto* combo = qobject_cast<QComboBox*>(control))
        return combo->currentText();
    if (auto* frame = qobject_cast<QGroupBox*>(control))
        return WithoutMnemonics(frame->title());
    if (auto* edit = qobject_cast<QPlainTextEdit*>(control))
        return edit->toPlainText();
    if (auto* edit = qobject_cast<QTextEdit*>(control))
        return edit->toPlainText();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(control))
        return spin->text();
    if (auto* bar = qobject_cast<QStatusBar*>(control)) {
        if (!bar->currentMessage().isEmpty())
            return bar->currentMessage();
        // Permanent status texts are labels inside the bar.
        QStringList texts;
        for (QLabel* label : bar->findChildren<QLabel*>()) {
            if (label->isVisibleTo(bar) && !label->text().isEmpty())
                texts << label->text();
        }
        return texts.join(QStringLiteral(" | "));
    }
    return QString();
}

bool IsEntryBox(QWidget* control) {
    return qobject_cast<QLineEdit*>(control) != nullptr ||
           qobject_cast<QPlainTextEdit*>(control) != nullptr ||
           qobject_cast<QTextEdit*>(control) != nullptr ||
           qobject_cast<QAbstractSpinBox*>(control) != nullptr;
}

std::string Flag(const char* name, bool value) {
    return std::string(name) + ": " + (value ? "1" : "0") + "\n";
}

std::string DescribeControl(QWidget* window, QWidget* control) {
    std::string out = "text: " + OneLine(ShownText(control)) + "\n";
    out += Flag("visible", control->isVisibleTo(window));
    out += Flag("enabled", control->isEnabled());
    if (auto* button = qobject_cast<QAbstractButton*>(control); button && button->isCheckable()) {
        out += Flag("state", button->isChecked());
    }
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        out += "items: " + OneLine(items.join(QLatin1Char('|'))) + "\n";
    }
    if (IsEntryBox(control))
        out += Flag("focus", window->focusWidget() == control);
    return out;
}

std::string DescribeAction(QAction* action) {
    std::string out = "text: " + OneLine(WithoutMnemonics(action->text())) + "\n";
    out += Flag("visible", action->isVisible());
    out += Flag("enabled", action->isEnabled());
    if (action->isCheckable())
        out += Flag("state", action->isChecked());
    return out;
}

// DeviceState fields as text. Integers in decimal, flags as 0/1, floats in the shortest text
// that reads back as the same float, texts as they are. Arrays: FunctionChoices as its items
// joined by '|', ReceiveBuffer as two-digit hex bytes separated by blanks, PathBytes as the text
// before its terminating zero byte.
std::string FieldText(int16_t value) {
    return std::to_string(value);
}
std::string FieldText(int32_t value) {
    return std::to_string(value);
}
std::string FieldText(bool value) {
    return value ? "1" : "0";
}
std::string FieldText(const std::string& value) {
    return value;
}

std::string FieldText(float value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, end);
}

template <std::size_t N>
std::string FieldText(const std::array<std::string, N>& items) {
    std::string text;
    for (std::size_t i = 0; i < N; ++i)
        text += (i ? "|" : "") + items[i];
    return text;
}

std::string FieldText(const std::array<uint8_t, 513>& path) {
    std::string text;
    for (uint8_t byte : path) {
        if (byte == 0)
            break;
        text += static_cast<char>(byte);
    }
    return text;
}

template <std::size_t N>
std::string FieldText(const std::array<uint8_t, N>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < N; ++i) {
        if (i)
            text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

template <auto Member>
std::string ShowField(const DeviceState& state) {
    return FieldText(state.*Member);
}

struct StateField {
    std::string_view name;
    std::string (*text)(const DeviceState&);
};

#define TQ_STATE_FIELD(name)                    \
    StateField {                                \
#name, &ShowField < &DeviceState::name> \
    }

const StateField kStateFields[] = {
    TQ_STATE_FIELD(Resolution),      TQ_STATE_FIELD(PinFixed7),
    TQ_STATE_FIELD(PinFixed6),       TQ_STATE_FIELD(PinFixed5),
    TQ_STATE_FIELD(LdacPin),         TQ_STATE_FIELD(ClrPin),
    TQ_STATE_FIELD(BinaryCoding),    TQ_STATE_FIELD(RstinPin),
    TQ_STATE_FIELD(PinFixed0),       TQ_STATE_FIELD(DriveD1),
    TQ_STATE_FIELD(DriveD0),         TQ_STATE_FIELD(DataValue),
    TQ_STATE_FIELD(Address),         TQ_STATE_FIELD(RegSelect),
    TQ_STATE_FIELD(ReadWrite),       TQ_STATE_FIELD(FnLocalGndOffset),
    TQ_STATE_FIELD(FnD1Output),      TQ_STATE_FIELD(FnD1High),
    TQ_STATE_FIELD(FnD0Output),      TQ_STATE_FIELD(FnD0High),
    TQ_STATE_FIELD(FnSdoDisable),    TQ_STATE_FIELD(FunctionImage),
    TQ_STATE_FIELD(LastReadBack),    TQ_STATE_FIELD(CoarseReadBack),
    TQ_STATE_FIELD(NumberMode),      TQ_STATE_FIELD(RangeVolts),
    TQ_STATE_FIELD(FunctionChoices), TQ_STATE_FIELD(BoardHandle),
    TQ_STATE_FIELD(LastStatus),      TQ_STATE_FIELD(LastRequestFailed),
    TQ_STATE_FIELD(FirmwarePath),    TQ_STATE_FIELD(PathBytes),
    TQ_STATE_FIELD(ReceiveBuffer),
};

#undef TQ_STATE_FIELD

int ParseWaitMs(std::string_view args) {
    int64_t ms = 0;
    if (!ParseCommandInteger(TrimBlanks(args), 0, std::numeric_limits<int>::max(), ms)) {
        Fail("bad wait time " + QuotedInput(TrimBlanks(args)));
    }
    return static_cast<int>(ms);
}

std::string_view CommandLine(std::string_view line) {
    if (line.substr(0, 3) == "\xEF\xBB\xBF")
        line.remove_prefix(3);  // a byte order mark
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    return line;
}

// What a command works on: the program's windows and state, the board traffic, the simulated
// bench (null on a real board), the message boxes, and what the command prints.
struct CommandScope {
    WindowContext& ctx;
    TrafficTrace& trace;
    SimulatorControl* sim;
    RecordingMessageSink& messages;
    bool& quitRequested;
    std::string& out;
};

// The control a user's action goes to ("W.C" and the text after it), once a user could reach it.
struct ReachedControl {
    Target target;
    QWidget* control;
    std::string_view text;
};

ReachedControl Reach(std::string_view rest) {
    std::string_view targetText, text;
    SplitFirst(rest, targetText, text);
    Target target = ParseTarget(targetText);
    QWidget* window = FindWindow(target.window);
    QWidget* control = FindControl(window, target);
    CheckReachable(window, control, target);
    return {std::move(target), control, text};
}

void RunClick(CommandScope&, std::string_view rest) {
    ReachedControl reached = Reach(rest);
    auto* button = qobject_cast<QAbstractButton*>(reached.control);
    if (button == nullptr)
        Fail(reached.target.text + " is not a button");
    if (!TrimBlanks(reached.text).empty())
        Fail("unexpected text after " + reached.target.text);
    button->click();
}

void RunSelect(CommandScope&, std::string_view rest) {
    ReachedControl reached = Reach(rest);
    auto* combo = qobject_cast<QComboBox*>(reached.control);
    if (combo == nullptr)
        Fail(reached.target.text + " is not a list");
    QString wanted = FromUtf8(reached.text);
    int index = -1;
    for (int i = 0; i < combo->count() && index < 0; ++i) {
        if (combo->itemText(i).compare(wanted, Qt::CaseInsensitive) == 0)
            index = i;
    }
    if (index < 0)
        Fail("no item " + QuotedInput(reached.text) + " in " + reached.target.text);
    // The signals of a user's choice; activated also for the item already shown.
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    emit combo->textActivated(combo->itemText(index));
}

void RunType(CommandScope&, std::string_view rest) {
    ReachedControl reached = Reach(rest);
    auto* edit = qobject_cast<QLineEdit*>(reached.control);
    if (edit == nullptr)
        Fail(reached.target.text + " is not an entry box");
    if (edit->isReadOnly())
        Fail(reached.target.text + " is read-only");
    // Selecting and inserting edits like typing (textEdited, validator, max length).
    edit->selectAll();
    edit->insert(FromUtf8(reached.text));
}

void RunKey(CommandScope&, std::string_view rest) {
    ReachedControl reached = Reach(rest);
    QString key = FromUtf8(reached.text);
    int code = 0;
    QString typed;
    if (key.compare(QStringLiteral("enter"), Qt::CaseInsensitive) == 0) {
        code = Qt::Key_Return;
        typed = QStringLiteral("\r");
    } else if (key.size() == 1 || (key.size() == 2 && key[0].isHighSurrogate())) {
        code = key.size() == 1 ? static_cast<int>(key[0].toUpper().unicode())
                               : static_cast<int>(Qt::Key_unknown);
        typed = key;
    } else {
        Fail("unknown key " + QuotedInput(reached.text));
    }
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, typed);
    QCoreApplication::sendEvent(reached.control, &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, typed);
    QCoreApplication::sendEvent(reached.control, &release);
}

void RunGet(CommandScope& scope, std::string_view rest) {
    std::string_view targetText = TrimBlanks(rest);
    if (targetText.empty())
        Fail("missing window or control");
    if (targetText.find('.') == std::string_view::npos) {
        QWidget* window = FindWindow(FromUtf8(targetText));
        scope.out += "text: " + OneLine(window->windowTitle()) + "\n";
        scope.out += Flag("visible", window->isVisible());
        return;
    }
    Target target = ParseTarget(targetText);
    QWidget* window = FindWindow(target.window);
    if (auto* control = window->findChild<QWidget*>(target.control)) {
        scope.out += DescribeControl(window, control);
    } else if (QAction* action = FindAction(window, target.control)) {
        scope.out += DescribeAction(action);
    } else {
        Fail("no control " + target.text);
    }
}

void RunMenu(CommandScope&, std::string_view rest) {
    Target target = ParseTarget(TrimBlanks(rest));
    QWidget* window = FindWindow(target.window);
    QAction* action = FindAction(window, target.control);
    if (action == nullptr)
        Fail("no menu item " + target.text);
    CheckWindowReachable(window);
    if (!action->isVisible())
        Fail(target.text + " is hidden");
    if (!action->isEnabled())
        Fail(target.text + " is disabled");
    action->trigger();
}

void RunShow(CommandScope& scope, std::string_view rest) {
    QString name = FromUtf8(TrimBlanks(rest));
    if (name.isEmpty())
        Fail("missing window");
    const auto window = WindowByName(name);
    if (!window || !scope.ctx.openWindow || !scope.ctx.openWindow(*window))
        Fail("cannot open window " + InputExcerpt(name.toStdString()));
}

void RunState(CommandScope& scope, std::string_view rest) {
    std::string_view name = TrimBlanks(rest);
    for (const StateField& field : kStateFields) {
        if (field.name == name) {
            scope.out += OneLine(FromUtf8(field.text(scope.ctx.state))) + "\n";
            return;
        }
    }
    Fail("no state field " + QuotedInput(name));
}

void NoArguments(std::string_view command, std::string_view rest) {
    if (!TrimBlanks(rest).empty())
        Fail(std::string(command) + " takes no arguments");
}

void RunTrace(CommandScope& scope, std::string_view rest) {
    NoArguments("trace", rest);
    std::size_t dropped = 0;
    std::vector<std::string> lines = scope.trace.TakeLines(dropped);
    if (dropped > 0)
        scope.out += "dropped: " + std::to_string(dropped) + "\n";
    for (const std::string& traceLine : lines)
        scope.out += traceLine + "\n";
}

void RunMessages(CommandScope& scope, std::string_view rest) {
    NoArguments("messages", rest);
    for (const auto& message : scope.messages.messages)
        scope.out += AutomationConsole::FormatMessageLine(message) + "\n";
    scope.messages.messages.clear();
}

void RunSim(CommandScope& scope, std::string_view rest) {
    if (scope.sim == nullptr)
        Fail("no simulated board");
    std::string simOutput, error;
    if (!RunSimCommand(*scope.sim, std::string(rest), simOutput, error))
        Fail(error);
    // The program looks at a board that lost power at once, as a hot-plug notice would make it do.
    if (TrimBlanks(rest) == "power-cycle")
        scope.ctx.instrument.CheckBoard();
    scope.out += simOutput;
}

void RunGrab(CommandScope&, std::string_view rest) {
    std::string_view windowName, file;
    SplitFirst(TrimBlanks(rest), windowName, file);
    if (windowName.empty() || file.empty())
        Fail("expected grab Window FILE");
    QWidget* window = FindWindow(FromUtf8(windowName));
    if (!window->grab().save(FromUtf8(file), "PNG"))
        Fail("cannot save " + InputExcerpt(file));
}

// From a script, `wait` waits on the program's own event loop (RunNext); run on its own, here.
void RunWait(CommandScope&, std::string_view rest) {
    int ms = ParseWaitMs(rest);
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void RunQuit(CommandScope& scope, std::string_view rest) {
    NoArguments("quit", rest);
    scope.quitRequested = true;
}

// The console's commands: the first word of a line, and what it does with the rest.
struct ConsoleCommand {
    std::string_view word;
    void (*run)(CommandScope& scope, std::string_view rest);
};

constexpr ConsoleCommand kConsoleCommands[] = {
    {"click", RunClick}, {"select", RunSelect},     {"type", RunType}, {"key", RunKey},
    {"get", RunGet},     {"menu", RunMenu},         {"show", RunShow}, {"state", RunState},
    {"trace", RunTrace}, {"messages", RunMessages}, {"sim", RunSim},   {"grab", RunGrab},
    {"wait", RunWait},   {"quit", RunQuit},
};

}  // namespace

AutomationConsole::AutomationConsole(WindowContext& ctx, TrafficTrace& trace, SimulatorControl* sim,
                                     RecordingMessageSink& messages, std::FILE* out, std::FILE* err)
    : ctx_(ctx), trace_(trace), sim_(sim), messages_(messages), out_(out), err_(err) {}

AutomationConsole::~AutomationConsole() = default;

std::string AutomationConsole::FormatMessageLine(const RecordingMessageSink::Message& message) {
    return "message: " + MessageIconName(message.icon).toStdString() + " " + OneLine(message.text);
}

std::string AutomationConsole::Execute(const std::string& rawLine) {
    std::string_view command, rest;
    SplitFirst(CommandLine(rawLine), command, rest);
    std::string out;
    CommandScope scope{ctx_, trace_, sim_, messages_, quitRequested_, out};
    try {
        if (command.empty())
            Fail("empty command");
        const auto row = std::find_if(std::begin(kConsoleCommands), std::end(kConsoleCommands),
                                      [&](const ConsoleCommand& c) { return c.word == command; });
        if (row == std::end(kConsoleCommands))
            Fail("unknown command " + QuotedInput(command));
        row->run(scope, rest);
    } catch (const CommandError& e) {
        return out + "error: " + OneLine(FromUtf8(e.reason)) + "\n";
    } catch (const std::exception& e) {
        // A handler's failure must not end the console.
        return out + "error: " + OneLine(QString::fromUtf8(e.what())) + "\n";
    }
    return out + "ok\n";
}

void AutomationConsole::Start() {
    StartReading(STDIN_FILENO);
}

void AutomationConsole::StartReading(int fd) {
    fd_ = fd;
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &AutomationConsole::ReadInput);
    notifier_->setEnabled(true);
}

void AutomationConsole::ReadInput() {
    char buffer[65536];
    const ssize_t count = ::read(fd_, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        // End of input, or input that cannot be read: both end the script as quit does.
        notifier_->setEnabled(false);
        if (!partialLine_.empty() || discarding_)
            EndLine();
        inputEnded_ = true;
    } else {
        TakeInput(std::string_view(buffer, static_cast<std::size_t>(count)));
        if (pendingBytes_ >= kMaxWaitingBytes)
            notifier_->setEnabled(false);  // taken up again as the waiting lines run
    }
    ScheduleNext();
}

void AutomationConsole::TakeInput(std::string_view bytes) {
    // Each byte is looked at once: only the new bytes are searched for the line's end.
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (!discarding_ && partialLine_.size() + piece.size() > kMaxLineBytes) {
            // Only the start is kept, for the error that quotes it.
            discarding_ = true;
            constexpr std::size_t kKept = 256;
            if (partialLine_.size() < kKept)
                partialLine_.append(piece.substr(0, kKept - partialLine_.size()));
            partialLine_.resize(std::min(partialLine_.size(), kKept));
            partialLine_.shrink_to_fit();
        } else if (!discarding_) {
            partialLine_.append(piece);
        }
        if (end == std::string_view::npos)
            return;
        EndLine();
        bytes.remove_prefix(end + 1);
    }
}

void AutomationConsole::EndLine() {
    pendingBytes_ += partialLine_.size();
    pending_.push_back(Line{std::move(partialLine_), discarding_});
    partialLine_.clear();
    discarding_ = false;
}

void AutomationConsole::ScheduleNext() {
    if (running_ || scheduled_ || finished_)
        return;
    if (pending_.empty() && !inputEnded_)
        return;
    scheduled_ = true;
    // One command per pass of the event loop, as a user's actions arrive.
    QTimer::singleShot(0, this, &AutomationConsole::RunNext);
}

void AutomationConsole::RunNext() {
    scheduled_ = false;
    if (running_ || finished_)
        return;
    std::string line;
    if (!pending_.empty()) {
        Line next = std::move(pending_.front());
        pending_.pop_front();
        pendingBytes_ -= next.text.size();
        if (notifier_ && !inputEnded_ && !notifier_->isEnabled() &&
            pendingBytes_ < kMaxWaitingBytes / 2)
            notifier_->setEnabled(true);
        if (next.overlong) {
            Emit("error: line longer than " + std::to_string(kMaxLineBytes) +
                 " bytes, discarded: " + QuotedInput(CommandLine(next.text)) + "\n");
            ScheduleNext();
            return;
        }
        line = std::move(next.text);
    } else if (inputEnded_) {
        line = "quit";
    } else {
        return;
    }
    std::string_view command = CommandLine(line);
    if (command.empty()) {
        ScheduleNext();
        return;
    }
    std::string_view word, rest;
    SplitFirst(command, word, rest);
    if (word == "wait") {
        // Waits on the program's own event loop rather than a nested one. The timer is precise, as
        // is the calibration notice's, so a wait a millisecond longer than the notice always ends
        // after it, however busy the machine.
        int ms = -1;
        try {
            ms = ParseWaitMs(rest);
        } catch (const CommandError& e) {
            Emit("error: " + e.reason + "\n");
        }
        if (ms >= 0) {
            running_ = true;
            QTimer::singleShot(ms, Qt::PreciseTimer, this, [this] {
                running_ = false;
                Emit("ok\n");
                ScheduleNext();
            });
            return;
        }
        ScheduleNext();
        return;
    }
    running_ = true;
    std::string output = Execute(line);
    running_ = false;
    Emit(output);
    if (quitRequested_) {
        Finish();
        return;
    }
    ScheduleNext();
}

void AutomationConsole::Emit(const std::string& text) {
    if (finished_)
        return;
    const bool written = std::fwrite(text.data(), 1, text.size(), out_) == text.size();
    const bool flushed = std::fflush(out_) == 0;
    if (written && flushed)
        return;
    // Nobody reads what the commands print any more, so no command may run unseen; the windows
    // stay for the user.
    const int why = errno;
    finished_ = true;
    if (notifier_)
        notifier_->setEnabled(false);
    pending_.clear();
    pendingBytes_ = 0;
    std::fprintf(err_,
                 "tq2604x-eval: the automation console's output was closed (%s); the console "
                 "has ended, the windows stay open\n",
                 std::strerror(why));
    std::fflush(err_);
    emit Ended();
}

void AutomationConsole::Finish() {
    finished_ = true;
    if (notifier_)
        notifier_->setEnabled(false);
    QCoreApplication::exit(0);
}

}  // namespace tq
