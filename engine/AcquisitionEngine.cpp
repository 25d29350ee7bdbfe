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
#include "engine/SourcesJson.h"
#include "res/ResourceIds.h"
#include "twain/ScanTicket.h"
#include "twain/SourceAbilities.h"
#include "twain/Twain.h"

namespace velomark {

thread_local int AcquisitionEngine::t_nesting = 0;

AcquisitionEngine::AcquisitionEngine(EngineHost& host)
    : AcquisitionEngine(host, SharedChannel::Instance()) {}

AcquisitionEngine::AcquisitionEngine(EngineHost& host, SharedChannel& channel)
    : m_host(host), m_channel(channel) {
    // Sources post from their own threads.
    m_window.SetWakeHandler([this] { NotifyWork(); });
}

AcquisitionEngine::~AcquisitionEngine() {
    Shutdown();
    m_channel.SetNoticeHandler(nullptr);
}

void AcquisitionEngine::OpenChannel() {
    m_channel.Open();
    m_channel.SetNoticeHandler([this](const std::string& text) { m_host.Notice(text); });
}

const std::string& AcquisitionEngine::ChannelError() const { return m_channel.OpenError(); }

bool AcquisitionEngine::StartCommands(std::string* error, const std::string& path) {
    auto server = std::make_unique<CommandServer>(*this);
    if (!(path.empty() ? server->Start() : server->Start(path))) {
        if (error) *error = server->ErrorText();
        return false;
    }
    m_server = std::move(server);
    return true;
}

std::string AcquisitionEngine::SocketPath() const { return m_server ? m_server->Path() : ""; }

void AcquisitionEngine::Begin() { m_begun = true; }

void AcquisitionEngine::Shutdown() {
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
    if (m_begun && !offered && m_host.SourceNeedsEveryEvent()) FilterPosted(NullMessage());
    FollowJobs();
}

void AcquisitionEngine::Poll(const MSG* event) {
    if (!MayTurn()) return;
    Nested nested;
    PollChannel(m_channel, *this);
    if (m_host.SourceNeedsEveryEvent()) FilterPosted(event ? *event : NullMessage());
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
    const bool wasRunning = m_host.AcquisitionRunning();
    m_host.OfferToSource(msg);
    // A request that waited for the source to close is taken up at once.
    if (wasRunning && !m_host.AcquisitionRunning()) {
        // A batch that failed ends with its sentence, for the person and the clients.
        CTwain* twain = m_host.Twain();
        const std::string failure = twain ? twain->TakeSourceFailure() : std::string();
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
    if (m_jobs.Running() && !m_host.AcquisitionRunning()) m_jobs.FinishRunning();
    if (m_jobs.Running() || m_jobs.Waiting() == 0 || m_host.AcquisitionRunning()) return;
    CTwain* twain = m_host.Twain();
    m_jobs.StartNext([twain](const ScanTicket& ticket, std::string* sentence) {
        if (!twain) {
            *sentence = "the TWAIN driver is not loaded";
            return false;
        }
        return twain->AcquireTicket(ticket, sentence) != FALSE;
    });
}

bool AcquisitionEngine::StartJobStream(const std::string& ticket,
                                       std::shared_ptr<ImageStream> stream) {
    ScanTicket parsed;
    std::string error;
    if (!m_begun || !m_host.TwainReady() || !m_host.Twain() ||
        !ScanTicket::Parse(ticket, &parsed, &error))
        return false;
    Nested nested;
    m_jobs.Add(JobQueue::Job{parsed, std::move(stream)});
    FollowJobs();
    return true;
}

bool AcquisitionEngine::DescribeSources(std::string* json) {
    CTwain* twain = m_host.Twain();
    if (!m_begun || !m_host.TwainReady() || !twain) return false;
    Nested nested;
    *json = SourcesJson(twain->ListAbilities());
    return true;
}

PublishResult AcquisitionEngine::ReceiveImage(HGLOBAL hDib, const TW_IMAGEINFO& info) {
    Nested nested;
    if (const std::shared_ptr<ImageStream>* stream = m_jobs.RunningStream()) {
        // A job's page: neither a document nor the channel; its stream alone.
        CDIB page(nullptr, 24);
        if (!LoadAt24Bits(hDib, page)) return PublishResult::Unreadable;
        if (StreamHub* streams = Streams())
            streams->TakeImageFor(*stream, page.m_pBlock, static_cast<size_t>(page.GetDIBSize()),
                                  reinterpret_cast<const unsigned char*>(&info));
        return PublishResult::SentToRequester;
    }
    const PublishResult result =
        PublishImage(hDib, info.BitsPerPixel, info, m_host, m_channel, Streams());
    // The page is the client's: a request that joined this acquisition is answered.
    if (result == PublishResult::Published || result == PublishResult::Queued)
        m_channel.PageTransferred();
    return result;
}

BOOL AcquisitionEngine::SelectSource() {
    Nested nested;
    return m_host.ChooseSource();
}

BOOL AcquisitionEngine::Acquire(int nImages) {
    Nested nested;
    if (m_host.StartAcquisition(nImages)) return TRUE;
    if (StreamHub* streams = Streams()) streams->EndAcquisition();
    return FALSE;
}

bool AcquisitionEngine::StartStreamAcquisition() {
    if (!m_begun) return false;
    Nested nested;
    // The stream is registered already: the running acquisition's pages reach it.
    if (m_host.AcquisitionRunning()) return true;
    return Acquire(-1) != FALSE;
}

bool AcquisitionEngine::AcquisitionRunning() const { return m_host.AcquisitionRunning(); }

void AcquisitionEngine::HandleCommandText() {
    Nested nested;
    velomark::HandleCommandText(m_channel, *this);
}

const ChannelOutbox& AcquisitionEngine::Outbox() const { return m_channel.Outbox(); }

StreamHub* AcquisitionEngine::Streams() { return m_server ? &m_server->Streams() : nullptr; }

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

bool AcquisitionEngine::AcceptsStreams() { return m_host.TwainReady(); }

}  // namespace velomark
