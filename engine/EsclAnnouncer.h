// Publishes the network scanners by DNS-SD (`_uscan._tcp`, one instance per source)
// through the Avahi daemon, on Avahi's own thread. Without a daemon nothing is
// published and Start says why, once; the scanners serve all the same.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/EsclService.h"

struct AvahiThreadedPoll;
struct AvahiClient;
struct AvahiEntryGroup;

namespace velomark {

class EsclAnnouncer {
public:
    EsclAnnouncer() = default;
    ~EsclAnnouncer();
    EsclAnnouncer(const EsclAnnouncer&) = delete;
    EsclAnnouncer& operator=(const EsclAnnouncer&) = delete;

    // False with a sentence when there is no one to announce to.
    bool Start(const std::vector<EsclScanner>& scanners, uint16_t port, std::string* error);
    void Stop();

    // Avahi's callbacks, on its thread.
    void ClientChanged(AvahiClient* client, int state);
    void GroupChanged(AvahiEntryGroup* group, int state);

private:
    void Publish(AvahiClient* client);

    std::vector<EsclScanner> m_scanners;
    std::vector<std::string> m_names;
    uint16_t m_port = 0;
    AvahiThreadedPoll* m_poll = nullptr;
    AvahiClient* m_client = nullptr;
    AvahiEntryGroup* m_group = nullptr;
};

// The TXT record of one scanner, as clients read it; `origin` is http://HOST:PORT.
std::vector<std::string> UscanTxt(const EsclScanner& scanner, const std::string& origin);

}  // namespace velomark
