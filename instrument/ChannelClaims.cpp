#include "instrument/ChannelClaims.h"

#include <algorithm>

#include "core/Tables.h"
#include "instrument/InstrumentErrors.h"
#include "instrument/OutputProtection.h"

namespace tq {

void ChannelClaims::Claim(const void* owner, const std::vector<int16_t>& channels,
                          const std::string& name, const std::string& refusal,
                          const void* onBehalfOf) {
    for (const int16_t channel : channels) {
        if (channel < 0 || channel >= 4)
            throw ValueRangeError("no such channel: " + std::to_string(channel) +
                                  " (DAC A to D are 0 to 3)");
        const auto& holders = claims_[static_cast<std::size_t>(channel)];
        if (!holders.empty() && holders.back().owner != owner &&
            (onBehalfOf == nullptr || holders.back().owner != onBehalfOf))
            throw InstrumentError(ChannelName(channel) + " is driven by " + holders.back().name +
                                  " already");
    }
    for (const int16_t channel : channels) {
        auto& holders = claims_[static_cast<std::size_t>(channel)];
        if (!holders.empty() && holders.back().owner == owner)
            holders.back() = {owner, name, refusal};
        else
            holders.push_back({owner, name, refusal});
    }
}

void ChannelClaims::Release(const void* owner) {
    for (auto& holders : claims_)
        std::erase_if(holders, [owner](const Holder& h) { return h.owner == owner; });
}

std::optional<std::string> ChannelClaims::OwnerName(int16_t channel) const {
    if (channel < 0 || channel >= 4 || claims_[static_cast<std::size_t>(channel)].empty())
        return std::nullopt;
    return claims_[static_cast<std::size_t>(channel)].back().name;
}

std::optional<ClaimRefusal> ChannelClaims::Check(int16_t address, int16_t reg,
                                                 const void* writer) const {
    const bool channelRegister =
        reg == kRegData || reg == kRegCoarseGain || reg == kRegFineGain || reg == kRegOffset;
    // CLEAR moves every output. (LOAD moves none a run drives: nobody else writes their input.)
    const bool clear = reg == kRegFunction && address == kFnClearAll;
    if (!channelRegister && !clear)
        return std::nullopt;
    for (int16_t channel = 0; channel < 4; ++channel) {
        const bool hit =
            clear || address == channel || (channelRegister && address == kAllChannels);
        const auto& holders = claims_[static_cast<std::size_t>(channel)];
        if (hit && !holders.empty() && holders.back().owner != writer)
            return ClaimRefusal{channel, ChannelName(channel) + holders.back().refusal};
    }
    return std::nullopt;
}

}  // namespace tq
