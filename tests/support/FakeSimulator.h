#pragma once
// A simulated board's bench that records what the commands asked of it.

#include <string>
#include <vector>

#include "board/SimulatedBench.h"

namespace tq::testing {

class FakeSimulator : public SimulatorControl {
public:
    double OutputVolts(int channel) const override {
        calls.push_back("OutputVolts " + std::to_string(channel));
        return volts;
    }
    double DieTemperature() const override { return temperature; }
    void SetDieTemperature(double celsius) override {
        temperature = celsius;
        calls.push_back("SetDieTemperature");
    }
    int D0Level() const override { return 0; }
    int D1Level() const override { return 0; }
    void SetLatency(int64_t microseconds) override {
        latency = microseconds;
        calls.push_back("SetLatency " + std::to_string(microseconds));
    }
    int64_t Latency() const override { return latency; }
    int64_t latency = 0;
    void SetRegister(int address, int reg, uint16_t value) override {
        calls.push_back("SetRegister " + std::to_string(address) + " " + std::to_string(reg) + " " +
                        std::to_string(value));
    }
    uint16_t GetRegister(int address, int reg) const override {
        calls.push_back("GetRegister " + std::to_string(address) + " " + std::to_string(reg));
        return registerValue;
    }
    void Unplug() override { calls.push_back("Unplug"); }
    void Plug() override { calls.push_back("Plug"); }
    void PowerCycle() override { calls.push_back("PowerCycle"); }
    bool Plugged() const override { return true; }
    void FailNextDownload(int32_t code) override {
        calls.push_back("FailNextDownload " + std::to_string(code));
    }
    void GarbleReplies(int count) override {
        calls.push_back("GarbleReplies " + std::to_string(count));
    }
    void SetNonLinearity(bool on) override {
        calls.push_back(std::string("SetNonLinearity ") + (on ? "on" : "off"));
    }

    mutable std::vector<std::string> calls;
    uint16_t registerValue = 0;
    double volts = 0;
    double temperature = 25;
};

}  // namespace tq::testing
