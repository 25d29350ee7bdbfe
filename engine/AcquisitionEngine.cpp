#include "engine/AcquisitionEngine.h"

#include <chrono>
#include <utility>

#include "bridge/ChannelLayout.h"
#include "bridge/ChannelOutbox.h"
#include "bridge/ChannelRequests.h"
#include "bridge/ImageStream.h"
#include "bridge/SharedChannel.h"
#include "dib/Dib.h"
#include "engine/EngineHost.h"
#include "engine/EngineTwain.h"
#include "engine/JobRequester.h"
#include "engine/NetworkSharing.h"
#include "engine/SourcesJson.h"
#include "res/ResourceIds.h"
#include "twain/ScanTicket.h"
#include "twain/SourceAbilities.h"

namespace velomark {

thread_local int AcquisitionEngine::t_nesting = 0;

AcquisitionEngine::AcquisitionEngine(EngineHost& host)
    : AcquisitionEngine(host, SharedChannel::Instance()) {}

AcquisitionEngine::AcquisitionEngine(EngineHost& host, SharedChannel& channel,
                                     std::unique_ptr<TwainSession> twain)
    : m_host(host), m_channel(channel), m_twain(std::move(twain)) {
    if (!m_twain)
        m_twain = std::make_unique<EngineTwain>(
            host, [this](HGLOBAL hDib, const TW_IMAGEINFO& info) { ReceiveImage(hDib, info); },
            [this] {
                const JobRequester* requester = m_jobs.RunningRequester();
                return !requester || requester->Open();
            });
    // Sources post from their own threads.
    m_window.SetWakeHandler([this] { NotifyWork(); });
}

AcquisitionEngine::~AcquisitionEngine() {
    Shutdown();
    m_twain->Close();
    m_channel.SetNoticeHandler(nullptr);
}

void AcquisitionEngine::OpenChannel() {
    m_channel.Open();
    m_channel.SetNoticeHandler([this](const std::string& text) { m_host.Notice(text); });
}

const std::string& AcquisitionEngine::ChannelError() const { return m_channel.OpenError(); }

bool AcquisitionEngine::StartCommands(std::string* error, const std::string& path) {
    auto server = std::make_unique<CommandServer>(*this, m_streams);
    if (!(path.empty() ? server->Start() : server->Start(path))) {
        if (error) *error = server->ErrorText();
        return false;
    }
    m_server = std::move(server);
    return true;
}

std::string AcquisitionEngine::SocketPath() const { return m_server ? m_server->Path() : ""; }

bool AcquisitionEngine::StartTwain() {
    const bool loaded = m_twain->Open(m_window.Handle());
    Begin();
    return loaded;
}

void AcquisitionEngine::Begin() { m_begun = true; }

void AcquisitionEngine::Stop() {
    Shutdown();
    m_twain->Close();
    CloseChannel();
}

void AcquisitionEngine::Shutdown() {
    StopSharing();
    m_begun = false;
    m_jobs.Clear();
    if (m_server) m_server->Stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.clear();
}

void AcquisitionEngine::CloseChannel() {
    m_channel.SetNoticeHandler(nullptr);
    m_channel.Close();
}

bool AcquisitionEngine::MayTurn() const {
    return m_begun && t_nesting == 0 && m_host.OnMainLoop();
}

void AcquisitionEngine::Turn() {
    if (!MayTurn()) return;
    Nested nested;
    PollChannel(m_channel, *this);
    RunCommands();
    // Only the messages sources posted go to the filter: on this platform a source
    // notifies by posting to the window and no other message is ever its own.
    MSG msg;
    bool offered = false;
    while (m_begun && m_window.Peek(&msg)) {
        FilterPosted(msg);
        offered = true;
    }
    if (m_begun && !offered && m_twain->WantsEveryEvent()) FilterPosted(NullMessage());
    FollowJobs();
}

void AcquisitionEngine::Poll(const MSG* event) {
    if (!MayTurn()) return;
    Nested nested;
    PollChannel(m_channel, *this);
    if (m_twain->WantsEveryEvent()) FilterPosted(event ? *event : NullMessage());
    FollowJobs();
}

MSG AcquisitionEngine::NullMessage() {
    return MSG{m_window.Handle(), WM_NULL, 0, 0, MessageTime(), {0, 0}};
}

void AcquisitionEngine::RunQueuedCommands() {
    if (!MayTurn()) return;
    Nested nested;
    RunCommands();
}

void AcquisitionEngine::RunCommands() {
    std::deque<std::function<void()>> commands;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        commands.swap(m_commands);
        m_workWaiting = false;
    }
    for (auto& command : commands) {
        if (!m_begun) break;  // stopped by one of them: the rest find the server gone
        command();
    }
}

