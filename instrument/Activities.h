#pragma once
// Activities: what runs on the instrument between the user's actions (a ramp, a waveform or list
// run, a meter run, a linearity test, an automatic calibration, the temperature log), each an
// object behind one interface, and the registry of the running ones. The safe state, the views,
// the status registers and the clients' pending operations read them through this interface
// alone: what a kind means lives in its own file, in its ActivityKind and its overrides.
//
// A new kind is a class of its own file deriving from Activity (its ActivityKind beside it: its
// name, OPERation bit, window, how a view counts it; its channels; Stop(); where its outcome
// says it stopped), begun and ended through the instrument (BeginActivity, AdvanceActivity,
// EndActivity) by the place that starts it. The safe state, the status registers, the clients'
// pending operations and outcomes, the status bar and Tango's MOVING take it from there.

#include <cstdint>
#include <string>
#include <vector>

namespace tq {

// The STATus:OPERation condition bit an activity sets while it runs (SCPI's names).
inline constexpr int kOperationCalibrating = 1 << 0;
inline constexpr int kOperationSweeping = 1 << 3;
inline constexpr int kOperationMeasuring = 1 << 4;
inline constexpr int kOperationRamping = 1 << 8;

// What the activities of one kind share: how views and status registers show them. Each kind's
// file defines its own; nothing compares them.
struct ActivityKind {
    const char* name;     // what a refusal and a view call it: "the waveform run"
    const char* subject;  // what its outcome is about: "list run"
    int operationBit;     // while it runs, in STATus:OPERation's condition
    // The object name of the window that shows and stops it, or "".
    const char* window = "";
    // What an open-ended one counts from the start ("reading"), or "": its steps, once it has
    // any.
    const char* countsIn = "";
    bool namesItsChannels = false;  // a view names its channels beside its name
    bool hasOwnIndicator = false;   // a view shows it with a lasting text of its own (the ramp)
};

// Why an activity is asked to stop before its end.
struct StopReason {
    const void* by = nullptr;  // whose call asked (an origin: a client, a window), or null
    std::string why;           // what its starter reads: "another client's *RST"
    // The run's own stop command (ABORt, METer:STOP, a window's Stop): the end a run that
    // repeats until stopped is made for, which is no failure whoever sends it.
    bool ownStop = false;
    // The activity could not go on (the board does not answer): it failed, it was not stopped.
    bool failure = false;
};

// How an activity ended.
struct ActivityOutcome {
    enum class Ending { Finished, Stopped, Failed };
    Ending ending = Ending::Finished;
    const void* stoppedBy = nullptr;  // Stopped: whose call stopped it
    std::string where;                // "2.001 V of 9 V", "step 3 of 3"
    std::string why;                  // "another client's *RST", the guard's or adapter's words
    bool expected = false;            // stopped as it was made to be (ABORt of a run until stopped)
    bool told = false;                // the starter's own call reported it already (it threw)
};

class Activity {
public:
    explicit Activity(const ActivityKind& kind) : kind_(&kind) {}
    virtual ~Activity() = default;
    Activity(const Activity&) = delete;
    Activity& operator=(const Activity&) = delete;

    const ActivityKind& Kind() const { return *kind_; }
    const char* Name() const { return kind_->name; }
    // The channels it drives, claimed while it runs; none for one that drives no output (the
    // temperature log), which the safe state leaves running.
    const std::vector<int16_t>& Channels() const { return channels_; }
    bool DrivesOutputs() const { return !channels_.empty(); }
    // Whose call started it (an origin: a client, a window), or null: the program itself.
    const void* Starter() const { return starter_; }
    int64_t Done() const { return done_; }
    int64_t Total() const { return total_; }                   // 0 while open-ended
    const std::string& Progress() const { return progress_; }  // what a view shows, or ""

    // Ends it before its next step, where it is; its outcome says who stopped it and why.
    virtual void Stop(const StopReason& reason) = 0;
    // How it ended, once it has.
    const ActivityOutcome& Outcome() const { return outcome_; }
    // Whether its starter is told of its end: it failed, or someone else stopped it, unless
    // that was its documented end or the starter's own call said so already.
    bool OutcomeReported() const;
    // "<subject> <stopped at | failed at> <where>: <why>", e.g. "list run failed at step 3 of
    // 3: DAC B would move more than its ramp step"; "" once it finished.
    virtual std::string OutcomeText() const;

protected:
    void SetKind(const ActivityKind& kind) { kind_ = &kind; }
    // What the outcome is about: the kind's subject, or more ("DAC A ramp").
    virtual std::string Subject() const { return kind_->subject; }
    // The outcome of a stop: Stopped by `reason.by`, or Failed; `where` as the activity says.
    static ActivityOutcome OutcomeOf(const StopReason& reason, std::string where);

    std::vector<int16_t> channels_{};

private:
    friend class Instrument;  // begins, advances and ends it

    const ActivityKind* kind_;
    const void* starter_ = nullptr;
    int64_t done_ = 0;
    int64_t total_ = 0;
    std::string progress_{};
    ActivityOutcome outcome_{};
};

// The running activities, in the order they began. It holds them, it does not own them: each
// lives in what runs it (the waveform run, the meter runs, the log, the instrument's ramp),
// whose state outlives the run for the views and clients that ask for it.
class ActivityRegistry {
public:
    void Add(Activity& activity);
    // False when it was not running.
    bool Remove(const Activity& activity);
    bool Running(const Activity& activity) const;
    const std::vector<Activity*>& All() const { return activities_; }
    // Any running activity that `starter` started.
    bool AnyStartedBy(const void* starter) const;
    // The OPERation condition bits of all of them.
    int OperationCondition() const;

private:
    std::vector<Activity*> activities_;
};

}  // namespace tq
