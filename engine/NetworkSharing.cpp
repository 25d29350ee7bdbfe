#include "engine/NetworkSharing.h"

#include "engine/EsclAnnouncer.h"
#include "engine/EsclServer.h"

namespace velomark {

NetworkSharing::NetworkSharing(EsclService::Submit submit, std::vector<std::string> allowedOrigins)
    : m_service(std::move(submit), EsclService::Limits{}),
      m_server(std::make_unique<EsclServer>(m_service, std::move(allowedOrigins))) {}

NetworkSharing::~NetworkSharing() { Stop(); }

bool NetworkSharing::Start(const ShareAddress& address, const std::vector<SourceAbilities>& sources,
                           std::string* error, std::string* notice) {
    m_service.SetSources(sources, m_server->Machine());
    if (!m_server->Start(address, error)) return false;
    m_sweeper = std::thread([this] { SweepLoop(); });
    if (address.IsLoopback()) return true;
    m_announcer = std::make_unique<EsclAnnouncer>();
    std::string why;
    if (!m_announcer->Start(m_service.Scanners(), m_server->Port(), &why)) {
        m_announcer.reset();
        *notice = "The scanners are not announced on the network (" + why + ")";
    }
    return true;
}

void NetworkSharing::Stop() {
    m_announcer.reset();
    m_server->Stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_stopAsked.notify_all();
    if (m_sweeper.joinable()) m_sweeper.join();
}

std::string NetworkSharing::Url() const { return m_server->Url(); }

void NetworkSharing::SweepLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopAsked.wait_for(lock, std::chrono::seconds(1), [this] { return m_stopping; }))
        m_service.Sweep(EsclService::Clock::now());
}

}  // namespace velomark
