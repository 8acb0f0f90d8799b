#include "discovery/LanAdvertiser.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include <QNetworkInterface>
#include <string>

namespace tq {
namespace {

// A name taken on the LAN is retried as "<name> #2", "#3", ...; beyond this many the LAN is not
// one a lab would run.
constexpr int kMaxRenames = 100;

AvahiStringList* TxtList(const std::vector<std::pair<std::string, std::string>>& txt) {
    AvahiStringList* list = nullptr;
    // Each addition goes in front and Avahi sends the list from its end: added in order, sent in
    // order.
    for (const auto& [key, value] : txt)
        list = avahi_string_list_add_pair(list, key.c_str(), value.c_str());
    return list;
}

}  // namespace

LanAdvertiser::LanAdvertiser(ScpiAnnouncement announcement, const QHostAddress& listening, Say say)
    : announcement_(std::move(announcement)), say_(std::move(say)) {
    if (listening == QHostAddress(QHostAddress::AnyIPv4)) {
        protocol_ = AVAHI_PROTO_INET;
    } else if (listening == QHostAddress(QHostAddress::AnyIPv6)) {
        protocol_ = AVAHI_PROTO_INET6;
    } else if (listening != QHostAddress(QHostAddress::Any)) {
        protocol_ = listening.protocol() == QAbstractSocket::IPv6Protocol ? AVAHI_PROTO_INET6
                                                                          : AVAHI_PROTO_INET;
        for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
            for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
                if (entry.ip().isEqual(listening))
                    interface_ = iface.index();
            }
        }
    }
}

LanAdvertiser::~LanAdvertiser() {
    Disconnect();
}

void LanAdvertiser::Start() {
    int error = 0;
    // NO_FAIL: without a daemon the client waits on the system bus for one to start.
    AvahiClient* client =
        avahi_client_new(poll_.Api(), AVAHI_CLIENT_NO_FAIL, &LanAdvertiser::OnClient, this, &error);
    if (client == nullptr) {
        SayOnce(std::string("cannot reach the Avahi daemon (") + avahi_strerror(error) +
                "); is the system bus (dbus) running?");
        return;
    }
    client_ = client;
}

void LanAdvertiser::Disconnect() {
    // Freeing the client frees its entry group, which withdraws the service.
    if (client_ != nullptr)
        avahi_client_free(client_);
    client_ = nullptr;
    group_ = nullptr;
    established_.clear();
}

void LanAdvertiser::Reconnect() {
    Disconnect();
    Start();
}

void LanAdvertiser::SayOnce(const std::string& why) {
    if (saidWhyNot_)
        return;
    saidWhyNot_ = true;
    say_("not advertised on the LAN: " + why, true);
}

void LanAdvertiser::OnClient(AvahiClient* client, AvahiClientState state, void* self) {
    static_cast<LanAdvertiser*>(self)->ClientChanged(client, state);
}

void LanAdvertiser::OnGroup(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
    static_cast<LanAdvertiser*>(self)->GroupChanged(group, state);
}

void LanAdvertiser::ClientChanged(AvahiClient* client, AvahiClientState state) {
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            Publish(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The host's own name is being (re)registered: the service follows when it runs.
            if (group_ != nullptr)
                avahi_entry_group_reset(group_);
            established_.clear();
            break;
        case AVAHI_CLIENT_CONNECTING:
            SayOnce(
                "no Avahi daemon is running (start avahi-daemon: the board is advertised as soon "
                "as it runs)");
            break;
        case AVAHI_CLIENT_FAILURE:
            if (avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED) {
                // The daemon or the bus went away; a client cannot be reused after that. A new one
                // waits for the daemon, made outside this callback of the old one.
                established_.clear();
                QMetaObject::invokeMethod(
                    &context_, [this] { Reconnect(); }, Qt::QueuedConnection);
            } else {
                SayOnce(std::string("the Avahi client failed: ") +
                        avahi_strerror(avahi_client_errno(client)));
            }
            break;
    }
}

