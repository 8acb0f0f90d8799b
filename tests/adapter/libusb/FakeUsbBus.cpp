#include "tests/adapter/libusb/FakeUsbBus.h"

#include <algorithm>

namespace tq::testing {

class FakeHandle : public UsbDeviceHandle {
public:
    FakeHandle(FakeUsbBus& bus, std::size_t device, int instance)
        : bus_(bus), device_(device), instance_(instance), count_(bus.openHandles) {
        ++*count_;
    }
    ~FakeHandle() override { --*count_; }

    UsbTransferResult ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value,
                                      uint16_t index, uint8_t* data, uint16_t length,
                                      std::chrono::milliseconds) override {
        ControlRecord record{requestType, request, value, index, length, {}, 0};
        if (!(requestType & 0x80) && data)
            record.data.assign(data, data + length);
        return bus_.Transfer(device_, instance_, std::move(record), data);
    }

private:
    FakeUsbBus& bus_;
    std::size_t device_;
    int instance_;
    std::shared_ptr<int> count_;
};

std::size_t FakeUsbBus::Plug(uint16_t vendorId, uint16_t productId, std::vector<uint8_t> portPath,
                             uint16_t release) {
    FakeDevice d;
    d.info = {vendorId, productId, release, 1, nextAddress_++, std::move(portPath)};
    d.instance = ++instances_;
    devices.push_back(std::move(d));
    return devices.size() - 1;
}

void FakeUsbBus::Unplug(std::size_t device) {
    devices[device].onBus = false;
}

void FakeUsbBus::Replug(std::size_t device, uint16_t release, std::vector<uint8_t> portPath) {
    FakeDevice& d = devices[device];
    d.onBus = true;
    d.instance = ++instances_;
    d.info.address = nextAddress_++;
    d.info.deviceRelease = release;
    d.info.portPath = std::move(portPath);
    d.cpuInReset = false;
}

void FakeUsbBus::Advance() {
    const auto now = Now();
    for (auto it = pending_.begin(); it != pending_.end();) {
        FakeDevice& d = devices[it->device];
        if (now >= it->leaveAt)
            d.onBus = false;
        if (it->returnAt && now >= *it->returnAt) {
            Replug(it->device, releaseAfterLoad, d.info.portPath);
            d.openStatus = openStatusAfterReturn;
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
}

FakeDevice* FakeUsbBus::Live(std::size_t device, int instance) {
    Advance();
    FakeDevice& d = devices[device];
    return d.onBus && d.instance == instance ? &d : nullptr;
}

std::vector<UsbDeviceInfo> FakeUsbBus::Devices() {
    Advance();
    std::vector<UsbDeviceInfo> listed;
    for (const auto& d : devices)
        if (d.onBus)
            listed.push_back(d.info);
    return listed;
}

UsbStatus FakeUsbBus::Open(const UsbDeviceInfo& info, std::unique_ptr<UsbDeviceHandle>& handle) {
    Advance();
    handle.reset();
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const FakeDevice& d = devices[i];
        if (!d.onBus || d.info.bus != info.bus || d.info.address != info.address)
            continue;
        if (d.openStatus != UsbStatus::kOk)
            return d.openStatus;
        ++opens;
        handle = std::make_unique<FakeHandle>(*this, i, d.instance);
        return UsbStatus::kOk;
    }
    return UsbStatus::kNoDevice;
}

UsbTransferResult FakeUsbBus::Transfer(std::size_t device, int instance, ControlRecord record,
                                       uint8_t* data) {
    FakeDevice* d = Live(device, instance);
    if (!d)
        return {UsbStatus::kNoDevice, 0};
    record.address = d->info.address;
    transfers.push_back(record);

    const bool load = record.request == 0xA0 && record.requestType == 0x40;
    if (load && record.value == 0xE600 && record.length == 1) {
        const bool reset = record.data.at(0) == 1;
        const bool released = d->cpuInReset && !reset;
        d->cpuInReset = reset;
        if (!released)
            return {UsbStatus::kOk, 1};
        // The firmware starts and the controller drops off the bus to come back as the board.
        Pending p{device, Now() + lingerAfterRelease, std::nullopt};
        if (returnAfterRelease)
            p.returnAt = Now() + *returnAfterRelease;
        if (lingerAfterRelease.count() == 0)
            d->onBus = false;
        pending_.push_back(p);
        return {releaseStatus, releaseStatus == UsbStatus::kOk ? 1 : 0};
    }
    if (load) {
        if (d->cpuInReset)
            for (std::size_t i = 0; i < record.data.size(); ++i)
                d->ram[static_cast<uint16_t>(record.value + i)] = record.data[i];
        return {UsbStatus::kOk, record.length};
    }
    if (vanishOnNextRequest) {
        vanishOnNextRequest = false;
        d->onBus = false;
        return {UsbStatus::kIo, 0};
    }
    if (!failNext.empty()) {
        const UsbStatus status = failNext.front();
        failNext.erase(failNext.begin());
        return {status, 0};
    }
    if ((record.requestType & 0x80) && record.length > 0) {
        const std::size_t n = std::min<std::size_t>(record.length, reply.size());
        std::copy_n(reply.begin(), n, data);
        return {UsbStatus::kOk, static_cast<int>(n)};
    }
    return {UsbStatus::kOk, record.length};
}

std::string FakeUsbBus::SerialNumber(const UsbDeviceInfo& info) {
    for (const FakeDevice& d : devices)
        if (d.onBus && d.info.bus == info.bus && d.info.address == info.address)
            return d.serial;
    return {};
}

}  // namespace tq::testing
