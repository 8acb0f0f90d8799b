#include "instrument/StartUp.h"

#include "instrument/Instrument.h"

namespace tq {

bool StartUp(Instrument& instrument, const std::string& programFolder, StartUpSteps& steps) {
    const int16_t result = instrument.ConnectBoard(programFolder);
    if (result != 0) {
        std::vector<std::string> reasons;
        std::string why = instrument.ExplainConnectResult(result);
        if (!why.empty())
            reasons.push_back(std::move(why));
        reasons.emplace_back(kDownloadFailedText);
        steps.NotConnected(reasons);
        return false;
    }
    steps.Connected();
    // The next function write keeps what the converter has.
    std::optional<std::string> error;
    try {
        instrument.AdoptFunctionRegister();
    } catch (const InstrumentError& e) {
        error = e.what();
    }
    steps.FunctionRegisterTaken(error);
    instrument.SetPulseAfterDataWrite(true);
    steps.Started();
    return true;
}

}  // namespace tq