void LanAdvertiser::GroupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state) {
    switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            established_ = announcement_.name;
            say_("advertised on the LAN as \"" + established_ + "\" (" + ServiceList() + ")",
                 false);
            break;
        case AVAHI_ENTRY_GROUP_COLLISION:
            // Another board (or host) on the LAN has the name.
            TakeAlternativeName();
            avahi_entry_group_reset(group);
            Publish(avahi_entry_group_get_client(group));
            break;
        case AVAHI_ENTRY_GROUP_FAILURE:
            SayOnce(std::string("the Avahi daemon refused the service: ") +
                    avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
            break;
        case AVAHI_ENTRY_GROUP_UNCOMMITED:
        case AVAHI_ENTRY_GROUP_REGISTERING:
            break;
    }
}

void LanAdvertiser::TakeAlternativeName() {
    char* next = avahi_alternative_service_name(announcement_.name.c_str());
    announcement_.name = next;
    avahi_free(next);
}

void LanAdvertiser::Publish(AvahiClient* client) {
    if (group_ == nullptr) {
        group_ = avahi_entry_group_new(client, &LanAdvertiser::OnGroup, this);
        if (group_ == nullptr) {
            SayOnce(std::string("the Avahi daemon refused an entry group: ") +
                    avahi_strerror(avahi_client_errno(client)));
            return;
        }
    }
    if (!avahi_entry_group_is_empty(group_))
        return;
    int result = AVAHI_ERR_COLLISION;
    for (int attempt = 0; attempt < kMaxRenames && result == AVAHI_ERR_COLLISION; ++attempt) {
        result = AddServices();
        if (result == AVAHI_ERR_COLLISION) {
            // A service of this program on this host has the name.
            avahi_entry_group_reset(group_);
            TakeAlternativeName();
        }
    }
    if (result >= 0)
        result = avahi_entry_group_commit(group_);
    if (result < 0)
        SayOnce(std::string("the Avahi daemon refused the service: ") + avahi_strerror(result));
}

std::vector<LanAdvertiser::Service> LanAdvertiser::Services() const {
    std::vector<Service> services;
    if (announcement_.port != 0)
        services.push_back({kScpiRawServiceType, announcement_.port, announcement_.txt});
    if (announcement_.webPort != 0) {
        services.push_back({kHttpServiceType, announcement_.webPort, {{"path", "/"}}});
        services.push_back({kLxiServiceType, announcement_.webPort, announcement_.txt});
    }
    return services;
}

std::string LanAdvertiser::ServiceList() const {
    std::string list;
    for (const Service& service : Services())
        list += (list.empty() ? "" : "; ") + std::string(service.type) + ", port " +
                std::to_string(service.port);
    return list;
}

int LanAdvertiser::AddServices() {
    for (const Service& service : Services()) {
        AvahiStringList* txt = TxtList(service.txt);
        const std::string type(service.type);
        const int result = avahi_entry_group_add_service_strlst(
            group_, interface_, protocol_, static_cast<AvahiPublishFlags>(0),
            announcement_.name.c_str(), type.c_str(), nullptr, nullptr, service.port, txt);
        avahi_string_list_free(txt);
        if (result < 0)
            return result;
    }
    return 0;
}

void LanAdvertiser::UpdateTxt(std::vector<std::pair<std::string, std::string>> txt) {
    announcement_.txt = std::move(txt);
    if (group_ == nullptr || avahi_entry_group_is_empty(group_))
        return;  // published with the new records when it is
    for (const Service& service : Services()) {
        if (service.txt != announcement_.txt)
            continue;  // the page's own records do not name the model
        AvahiStringList* list = TxtList(service.txt);
        const std::string type(service.type);
        avahi_entry_group_update_service_txt_strlst(
            group_, interface_, protocol_, static_cast<AvahiPublishFlags>(0),
            announcement_.name.c_str(), type.c_str(), nullptr, list);
        avahi_string_list_free(list);
    }
}

}  // namespace tq
