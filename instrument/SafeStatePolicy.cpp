#include "instrument/SafeStatePolicy.h"

#include <algorithm>
#include <utility>

#include "instrument/Instrument.h"
#include "instrument/InstrumentCall.h"
#include "instrument/RunTimer.h"

namespace tq {

SafeStatePolicy::SafeStatePolicy(Instrument& instrument, RunTimer& later, Report report)
    : instrument_(instrument), later_(later), report_(std::move(report)) {
    listener_ = instrument_.AddListener([this](const InstrumentChange& c) { Take(c); });
}

SafeStatePolicy::~SafeStatePolicy() {
    instrument_.RemoveListener(listener_);
    later_.Cancel();
}

void SafeStatePolicy::Take(const InstrumentChange& change) {
    // A failure that turns out to be a power loss: what still drove outputs ends for that, at
    // 0 V where the restoration left them.
    if (change.kind == InstrumentChange::Kind::BoardBack && change.value == 1 && !lost_.empty())
        lost_ = kPowerLossEnding;
    if (change.kind != InstrumentChange::Kind::RequestResult)
        return;
    const bool failed = change.value < 0;
    const bool back = failing_ && !failed;
    if (failed && !failing_) {
        lost_ = RequestFailureText(change.value);
        later_.WakeAt(later_.Now(), [this] { Step(); });
    }
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
    later_.WakeAt(later_.Now(), [this] { Step(); });
}

void SafeStatePolicy::Step() {
    // Whatever ended on its own meanwhile has its own outcome; the rest fails here.
    if (const std::string why = std::exchange(lost_, {}); !why.empty())
        instrument_.StopActivitiesOnOutputs({this, why, false, true});
    // Reasons noticed during these safe states wait for the next wake-up.
    for (std::size_t count = pending_.size(); count > 0 && !pending_.empty(); --count) {
        const std::string when = pending_.front();
        pending_.pop_front();
        try {
            instrument_.GoToSafeState({this, "the safe state " + when});
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
        instrument_.GoToSafeStateAndWait();
    } catch (const InstrumentError& e) {
        return std::string("the outputs were not brought to 0 V before the program ended: ") +
               e.what();
    }
    return std::nullopt;
}

}  // namespace tq
