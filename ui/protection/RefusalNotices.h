#pragma once
// Tells a window's user, in a message box, why the output protection refused what they asked.
//
// The windows' handlers swallow instrument errors (the status bar says when the board does not
// answer), so a refusal by the limits would otherwise pass unseen. A change counts as a window's
// when it was made under an Instrument::Origin that is a live widget of this program: remote
// sessions and activities (a waveform run) use origins of their own that are no widget, and the
// windows that explain a refusal themselves (opening a setup, starting a run) act without one.
// The origin is only compared with the widgets' addresses, never used as one.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "instrument/Instrument.h"
#include "ui/widgets/MessageSink.h"

namespace tq {

class RefusalNotices : public QObject {
    Q_OBJECT
public:
    RefusalNotices(Instrument& instrument, MessageSink& messages, QObject* parent = nullptr);
    ~RefusalNotices() override;

    // The live widget whose address `origin` is, or null.
    static QWidget* WidgetAt(const void* origin);

private:
    void Take(const InstrumentChange& change);

    Instrument& instrument_;
    MessageSink& messages_;
    int listener_ = 0;
};

}  // namespace tq
