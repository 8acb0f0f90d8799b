#pragma once
// The instrument protocol over VXI-11, beside the raw socket: the core channel (program 0x0607AF)
// and the abort channel (0x0607B0) on free ports of the server's address, the core channel
// registered with the system's portmapper so that VISA finds it as TCPIP::host::INSTR and the
// LXI broadcast finds the board. It runs on the event loop (RpcServer); the links and their calls
// are Vxi11Device's. Links and the raw socket's clients share the 8 places.

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "remote/ClientPlaces.h"
#include "remote/vxi11/PortmapperRegistration.h"
#include "remote/vxi11/RpcServer.h"
#include "remote/vxi11/Vxi11Device.h"

class QTimer;

namespace tq {

class InstrumentCommands;

class Vxi11Server : public QObject, private vxi11::InterruptChannels {
public:
    Vxi11Server(InstrumentCommands& commands, ClientPlaces& places, QObject* parent = nullptr);
    ~Vxi11Server() override;

    // Serves both channels on free ports of `address`. False with the reason in `error`.
    bool Listen(const QHostAddress& address, QString& error);
    // On each address, each channel on one port; the portmapper is told of the first address.
    bool Listen(const std::vector<QHostAddress>& addresses, QString& error);
    // Registers the core channel with the portmapper from now on; `say` hears what there is to
    // say of it. When another program holds the registration, VXI-11 is no longer served.
    void Register(rpc::PortmapperRegistration::Say say);
    bool Serving() const { return rpc_ != nullptr; }
    quint16 CorePort() const;
    quint16 AbortPort() const;
    int LinkCount() const { return device_ ? device_->LinkCount() : 0; }
    // A connection that sends no call for this long is closed, its links with it; zero: never.
    void SetIdleTimeout(std::chrono::milliseconds timeout);
    // Told one line for each link made, refused and ended, with the reason it ended.
    void SetLog(std::function<void(const std::string& line)> log);

private:
    // The clients' interrupt channels: a socket each, connected without blocking; what is sent
    // before it is connected waits in it, and what the client answers is thrown away.
    void Open(rpc::ConnectionId connection, std::uint32_t host, std::uint16_t port,
              std::uint32_t program, std::uint32_t version) override;
    void Close(rpc::ConnectionId connection) override;
    void Send(rpc::ConnectionId connection, const std::string& handle) override;
    struct Interrupts;

    void ServeTurns();
    void ArmDeadline();
    void Stop();

    InstrumentCommands& commands_;
    ClientPlaces& places_;
    QHostAddress address_;
    std::unique_ptr<rpc::RpcServer> rpc_;
    std::unique_ptr<vxi11::Vxi11Device> device_;
    std::unique_ptr<rpc::PortmapperRegistration> registration_;
    QTimer* turns_;
    QTimer* deadline_;
    std::chrono::milliseconds idleTimeout_{0};
    std::function<void(const std::string&)> log_;
    int listener_ = 0;
    std::map<rpc::ConnectionId, std::unique_ptr<Interrupts>> interrupts_;
};

}  // namespace tq
