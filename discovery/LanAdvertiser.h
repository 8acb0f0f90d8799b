#pragma once
// Advertises the protocol server on the LAN over mDNS/DNS-SD through the Avahi daemon, as LXI
// instruments do: service _scpi-raw._tcp on the server's port, with the board's identity in TXT
// records. Without a daemon the program goes on unadvertised; it says so once, and advertises
// as soon as a daemon appears on the system bus. A daemon that stops and comes back gets the
// service again; a name another host already uses becomes "<name> #2".

#include <avahi-client/client.h>
#include <avahi-client/publish.h>

#include <QHostAddress>
#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "discovery/AvahiQtPoll.h"
#include "discovery/ScpiAnnouncement.h"

namespace tq {

class LanAdvertiser {
public:
    // Receives each line the advertiser has to say: what it advertises, or (problem) why it
    // cannot.
    using Say = std::function<void(const std::string& line, bool problem)>;

    // `listening`: the address the server listens on. A specific address is advertised on its
    // own interface and address family only, since the port cannot be reached elsewhere.
    LanAdvertiser(ScpiAnnouncement announcement, const QHostAddress& listening, Say say);
    ~LanAdvertiser();
    LanAdvertiser(const LanAdvertiser&) = delete;
    LanAdvertiser& operator=(const LanAdvertiser&) = delete;

    // Connects to the daemon; the service follows once it runs.
    void Start();
    // New TXT records (the model after a change of resolution), published at once if advertised.
    void UpdateTxt(std::vector<std::pair<std::string, std::string>> txt);

    // The name the service runs under, once the daemon has established it; empty before.
    const std::string& EstablishedName() const { return established_; }

private:
    static void OnClient(AvahiClient* client, AvahiClientState state, void* self);
    static void OnGroup(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);
    void ClientChanged(AvahiClient* client, AvahiClientState state);
    void GroupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state);
    void Publish(AvahiClient* client);
    void TakeAlternativeName();
    struct Service {
        std::string_view type;
        uint16_t port;
        std::vector<std::pair<std::string, std::string>> txt;
    };
    // The protocol's service, and the web page's as a web server and an LXI instrument.
    std::vector<Service> Services() const;
    // Each service of Services() into the entry group; the first failure.
    int AddServices();
    // "_scpi-raw._tcp, port 5025; _http._tcp, port 8080; ..."
    std::string ServiceList() const;
    void Reconnect();
    void Disconnect();
    void SayOnce(const std::string& why);

    ScpiAnnouncement announcement_;
    AvahiIfIndex interface_ = AVAHI_IF_UNSPEC;
    AvahiProtocol protocol_ = AVAHI_PROTO_UNSPEC;
    Say say_;
    AvahiQtPoll poll_;
    QObject context_;  // for the deferred reconnection
    AvahiClient* client_ = nullptr;
    AvahiEntryGroup* group_ = nullptr;
    std::string established_;
    bool saidWhyNot_ = false;
};

}  // namespace tq
