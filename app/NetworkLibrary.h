#pragma once
// The program's network library, libtq2604x-eval-network.so beside the program: the instrument
// protocol's sockets (the raw socket and VXI-11), its advertisement on the LAN, and the bench
// meters over TCP. Everything that needs Qt Network, libtirpc or Avahi lives there, so a run that
// serves no protocol and opens no LAN meter maps none of them; the program loads the library the
// first time it needs one of them, as it loads the plots' library. The library takes the rest (the
// command tree, the instrument) from the program itself.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtPlugin>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "discovery/ScpiAnnouncement.h"
#include "instrument/Meter.h"

namespace tq {

class InstrumentCommands;
class SimulatedBench;

inline constexpr const char* kNetworkLibraryName = "libtq2604x-eval-network.so";

// Receives each line a part of the library has to say; `problem`: why it cannot do its work.
using SayLine = std::function<void(const std::string& line, bool problem)>;

// The protocol server on a TCP port (remote/ScpiServer), and VXI-11 beside it
// (remote/vxi11/Vxi11Server): raw clients and VXI-11's links share the 8 places, and the count
// says how many there are of both.
class ProtocolServer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // On each of `addresses` (IP addresses), all on one port; port 0 picks a free one. False with
    // the reason in `error` when it cannot listen.
    virtual bool Listen(const QStringList& addresses, uint16_t port, QString& error) = 0;
    // Every address it listens on as a person reads it (IPv6 in brackets).
    virtual QStringList Addresses() const = 0;
    virtual uint16_t Port() const = 0;
    // Whether an address it listens on is one that other computers can reach.
    virtual bool BeyondLoopback() const = 0;
    // A client that sends nothing for this long is closed; zero: never.
    virtual void SetIdleTimeout(std::chrono::milliseconds timeout) = 0;
    // Once listening: VXI-11 on the same addresses (free ports), registered with the system's
    // portmapper from now on; `say` hears what the registration has to say. False with the reason
    // in `error` when it cannot listen (the raw socket serves on).
    virtual bool ServeVxi11(SayLine say, QString& error) = 0;
    // Told one line for each client's (and VXI-11 link's) arrival, refusal and departure, with
    // the reason it left: "client at 127.0.0.1:40312 left: closed".
    virtual void LogClients(std::function<void(const std::string& line)> log) = 0;

signals:
    void ClientCountChanged(int count);
};

// The protocol server advertised on the LAN (discovery/LanAdvertiser).
class LanAnnouncement {
public:
    virtual ~LanAnnouncement() = default;
    virtual void Start() = 0;
    virtual void UpdateTxt(std::vector<std::pair<std::string, std::string>> txt) = 0;
    // The name the services run under, once the daemon has established it; empty before.
    virtual std::string EstablishedName() const = 0;
};

// A server on the loopback address: the simulated bench's meter.
class LoopbackServer {
public:
    virtual ~LoopbackServer() = default;
    // Port 0 picks a free one. False with the reason in `error` when it cannot listen.
    virtual bool Listen(uint16_t port, QString& error) = 0;
    virtual uint16_t Port() const = 0;
};

class NetworkLibrary {
public:
    // Receives each line the advertisement has to say; `problem`: why it cannot advertise.
    using Say = SayLine;

    virtual ~NetworkLibrary() = default;
    virtual std::unique_ptr<ProtocolServer> Server(InstrumentCommands& commands) = 0;
    // `listening`: the address the server listens on.
    virtual std::unique_ptr<LanAnnouncement> Announce(ScpiAnnouncement announcement,
                                                      const QString& listening, Say say) = 0;
    virtual std::unique_ptr<MeterConnection> LanMeter() = 0;
    virtual std::unique_ptr<LoopbackServer> SimulatedMeter(const SimulatedBench& bench) = 0;
};

// The library beside the program, loaded the first time it is asked for; null with the reason in
// `why` when it is missing or from another release.
NetworkLibrary* LoadNetworkLibrary(QString& why);

}  // namespace tq

// The release is part of the name: a library left from another build is refused, not called.
Q_DECLARE_INTERFACE(tq::NetworkLibrary, TQ_NETWORK_LIBRARY_IID)
