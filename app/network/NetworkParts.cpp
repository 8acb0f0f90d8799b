// The network library's entry: QPluginLoader finds these parts by the interface's name. Each part
// is the program's own class (remote/, discovery/, meter/) behind the interface the program knows.

#include <QHostAddress>
#include <QObject>
#include <algorithm>

#include "app/NetworkLibrary.h"
#include "discovery/LanAdvertiser.h"
#include "meter/MeterLink.h"
#include "meter/SimulatedMeter.h"
#include "remote/ClientPlaces.h"
#include "remote/Listening.h"
#include "remote/ScpiServer.h"
#include "remote/vxi11/Vxi11Server.h"

namespace tq {
namespace {

class TcpProtocolServer : public ProtocolServer {
public:
    // Raw clients and VXI-11's links take their places from one count, which is the one the
    // program hears.
    explicit TcpProtocolServer(InstrumentCommands& commands)
        : commands_(commands), server_(commands, &places_) {
        places_.SetChanged([this](int count) { emit ClientCountChanged(count); });
    }
    // The clients' going with the server is no client leaving.
    ~TcpProtocolServer() override { places_.SetChanged(nullptr); }
    bool Listen(const QStringList& addresses, uint16_t port, QString& error) override {
        return HostAddresses(addresses, addresses_, error) &&
               server_.Listen(addresses_, port, error);
    }
    QStringList Addresses() const override { return server_.Addresses(); }
    uint16_t Port() const override { return server_.Port(); }
    bool BeyondLoopback() const override {
        return std::any_of(addresses_.begin(), addresses_.end(),
                           [](const QHostAddress& a) { return !a.isLoopback(); });
    }
    void SetIdleTimeout(std::chrono::milliseconds timeout) override {
        idleTimeout_ = timeout;
        server_.SetIdleTimeout(timeout);
        if (vxi11_)
            vxi11_->SetIdleTimeout(timeout);
    }
    void LogClients(std::function<void(const std::string& line)> log) override {
        log_ = std::move(log);
        server_.SetLog(log_);
        if (vxi11_)
            vxi11_->SetLog(log_);
    }
    bool ServeVxi11(SayLine say, QString& error) override {
        vxi11_ = std::make_unique<Vxi11Server>(commands_, places_);
        vxi11_->SetIdleTimeout(idleTimeout_);
        vxi11_->SetLog(log_);
        if (!vxi11_->Listen(addresses_, error)) {
            vxi11_.reset();
            return false;
        }
        vxi11_->Register(std::move(say));
        return true;
    }

private:
    InstrumentCommands& commands_;
    std::chrono::milliseconds idleTimeout_{0};
    std::function<void(const std::string&)> log_;
    ClientPlaces places_;  // the raw socket's clients and VXI-11's links
    std::vector<QHostAddress> addresses_;
    ScpiServer server_;
    std::unique_ptr<Vxi11Server> vxi11_;
};

class AvahiAnnouncement : public LanAnnouncement {
public:
    AvahiAnnouncement(ScpiAnnouncement announcement, const QString& listening,
                      NetworkLibrary::Say say)
        : advertiser_(std::move(announcement), QHostAddress(listening), std::move(say)) {}
    void Start() override { advertiser_.Start(); }
    void UpdateTxt(std::vector<std::pair<std::string, std::string>> txt) override {
        advertiser_.UpdateTxt(std::move(txt));
    }
    std::string EstablishedName() const override { return advertiser_.EstablishedName(); }

private:
    LanAdvertiser advertiser_;
};

class SimulatedMeterServer : public LoopbackServer {
public:
    explicit SimulatedMeterServer(const SimulatedBench& bench) : meter_(bench) {}
    bool Listen(uint16_t port, QString& error) override { return meter_.Listen(port, error); }
    uint16_t Port() const override { return meter_.Port(); }

private:
    SimulatedMeter meter_;
};

}  // namespace

class NetworkParts : public QObject, public NetworkLibrary {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TQ_NETWORK_LIBRARY_IID)
    Q_INTERFACES(tq::NetworkLibrary)

public:
    std::unique_ptr<ProtocolServer> Server(InstrumentCommands& commands) override {
        return std::make_unique<TcpProtocolServer>(commands);
    }
    std::unique_ptr<LanAnnouncement> Announce(ScpiAnnouncement announcement,
                                              const QString& listening, Say say) override {
        return std::make_unique<AvahiAnnouncement>(std::move(announcement), listening,
                                                   std::move(say));
    }
    std::unique_ptr<MeterConnection> LanMeter() override { return std::make_unique<MeterLink>(); }
    std::unique_ptr<LoopbackServer> SimulatedMeter(const SimulatedBench& bench) override {
        return std::make_unique<SimulatedMeterServer>(bench);
    }
};

}  // namespace tq

#include "NetworkParts.moc"
