// The eSCL scanners behind the HTTP server: every source one scanner (the default
// at /eSCL, each at /eSCL/<n> too, n from 1), their jobs and the answers to each
// endpoint. Knows no sockets: a request comes in as method, path and body, an
// answer goes out as status, type and body. NextDocument blocks its caller (one
// connection's thread) until the page comes. Thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "twain/SourceAbilities.h"

struct ScanTicket;

namespace velomark {

class EsclJob;
class JobRequester;

struct EsclRequest {
    std::string method;
    std::string path;
    std::string body;
};

struct EsclReply {
    int status = 200;
    std::string contentType;
    std::string body;
    std::string location;
};

// One scanner as DNS-SD announces it.
struct EsclScanner {
    SourceAbilities source;
    std::string uuid;
    std::string path;  // eSCL/<n>, without a leading slash
};

class EsclService {
public:
    // Hands a job to the engine; false when the engine takes no more.
    using Submit = std::function<bool(const ScanTicket& ticket, std::shared_ptr<JobRequester> job)>;
    using Clock = std::chrono::steady_clock;

    struct Limits {
        size_t waitingJobs = 8;
        std::chrono::seconds idleJob{60};
        std::chrono::seconds keepFinished{300};
    };

    EsclService(Submit submit, Limits limits);
    ~EsclService();
    EsclService(const EsclService&) = delete;
    EsclService& operator=(const EsclService&) = delete;

    // The sources as the engine last read them; `machine` makes their UUIDs this
    // machine's own.
    void SetSources(const std::vector<SourceAbilities>& sources, const std::string& machine);
    std::vector<EsclScanner> Scanners() const;
    // An acquisition runs (anyone's): the scanners are Processing.
    void SetBusy(bool busy);

    EsclReply Handle(const EsclRequest& request);

    // Cancels jobs whose client went away and forgets jobs finished long ago.
    void Sweep(Clock::time_point now);
    // Every job is cancelled and waiting NextDocuments return (the server stops).
    void CancelAll();

private:
    struct Route;
    bool ParseRoute(const std::string& path, Route* route) const;
    EsclReply Capabilities(int scanner) const;
    EsclReply Status(int scanner) const;
    EsclReply CreateJob(const Route& route, const std::string& body);
    EsclReply NextDocument(const std::shared_ptr<EsclJob>& job);
    EsclReply ImageInfo(const std::shared_ptr<EsclJob>& job) const;
    std::shared_ptr<EsclJob> FindJob(const std::string& id) const;
    int DefaultScanner() const;

    const Submit m_submit;
    const Limits m_limits;
    mutable std::mutex m_mutex;
    std::vector<EsclScanner> m_scanners;
    std::vector<bool> m_feederRanOut;
    std::map<std::string, std::shared_ptr<EsclJob>> m_jobs;
    // Set on every engine turn while sharing: no lock for it.
    std::atomic<bool> m_busy{false};
    bool m_stopped = false;
};

// A stable UUID for `name` on `machine`: the same on every run.
std::string StableUuid(const std::string& machine, const std::string& name);

}  // namespace velomark
