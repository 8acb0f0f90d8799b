#pragma once
// Real evaluation boards over libusb-1.0.
//
// The board's controller starts without firmware: Download_Firmware holds its CPU in reset,
// writes the image into its program RAM through the controller's built-in load request, releases
// the reset and waits for the board to come back on the bus running the firmware. A board that is
// unplugged makes every request fail; when the same board is plugged in again it is reopened on
// the next request, and given its firmware again if it came back without it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adapter/libusb/UsbTransport.h"
#include "board/Adapter.h"
#include "board/IntelHex.h"

namespace tq {

class LibusbAdapter : public Adapter {
public:
    static constexpr const char* kBoardName = "TQ2604X evaluation board (USB 0456:B202)";

    // The controller's load request writes program RAM at wValue; writing 1 to its CPU control
    // register holds the CPU in reset, 0 lets it run.
    static constexpr uint8_t kLoadRequest = 0xA0;
    static constexpr uint16_t kCpuControlAddress = 0xE600;
    static constexpr std::size_t kLoadChunkBytes = 1024;

    static constexpr uint8_t kVendorOut = 0x40;  // vendor type, device recipient, host to device
    static constexpr uint8_t kVendorIn = 0xC0;   // the same, device to host
    static constexpr std::chrono::milliseconds kRequestTimeout{1000};
    static constexpr std::chrono::milliseconds kReturnPollInterval{100};
    static constexpr std::chrono::milliseconds kReturnTimeout{5000};

    // The handle Connect hands out; the adapter drives one board at a time.
    static constexpr int32_t kBoardHandle = 1;

    LibusbAdapter();
    explicit LibusbAdapter(std::unique_ptr<UsbTransport> transport);
    ~LibusbAdapter() override;

    int32_t Search_For_Boards(int32_t vendorId, int32_t productId, int32_t* count,
                              uint8_t* list) override;
    int32_t Connect(int32_t vendorId, int32_t productId, uint8_t board, int32_t* handle) override;
    int32_t Download_Firmware(int32_t handle, const uint8_t* path) override;
    int32_t Vendor_Request(int32_t handle, uint8_t request, int32_t value, int32_t index,
                           uint8_t direction, int32_t length, uint8_t* buffer) override;

    // The boards attached now: where each is plugged in ("1-4.2") and its serial number where
    // it reports one.
    struct Listing {
        std::string location;
        std::string serial;
    };
    std::vector<Listing> ListBoards();
    // Only the board at this location counts as found (empty: the first found, the default).
    // A board keeps its location when it comes back after the firmware download.
    void SelectLocation(std::string location) { location_ = std::move(location); }
    // The location of the board connected to; empty before a connection.
    std::string ConnectedLocation() const { return board_ ? board_->Location() : std::string(); }

private:
    std::vector<UsbDeviceInfo> FindBoards(int32_t vendorId, int32_t productId);
    int32_t ReadImage(const std::string& path, FirmwareImage& image) const;
    int32_t LoadImage(const FirmwareImage& image);
    int32_t AwaitReturn(const UsbDeviceInfo& before);
    UsbTransferResult WriteCpuControl(uint8_t value);
    int32_t Reopen();
    bool Reattach();
    bool StillOnBus() const;

    std::unique_ptr<UsbTransport> transport_;
    std::vector<UsbDeviceInfo> found_;         // the boards of the last search
    std::optional<UsbDeviceInfo> board_;       // the board connected to, kept while unplugged
    std::unique_ptr<UsbDeviceHandle> device_;  // open while the board is on the bus
    int32_t connectFailure_;                   // why no board is connected
    std::string firmwarePath_;                 // of the last successful download
    std::optional<uint16_t> releaseBeforeLoad_;
    std::optional<uint16_t> releaseRunning_;
    std::string location_;  // the one board to use, when chosen
};

}  // namespace tq
