#pragma once
// The list run: the lists of set points that the next run sends (each channel at most one), the
// time per step, how many times the lists run and what starts them. Clients of the protocol load
// it and start it; it is one for the whole program, as the board is, so the windows see what a
// client loaded. Standard library only.

#include <array>
#include <cstdint>
#include <optional>

#include "instrument/Waveform.h"

namespace tq {

// The waveform run as the protocol's lists make it: its refusals name the waveform run, its
// outcome the list run.
inline constexpr ActivityKind kListRunKind{.name = "the waveform run",
                                           .subject = "list run",
                                           .operationBit = kOperationSweeping,
                                           .window = "WaveformForm"};

// What starts a run once it is initiated: at once, or a trigger a client sends (*TRG), so that a
// script can arm several boards and start them together.
enum class TriggerSource { Immediate, Bus };

class ListRun {
public:
    static constexpr double kMaxDwellSeconds = 3600.0;
    static constexpr int64_t kMaxPeriods = 1'000'000'000;

    // Takes the place of the list its channel had. A channel other than 0..3, a wave that is not
    // a list or a list of no points or more than kMaxWavePoints is a ValueRangeError and changes
    // nothing; the points themselves are checked against the range when the run starts.
    void Load(ChannelWave wave);
    // The channel's list, or none.
    const std::optional<ChannelWave>& List(int16_t channel) const;
    // Forgets every channel's list.
    void Clear();

    // The time per step, 0 (as fast as the link allows) to kMaxDwellSeconds.
    double DwellSeconds() const { return dwellSeconds_; }
    void SetDwellSeconds(double seconds);
    // How many times the lists run, 1 to kMaxPeriods; 0: until stopped.
    int64_t Periods() const { return periods_; }
    void SetPeriods(int64_t periods);

    bool Empty() const;
    // The loaded lists, in channel order, as the plan of a run.
    WavePlan Plan() const;
    // The steps a run of the loaded lists takes: the longest list times the count; 0 while it
    // repeats until stopped or when nothing is loaded.
    int64_t TotalSteps() const;

    TriggerSource Trigger() const { return trigger_; }
    // Refused (InstrumentError) while armed: the armed run waits for the source it was armed for.
    void SetTrigger(TriggerSource source);

    // With the bus trigger, initiating arms the run: it waits for the trigger. `by` is whose run
    // it is (the origin that initiated it), so that the run, once triggered, is theirs.
    void Arm(const void* by);
    // Takes the arming back (a trigger came, the run was aborted); returns who had armed it.
    const void* Disarm();
    bool Armed() const { return armed_; }
    const void* ArmedBy() const { return armedBy_; }

    // The start state: no lists, 10 ms a step, once, started at once, not armed.
    void Reset();

private:
    std::array<std::optional<ChannelWave>, kChannelCount> lists_{};
    double dwellSeconds_ = 0.01;
    int64_t periods_ = 1;
    TriggerSource trigger_ = TriggerSource::Immediate;
    bool armed_ = false;
    const void* armedBy_ = nullptr;
};

}  // namespace tq
