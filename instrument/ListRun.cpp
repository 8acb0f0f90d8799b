#include "instrument/ListRun.h"

#include "instrument/InstrumentErrors.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace tq {

void ListRun::Load(ChannelWave wave) {
    if (wave.channel < 0 || wave.channel >= kChannelCount)
        throw ValueRangeError("there is no channel " + std::to_string(wave.channel) +
                              " for a list; the channels are 0 to 3 (DAC A to D)");
    if (wave.shape != WaveShape::List || wave.list.empty() ||
        wave.list.size() > static_cast<std::size_t>(kMaxWavePoints))
        throw ValueRangeError("a list holds 1 to " + std::to_string(kMaxWavePoints) + " points");
    lists_[static_cast<std::size_t>(wave.channel)] = std::move(wave);
}

const std::optional<ChannelWave>& ListRun::List(int16_t channel) const {
    static const std::optional<ChannelWave> kNone;
    if (channel < 0 || channel >= kChannelCount)
        return kNone;
    return lists_[static_cast<std::size_t>(channel)];
}

void ListRun::Clear() {
    lists_.fill(std::nullopt);
}

void ListRun::SetDwellSeconds(double seconds) {
    // Written so that NaN fails it too.
    if (!(seconds >= 0.0 && seconds <= kMaxDwellSeconds))
        throw ValueRangeError("the time per step is 0 to 3600 s");
    dwellSeconds_ = seconds;
}

void ListRun::SetPeriods(int64_t periods) {
    if (periods < 0 || periods > kMaxPeriods)
        throw ValueRangeError("a list runs 1 to 1000000000 times, or 0: until stopped");
    periods_ = periods;
}

bool ListRun::Empty() const {
    return std::none_of(lists_.begin(), lists_.end(), [](const auto& list) { return list; });
}

WavePlan ListRun::Plan() const {
    WavePlan plan;
    plan.dwellSeconds = dwellSeconds_;
    plan.periods = periods_;
    for (const auto& list : lists_)
        if (list)
            plan.channels.push_back(*list);
    return plan;
}

int64_t ListRun::TotalSteps() const {
    int64_t longest = 0;
    for (const auto& list : lists_)
        if (list)
            longest = std::max<int64_t>(longest, WavePointCount(*list));
    return longest * periods_;
}

void ListRun::SetTrigger(TriggerSource source) {
    if (armed_ && source != trigger_)
        throw InstrumentError("the list run is armed and waits for its trigger; ABORt it first");
    trigger_ = source;
}

void ListRun::Arm(const void* by) {
    armed_ = true;
    armedBy_ = by;
}

const void* ListRun::Disarm() {
    armed_ = false;
    return std::exchange(armedBy_, nullptr);
}

void ListRun::Reset() {
    Clear();
    dwellSeconds_ = 0.01;
    periods_ = 1;
    trigger_ = TriggerSource::Immediate;
    Disarm();
}

}  // namespace tq
