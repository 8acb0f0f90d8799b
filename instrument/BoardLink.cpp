// The facade's board link: search, connect and the firmware download, and what their results
// mean to a user.

#include "board/AdapterResults.h"
#include "board/BoardRequests.h"
#include "board/UsbStuff.h"
#include "instrument/Instrument.h"
#include "instrument/InstrumentCall.h"

namespace tq {

int16_t Instrument::ConnectBoard(const std::string& programFolder) {
    CallScope scope(*this);
    return tq::ConnectBoard(state_, requests_.BoardAdapter(), programFolder);
}

std::string Instrument::ExplainResult(int32_t code) {
    return std::string(ExplainAdapterResult(code));
}

std::string Instrument::ExplainConnectResult(int32_t code) const {
    return ExplainConnectionResult(state_, code);
}

}  // namespace tq
