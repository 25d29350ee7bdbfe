#include "engine/EsclService.h"

#include <random>

#include "engine/EsclDocuments.h"
#include "engine/EsclJob.h"
#include "engine/EsclSettings.h"
#include "engine/PageEncoder.h"
#include "engine/ScannerIcon.h"

namespace velomark {

namespace {

constexpr char kXml[] = "text/xml";

EsclReply Plain(int status, const std::string& text) { return EsclReply{status, "text/plain", text + "\n", ""}; }

uint64_t Fnv1a(const std::string& text, uint64_t seed) {
    uint64_t hash = seed;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string UuidText(uint64_t high, uint64_t low) {
    // Version 4's layout bits, so that clients that check them are content.
    high = (high & ~0xf000ULL) | 0x4000ULL;
    low = (low & ~(0xc000ULL << 48)) | (0x8000ULL << 48);
    char text[37];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx", unsigned(high >> 32),
                  unsigned(high >> 16 & 0xffff), unsigned(high & 0xffff), unsigned(low >> 48),
                  static_cast<unsigned long long>(low & 0xffffffffffffULL));
    return text;
}

std::string RandomId() {
    std::random_device random;
    const uint64_t high = (uint64_t(random()) << 32) | random();
    const uint64_t low = (uint64_t(random()) << 32) | random();
    return UuidText(high, low);
}

const char* StateName(EsclJob::State state) {
    switch (state) {
        case EsclJob::State::Pending: return "Pending";
        case EsclJob::State::Processing: return "Processing";
        case EsclJob::State::Completed: return "Completed";
        case EsclJob::State::Canceled: return "Canceled";
        case EsclJob::State::Aborted: return "Aborted";
    }
    return "Pending";
}

const char* ReasonName(EsclJob::State state) {
    switch (state) {
        case EsclJob::State::Pending: return "JobQueued";
        case EsclJob::State::Processing: return "JobScanning";
        case EsclJob::State::Completed: return "JobCompletedSuccessfully";
        case EsclJob::State::Canceled: return "JobCanceledByUser";
        case EsclJob::State::Aborted: return "AbortedBySystem";
    }
    return "JobQueued";
}

bool IsNumber(const std::string& text) {
    if (text.empty() || text.size() > 4 || text[0] == '0') return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

std::vector<std::string> Segments(const std::string& path) {
    std::vector<std::string> segments;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = path.find('/', start);
        const size_t end = slash == std::string::npos ? path.size() : slash;
        if (end > start) segments.push_back(path.substr(start, end - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return segments;
}

bool IsGray(const EsclJob& job, const TW_IMAGEINFO& info) {
    switch (job.Settings().ticket.color) {
        case ScanTicket::Color::Gray:
        case ScanTicket::Color::BlackWhite: return true;
        case ScanTicket::Color::Rgb: return false;
        case ScanTicket::Color::Auto: break;
    }
    // A source that gave a grey or black-and-white page; unknown depths stay in colour.
    return info.BitsPerPixel > 0 && info.BitsPerPixel <= 8;
}

}  // namespace

struct EsclService::Route {
    int scanner = -1;
    std::string base;  // /eSCL or /eSCL/<n>
    std::vector<std::string> rest;
};

std::string StableUuid(const std::string& machine, const std::string& name) {
    const std::string key = "velomark\n" + machine + "\n" + name;
    return UuidText(Fnv1a(key, 0xcbf29ce484222325ULL), Fnv1a(key, 0x84222325cbf29ce4ULL));
}

EsclService::EsclService(Submit submit, Limits limits)
    : m_submit(std::move(submit)), m_limits(limits) {}

EsclService::~EsclService() { CancelAll(); }

void EsclService::SetSources(const std::vector<SourceAbilities>& sources,
                             const std::string& machine) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_scanners.clear();
    for (size_t i = 0; i < sources.size(); ++i)
        m_scanners.push_back(EsclScanner{sources[i], StableUuid(machine, sources[i].name),
                                         "eSCL/" + std::to_string(i + 1)});
    m_feederRanOut.assign(m_scanners.size(), false);
}

std::vector<EsclScanner> EsclService::Scanners() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_scanners;
}

void EsclService::SetBusy(bool busy) { m_busy.store(busy, std::memory_order_relaxed); }

int EsclService::DefaultScanner() const {
    for (size_t i = 0; i < m_scanners.size(); ++i)
        if (m_scanners[i].source.isDefault) return static_cast<int>(i);
    return m_scanners.empty() ? -1 : 0;
}

bool EsclService::ParseRoute(const std::string& path, Route* route) const {
    std::vector<std::string> segments = Segments(path);
    if (segments.empty() || segments[0] != "eSCL") return false;
    size_t first = 1;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (segments.size() > 1 && IsNumber(segments[1])) {
        const size_t number = std::stoul(segments[1]);
        if (number > m_scanners.size()) return false;
        route->scanner = static_cast<int>(number) - 1;
        route->base = "/eSCL/" + segments[1];
        first = 2;
    } else {
        route->scanner = DefaultScanner();
        route->base = "/eSCL";
    }
    route->rest.assign(segments.begin() + static_cast<std::ptrdiff_t>(first), segments.end());
    return route->scanner >= 0;
}

EsclReply EsclService::Handle(const EsclRequest& request) {
    Route route;
    if (!ParseRoute(request.path, &route)) return Plain(404, "no such scanner or resource");
    const std::vector<std::string>& rest = route.rest;
    const std::string& method = request.method;
    const bool get = method == "GET" || method == "HEAD";
    if (rest.size() == 1 && rest[0] == "icon.png")
        return get ? EsclReply{200, "image/png", ScannerIconPng(), ""} : Plain(405, "GET only");
    if (rest.size() == 1 && rest[0] == "ScannerCapabilities")
        return get ? Capabilities(route.scanner) : Plain(405, "GET only");
    if (rest.size() == 1 && rest[0] == "ScannerStatus")
        return get ? Status(route.scanner) : Plain(405, "GET only");
    if (rest.size() == 1 && rest[0] == "ScanJobs")
        return method == "POST" ? CreateJob(route, request.body) : Plain(405, "POST only");
    if (rest.size() < 2 || rest.size() > 3 || rest[0] != "ScanJobs") return Plain(404, "no such resource");
    const std::shared_ptr<EsclJob> job = FindJob(rest[1]);
    if (!job || job->Scanner() != route.scanner) return Plain(404, "no such job");
    if (rest.size() == 2) {
        if (method != "DELETE") return Plain(405, "DELETE only");
        job->Cancel();
        return EsclReply{200, "", "", ""};
    }
    // Not HEAD: asking must not take a page.
    if (rest[2] == "NextDocument") return method == "GET" ? NextDocument(job) : Plain(405, "GET only");
    if (rest[2] == "ScanImageInfo") return get ? ImageInfo(job) : Plain(405, "GET only");
    return Plain(404, "no such resource");
}

EsclReply EsclService::Capabilities(int scanner) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (static_cast<size_t>(scanner) >= m_scanners.size()) return Plain(404, "no such scanner");
    const EsclScanner& entry = m_scanners[static_cast<size_t>(scanner)];
    return EsclReply{200, kXml, CapabilitiesXml(entry.source, entry.uuid), ""};
}

EsclReply EsclService::Status(int scanner) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (static_cast<size_t>(scanner) >= m_scanners.size()) return Plain(404, "no such scanner");
    const EsclScanner& entry = m_scanners[static_cast<size_t>(scanner)];
    EsclStatus status;
    status.processing = m_busy.load(std::memory_order_relaxed);
    const auto now = Clock::now();
    for (const auto& [id, job] : m_jobs) {
        if (job->Scanner() != scanner) continue;
        const EsclJob::State state = job->CurrentState();
        status.processing |= state == EsclJob::State::Processing;
        EsclJobSummary summary;
        summary.uri = job->Uri();
        summary.uuid = id;
        summary.ageSeconds =
            std::chrono::duration_cast<std::chrono::seconds>(now - job->CreatedAt()).count();
        summary.imagesCompleted = job->ImagesCompleted();
        summary.imagesToTransfer = state == EsclJob::State::Processing ||
                                   state == EsclJob::State::Pending;
        summary.state = StateName(state);
        summary.reason = ReasonName(state);
        status.jobs.push_back(summary);
    }
    if (entry.source.feeder) {
        // What the feeder held when the source was last asked, unless a job has
        // since run it empty.
        const bool empty = m_feederRanOut[static_cast<size_t>(scanner)] || entry.source.feederLoaded == 0;
        status.adfState = empty ? "ScannerAdfEmpty" : "ScannerAdfLoaded";
    }
    return EsclReply{200, kXml, StatusXml(status), ""};
}

