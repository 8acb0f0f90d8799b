#pragma once
// A USB bus with boards that behave like the board's controller: the load request writes program
// RAM while the CPU is held in reset, and releasing the reset makes the board leave the bus and
// come back (or not) with a new address, running the firmware.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "adapter/libusb/UsbTransport.h"

namespace tq::testing {

struct ControlRecord {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    std::vector<uint8_t> data;  // what an OUT transfer carried
    uint8_t address = 0;        // the bus address it went to
};

inline constexpr uint16_t kBareRelease = 0xA001;
inline constexpr uint16_t kRunningRelease = 0x0120;

struct FakeDevice {
    UsbDeviceInfo info;
    UsbStatus openStatus = UsbStatus::kOk;
    bool onBus = true;
    int instance = 0;  // changes every time the device arrives on the bus
    std::string serial;
    bool cpuInReset = false;
    std::map<uint16_t, uint8_t> ram;
};

class FakeUsbBus : public UsbTransport {
public:
    // Plugs a device in and returns its place in `devices`.
    std::size_t Plug(uint16_t vendorId, uint16_t productId, std::vector<uint8_t> portPath,
                     uint16_t release = kBareRelease);
    void Unplug(std::size_t device);
    // The same device back in a socket, as a new arrival.
    void Replug(std::size_t device, uint16_t release, std::vector<uint8_t> portPath);

    std::vector<UsbDeviceInfo> Devices() override;
    UsbStatus Open(const UsbDeviceInfo& info, std::unique_ptr<UsbDeviceHandle>& handle) override;
    std::string SerialNumber(const UsbDeviceInfo& info) override;
    Clock::time_point Now() override { return start + elapsed; }
    void Sleep(std::chrono::milliseconds duration) override { elapsed += duration; }

    // Behaviour on the release of the CPU reset.
    UsbStatus releaseStatus = UsbStatus::kIo;         // what the releasing request returns
    std::chrono::milliseconds lingerAfterRelease{0};  // still listed at its old address
    std::optional<std::chrono::milliseconds> returnAfterRelease{std::chrono::milliseconds(300)};
    uint16_t releaseAfterLoad = kRunningRelease;
    UsbStatus openStatusAfterReturn = UsbStatus::kOk;

    // Requests other than the load request: the first failures are answered with these statuses,
    // IN transfers then fill their buffer with `reply`.
    std::vector<UsbStatus> failNext;
    std::vector<uint8_t> reply{0x00, 0x01, 0x80};

    std::vector<FakeDevice> devices;
    std::vector<ControlRecord> transfers;
    bool vanishOnNextRequest = false;  // leaves the bus during the next request: an I/O error
    std::shared_ptr<int> openHandles = std::make_shared<int>(0);  // outlives the bus
    int opens = 0;
    Clock::time_point start{};
    std::chrono::milliseconds elapsed{0};

private:
    friend class FakeHandle;
    struct Pending {
        std::size_t device;
        Clock::time_point leaveAt;
        std::optional<Clock::time_point> returnAt;
    };
    void Advance();
    FakeDevice* Live(std::size_t device, int instance);
    UsbTransferResult Transfer(std::size_t device, int instance, ControlRecord record,
                               uint8_t* data);

    std::vector<Pending> pending_;
    int instances_ = 0;
    uint8_t nextAddress_ = 2;
};

}  // namespace tq::testing
