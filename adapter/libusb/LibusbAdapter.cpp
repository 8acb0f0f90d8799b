#include "adapter/libusb/LibusbAdapter.h"

#include <algorithm>
#include <cstring>

#include "board/AdapterResults.h"
#include "board/UsbStuff.h"

namespace tq {

namespace {

// The adapter takes at most 512 path bytes and their terminator.

int32_t OpenResult(UsbStatus status) {
    switch (status) {
        case UsbStatus::kOk:
            return 0;
        case UsbStatus::kAccess:
            return kResultAccessDenied;
        case UsbStatus::kNoDevice:
        case UsbStatus::kNotFound:
            return kResultNoBoard;
        default:
            return kResultIoError;
    }
}

int32_t TransferResult(UsbStatus status) {
    return status == UsbStatus::kTimeout ? kResultTimeout : kResultIoError;
}

bool IdsFit(int32_t vendorId, int32_t productId) {
    return vendorId >= 0 && vendorId <= 0xFFFF && productId >= 0 && productId <= 0xFFFF;
}

}  // namespace

LibusbAdapter::LibusbAdapter() : LibusbAdapter(MakeLibusbTransport()) {}

LibusbAdapter::LibusbAdapter(std::unique_ptr<UsbTransport> transport)
    : transport_(std::move(transport)), connectFailure_(kResultNoBoard) {}

LibusbAdapter::~LibusbAdapter() = default;

std::vector<UsbDeviceInfo> LibusbAdapter::FindBoards(int32_t vendorId, int32_t productId) {
    std::vector<UsbDeviceInfo> boards;
    if (!IdsFit(vendorId, productId))
        return boards;
    for (auto& device : transport_->Devices())
        if (device.vendorId == vendorId && device.productId == productId &&
            (location_.empty() || device.Location() == location_))
            boards.push_back(std::move(device));
    return boards;
}

std::vector<LibusbAdapter::Listing> LibusbAdapter::ListBoards() {
    std::vector<Listing> listing;
    for (const auto& device : transport_->Devices())
        if (device.vendorId == UsbVendorId && device.productId == UsbProductId)
            listing.push_back({device.Location(), transport_->SerialNumber(device)});
    return listing;
}

int32_t LibusbAdapter::Search_For_Boards(int32_t vendorId, int32_t productId, int32_t* count,
                                         uint8_t* list) {
    found_ = FindBoards(vendorId, productId);
    if (count)
        *count = static_cast<int32_t>(found_.size());
    // The list names the boards by their place in the search; the first byte picks the first.
    if (list) {
        const std::size_t named = std::min<std::size_t>(found_.size(), 128);
        for (std::size_t i = 0; i < named; ++i)
            list[i] = static_cast<uint8_t>(i);
    }
    return found_.empty() ? kResultNoBoard : 0;
}

int32_t LibusbAdapter::Connect(int32_t vendorId, int32_t productId, uint8_t board,
                               int32_t* handle) {
    // Let go of a board opened before, so that opening it again does not find it busy.
    device_.reset();
    board_.reset();
    if (handle)
        *handle = 0;
    const bool sameSearch = !found_.empty() && found_.front().vendorId == vendorId &&
                            found_.front().productId == productId;
    if (!sameSearch)
        found_ = FindBoards(vendorId, productId);
    if (board >= found_.size()) {
        connectFailure_ = kResultNoBoard;
        return connectFailure_;
    }
    const UsbDeviceInfo& info = found_[board];
    std::unique_ptr<UsbDeviceHandle> opened;
    const int32_t result = OpenResult(transport_->Open(info, opened));
    if (result != 0) {
        connectFailure_ = result;
        return result;
    }
    board_ = info;
    device_ = std::move(opened);
    if (handle)
        *handle = kBoardHandle;
    return 0;
}

int32_t LibusbAdapter::ReadImage(const std::string& path, FirmwareImage& image) const {
    std::string error;
    const int32_t result = LoadIntelHexFile(path, kProgramRamBytes, image, error);
    if (result != 0)
        return result;
    if (IsSimulatorImage(image))
        return kResultSimulatorImage;
    // Program RAM starts at address 0: every byte must lie below its end.
    if (image.EndAddress() > kProgramRamBytes)
        return kResultFirmwareTooLarge;
    return 0;
}

int32_t LibusbAdapter::Download_Firmware(int32_t handle, const uint8_t* path) {
    if (!board_)
        return connectFailure_;
    if (handle != kBoardHandle)
        return kResultIoError;
    if (!path)
        return kResultFirmwareMissing;
    const char* text = reinterpret_cast<const char*>(path);
    const std::size_t length = strnlen(text, kMaxPathBytes + 1);
    if (length > kMaxPathBytes)
        return kResultPathTooLong;

    FirmwareImage image;
    const std::string pathText(text, length);
    const int32_t read = ReadImage(pathText, image);
    if (read != 0)
        return read;
    if (!device_) {
        // Plugged in again since it was last seen: open it before loading.
        const int32_t opened = Reopen();
        if (opened != 0)
            return opened;
    }
    const int32_t result = LoadImage(image);
    if (result == 0)
        firmwarePath_ = pathText;
    return result;
}

UsbTransferResult LibusbAdapter::WriteCpuControl(uint8_t value) {
    return device_->ControlTransfer(kVendorOut, kLoadRequest, kCpuControlAddress, 0, &value, 1,
                                    kRequestTimeout);
}

int32_t LibusbAdapter::LoadImage(const FirmwareImage& image) {
    const UsbDeviceInfo before = *board_;
    releaseBeforeLoad_ = before.deviceRelease;

    auto failed = [this](UsbTransferResult r) {
        if (r.status == UsbStatus::kNoDevice)
            device_.reset();
        return TransferResult(r.status);
    };
    UsbTransferResult r = WriteCpuControl(1);
    if (r.status != UsbStatus::kOk)
        return failed(r);

    for (const auto& [start, bytes] : image.segments) {
        for (std::size_t offset = 0; offset < bytes.size(); offset += kLoadChunkBytes) {
            const std::size_t n = std::min(kLoadChunkBytes, bytes.size() - offset);
            // The request only reads the buffer; the transfer interface takes it writable.
            std::vector<uint8_t> chunk(bytes.begin() + offset, bytes.begin() + offset + n);
            r = device_->ControlTransfer(kVendorOut, kLoadRequest,
                                         static_cast<uint16_t>(start + offset), 0, chunk.data(),
                                         static_cast<uint16_t>(n), kRequestTimeout);
            if (r.status != UsbStatus::kOk)
                return failed(r);
            if (static_cast<std::size_t>(r.bytes) != n)
                return kResultIoError;
        }
    }

    // Released from reset, the firmware leaves the bus at once; the request's status stage may
    // then fail, which is the expected outcome and not an error.
    r = WriteCpuControl(0);
    const bool left = r.status == UsbStatus::kIo || r.status == UsbStatus::kNoDevice ||
                      r.status == UsbStatus::kPipe;
    if (r.status != UsbStatus::kOk && !left)
        return failed(r);
    device_.reset();
    return AwaitReturn(before);
}

int32_t LibusbAdapter::AwaitReturn(const UsbDeviceInfo& before) {
    const auto deadline = transport_->Now() + kReturnTimeout;
    bool seenGone = false;
    int32_t failure = kResultNoReenumeration;
    for (;;) {
        transport_->Sleep(kReturnPollInterval);
        const auto devices = transport_->Devices();
        const auto back = std::find_if(devices.begin(), devices.end(), [&](const auto& d) {
            return d.SameSocket(before) && d.SameIds(before);
        });
        if (back == devices.end()) {
            seenGone = true;
        } else if (seenGone || back->address != before.address) {
            // Not yet gone with its old address is the board before it left: wait for the new one.
            const UsbStatus status = transport_->Open(*back, device_);
            if (status == UsbStatus::kOk) {
                board_ = *back;
                releaseRunning_ = back->deviceRelease;
                return 0;
            }
            // Right after it appears, the device node may not have its permissions yet.
            failure = status == UsbStatus::kAccess ? kResultAccessDenied : kResultNoReenumeration;
        }
        if (transport_->Now() >= deadline)
            return failure;
    }
}

bool LibusbAdapter::StillOnBus() const {
    const auto devices = transport_->Devices();
    return std::any_of(devices.begin(), devices.end(), [this](const auto& d) {
        return d.bus == board_->bus && d.address == board_->address && d.SameIds(*board_);
    });
}

int32_t LibusbAdapter::Reopen() {
    const auto boards = FindBoards(board_->vendorId, board_->productId);
    if (boards.empty())
        return kResultNoBoard;
    // The same socket first; a board moved to another socket is taken as well.
    auto pick = std::find_if(boards.begin(), boards.end(),
                             [this](const auto& b) { return b.SameSocket(*board_); });
    if (pick == boards.end())
        pick = boards.begin();
    const int32_t result = OpenResult(transport_->Open(*pick, device_));
    if (result != 0) {
        device_.reset();
        return result;
    }
    board_ = *pick;
    return 0;
}

bool LibusbAdapter::Reattach() {
    if (Reopen() != 0)
        return false;
    if (firmwarePath_.empty())
        return true;

    // A board that lost power comes back as the bare controller. When the bare controller and
    // the running firmware cannot be told apart, load again to be sure.
    const bool distinguishable = releaseBeforeLoad_ != releaseRunning_;
    const bool running = distinguishable && board_->deviceRelease == releaseRunning_;
    if (running)
        return true;
    FirmwareImage image;
    if (ReadImage(firmwarePath_, image) != 0 || LoadImage(image) != 0) {
        device_.reset();
        return false;
    }
    return true;
}

int32_t LibusbAdapter::Vendor_Request(int32_t handle, uint8_t request, int32_t value, int32_t index,
                                      uint8_t direction, int32_t length, uint8_t* buffer) {
    if (handle != kBoardHandle || !board_)
        return kResultIoError;
    if (direction > 1 || length < 0 || length > 0xFFFF || (length > 0 && !buffer))
        return kResultIoError;
    if (!device_ && !Reattach())
        return kResultIoError;

    const uint8_t requestType = direction == 1 ? kVendorIn : kVendorOut;
    const auto r = device_->ControlTransfer(
        requestType, request, static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu),
        static_cast<uint16_t>(static_cast<uint32_t>(index) & 0xFFFFu),
        length > 0 ? buffer : nullptr, static_cast<uint16_t>(length), kRequestTimeout);
    if (r.status == UsbStatus::kOk)
        return r.bytes;
    // A board pulled out shows as a missing device, sometimes first as a plain I/O error.
    if (r.status == UsbStatus::kNoDevice || (r.status == UsbStatus::kIo && !StillOnBus()))
        device_.reset();
    return TransferResult(r.status);
}

}  // namespace tq