EsclReply EsclService::CreateJob(const Route& route, const std::string& body) {
    EsclSettings settings;
    std::string error;
    if (!EsclSettings::Parse(body, &settings, &error)) return Plain(400, error);
    std::shared_ptr<EsclJob> job;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped) return Plain(503, "the scanner is stopping");
        if (static_cast<size_t>(route.scanner) >= m_scanners.size()) return Plain(404, "no such scanner");
        size_t waiting = 0;
        for (const auto& entry : m_jobs)
            waiting += entry.second->CurrentState() == EsclJob::State::Pending;
        if (waiting >= m_limits.waitingJobs) return Plain(503, "too many jobs wait");
        // The default scanner is whatever the engine's default is when the job runs.
        if (route.base != "/eSCL")
            settings.ticket.device = m_scanners[static_cast<size_t>(route.scanner)].source.name;
        m_feederRanOut[static_cast<size_t>(route.scanner)] = false;
        const std::string id = RandomId();
        job = std::make_shared<EsclJob>(id, route.base + "/ScanJobs/" + id, route.scanner, settings);
        m_jobs.emplace(job->Id(), job);
    }
    if (!m_submit(settings.ticket, job)) {
        job->Cancel();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.erase(job->Id());
        return Plain(503, "the scanner is stopping");
    }
    return EsclReply{201, "", "", job->Uri()};
}

