#pragma once
// The meter connection that the address chooses: TCPIP::host::port::SOCKET is a LAN meter over a
// raw socket (MeterLink), /dev/usbtmcN a USB meter through the kernel's USBTMC driver
// (UsbtmcMeter). The program holds one of these, so the windows and the protocol open either
// kind by its address alone.

#include <functional>
#include <memory>
#include <string>

#include "instrument/Meter.h"

namespace tq {

enum class MeterTransport { Socket, Usbtmc };

// Which transport an address names; false with an error that gives both forms for neither.
bool MeterTransportFor(const std::string& address, MeterTransport& transport, std::string& error);

// Makes a LAN meter's connection (a MeterLink), or nothing with the reason in `error`. The
// program's comes from its network library, which it loads the first time a LAN meter is opened.
using SocketMeterMaker = std::function<std::unique_ptr<MeterConnection>(std::string& error)>;

class MeterByAddress : public MeterConnection {
public:
    explicit MeterByAddress(SocketMeterMaker socketMeter);
    ~MeterByAddress() override;

    // Opens the meter the address names. A connection of the other kind is made for it and
    // replaces the one before only once it has started opening.
    bool Open(const MeterSettings& settings, std::string& error) override;
    bool IsOpen() const override { return current_->IsOpen(); }
    void Close() override { current_->Close(); }
    std::string Identity() const override { return current_->Identity(); }
    std::string LastError() const override { return current_->LastError(); }
    void Read(int channel, std::function<void(const MeterReading&)> done) override {
        current_->Read(channel, std::move(done));
    }
    void Cancel() override { current_->Cancel(); }
    bool SelectsChannels() const override { return current_->SelectsChannels(); }

private:
    std::unique_ptr<MeterConnection> Make(MeterTransport transport, std::string& error);

    SocketMeterMaker socketMeter_;
    // Until a LAN meter is first opened, a closed USB meter stands for "no meter".
    MeterTransport transport_ = MeterTransport::Usbtmc;
    std::unique_ptr<MeterConnection> current_;
};

}  // namespace tq
