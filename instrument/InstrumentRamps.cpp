// The facade's ramps: a change beyond a channel's ramp step goes out as a timer-driven
// activity that claims the channels it moves, on behalf of whoever started it; and the safe
// state, which may ramp too.

#include <chrono>
#include <thread>

#include "instrument/Instrument.h"
#include "instrument/InstrumentCall.h"

namespace tq {
namespace {

// The text a writer reads while a ramp holds its channel, after the channel's name.
constexpr const char* kRampingRefusal = " is ramping to its new output; wait for the ramp to end";

}  // namespace

const void* Instrument::RampOrigin() const {
    return ramp_ ? rampOrigin_ : nullptr;
}

void Instrument::StartRamp(const ConverterModel& target) {
    Ramp ramp(mirror_.Model(), target, guard_);
    // The ramp writes for whoever started it: it takes their channels over until it ends.
    claims_.Claim(&ramp_, ramp.Channels(), "a ramp", kRampingRefusal, origin_);
    Activity activity{ActivityKind::Ramp, &ramp_, origin_, "a ramp", ramp.Channels()};
    activity.total = ramp.Steps();
    rampOrigin_ = origin_;
    ramp_.emplace(ramp);
    rampError_.clear();
    InstrumentChange change{InstrumentChange::Kind::Activity};
    change.value = 1;
    change.activity = &activities_.Add(std::move(activity));
    Notify(change);
    SendRampStep();
    ContinueRamp();
}

void Instrument::SendRampStep() {
    const auto codes = ramp_->NextStep(state_.Resolution);
    const Origin own(*this, &ramp_);
    try {
        SendCodesTogether(codes);
    } catch (const InstrumentError& e) {
        EndRamp(e.what());
        throw;
    }
    if (ramp_->Done())
        EndRamp({});
    else
        AdvanceActivity(&ramp_, ramp_->StepsDone(), ramp_->Steps());
}

void Instrument::ContinueRamp() {
    while (ramp_) {
        const double wait = ramp_->WaitSeconds();
        if (wait > 0.0 && rampTimer_) {
            rampTimer_->WakeAt(rampTimer_->Now() + wait);
            return;
        }
        SendRampStep();
    }
}

void Instrument::RampStep() {
    if (!ramp_)
        return;
    try {
        SendRampStep();
        ContinueRamp();
    } catch (const InstrumentError&) {
        // EndRamp kept why; the listeners have been told.
    }
}

void Instrument::EndRamp(const std::string& error) {
    if (!ramp_)
        return;
    ramp_.reset();
    rampError_ = error;
    if (rampTimer_)
        rampTimer_->Cancel();
    EndActivity(&ramp_, error);
}

void Instrument::StopRamp() {
    EndRamp("the ramp was stopped before its end");
}

void Instrument::GoToSafeState() {
    EndRamp("the safe state took over");
    // The safe state goes before any activity's claim.
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

void Instrument::GoToSafeStateAndWait() {
    GoToSafeState();
    // The program is ending: the ramp's waits are slept here rather than on its timer.
    while (ramp_) {
        std::this_thread::sleep_for(std::chrono::duration<double>(ramp_->WaitSeconds()));
        SendRampStep();
    }
}

}  // namespace tq