EsclReply EsclService::NextDocument(const std::shared_ptr<EsclJob>& job) {
    EsclJob::Page page;
    std::string sentence;
    switch (job->WaitForPage(&page, &sentence)) {
        case EsclJob::Next::Page: break;
        case EsclJob::Next::Failed: return Plain(500, sentence);
        case EsclJob::Next::Canceled: return Plain(404, "the job was cancelled");
        case EsclJob::Next::NoMore:
            if (job->EndedByFeeder()) {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (static_cast<size_t>(job->Scanner()) < m_feederRanOut.size())
                    m_feederRanOut[static_cast<size_t>(job->Scanner())] = true;
            }
            return Plain(404, "the job has no more pages");
    }
    const PageEncoder encoder(page.packed);
    const bool gray = IsGray(*job, page.info);
    EsclReply reply{200, PageFormatMime(job->Settings().format), "", ""};
    if (!encoder.Encode(job->Settings().format, gray, page.info.XResolution.Whole, &reply.body))
        return Plain(500, "the page could not be encoded");
    job->SetLastPageSize(encoder.Width(), encoder.Height(), encoder.Width() * (gray ? 1 : 3));
    return reply;
}

EsclReply EsclService::ImageInfo(const std::shared_ptr<EsclJob>& job) const {
    int width = 0, height = 0, bytesPerLine = 0;
    if (!job->LastPageSize(&width, &height, &bytesPerLine)) return Plain(404, "no page was sent yet");
    EsclJobSummary summary;
    summary.uri = job->Uri();
    summary.uuid = job->Id();
    return EsclReply{200, kXml, ImageInfoXml(summary, width, height, bytesPerLine), ""};
}

std::shared_ptr<EsclJob> EsclService::FindJob(const std::string& id) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_jobs.find(id);
    return found == m_jobs.end() ? nullptr : found->second;
}

void EsclService::Sweep(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        const std::shared_ptr<EsclJob>& job = it->second;
        const EsclJob::State state = job->CurrentState();
        const bool live = state == EsclJob::State::Pending || state == EsclJob::State::Processing;
        if (live && job->IdleSince(now - m_limits.idleJob)) job->Cancel();
        const auto ended = job->EndedAt();
        if (!live && ended != Clock::time_point{} && now - ended > m_limits.keepFinished)
            it = m_jobs.erase(it);
        else
            ++it;
    }
}

void EsclService::CancelAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = true;
    for (const auto& entry : m_jobs) entry.second->Cancel();
}

}  // namespace velomark
