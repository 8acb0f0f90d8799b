#pragma once
// Channel claims: who drives which channel. An activity claims the channels it drives; while it
// holds one, writes that would move that channel's output from anyone else are refused. An
// activity started on behalf of another (a ramp started by a meter run's move) takes the
// channels over from it and hands them back when it ends.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tq {

struct ClaimRefusal {
    int16_t channel;
    std::string why;  // "DAC B is driven by the waveform run; stop it to change the output"
};

class ChannelClaims {
public:
    // `refusal` finishes "DAC B" in the text a refused writer reads. A channel held by another
    // owner than `owner` or `onBehalfOf` is an InstrumentError, and nothing is claimed.
    void Claim(const void* owner, const std::vector<int16_t>& channels, const std::string& name,
               const std::string& refusal, const void* onBehalfOf = nullptr);
    void Release(const void* owner);
    void ReleaseAll() { claims_ = {}; }

    // The name of who drives the channel now, or nothing.
    std::optional<std::string> OwnerName(int16_t channel) const;
    // Why `writer` may not write `reg` at `address`, or nothing when it may.
    std::optional<ClaimRefusal> Check(int16_t address, int16_t reg, const void* writer) const;

private:
    struct Holder {
        const void* owner = nullptr;
        std::string name;
        std::string refusal;
    };
    // Each channel's holders, the one driving it last.
    std::array<std::vector<Holder>, 4> claims_{};
};

}  // namespace tq