bool AcquisitionEngine::WaitForWork(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool came = m_workCame.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                          [this] { return m_workWaiting; });
    m_workWaiting = false;
    return came || !m_commands.empty() || m_window.QueuedCount() > 0;
}

void AcquisitionEngine::NotifyWork() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_workWaiting = true;
    }
    m_workCame.notify_all();
    m_host.Wake();
}

void AcquisitionEngine::FilterPosted(const MSG& msg) {
    PollChannel(m_channel, *this);
    const bool wasRunning = m_twain->IsRunning();
    m_twain->OfferMessage(msg);
    // A request that waited for the source to close is taken up at once.
    if (wasRunning && !m_twain->IsRunning()) {
        // A batch that failed ends with its sentence, for the person and the clients.
        const std::string failure = m_twain->TakeSourceFailure();
        if (!failure.empty()) m_host.Notice(failure);
        if (m_jobs.Running())
            m_jobs.FinishRunning(failure);
        else if (StreamHub* streams = Streams())
            streams->EndAcquisition(failure);
        FollowJobs();
        PollChannel(m_channel, *this);
    }
}

void AcquisitionEngine::FollowJobs() {
    if (!m_begun) return;
    if (m_jobs.Running() && !m_twain->IsRunning()) m_jobs.FinishRunning();
    if (!m_jobs.Running() && m_jobs.Waiting() > 0 && !m_twain->IsRunning())
        m_jobs.StartNext([this](const ScanTicket& ticket, std::string* sentence) {
            return m_twain->StartTicket(ticket, sentence);
        });
    if (m_sharing) m_sharing->SetBusy(m_twain->IsRunning());
}

bool AcquisitionEngine::StartSharing(const ShareAddress& address, std::string* error,
                                     std::vector<std::string> allowedOrigins) {
    StopSharing();
    Nested nested;
    // Jobs come from the server's threads and are queued in a turn, like commands.
    auto submit = [this](const ScanTicket& ticket, std::shared_ptr<JobRequester> job) {
        RunOnUiThread([this, ticket, job] {
            if (m_twain->IsReady())
                AddJob(ticket, job);
            else
                job->Fail("the TWAIN driver is not loaded");
        });
        return true;
    };
    auto sharing = std::make_unique<NetworkSharing>(submit, std::move(allowedOrigins));
    const std::vector<SourceAbilities> sources =
        m_twain->IsReady() ? m_twain->Abilities() : std::vector<SourceAbilities>{};
    std::string notice;
    if (!sharing->Start(address, sources, error, &notice)) return false;
    m_sharing = std::move(sharing);
    if (!notice.empty()) m_host.Notice(notice);
    return true;
}

void AcquisitionEngine::StopSharing() {
    if (!m_sharing) return;
    m_sharing->Stop();
    m_sharing.reset();
}

std::string AcquisitionEngine::SharingUrl() const { return m_sharing ? m_sharing->Url() : ""; }

namespace {

// A ticketed stream as a job's requester: pages as sealed memory files, the end as
// kind 2, a failure as kind 3.
class StreamRequester : public JobRequester {
public:
    StreamRequester(StreamHub& hub, std::shared_ptr<ImageStream> stream)
        : m_hub(hub), m_stream(std::move(stream)) {}
    bool Open() const override { return m_stream->Open(); }
    void TakePage(const void* packed, size_t size, const TW_IMAGEINFO& info) override {
        m_hub.TakeImageFor(m_stream, packed, size, reinterpret_cast<const unsigned char*>(&info));
    }
    void End() override { m_stream->PushEnd(); }
    void Fail(const std::string& sentence) override { m_stream->PushError(sentence); }

private:
    StreamHub& m_hub;
    std::shared_ptr<ImageStream> m_stream;
};

}  // namespace

bool AcquisitionEngine::StartJobStream(const std::string& ticket,
                                       std::shared_ptr<ImageStream> stream) {
    ScanTicket parsed;
    std::string error;
    if (!m_begun || !m_twain->IsReady() || !ScanTicket::Parse(ticket, &parsed, &error))
        return false;
    AddJob(parsed, std::make_shared<StreamRequester>(m_streams, std::move(stream)));
    return true;
}

void AcquisitionEngine::AddJob(const ScanTicket& ticket, std::shared_ptr<JobRequester> requester) {
    Nested nested;
    m_jobs.Add(JobQueue::Job{ticket, std::move(requester)});
    FollowJobs();
}

