#pragma once
// The thin layer between the libusb adapter and the USB bus: enumerate, open (with interface 0
// claimed), control transfers, and the clock the adapter waits by. The real one wraps libusb-1.0;
// tests put a fake bus behind it.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tq {

enum class UsbStatus {
    kOk,
    kIo,        // the transfer did not go through
    kAccess,    // no permission to open the device node
    kNoDevice,  // the device has left the bus
    kNotFound,
    kBusy,  // another program holds the interface
    kTimeout,
    kPipe,  // the device stalled the request
    kOther,
};

// A device as seen on the bus. A device that leaves the bus and comes back gets a new address;
// its bus and port path stay the same as long as it is plugged into the same socket.
struct UsbDeviceInfo {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t deviceRelease = 0;  // bcdDevice: tells the bare controller from running firmware
    uint8_t bus = 0;
    uint8_t address = 0;
    std::vector<uint8_t> portPath;

    // Where it is plugged in, as the kernel names it: bus, then the port path ("1-4.2").
    std::string Location() const {
        std::string text = std::to_string(bus);
        for (std::size_t i = 0; i < portPath.size(); ++i) {
            text += i == 0 ? '-' : '.';
            text += std::to_string(portPath[i]);
        }
        return text;
    }

    bool SameSocket(const UsbDeviceInfo& other) const {
        return bus == other.bus && portPath == other.portPath;
    }
    bool SameIds(const UsbDeviceInfo& other) const {
        return vendorId == other.vendorId && productId == other.productId;
    }
};

struct UsbTransferResult {
    UsbStatus status = UsbStatus::kOk;
    int bytes = 0;  // bytes transferred when status is kOk
};

// An open device with interface 0 claimed; destroying it releases the interface and closes it.
class UsbDeviceHandle {
public:
    virtual ~UsbDeviceHandle() = default;
    virtual UsbTransferResult ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value,
                                              uint16_t index, uint8_t* data, uint16_t length,
                                              std::chrono::milliseconds timeout) = 0;
};

class UsbTransport {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~UsbTransport() = default;
    virtual std::vector<UsbDeviceInfo> Devices() = 0;
    // Opens the device at info's bus and address and claims interface 0.
    virtual UsbStatus Open(const UsbDeviceInfo& info, std::unique_ptr<UsbDeviceHandle>& handle) = 0;
    // The device's serial number string, or "" where it reports none or cannot be opened.
    virtual std::string SerialNumber(const UsbDeviceInfo& info) = 0;
    virtual Clock::time_point Now() = 0;
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

// The transport over libusb-1.0. Without a usable USB subsystem it sees no devices.
std::unique_ptr<UsbTransport> MakeLibusbTransport();

}  // namespace tq
