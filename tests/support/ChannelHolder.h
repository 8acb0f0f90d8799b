#pragma once
// Who holds a channel, as a write from anyone else would be told: the refusal that names the
// activity holding it, or nothing when the channel is free. Asked as the setup check asks
// (Instrument::CheckMayWrite), so nothing is sent.

#include <optional>
#include <string>

#include "core/Tables.h"
#include "instrument/Instrument.h"

namespace tq::testing {

inline std::optional<std::string> HeldBy(Instrument& in, int16_t channel) {
    const int stranger = 0;
    const Instrument::Origin origin(in, &stranger);
    try {
        in.CheckMayWrite(channel, kRegData);
    } catch (const InstrumentError& refusal) {
        return std::string(refusal.what());
    }
    return std::nullopt;
}

// The holder's name appears in the refusal.
inline bool HeldBy(Instrument& in, int16_t channel, const std::string& holder) {
    return HeldBy(in, channel).value_or("").find(holder) != std::string::npos;
}

}  // namespace tq::testing
