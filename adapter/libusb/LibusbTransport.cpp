#include <libusb.h>

#include <array>
#include <cstdio>
#include <memory>
#include <thread>
#include <type_traits>

#include "adapter/libusb/UsbTransport.h"
#include "platform/SharedLibrary.h"

namespace tq {

namespace {

#ifdef _WIN32
constexpr const char* kLibusbFile = "libusb-1.0.dll";
#else
constexpr const char* kLibusbFile = "libusb-1.0.so.0";
#endif

// libusb-1.0, loaded the first time a real board is looked for: a run on the simulated board
// never maps it (nor the udev library it brings).
struct Libusb {
    SharedLibrary library{kLibusbFile};
    decltype(&libusb_init) init = nullptr;
    decltype(&libusb_exit) exit = nullptr;
    decltype(&libusb_get_device_list) get_device_list = nullptr;
    decltype(&libusb_free_device_list) free_device_list = nullptr;
    decltype(&libusb_get_device_descriptor) get_device_descriptor = nullptr;
    decltype(&libusb_get_bus_number) get_bus_number = nullptr;
    decltype(&libusb_get_device_address) get_device_address = nullptr;
    decltype(&libusb_get_port_numbers) get_port_numbers = nullptr;
    decltype(&libusb_open) open = nullptr;
    decltype(&libusb_close) close = nullptr;
    decltype(&libusb_set_auto_detach_kernel_driver) set_auto_detach_kernel_driver = nullptr;
    decltype(&libusb_claim_interface) claim_interface = nullptr;
    decltype(&libusb_release_interface) release_interface = nullptr;
    decltype(&libusb_control_transfer) control_transfer = nullptr;
    decltype(&libusb_get_string_descriptor_ascii) get_string_descriptor_ascii = nullptr;

    // True when every function was found; otherwise the library's error says which was not.
    bool Resolve() {
        const auto take = [this](auto& function, const char* name) {
            function =
                reinterpret_cast<std::remove_reference_t<decltype(function)>>(library.Symbol(name));
            return function != nullptr;
        };
        return take(init, "libusb_init") && take(exit, "libusb_exit") &&
               take(get_device_list, "libusb_get_device_list") &&
               take(free_device_list, "libusb_free_device_list") &&
               take(get_device_descriptor, "libusb_get_device_descriptor") &&
               take(get_bus_number, "libusb_get_bus_number") &&
               take(get_device_address, "libusb_get_device_address") &&
               take(get_port_numbers, "libusb_get_port_numbers") && take(open, "libusb_open") &&
               take(close, "libusb_close") &&
               take(set_auto_detach_kernel_driver, "libusb_set_auto_detach_kernel_driver") &&
               take(claim_interface, "libusb_claim_interface") &&
               take(release_interface, "libusb_release_interface") &&
               take(control_transfer, "libusb_control_transfer") &&
               take(get_string_descriptor_ascii, "libusb_get_string_descriptor_ascii");
    }
};
using LibusbApi = std::shared_ptr<const Libusb>;

// The library with all its functions, or null after saying on standard error why real boards
// cannot be reached.
LibusbApi LoadLibusb() {
    auto api = std::make_shared<Libusb>();
    if (api->library.Loaded() && api->Resolve())
        return api;
    std::fprintf(stderr,
                 "tq2604x-eval: libusb-1.0 cannot be used (%s): no real board can be reached; "
                 "install the libusb-1.0-0 package\n",
                 api->library.Error().c_str());
    return nullptr;
}

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

// Handles keep the context alive: it must outlast every device opened in it. The context's
// deleter keeps the library loaded for as long.
using Context = std::shared_ptr<libusb_context>;

struct DeviceListDeleter {
    const Libusb* usb;
    void operator()(libusb_device** list) const { usb->free_device_list(list, 1); }
};
using DeviceList = std::unique_ptr<libusb_device*[], DeviceListDeleter>;

struct HandleDeleter {
    const Libusb* usb;
    void operator()(libusb_device_handle* handle) const { usb->close(handle); }
};
using Handle = std::unique_ptr<libusb_device_handle, HandleDeleter>;

class LibusbDeviceHandle : public UsbDeviceHandle {
public:
    LibusbDeviceHandle(LibusbApi usb, Context context, Handle handle)
        : usb_(std::move(usb)), context_(std::move(context)), handle_(std::move(handle)) {}
    ~LibusbDeviceHandle() override { usb_->release_interface(handle_.get(), 0); }

