#include "engine/EsclAnnouncer.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

namespace velomark {

namespace {

void OnClient(AvahiClient* client, AvahiClientState state, void* self) {
    static_cast<EsclAnnouncer*>(self)->ClientChanged(client, state);
}

void OnGroup(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
    static_cast<EsclAnnouncer*>(self)->GroupChanged(group, state);
}

}  // namespace

std::vector<std::string> UscanTxt(const EsclScanner& scanner, const std::string& origin) {
    const SourceAbilities& source = scanner.source;
    std::string is;
    if (source.flatbed || !source.feeder) is = "platen";
    if (source.feeder) is += is.empty() ? "adf" : ",adf";
    return {"txtvers=1",
            "vers=2.0",
            "ty=" + source.name,
            "uuid=" + scanner.uuid,
            "rs=" + scanner.path,
            "pdl=application/pdf,image/jpeg,image/png",
            "cs=color,grayscale,binary",
            "is=" + is,
            std::string("duplex=") + (source.duplex ? "T" : "F"),
            "representation=" + origin + "/" + scanner.path + "/icon.png"};
}

EsclAnnouncer::~EsclAnnouncer() { Stop(); }

bool EsclAnnouncer::Start(const std::vector<EsclScanner>& scanners, uint16_t port,
                          std::string* error) {
    m_scanners = scanners;
    m_port = port;
    for (const EsclScanner& scanner : scanners) m_names.push_back(scanner.source.name);
    m_poll = avahi_threaded_poll_new();
    if (!m_poll) {
        *error = "Avahi could not start its thread";
        return false;
    }
    int failure = 0;
    // Created and started under the poll's lock: its callbacks cannot run before.
    m_client = avahi_client_new(avahi_threaded_poll_get(m_poll), AVAHI_CLIENT_NO_FAIL, OnClient,
                                this, &failure);
    if (!m_client) {
        *error = std::string("Avahi: ") + avahi_strerror(failure);
        Stop();
        return false;
    }
    if (avahi_client_get_state(m_client) == AVAHI_CLIENT_CONNECTING) {
        *error = "no Avahi daemon runs";
        Stop();
        return false;
    }
    avahi_threaded_poll_start(m_poll);
    return true;
}

void EsclAnnouncer::Stop() {
    if (m_poll) avahi_threaded_poll_stop(m_poll);
    // The group belongs to the client and goes with it.
    if (m_client) avahi_client_free(m_client);
    if (m_poll) avahi_threaded_poll_free(m_poll);
    m_client = nullptr;
    m_group = nullptr;
    m_poll = nullptr;
}

void EsclAnnouncer::ClientChanged(AvahiClient* client, int state) {
    if (state == AVAHI_CLIENT_S_RUNNING) Publish(client);
    if ((state == AVAHI_CLIENT_S_COLLISION || state == AVAHI_CLIENT_S_REGISTERING) && m_group)
        avahi_entry_group_reset(m_group);
}

void EsclAnnouncer::GroupChanged(AvahiEntryGroup* group, int state) {
    if (state != AVAHI_ENTRY_GROUP_COLLISION) return;
    // Another machine has the name: take the next free one.
    for (std::string& name : m_names) {
        char* other = avahi_alternative_service_name(name.c_str());
        name = other;
        avahi_free(other);
    }
    avahi_entry_group_reset(group);
    Publish(avahi_entry_group_get_client(group));
}

void EsclAnnouncer::Publish(AvahiClient* client) {
    if (!m_group) m_group = avahi_entry_group_new(client, OnGroup, this);
    if (!m_group || !avahi_entry_group_is_empty(m_group)) return;
    // Clients fetch the icon by an absolute address: this machine's name on the link.
    const char* host = avahi_client_get_host_name_fqdn(client);
    const std::string origin = "http://" + std::string(host ? host : "localhost") + ":" +
                               std::to_string(m_port);
    for (size_t i = 0; i < m_scanners.size(); ++i) {
        AvahiStringList* txt = nullptr;
        for (const std::string& item : UscanTxt(m_scanners[i], origin))
            txt = avahi_string_list_add(txt, item.c_str());
        avahi_entry_group_add_service_strlst(m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                             AvahiPublishFlags(0), m_names[i].c_str(),
                                             "_uscan._tcp", nullptr, nullptr, m_port, txt);
        avahi_string_list_free(txt);
    }
    avahi_entry_group_commit(m_group);
}

}  // namespace velomark
