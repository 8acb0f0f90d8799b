#include "instrument/SafeStatePolicy.h"

#include <algorithm>

#include "instrument/Instrument.h"
#include "instrument/RunTimer.h"
#include "instrument/SafeState.h"

namespace tq {

SafeStatePolicy::SafeStatePolicy(Instrument& instrument, RunTimer& later, WaveformRun* waveform,
                                 MeterRuns* meter, Report report)
    : instrument_(instrument),
      later_(later),
      waveform_(waveform),
      meter_(meter),
      report_(std::move(report)) {
    listener_ = instrument_.AddListener([this](const InstrumentChange& c) { Take(c); });
}

SafeStatePolicy::~SafeStatePolicy() {
    instrument_.RemoveListener(listener_);
    later_.Cancel();
}

void SafeStatePolicy::Take(const InstrumentChange& change) {
    if (change.kind != InstrumentChange::Kind::RequestResult)
        return;
    const bool failed = change.value < 0;
    const bool back = failing_ && !failed;
    failing_ = failed;
    if (!failed)
        answered_ = true;
    // Once per return: the safe state's own requests find the board answering already.
    if (back && instrument_.ProtectionOptionsInEffect().safeOnBoardBack)
        EnterLater("when the board answered again");
}

void SafeStatePolicy::ClientCountChanged(int count) {
    if (count == 0 && instrument_.ProtectionOptionsInEffect().safeOnLastClient)
        EnterLater("when the last remote client disconnected");
}

void SafeStatePolicy::EnterLater(const std::string& when) {
    if (std::find(pending_.begin(), pending_.end(), when) == pending_.end())
        pending_.push_back(when);
    later_.WakeAt(later_.Now());
}

void SafeStatePolicy::Step() {
    // Reasons noticed during these safe states wait for the next wake-up.
    for (std::size_t count = pending_.size(); count > 0 && !pending_.empty(); --count) {
        const std::string when = pending_.front();
        pending_.pop_front();
        try {
            EnterSafeState(instrument_, waveform_, meter_);
        } catch (const InstrumentError& e) {
            if (report_)
                report_("The outputs were not brought to 0 V " + when + ": " + e.what() +
                        ". Check the board, then choose Safe State.");
        }
    }
}

std::optional<std::string> SafeStatePolicy::ProgramEnding() {
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
