#pragma once
// Remote control of the program's windows by object name. Reads UTF-8 commands from standard
// input, one per line, and runs each on the UI thread as a user's action would, strictly one after
// another. Every command's output ends with a line "ok" or "error: <reason>".
//
//   click W.C          QAbstractButton::click() on a button, check box, option button or switch
//   select W.C TEXT    choose the item of a QComboBox whose text matches TEXT ignoring case: the
//                      current index is set, then activated(int) and textActivated() are emitted,
//                      also when the item is already shown. List handlers therefore connect to
//                      QComboBox::activated (currentIndexChanged does not fire for the same item).
//   type W.C TEXT      replace a QLineEdit's text as typing does (TEXT may be empty)
//   key W.C enter      press and release Return in the control; `key W.C X` types character X
//   get W.C            text, visible, enabled, then state (checkable buttons), items (lists),
//                      focus (entry boxes)
//   get W              the window's title and visibility
//   menu W.ITEM        trigger the enabled QAction with that object name
//   show W             open the window through WindowContext::openWindow
//   state FIELD        a DeviceState field by its member name: integers in decimal, flags 0/1,
//                      floats in the shortest text that reads back as the same float, texts as
//                      they are; FunctionChoices as its items joined by '|', ReceiveBuffer as
//                      two-digit hex bytes separated by blanks, PathBytes as the text before
//                      its terminating zero
//   trace              the adapter calls since the last `trace`, after "dropped: N" when older
//                      lines were lost
//   messages           the message boxes since the last `messages`, one "message: ..." each
//   sim ...            the simulated board's bench (board/SimCommands.h)
//   grab W FILE        save a PNG picture of the window
//   wait MS            let the event loop run for MS milliseconds
//   quit               print ok and end the program with status 0 (so does end of input)
//
// Windows are the top-level widgets, found by object name; controls are found by object name
// within their window. click, select, type, key and menu refuse controls that a user could not
// reach (hidden, disabled, or in a hidden window) and answer "error: busy" while the window's
// dynamic property "busy" is true. Blank input lines are skipped without output.

#include <QObject>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "ui/widgets/MessageSink.h"

class QSocketNotifier;

namespace tq {

struct WindowContext;
class TrafficTrace;
class SimulatorControl;

class AutomationConsole : public QObject {
    Q_OBJECT
public:
    // A longer input line is discarded with an error; the console reads no more input while
    // this much waits to run, so memory stays bounded however fast input comes.
    static constexpr std::size_t kMaxLineBytes = 1 << 20;
    static constexpr std::size_t kMaxWaitingBytes = 4 << 20;

    // `trace` is the board traffic (app/ hands over its tracing adapter); `sim` is null on a real
    // board. When `out` stops taking output (a closed pipe) the console says so on `err` and ends
    // without ending the program (Ended()).
    AutomationConsole(WindowContext& ctx, TrafficTrace& trace, SimulatorControl* sim,
                      RecordingMessageSink& messages, std::FILE* out = stdout,
                      std::FILE* err = stderr);
    ~AutomationConsole() override;

    // Starts reading commands from standard input; returns at once.
    void Start();
    // The same from another readable file descriptor (a pipe, for example).
    void StartReading(int fd);

    // Runs one command line now and returns everything it prints, including the final "ok" or
    // "error: ..." line. `wait` runs a local event loop; `quit` only sets QuitRequested().
    std::string Execute(const std::string& line);
    bool QuitRequested() const { return quitRequested_; }

    // "message: <icon> <text>", the form in which message boxes are printed.
    static std::string FormatMessageLine(const RecordingMessageSink::Message& message);

signals:
    // The console's output was closed; it reads and runs nothing more.
    void Ended();

private:
    struct Line {
        std::string text;
        bool overlong = false;  // discarded; `text` keeps its start for the error
    };

    void ReadInput();
    void TakeInput(std::string_view bytes);
    void EndLine();
    void ScheduleNext();
    void RunNext();
    void Emit(const std::string& text);
    void Finish();

    WindowContext& ctx_;
    TrafficTrace& trace_;
    SimulatorControl* sim_;
    RecordingMessageSink& messages_;
    std::FILE* out_;
    std::FILE* err_;

    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::string partialLine_;
    bool discarding_ = false;  // the partial line went past kMaxLineBytes
    std::deque<Line> pending_;
    std::size_t pendingBytes_ = 0;
    bool inputEnded_ = false;
    bool scheduled_ = false;
    bool running_ = false;
    bool finished_ = false;
    bool quitRequested_ = false;
};

}  // namespace tq
