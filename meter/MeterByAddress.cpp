#include "meter/MeterByAddress.h"

#include "core/InputExcerpt.h"
#include "instrument/MeterAddress.h"
#include "meter/UsbtmcMeter.h"

namespace tq {

bool MeterTransportFor(const std::string& address, MeterTransport& transport, std::string& error) {
    std::string head = address.substr(0, 5);
    for (char& c : head)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (head == "TCPIP") {
        transport = MeterTransport::Socket;
        return true;
    }
    if (address.rfind("/dev/usbtmc", 0) == 0) {
        transport = MeterTransport::Usbtmc;
        return true;
    }
    const std::string forms = kMeterAddressForms;
    error = address.empty() ? "the meter has no address: give " + forms
                            : "the meter's address " + QuotedInput(address) +
                                  " is neither of the forms the program opens: " + forms;
    return false;
}

MeterByAddress::MeterByAddress(SocketMeterMaker socketMeter)
    : socketMeter_(std::move(socketMeter)), current_(std::make_unique<UsbtmcMeter>()) {}

MeterByAddress::~MeterByAddress() = default;

std::unique_ptr<MeterConnection> MeterByAddress::Make(MeterTransport transport,
                                                      std::string& error) {
    if (transport == MeterTransport::Usbtmc)
        return std::make_unique<UsbtmcMeter>();
    return socketMeter_(error);
}

bool MeterByAddress::Open(const MeterSettings& settings, std::string& error) {
    MeterTransport transport = transport_;
    if (!MeterTransportFor(settings.address, transport, error))
        return false;
    if (transport == transport_)
        return current_->Open(settings, error);
    auto next = Make(transport, error);
    if (!next || !next->Open(settings, error))
        return false;
    current_ = std::move(next);
    transport_ = transport;
    return true;
}

}  // namespace tq