bool AcquisitionEngine::DescribeSources(std::string* json) {
    if (!m_begun || !m_twain->IsReady()) return false;
    Nested nested;
    *json = SourcesJson(m_twain->Abilities());
    return true;
}

namespace {

// The host's documents, remembering the one made for the image under way.
class DocumentWatch : public ImageDocumentFactory {
public:
    explicit DocumentWatch(ImageDocumentFactory& documents) : m_documents(documents) {}
    ImageDocument* OpenNewDocument() override { return m_made = m_documents.OpenNewDocument(); }
    ImageDocument* Made() const { return m_made; }

private:
    ImageDocumentFactory& m_documents;
    ImageDocument* m_made = nullptr;
};

// Whether the image's document still stands after the hand-off.
bool KeepsItsDocument(PublishResult result) {
    return result != PublishResult::NoDocument && result != PublishResult::Unreadable &&
           result != PublishResult::SentToRequester;
}

}  // namespace

PublishResult AcquisitionEngine::ReceiveImage(HGLOBAL hDib, const TW_IMAGEINFO& info) {
    Nested nested;
    if (JobRequester* requester = m_jobs.RunningRequester()) {
        // A job's page: neither a document nor the channel; its requester alone.
        CDIB page(nullptr, 24);
        PublishResult result = PublishResult::Unreadable;
        if (LoadAt24Bits(hDib, page)) {
            if (requester->Open())
                requester->TakePage(page.m_pBlock, static_cast<size_t>(page.GetDIBSize()), info);
            result = PublishResult::SentToRequester;
        }
        m_host.PageReceived(info, result, nullptr);
        return result;
    }
    DocumentWatch documents(m_host);
    const PublishResult result =
        PublishImage(hDib, info.BitsPerPixel, info, documents, m_channel, Streams());
    // The page is the client's: a request that joined this acquisition is answered.
    if (result == PublishResult::Published || result == PublishResult::Queued)
        m_channel.PageTransferred();
    m_host.PageReceived(info, result, KeepsItsDocument(result) ? documents.Made() : nullptr);
    return result;
}

BOOL AcquisitionEngine::SelectSource() {
    Nested nested;
    m_host.StepStarted("select");
    if (!m_twain->IsLoaded()) {
        m_host.Notice("No source can be selected: the TWAIN driver is not loaded");
        return FALSE;
    }
    if (m_twain->SelectDataSource()) return TRUE;
    m_host.Notice(m_twain->WasCancelled() ? "Source selection cancelled"
                                          : "No data source could be selected");
    return FALSE;
}

BOOL AcquisitionEngine::Acquire(int nImages) {
    Nested nested;
    m_host.StepStarted("acquire");
    if (m_twain->StartAcquisition(nImages)) return TRUE;
    if (!m_twain->IsLoaded())
        m_host.Notice("Nothing can be acquired: the TWAIN driver is not loaded");
    else if (!m_twain->HasSourceOpen())
        m_host.Notice("Nothing can be acquired: the data source could not be opened");
    else
        m_host.Notice("The data source refused to start the acquisition");
    if (StreamHub* streams = Streams()) streams->EndAcquisition();
    return FALSE;
}

bool AcquisitionEngine::StartStreamAcquisition() {
    if (!m_begun) return false;
    Nested nested;
    // The stream is registered already: the running acquisition's pages reach it.
    if (m_twain->IsRunning()) return true;
    return Acquire(-1) != FALSE;
}

bool AcquisitionEngine::AcquisitionRunning() const { return m_twain->IsRunning(); }

void AcquisitionEngine::HandleCommandText() {
    Nested nested;
    velomark::HandleCommandText(m_channel, *this);
}

const ChannelOutbox& AcquisitionEngine::Outbox() const { return m_channel.Outbox(); }

StreamHub* AcquisitionEngine::Streams() { return m_server ? &m_streams : nullptr; }

void AcquisitionEngine::RunOnUiThread(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_commands.push_back(std::move(task));
    }
    NotifyWork();
}

// Routed as a menu command is: one whose update rule says disabled does not run.
bool AcquisitionEngine::ExecuteCommand(uint16_t id) {
    if (!m_begun || !m_host.CommandEnabled(id)) return false;
    Nested nested;
    switch (id) {
        case ID_GET_DIB_BITES: HandleCommandText(); return true;
        case res::ID_FILE_SELECTSOURCE: SelectSource(); return true;
        case res::ID_FILE_ACQUIRE: Acquire(-1); return true;
        default: return m_host.RunCommand(id);
    }
}

bool AcquisitionEngine::AcceptsStreams() { return m_twain->IsReady(); }

}  // namespace velomark
