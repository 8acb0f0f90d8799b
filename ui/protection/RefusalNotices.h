#pragma once
// Tells a window's user, in a message box, why the output protection refused what they asked.
//
// The windows' handlers swallow instrument errors (the status bar says when the board does not
// answer), so a refusal by the limits would otherwise pass unseen. A change counts as a window's
// when it was made under an Instrument::Origin that is a live widget of this program: remote
// sessions and activities (a waveform run) use origins of their own that are no widget, and the
// windows that explain a refusal themselves (opening a setup, starting a run) act without one.
// The origin is only compared with the widgets' addresses, never used as one. A voltage box words
// its own refusals (RefusedEntryText), with the value typed; it is marked with
// WordsItsOwnRefusals and gets no second box from here.

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
    // Changes made under this widget's origin are explained by the widget's own handlers.
    static void WordsItsOwnRefusals(QWidget* widget);

private:
    void Take(const InstrumentChange& change);

    Instrument& instrument_;
    MessageSink& messages_;
    int listener_ = 0;
};

// What a voltage box says when a change it asked for is refused, in the same words in every
// window: "DAC B Voltage: 12 V typed, 10 V to send, is above DAC B's limit of 2 V; nothing was
// sent". `address` is the channel (4: ALL DACs); without a limit that the value breaks, `why`
// (the instrument's reason) says what refused it.
QString RefusedEntryText(const Instrument& instrument, int16_t address, const QString& box,
                         double typed, double became, const std::string& why);

}  // namespace tq
