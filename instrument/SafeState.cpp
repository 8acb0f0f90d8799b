#include "instrument/SafeState.h"

#include "instrument/Instrument.h"
#include "instrument/MeterRuns.h"
#include "instrument/Waveform.h"

namespace tq {

void EnterSafeState(Instrument& instrument, WaveformRun* waveform, MeterRuns* meter,
                    bool waitForRamp) {
    if (waveform && waveform->Running())
        waveform->Stop();
    if (meter && meter->Active())
        meter->Stop();
    if (waitForRamp)
        instrument.GoToSafeStateAndWait();
    else
        instrument.GoToSafeState();
}

}  // namespace tq
