#pragma once
// What every bench meter connection shares, whatever carries its SCPI (a raw socket, a USBTMC
// device file): the checks of the settings, opening with the set-up commands and *IDN?, a reading
// with the scanner's selection, the reading's number, and how a failure ends the reading in
// progress. A transport says only how commands go out and an answer comes back.

#include <QObject>
#include <functional>
#include <string>
#include <vector>

#include "instrument/Meter.h"

namespace tq {

// The settings a reading needs, beyond the address; false with what is wrong.
bool CheckReadingSettings(const MeterSettings& settings, std::string& error);
// The reading as a number: "+1.234E-03", "-0.5", with optional blanks; nothing else.
bool ParseReading(const std::string& text, double& volts);

class ScpiMeter : public QObject, public MeterConnection {
public:
    bool IsOpen() const override { return ready_; }
    std::string Identity() const override { return identity_; }
    std::string LastError() const override { return lastError_; }
    // Completes from the event loop, never inside this call.
    void Read(int channel, std::function<void(const MeterReading&)> done) override;
    void Cancel() override { done_ = nullptr; }
    bool SelectsChannels() const override { return !settings_.selectCommand.empty(); }

protected:
    explicit ScpiMeter(QObject* parent) : QObject(parent) {}

    // Sends `commands`; `answer` takes the answer to the last one, unless the exchange ends in
    // NoAnswer() or Break() first. A new exchange replaces the one awaited.
    virtual void Ask(std::vector<std::string> commands,
                     std::function<void(const std::string&)> answer) = 0;
    // Lets go of the transport, then calls Broken(reason).
    virtual void Break(const std::string& reason) = 0;
    // Once connected: the set-up commands and *IDN?, whose answer opens the meter.
    void Identify();
    virtual void Identified() {}
    // The answer did not come in time: the reading in progress fails; while opening, the meter.
    void NoAnswer(const std::string& why);
    // The transport is gone: the reading in progress fails and LastError() says why.
    void Broken(const std::string& reason);
    // Closing: no reading in progress, not open, no identity.
    void Forget();

    MeterSettings settings_;
    std::string lastError_;

private:
    bool ready_ = false;
    std::string identity_;
    std::function<void(const MeterReading&)> done_;
};

}  // namespace tq
