#pragma once
// The meter connection that the address chooses: TCPIP::host::port::SOCKET is a LAN meter over a
// raw socket (MeterLink), /dev/usbtmcN a USB meter through the kernel's USBTMC driver
// (UsbtmcMeter). The program holds one of these, so the windows and the protocol open either
// kind by its address alone.

#include <memory>
#include <string>

#include "instrument/Meter.h"

namespace tq {

enum class MeterTransport { Socket, Usbtmc };

// Which transport an address names; false with an error that gives both forms for neither.
bool MeterTransportFor(const std::string& address, MeterTransport& transport, std::string& error);
std::unique_ptr<MeterConnection> MakeMeterConnection(MeterTransport transport);

class MeterByAddress : public MeterConnection {
public:
    MeterByAddress();
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
    MeterTransport transport_ = MeterTransport::Socket;
    std::unique_ptr<MeterConnection> current_;
};

}  // namespace tq
