#pragma once
// A bench meter on USB through the kernel's USBTMC driver (/dev/usbtmcN): the same SCPI as the
// socket meter (MeterLink). Each exchange runs on the device's worker thread, whose reply comes
// back to the event loop as a queued call, so the user-interface thread never waits for the
// meter; a timer of our own bounds every answer even where the driver's timeout cannot be set.

#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "instrument/MeterAddress.h"
#include "meter/ScpiMeter.h"
#include "platform/UsbtmcDevice.h"

namespace tq {

class UsbtmcMeter : public ScpiMeter {
public:
    explicit UsbtmcMeter(QObject* parent = nullptr);
    ~UsbtmcMeter() override;

    // Opens the device file, sends the set-up commands and asks *IDN? in the background. False
    // (with the reason) when the settings cannot work or the device file cannot be opened; the
    // meter that was open stays open then.
    bool Open(const MeterSettings& settings, std::string& error) override;
    // The same over a descriptor that is open already (tests hand one end of a socket pair);
    // the settings' address names it in errors.
    bool OpenDescriptor(int fd, UsbtmcDevice::Framing framing, const MeterSettings& settings,
                        std::string& error);
    void Close() override;

private:
    std::unique_ptr<UsbtmcDevice> MakeDevice();
    void Begin(const MeterSettings& settings, std::unique_ptr<UsbtmcDevice> device);
    void Ask(std::vector<std::string> commands,
             std::function<void(const std::string&)> answer) override;
    void Break(const std::string& reason) override;
    void OnReply(uint64_t device, uint64_t exchange, const UsbtmcReply& reply);
    void OnOverdue();

    std::unique_ptr<UsbtmcDevice> device_;
    // Replies of a device closed since are not this one's: each device has its number.
    uint64_t deviceNumber_ = 0;
    uint64_t lastDeviceNumber_ = 0;
    QTimer overdue_;
    bool waitedLonger_ = false;
    uint64_t awaited_ = 0;  // the exchange whose reply is awaited, or 0
    std::function<void(const std::string&)> answer_;
};

}  // namespace tq
