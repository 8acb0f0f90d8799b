#pragma once
// What the simulated board offers beyond the adapter functions: a voltmeter on each output, the
// die temperature and the D0/D1 line levels (for the bench window), and the controls of the
// automation console's `sim` commands. Only the program entry knows which board it made; it
// hands this interface to the bench window and the console when the board is simulated.

#include <cstdint>

namespace tq {

class SimulatedBench {
public:
    virtual ~SimulatedBench() = default;
    // Output voltage of channel 0..3 as a meter on the board reads it.
    virtual double OutputVolts(int channel) const = 0;
    virtual double DieTemperature() const = 0;
    virtual void SetDieTemperature(double celsius) = 0;
    // Line levels of D0 and D1 (0 or 1).
    virtual int D0Level() const = 0;
    virtual int D1Level() const = 0;
    // From now on each vendor request takes this long, as on a real USB link (0: none), so that
    // waveform runs and their rates can be tried without hardware.
    virtual void SetLatency(int64_t microseconds) = 0;
    virtual int64_t Latency() const = 0;
};

class SimulatorControl : public SimulatedBench {
public:
    // Register `reg` at `address` of the simulated converter (address 1, reg 0 is the function
    // register). For reg 2, Set sets input and DAC registers and Get reads the input register.
    virtual void SetRegister(int address, int reg, uint16_t value) = 0;
    virtual uint16_t GetRegister(int address, int reg) const = 0;
    // Unplugging and plugging back is a cable glitch: the board keeps its firmware and registers.
    virtual void Unplug() = 0;
    virtual void Plug() = 0;
    virtual bool Plugged() const = 0;
    // The board loses power and comes back: every converter register at its power-on state, the
    // pin word 0 (every pin low, D0/D1 not driven); the next request fails (the board was away)
    // and from the one after it answers with the firmware loaded at start, as a real board does
    // once the program has reloaded it.
    virtual void PowerCycle() = 0;
    virtual void FailNextDownload(int32_t code) = 0;
    virtual void GarbleReplies(int count) = 0;
    // The converter's non-linearity (off at start): a known INL bow and DNL steps at the major
    // carries, so that a linearity test has something to find.
    virtual void SetNonLinearity(bool on) = 0;
};

}  // namespace tq
