#include "ui/protection/SafeStateOptions.h"

#include "instrument/SafeState.h"

namespace tq {

SafeStateOptions::SafeStateOptions(Instrument& instrument, WaveformRun* waveform, MeterRuns* meter,
                                   Report report, QObject* parent)
    : QObject(parent),
      instrument_(instrument),
      waveform_(waveform),
      meter_(meter),
      report_(std::move(report)) {
    listener_ = instrument_.AddListener([this](const InstrumentChange& c) { Take(c); });
}

SafeStateOptions::~SafeStateOptions() {
    instrument_.RemoveListener(listener_);
}

void SafeStateOptions::Take(const InstrumentChange& change) {
    if (change.kind != InstrumentChange::Kind::RequestResult)
        return;
    const bool failed = change.value < 0;
    const bool back = failing_ && !failed;
    failing_ = failed;
    if (!failed)
        answered_ = true;
    // Once per return: the safe state's own requests find the board answering already.
    if (back && instrument_.ProtectionOptionsInEffect().safeOnBoardBack)
        EnterLater(tr("when the board answered again"));
}

void SafeStateOptions::ClientCountChanged(int count) {
    if (count == 0 && instrument_.ProtectionOptionsInEffect().safeOnLastClient)
        EnterLater(tr("when the last remote client disconnected"));
}

void SafeStateOptions::EnterLater(const QString& when) {
    QMetaObject::invokeMethod(
        this,
        [this, when] {
            try {
                EnterSafeState(instrument_, waveform_, meter_);
            } catch (const InstrumentError& e) {
                if (report_)
                    report_(tr("The outputs were not brought to 0 V %1: %2. Check the board, then "
                               "choose Safe State.")
                                .arg(when, QString::fromStdString(e.what())));
            }
        },
        Qt::QueuedConnection);
}

std::optional<std::string> SafeStateOptions::ProgramEnding() {
    // A board that never answered has no outputs of ours to bring down.
    if (!instrument_.ProtectionOptionsInEffect().safeOnExit || !answered_)
        return std::nullopt;
    try {
        EnterSafeState(instrument_, waveform_, meter_, true);
    } catch (const InstrumentError& e) {
        return std::string("the outputs were not brought to 0 V before the program ended: ") +
               e.what();
    }
    return std::nullopt;
}

}  // namespace tq
