// The facade's ramps: a change beyond a channel's ramp step goes out as a timer-driven
// activity that claims the channels it moves, on behalf of whoever started it; and the safe
// state, which may ramp too.

#include <chrono>
#include <thread>

#include "instrument/Instrument.h"
#include "instrument/InstrumentCall.h"
#include "instrument/Ramp.h"

namespace tq {
namespace {

// The text a writer reads while a ramp holds its channel, after the channel's name.
constexpr const char* kRampingRefusal = " is ramping to its new output; wait for the ramp to end";

}  // namespace

const void* Instrument::RampOrigin() const {
    return ramp_ ? ramp_->Starter() : nullptr;
}

void Instrument::StartRamp(const ConverterModel& target) {
    // One ramp at a time: a second would take the first one's place half-way.
    if (ramp_)
        throw InstrumentError("the " + ramp_->Subject() +
                              " is under way; wait for it to end, then change the output");
    auto ramp = std::make_unique<Ramp>(*this, mirror_.Model(), target, guard_);
    // The ramp writes for whoever started it: it takes their channels over until it ends.
    claims_.Claim(static_cast<const Activity*>(ramp.get()), ramp->Channels(), ramp->Name(),
                  kRampingRefusal, origin_);
    ramp_ = std::move(ramp);
    Announce(*ramp_, ramp_->Steps());
    SendRampStep(true);
    ContinueRamp();
}

void Instrument::SendRampStep(bool withinCall) {
    const auto codes = ramp_->NextStep(state_.Resolution);
    const Origin own(*this, static_cast<const Activity*>(ramp_.get()));
    try {
        SendCodesTogether(codes);
    } catch (const InstrumentError& e) {
        ActivityOutcome failed;
        failed.ending = ActivityOutcome::Ending::Failed;
        failed.where = ramp_->Reached();
        failed.why = e.what();
        failed.told = withinCall;
        EndRamp(std::move(failed));
        throw;
    }
    ramp_->StepSent();
    if (ramp_->Finished())
        EndRamp({});
    else
        AdvanceActivity(*ramp_, ramp_->StepsDone(), ramp_->Steps());
}

void Instrument::ContinueRamp() {
    while (ramp_) {
        const double wait = ramp_->WaitSeconds();
        if (wait > 0.0 && rampTimer_) {
            rampTimer_->WakeAt(rampTimer_->Now() + wait, [this] { RampStep(); });
            return;
        }
        SendRampStep(true);
    }
}

void Instrument::RampStep() {
    if (!ramp_)
        return;
    try {
        SendRampStep(false);
        ContinueRamp();
    } catch (const InstrumentError&) {
        // The ramp's outcome says why; the listeners have been told.
    }
}

void Instrument::EndRamp(ActivityOutcome outcome) {
    if (!ramp_)
        return;
    // The ramp lives on until the listeners have heard how it ended.
    const std::unique_ptr<Ramp> ended = std::move(ramp_);
    if (rampTimer_)
        rampTimer_->Cancel();
    EndActivity(*ended, std::move(outcome));
}

void Instrument::StopRamp(const StopReason& reason) {
    if (ramp_)
        EndRamp(Activity::OutcomeOf(reason, ramp_->Reached()));
}

void Instrument::GoToSafeState(const StopReason& reason) {
    StopActivitiesOnOutputs(reason);
    // The safe state goes before any claim.
    claims_.ReleaseAll();
    CallScope scope(*this);
    const int32_t zero = Coding().ZeroFrame();
    if (guard_.Ramps()) {
        ConverterModel target = KnownModel(true);
        for (ChannelRegisters& c : target.channels)
            c.input = zero;
        target.Load();
        StartRamp(target);
    } else {
        std::vector<std::pair<int16_t, int32_t>> codes;
        for (int16_t ch = 0; ch < kChannelCount; ++ch)
            codes.emplace_back(ch, Coding().ZeroCode());
        SendCodesTogether(codes);
    }
    scope.Done();
}

void Instrument::GoToSafeStateAndWait(const StopReason& reason) {
    GoToSafeState(reason);
    // The program is ending: the ramp's waits are slept here rather than on its timer.
    while (ramp_) {
        std::this_thread::sleep_for(std::chrono::duration<double>(ramp_->WaitSeconds()));
        SendRampStep(true);
    }
}

}  // namespace tq
