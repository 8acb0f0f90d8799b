#include <libusb.h>

#include <array>
#include <thread>

#include "adapter/libusb/UsbTransport.h"

namespace tq {

namespace {

UsbStatus StatusOf(int error) {
    switch (error) {
        case LIBUSB_SUCCESS:
            return UsbStatus::kOk;
        case LIBUSB_ERROR_IO:
            return UsbStatus::kIo;
        case LIBUSB_ERROR_ACCESS:
            return UsbStatus::kAccess;
        case LIBUSB_ERROR_NO_DEVICE:
            return UsbStatus::kNoDevice;
        case LIBUSB_ERROR_NOT_FOUND:
            return UsbStatus::kNotFound;
        case LIBUSB_ERROR_BUSY:
            return UsbStatus::kBusy;
        case LIBUSB_ERROR_TIMEOUT:
            return UsbStatus::kTimeout;
        case LIBUSB_ERROR_PIPE:
            return UsbStatus::kPipe;
        default:
            return UsbStatus::kOther;
    }
}

// Handles keep the context alive: it must outlast every device opened in it.
using Context = std::shared_ptr<libusb_context>;

struct DeviceListDeleter {
    void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};
using DeviceList = std::unique_ptr<libusb_device*[], DeviceListDeleter>;

struct HandleDeleter {
    void operator()(libusb_device_handle* handle) const { libusb_close(handle); }
};
using Handle = std::unique_ptr<libusb_device_handle, HandleDeleter>;

class LibusbDeviceHandle : public UsbDeviceHandle {
public:
    LibusbDeviceHandle(Context context, Handle handle)
        : context_(std::move(context)), handle_(std::move(handle)) {}
    ~LibusbDeviceHandle() override { libusb_release_interface(handle_.get(), 0); }

    UsbTransferResult ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value,
                                      uint16_t index, uint8_t* data, uint16_t length,
                                      std::chrono::milliseconds timeout) override {
        const int r =
            libusb_control_transfer(handle_.get(), requestType, request, value, index, data, length,
                                    static_cast<unsigned int>(timeout.count()));
        if (r < 0)
            return {StatusOf(r), 0};
        return {UsbStatus::kOk, r};
    }

private:
    Context context_;
    Handle handle_;  // declared after the context, so closed before it
};

class LibusbTransport : public UsbTransport {
public:
    LibusbTransport() {
        libusb_context* raw = nullptr;
        if (libusb_init(&raw) == LIBUSB_SUCCESS)
            context_ = Context(raw, libusb_exit);
    }

    std::vector<UsbDeviceInfo> Devices() override {
        std::vector<UsbDeviceInfo> devices;
        if (!context_)
            return devices;
        libusb_device** raw = nullptr;
        const ssize_t count = libusb_get_device_list(context_.get(), &raw);
        if (count < 0)
            return devices;
        const DeviceList list(raw);
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device* device = list[i];
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
                continue;
            UsbDeviceInfo info;
            info.vendorId = descriptor.idVendor;
            info.productId = descriptor.idProduct;
            info.deviceRelease = descriptor.bcdDevice;
            info.bus = libusb_get_bus_number(device);
            info.address = libusb_get_device_address(device);
            std::array<uint8_t, 8> ports{};  // USB 3 allows at most 7 tiers
            const int depth = libusb_get_port_numbers(device, ports.data(), ports.size());
            if (depth > 0)
                info.portPath.assign(ports.begin(), ports.begin() + depth);
            devices.push_back(std::move(info));
        }
        return devices;
    }

    UsbStatus Open(const UsbDeviceInfo& info, std::unique_ptr<UsbDeviceHandle>& handle) override {
        handle.reset();
        if (!context_)
            return UsbStatus::kNoDevice;
        libusb_device** raw = nullptr;
        const ssize_t count = libusb_get_device_list(context_.get(), &raw);
        if (count < 0)
            return StatusOf(static_cast<int>(count));
        const DeviceList list(raw);
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device* device = list[i];
            if (libusb_get_bus_number(device) != info.bus ||
                libusb_get_device_address(device) != info.address)
                continue;
            libusb_device_handle* rawHandle = nullptr;
            const int opened = libusb_open(device, &rawHandle);
            if (opened != LIBUSB_SUCCESS)
                return StatusOf(opened);
            Handle open(rawHandle);
            // Where the system bound a driver to the interface, lend it to us while we hold it.
            libusb_set_auto_detach_kernel_driver(open.get(), 1);
            const int claimed = libusb_claim_interface(open.get(), 0);
            if (claimed != LIBUSB_SUCCESS)
                return StatusOf(claimed);
            handle = std::make_unique<LibusbDeviceHandle>(context_, std::move(open));
            return UsbStatus::kOk;
        }
        return UsbStatus::kNoDevice;
    }

    std::string SerialNumber(const UsbDeviceInfo& info) override {
        if (!context_)
            return {};
        libusb_device** raw = nullptr;
        const ssize_t count = libusb_get_device_list(context_.get(), &raw);
        if (count < 0)
            return {};
        const DeviceList list(raw);
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device* device = list[i];
            libusb_device_descriptor descriptor{};
            if (libusb_get_bus_number(device) != info.bus ||
                libusb_get_device_address(device) != info.address ||
                libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
                descriptor.iSerialNumber == 0)
                continue;
            libusb_device_handle* rawHandle = nullptr;
            if (libusb_open(device, &rawHandle) != LIBUSB_SUCCESS)
                return {};
            const Handle open(rawHandle);
            std::array<unsigned char, 128> text{};
            const int length = libusb_get_string_descriptor_ascii(
                open.get(), descriptor.iSerialNumber, text.data(), static_cast<int>(text.size()));
            if (length <= 0)
                return {};
            return std::string(reinterpret_cast<const char*>(text.data()),
                               static_cast<std::size_t>(length));
        }
        return {};
    }

    Clock::time_point Now() override { return Clock::now(); }
    void Sleep(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }

private:
    Context context_;
};

}  // namespace

std::unique_ptr<UsbTransport> MakeLibusbTransport() {
    return std::make_unique<LibusbTransport>();
}

}  // namespace tq
