#include "app/HeadlessVelomark.h"

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <utility>

#include "bridge/ChannelLayout.h"
#include "platform/HeapTuning.h"
#include "res/ResourceIds.h"

namespace {

// The loop's longest sleep: as often as the desktop program's heartbeat.
constexpr int kTurnMs = 20;

// SIGINT and SIGTERM stay blocked in every thread and are taken in the loop, so a
// library that installs handlers of its own (SANE's backends may) cannot turn them
// into an abrupt end.
sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

bool StopAsked() {
    const sigset_t signals = StopSignals();
    const timespec now{};
    return sigtimedwait(&signals, nullptr, &now) > 0;
}

void Event(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

CHeadlessVelomark::CHeadlessVelomark(HeadlessOptions options)
    : m_options(std::move(options)), m_engine(*this) {}

CHeadlessVelomark::~CHeadlessVelomark() { m_engine.Stop(); }

int CHeadlessVelomark::Run() {
    m_engine.OpenChannel();
    if (!m_engine.ChannelError().empty())
        std::fprintf(stderr, "velomark: the client's channel is off: %s\n",
                     m_engine.ChannelError().c_str());
    const bool twain = m_engine.StartTwain();
    std::string error;
    if (!m_engine.StartCommands(&error)) {
        // Without its socket it could not be told to stop by a client, nor stream:
        // most likely another Velomark serves this user already.
        std::fprintf(stderr, "velomark: command socket: %s\n", error.c_str());
        m_engine.Stop();
        return 3;
    }
    Event("ready " + m_engine.SocketPath());
    if (!twain) {
        std::fprintf(stderr, "velomark: Unable to load Twain Driver.\n");
        Event("no-twain");
    }
    if (m_options.share) {
        if (!m_engine.StartSharing(*m_options.share, &error, m_options.allowedOrigins)) {
            std::fprintf(stderr, "velomark: sharing the scanners: %s\n", error.c_str());
            m_engine.Stop();
            return 3;
        }
        Event("eSCL: " + m_engine.SharingUrl());
    }
    while (!StopAsked()) {
        m_engine.WaitForWork(kTurnMs);
        m_engine.Turn();
    }
    m_engine.Stop();
    Event("exit");
    return 0;
}

void CHeadlessVelomark::StepStarted(const char* step) { Event(step); }

// The TWAIN commands while the DSM is open, the command text always; nothing else
// (there is no document to save or window to close).
bool CHeadlessVelomark::CommandEnabled(uint16_t id) {
    if (id == velomark::ID_GET_DIB_BITES) return true;
    return (id == velomark::res::ID_FILE_SELECTSOURCE || id == velomark::res::ID_FILE_ACQUIRE) &&
           m_engine.Twain().IsReady();
}

void CHeadlessVelomark::Notice(const std::string& text) { Event("notice " + text); }

void CHeadlessVelomark::PageReceived(const TW_IMAGEINFO& info, velomark::PublishResult result,
                                     velomark::ImageDocument*) {
    // The channel holds its copy (or its queue does) and every stream its own.
    m_page.Discard();
    Event("image " + std::to_string(info.ImageWidth) + " " + std::to_string(info.ImageLength) +
          " " + std::to_string(info.BitsPerPixel) + " " + velomark::PublishResultText(result));
}

int RunHeadless(const HeadlessOptions& options) {
    // Before any thread starts, so that every thread inherits the mask.
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    KeepImageMemoryWarm();
    // No one is there to answer a dialog.
    setenv("VELOMARK_UNATTENDED", "1", 1);
    CHeadlessVelomark velomark(options);
    return velomark.Run();
}
