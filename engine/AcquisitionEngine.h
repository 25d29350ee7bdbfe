// Everything between the sources and Velomark's clients, with no toolkit: the TWAIN
// session, the queue of jobs, the shared channel, the images waiting for the client,
// the image streams, the request poll, the command text and the routing of the
// socket's commands. The program around it drives it with explicit calls (a turn of
// its loop, a command) and it calls back its EngineHost for what only a host can do.
//
// The re-entry rule, in one place: a turn runs only at the outermost level of the
// main loop. Nested counts, on the user-interface thread, the engine's own work and
// every toolkit handler running; a turn asked for while it is above 0 (a window made
// by the image hand-off, an event delivered inside another's handler), inside a
// modal dialog's loop (the host says so) or before Begin does nothing, and what it
// would have done waits for the next turn. So TransferImages never runs inside
// itself and no request is taken up inside a modal loop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/ChannelActions.h"
#include "bridge/CommandServer.h"
#include "bridge/ImageHandoff.h"
#include "bridge/StreamHub.h"
#include "engine/JobQueue.h"
#include "engine/TwainSession.h"
#include "platform/Window.h"
#include "twain/TwainTypes.h"

namespace velomark {

class ChannelOutbox;
class EngineHost;
class JobRequester;
class NetworkSharing;
struct ShareAddress;
class SharedChannel;

class AcquisitionEngine : public CommandTarget, private ChannelActions {
public:
    // The real TWAIN session (EngineTwain) unless a stand-in is given.
    explicit AcquisitionEngine(EngineHost& host);
    AcquisitionEngine(EngineHost& host, SharedChannel& channel,
                      std::unique_ptr<TwainSession> twain = nullptr);
    ~AcquisitionEngine() override;
    AcquisitionEngine(const AcquisitionEngine&) = delete;
    AcquisitionEngine& operator=(const AcquisitionEngine&) = delete;

    // Opens the channel. Without it (no room in /dev/shm, say) Velomark runs on, and
    // ChannelError says why.
    void OpenChannel();
    const std::string& ChannelError() const;
    // Serves the command socket (the usual path, or `path`); false with `error`
    // (a second Velomark, an unusable runtime folder): the channel still works.
    bool StartCommands(std::string* error, const std::string& path = std::string());
    std::string SocketPath() const;
    // The window the sources post their notifications to.
    HWND Window() { return m_window.Handle(); }
    TwainSession& Twain() { return *m_twain; }
    const TwainSession& Twain() const { return *m_twain; }

    // Opens the DSM with the engine's window and begins; false when the DSM could not
    // be loaded (the engine runs on without TWAIN).
    bool StartTwain();
    // Turns and commands run from now on.
    void Begin();
    // Turns and commands stop, the socket closes, queued commands are dropped.
    void Shutdown();
    void CloseChannel();
    // The whole end, in order: Shutdown, the source and the DSM, the channel. Twice
    // is safe.
    void Stop();
    bool Begun() const { return m_begun; }

    // Raised while the engine works and while any toolkit handler runs.
    class Nested {
    public:
        Nested() { ++t_nesting; }
        ~Nested() { --t_nesting; }
        Nested(const Nested&) = delete;
        Nested& operator=(const Nested&) = delete;
    };
    // Whether a turn may run now (the rule above).
    bool MayTurn() const;

    // One turn of the program's loop: the poll, the commands clients queued, then
    // each message the sources posted through the TWAIN filter (a source that answers
    // only MSG_PROCESSEVENT gets a null message when none was posted). Does nothing
    // when MayTurn says no.
    void Turn();
    // The pieces of a turn: the desktop program polls on every event it handles, and
    // offers that event to a source that answers only MSG_PROCESSEVENT; stand-ins take
    // a turn apart. The same rule holds for each.
    void Poll(const MSG* event = nullptr);
    void RunQueuedCommands();
    // Waits up to timeoutMs for a posted message or a queued command; for loops
    // without a toolkit. True when there is work.
    bool WaitForWork(int timeoutMs);

    // The road of one transferred image: a document from the host, the channel or
    // its queue, every plain stream; a page of a job with a ticket goes to that job's
    // stream alone (SentToRequester). The host hears of it (PageReceived).
    PublishResult ReceiveImage(HGLOBAL hDib, const TW_IMAGEINFO& info);
    // Whether a job with a ticket runs, and how many wait behind it.
    bool JobRunning() const { return m_jobs.Running(); }
    size_t JobsWaiting() const { return m_jobs.Waiting(); }

    // The TWAIN operations as the menu and the clients start them; a failure is
    // told to the host (Notice). A failed acquisition ends the streams waiting for it.
    BOOL SelectSource() override;
    BOOL Acquire(int nImages) override;
    // A stream's start flag: a client's request like status 2. It joins the
    // acquisition that runs, else acquires (the default source when none was chosen),
    // whatever the menu's greying.
    bool StartStreamAcquisition() override;
    // Message 0x8002: a job with a ticket, queued; false for a malformed ticket or
    // without TWAIN.
    bool StartJobStream(const std::string& ticket, std::shared_ptr<ImageStream> stream) override;
    // A job with a ticket, queued behind the others; its pages go to `requester` alone.
    // User-interface thread.
    void AddJob(const ScanTicket& ticket, std::shared_ptr<JobRequester> requester);
    // Shares every source as an eSCL scanner on `address` (the sources' abilities are
    // read now); false with a sentence when it cannot listen. A network job waits in
    // the queue like any other.
    bool StartSharing(const ShareAddress& address, std::string* error,
                      std::vector<std::string> allowedOrigins = {});
    void StopSharing();
    bool Sharing() const { return m_sharing != nullptr; }
    // http://HOST:PORT/eSCL while sharing, else "".
    std::string SharingUrl() const;
    // Message 0x8003: every source's abilities as JSON.
    bool DescribeSources(std::string* json) override;
    // Command 32783: the command text in the data block.
    void HandleCommandText();

    SharedChannel& Channel() { return m_channel; }
    const ChannelOutbox& Outbox() const;
    // The open streams; null without the command socket (none can open).
    StreamHub* Streams();

    // The command socket's side. Commands run in a turn, never on the server's threads.
    void RunOnUiThread(std::function<void()> task) override;
    bool ExecuteCommand(uint16_t id) override;
    bool AcceptsStreams() override;

private:
    bool AcquisitionRunning() const override;
    bool OtherRequesterJobRunning() const override { return m_jobs.Running(); }
    void RunCommands();
    // The running job's source has closed: its stream ends; then the next job starts
    // when no acquisition runs.
    void FollowJobs();
    // One posted message through the filter; a source that closed ends the streams
    // and lets a waiting request through at once.
    void FilterPosted(const MSG& msg);
    // A message of no kind for a source that must be asked whether it has news.
    MSG NullMessage();
    void NotifyWork();

    EngineHost& m_host;
    SharedChannel& m_channel;
    MessageWindow m_window;
    std::unique_ptr<TwainSession> m_twain;
    StreamHub m_streams;
    std::unique_ptr<CommandServer> m_server;
    std::mutex m_mutex;
    std::condition_variable m_workCame;
    std::deque<std::function<void()>> m_commands;
    bool m_workWaiting = false;
    bool m_begun = false;
    JobQueue m_jobs;
    std::unique_ptr<NetworkSharing> m_sharing;

    static thread_local int t_nesting;
};

}  // namespace velomark
