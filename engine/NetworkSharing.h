// Velomark's sources shared as eSCL scanners: the scanners and their jobs
// (EsclService), the HTTP server, the DNS-SD announcement when the address is not
// loopback, and the sweep that cancels jobs whose client went away and forgets old
// ones. The engine owns one while sharing.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/EsclService.h"
#include "engine/ShareAddress.h"

namespace velomark {

class EsclAnnouncer;
class EsclServer;

class NetworkSharing {
public:
    NetworkSharing(EsclService::Submit submit, std::vector<std::string> allowedOrigins);
    ~NetworkSharing();
    NetworkSharing(const NetworkSharing&) = delete;
    NetworkSharing& operator=(const NetworkSharing&) = delete;

    // Serves `sources` on `address`; false with a sentence when it cannot listen.
    // `notice` says, once, that the scanners are not announced and why.
    bool Start(const ShareAddress& address, const std::vector<SourceAbilities>& sources,
               std::string* error, std::string* notice);
    void Stop();

    std::string Url() const;
    void SetBusy(bool busy) { m_service.SetBusy(busy); }

private:
    void SweepLoop();

    EsclService m_service;
    std::unique_ptr<EsclServer> m_server;
    std::unique_ptr<EsclAnnouncer> m_announcer;
    std::thread m_sweeper;
    std::mutex m_mutex;
    std::condition_variable m_stopAsked;
    bool m_stopping = false;
};

}  // namespace velomark