    UsbTransferResult ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value,
                                      uint16_t index, uint8_t* data, uint16_t length,
                                      std::chrono::milliseconds timeout) override {
        const int r =
            usb_->control_transfer(handle_.get(), requestType, request, value, index, data, length,
                                   static_cast<unsigned int>(timeout.count()));
        if (r < 0)
            return {StatusOf(r), 0};
        return {UsbStatus::kOk, r};
    }

private:
    LibusbApi usb_;
    Context context_;
    Handle handle_;  // declared after the context, so closed before it
};

class LibusbTransport : public UsbTransport {
public:
    LibusbTransport() : usb_(LoadLibusb()) {
        libusb_context* raw = nullptr;
        if (usb_ && usb_->init(&raw) == LIBUSB_SUCCESS)
            context_ = Context(raw, [usb = usb_](libusb_context* context) { usb->exit(context); });
    }

    std::vector<UsbDeviceInfo> Devices() override {
        std::vector<UsbDeviceInfo> devices;
        if (!context_)
            return devices;
        libusb_device** raw = nullptr;
        const ssize_t count = usb_->get_device_list(context_.get(), &raw);
        if (count < 0)
            return devices;
        const DeviceList list(raw, {usb_.get()});
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device* device = list[i];
            libusb_device_descriptor descriptor{};
            if (usb_->get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
                continue;
            UsbDeviceInfo info;
            info.vendorId = descriptor.idVendor;
            info.productId = descriptor.idProduct;
            info.deviceRelease = descriptor.bcdDevice;
            info.bus = usb_->get_bus_number(device);
            info.address = usb_->get_device_address(device);
            std::array<uint8_t, 8> ports{};  // USB 3 allows at most 7 tiers
            const int depth = usb_->get_port_numbers(device, ports.data(), ports.size());
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
        const ssize_t count = usb_->get_device_list(context_.get(), &raw);
        if (count < 0)
            return StatusOf(static_cast<int>(count));
        const DeviceList list(raw, {usb_.get()});
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device* device = list[i];
            if (usb_->get_bus_number(device) != info.bus ||
                usb_->get_device_address(device) != info.address)
                continue;
            libusb_device_handle* rawHandle = nullptr;
            const int opened = usb_->open(device, &rawHandle);
            if (opened != LIBUSB_SUCCESS)
                return StatusOf(opened);
            Handle open(rawHandle, {usb_.get()});
            // Where the system bound a driver to the interface, lend it to us while we hold it.
            usb_->set_auto_detach_kernel_driver(open.get(), 1);
            const int claimed = usb_->claim_interface(open.get(), 0);
            if (claimed != LIBUSB_SUCCESS)
                return StatusOf(claimed);
            handle = std::make_unique<LibusbDeviceHandle>(usb_, context_, std::move(open));
            return UsbStatus::kOk;
        }
        return UsbStatus::kNoDevice;
    }

    std::string SerialNumber(const UsbDeviceInfo& info) override {
        if (!context_)
            return {};
        libusb_device** raw = nullptr;
        const ssize_t count = usb_->get_device_list(context_.get(), &raw);
        if (count < 0)
            return {};
        const DeviceList list(raw, {usb_.get()});
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device* device = list[i];
            libusb_device_descriptor descriptor{};
            if (usb_->get_bus_number(device) != info.bus ||
                usb_->get_device_address(device) != info.address ||
                usb_->get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
                descriptor.iSerialNumber == 0)
                continue;
            libusb_device_handle* rawHandle = nullptr;
            if (usb_->open(device, &rawHandle) != LIBUSB_SUCCESS)
                return {};
            const Handle open(rawHandle, {usb_.get()});
            std::array<unsigned char, 128> text{};
            const int length = usb_->get_string_descriptor_ascii(
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
    LibusbApi usb_;  // null when the library cannot be used: no devices then
    Context context_;
};

}  // namespace

std::unique_ptr<UsbTransport> MakeLibusbTransport() {
    return std::make_unique<LibusbTransport>();
}

}  // namespace tq
