// The facade's requests for the legacy panel: the word composed in the program's state, sent as
// it stands, and the two-byte read of the last word shifted in.

#include "board/BoardRequests.h"
#include "core/CommandWord.h"
#include "instrument/Instrument.h"
#include "instrument/InstrumentCall.h"

namespace tq {

void Instrument::WriteComposedWord() {
    // The word as composed: the protection's read-backs below set the R/W cell on their way.
    const int16_t readWrite = state_.ReadWrite;
    const int16_t address = state_.Address;
    const int16_t reg = state_.RegSelect;
    const int32_t data = state_.DataValue;
    const bool write = readWrite == 0;
    if (write)
        CheckClaims(address, reg);
    CallScope scope(*this);
    if (write && LimitsActive()) {
        const bool clear = reg == kRegFunction && address == kFnClearAll;
        Admit(clear ? ChangeKind::ToSafeState : ChangeKind::AtOnce,
              [&](ConverterModel& after) { after.Write(address, reg, data, false); });
        state_.ReadWrite = readWrite;
        ShowReadWrite(readWrite);
    }
    const int64_t failures = failures_;
    requests_.WriteWord(CommandByte(readWrite, reg, address), data);
    if (write && failures_ == failures)
        mirror_.Written(address, reg, data, false);
    else if (write)
        mirror_.Unsure(address, reg);
    scope.Done();
}

std::array<uint8_t, 2> Instrument::LegacyRead() {
    CallScope scope(*this);
    requests_.LegacyRead();
    scope.Done();
    return {state_.ReceiveBuffer[0], state_.ReceiveBuffer[1]};
}

}  // namespace tq
