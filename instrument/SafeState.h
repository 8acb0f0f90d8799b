#pragma once
// The Safe State action of the windows, the protocol and the program's own options: the
// activities that drive outputs stop, then every output goes to 0 V (ramped where a ramp is set).

namespace tq {

class Instrument;
class WaveformRun;
class MeterRuns;

// Either activity may be null. Throws what Instrument::GoToSafeState throws. With `waitForRamp`
// a ramp's waits are waited out within the call (the program's exit).
void EnterSafeState(Instrument& instrument, WaveformRun* waveform, MeterRuns* meter,
                    bool waitForRamp = false);

}  // namespace tq
