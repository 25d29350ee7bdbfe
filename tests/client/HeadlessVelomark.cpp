// Velomark's whole road without its windows, for end-to-end client tests: CTwain
// with the real DSM and data sources, the real channel, poll, command text, image
// hand-off and command socket, and a plain loop on a message window for the
// user-interface thread. It is built the way the main frame is: one object that
// is the TWAIN client, the channel's actions, the document factory and the
// socket's command target.
//
// Prints "ready <socket path>" once it serves ("no-twain" after it when the DSM
// could not be loaded), then one line per event ("select", "acquire",
// "image W H BITS <result>", "notice <text>"). Ends when its standard input closes.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/ChannelActions.h"
#include "bridge/ChannelLayout.h"
#include "bridge/ChannelRequests.h"
#include "bridge/CommandServer.h"
#include "bridge/ImageDocument.h"
#include "bridge/ImageHandoff.h"
#include "bridge/PlainImageDocument.h"
#include "bridge/SharedChannel.h"
#include "dib/Dib.h"
#include "platform/HeapTuning.h"
#include "platform/Window.h"
#include "tests/client/UiTaskQueue.h"
#include "twain/Twain.h"

namespace {

constexpr uint16_t kSelectSourceCommand = 32771;
constexpr uint16_t kAcquireCommand = 32772;
constexpr UINT kWakeMessage = WM_APP + 1;

void Event(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class HeadlessFrame : public CTwain,
                      public velomark::ChannelActions,
                      public velomark::ImageDocumentFactory,
                      public velomark::CommandTarget {
public:
    HeadlessFrame() {
        m_window.SetWakeHandler([] {});
        velomark::SharedChannel::Instance().SetNoticeHandler(
            [](const std::string& text) { Event("notice " + text); });
    }
    ~HeadlessFrame() override {
        velomark::SharedChannel::Instance().SetNoticeHandler(nullptr);
        ReleaseTwain();
    }

    bool Start() { return InitTwain(m_window.Handle()); }

    // The channel's actions are the TWAIN client's own two operations.
    BOOL SelectSource() override {
        Event("select");
        return CTwain::SelectSource();
    }
    BOOL Acquire(int nImages) override {
        Event("acquire");
        if (CTwain::Acquire(nImages)) return TRUE;
        if (m_streams) m_streams->EndAcquisition();
        return FALSE;
    }
    void SetStreams(velomark::StreamHub* streams) { m_streams = streams; }
    bool AcceptsStreams() override { return IsDsmOpen() != FALSE; }
    bool AcquisitionRunning() const override { return IsSourceEnabled() != FALSE; }

    void ReceiveImage(HGLOBAL hImage, const TW_IMAGEINFO& info) override {
        const velomark::PublishResult result =
            velomark::PublishImage(hImage, info.BitsPerPixel, info, *this,
                                   velomark::SharedChannel::Instance(), m_streams);
        Event("image " + std::to_string(info.ImageWidth) + " " + std::to_string(info.ImageLength) +
              " " + std::to_string(info.BitsPerPixel) + " " + velomark::PublishResultText(result));
    }

    velomark::ImageDocument* OpenNewDocument() override {
        return m_documents.emplace_back(std::make_unique<velomark::PlainImageDocument>()).get();
    }

    void RunOnUiThread(std::function<void()> task) override {
        m_queue.Post(std::move(task));
        PostMessage(m_window.Handle(), kWakeMessage, 0, 0);
    }
    // Menu commands are enabled as the frame enables them: the TWAIN items while
    // the DSM is open.
    bool ExecuteCommand(uint16_t id) override {
        if (id == velomark::ID_GET_DIB_BITES) {
            velomark::HandleCommandText(*this);
            return true;
        }
        if ((id == kSelectSourceCommand || id == kAcquireCommand) && IsDsmOpen()) {
            if (id == kSelectSourceCommand)
                SelectSource();
            else
                Acquire(-1);
            return true;
        }
        return false;
    }

    // One turn of the loop: queued tasks, then each message through the poll and
    // the TWAIN filter, as the frame's pre-translation does; the wait doubles as
    // the heartbeat.
    void Turn() {
        m_queue.RunQueued();
        MSG msg;
        if (m_window.Wait(&msg, 5)) {
            velomark::PollChannel(*this);
            const BOOL wasEnabled = IsSourceEnabled();
            FilterMessage(msg);
            if (wasEnabled && !IsSourceEnabled()) {
                if (m_streams) m_streams->EndAcquisition();
                velomark::PollChannel(*this);
            }
        } else {
            velomark::PollChannel(*this);
        }
    }

    void RunQueued() { m_queue.RunQueued(); }

private:
    MessageWindow m_window;
    std::vector<std::unique_ptr<velomark::PlainImageDocument>> m_documents;
    velomark::testing::UiTaskQueue m_queue;
    velomark::StreamHub* m_streams = nullptr;
};

bool InputStillOpen() {
    pollfd entry{STDIN_FILENO, POLLIN, 0};
    if (poll(&entry, 1, 0) <= 0) return true;
    char buffer[64];
    return read(STDIN_FILENO, buffer, sizeof(buffer)) > 0;
}

}  // namespace

int main() {
    KeepImageMemoryWarm();
    velomark::OpenSharedChannel();
    HeadlessFrame frame;
    const bool twain = frame.Start();
    velomark::CommandServer server(frame);
    frame.SetStreams(&server.Streams());
    if (!server.Start()) {
        std::fprintf(stderr, "headless-velomark: %s\n", server.ErrorText().c_str());
        velomark::CloseSharedChannel();
        return 3;
    }
    Event("ready " + server.Path());
    if (!twain) Event("no-twain");
    while (InputStillOpen()) frame.Turn();
    server.Stop();
    frame.SetStreams(nullptr);
    frame.RunQueued();
    frame.ReleaseTwain();
    velomark::CloseSharedChannel();
    return 0;
}
