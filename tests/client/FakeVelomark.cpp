// A stand-in for the Velomark program, for the client tests: the program's own
// acquisition engine (channel, request poll, command text, image hand-off, command
// socket) in a plain loop, with synthetic images for the scanner.
//
//   fake-velomark [--images N] [--bits 8|24] [--warm-up MS] [--no-poll]
//                 [--refuse-text-command]
//
// Like a scanner, it takes a moment (--warm-up, default 100 ms) from the request to
// the first image, so that a client can read the command's reply text before the
// image takes its place.
// Prints "ready <socket path>" once it serves, then one line per event ("select",
// "acquire", "published K"). Ends when its standard input closes.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/ChannelLayout.h"
#include "bridge/PlainImageDocument.h"
#include "bridge/SharedChannel.h"
#include "engine/AcquisitionEngine.h"
#include "engine/EngineHost.h"
#include "platform/GlobalMemory.h"
#include "tests/client/SyntheticImage.h"
#include "tests/engine/StandInSession.h"

namespace {

using velomark::testing::SyntheticImage;

struct Options {
    int imagesPerAcquire = 3;
    int bits = 8;
    int warmUpMs = 100;
    bool poll = true;
    bool refuseTextCommand = false;
};

void Event(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// The engine's host and its TWAIN session: a scanner of synthetic images, no DSM,
// no streams; of the commands only the command text (unless refused).
class Scanner : public velomark::EngineHost {
public:
    explicit Scanner(const Options& options) : m_options(options) {
        m_session->ready = false;  // no streams
        m_session->onAcquire = [this](int nImages) { StartImages(nImages); };
    }

    velomark::AcquisitionEngine& Engine() { return m_engine; }

    void StepStarted(const char* step) override { Event(step); }
    bool CommandEnabled(uint16_t id) override {
        return id == velomark::ID_GET_DIB_BITES && !m_options.refuseTextCommand;
    }
    velomark::ImageDocument* OpenNewDocument() override {
        return m_documents.emplace_back(std::make_unique<velomark::PlainImageDocument>()).get();
    }
    void StartImages(int nImages) {
        m_pending += nImages < 0 ? m_options.imagesPerAcquire : nImages;
        m_firstImageAt = Clock::now() + std::chrono::milliseconds(m_options.warmUpMs);
    }

    // One image per call, whether or not the client took the previous one: the
    // channel keeps later images waiting until it has.
    void PublishNext() {
        if (m_pending == 0 || Clock::now() < m_firstImageAt) return;
        std::vector<unsigned char> bytes =
            SyntheticImage::PackedSource(m_published, m_options.bits);
        HGLOBAL hDib = GlobalAlloc(GHND, bytes.size());
        std::memcpy(GlobalLock(hDib), bytes.data(), bytes.size());
        GlobalUnlock(hDib);
        TW_IMAGEINFO info{};
        info.XResolution.Whole = 300;
        info.YResolution.Whole = 150;
        info.YResolution.Frac = 0x8000;
        info.ImageWidth = SyntheticImage::kWidth;
        info.ImageLength = SyntheticImage::kHeight;
        info.SamplesPerPixel = m_options.bits == 8 ? 1 : 3;
        for (int i = 0; i < info.SamplesPerPixel; ++i) info.BitsPerSample[i] = 8;
        info.BitsPerPixel = static_cast<TW_INT16>(m_options.bits);
        info.PixelType = m_options.bits == 8 ? TWPT_PALETTE : TWPT_RGB;
        info.Compression = TWCP_NONE;
        const velomark::PublishResult result = m_engine.ReceiveImage(hDib, info);
        GlobalFree(hDib);
        if (result != velomark::PublishResult::Published &&
            result != velomark::PublishResult::Queued) {
            Event(std::string("publish failed: ") + velomark::PublishResultText(result));
            m_pending = 0;
            return;
        }
        Event("published " + std::to_string(m_published));
        ++m_published;
        --m_pending;
    }

private:
    using Clock = std::chrono::steady_clock;
    const Options& m_options;
    std::vector<std::unique_ptr<velomark::PlainImageDocument>> m_documents;
    velomark::StandInSession* m_session = new velomark::StandInSession;  // the engine's
    velomark::AcquisitionEngine m_engine{*this, velomark::SharedChannel::Instance(),
                                         std::unique_ptr<velomark::TwainSession>(m_session)};
    Clock::time_point m_firstImageAt;
    int m_pending = 0;
    int m_published = 0;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--images" && i + 1 < argc) {
            options.imagesPerAcquire = std::atoi(argv[++i]);
        } else if (arg == "--bits" && i + 1 < argc) {
            options.bits = std::atoi(argv[++i]);
            if (options.bits != 8 && options.bits != 24) return false;
        } else if (arg == "--warm-up" && i + 1 < argc) {
            options.warmUpMs = std::atoi(argv[++i]);
        } else if (arg == "--no-poll") {
            options.poll = false;
        } else if (arg == "--refuse-text-command") {
            options.refuseTextCommand = true;
        } else {
            return false;
        }
    }
    return true;
}

// True while standard input is open; waits up to the given time for it to close.
bool InputStillOpen(int timeoutMs) {
    pollfd entry{STDIN_FILENO, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) return true;
    char buffer[64];
    return read(STDIN_FILENO, buffer, sizeof(buffer)) > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "fake-velomark: bad arguments\n");
        return 2;
    }
    Scanner scanner(options);
    velomark::AcquisitionEngine& engine = scanner.Engine();
    engine.OpenChannel();
    if (!engine.Channel().DataBlock() || !engine.Channel().StatusBlock()) {
        std::fprintf(stderr, "fake-velomark: cannot open the channel\n");
        return 1;
    }
    engine.Begin();
    std::string error;
    if (!engine.StartCommands(&error)) {
        std::fprintf(stderr, "fake-velomark: %s\n", error.c_str());
        engine.Shutdown();
        engine.CloseChannel();
        return 3;
    }
    Event("ready " + engine.SocketPath());
    while (InputStillOpen(2)) {
        if (options.poll)
            engine.Turn();
        else
            engine.RunQueuedCommands();
        scanner.PublishNext();
    }
    engine.Shutdown();
    engine.CloseChannel();
    return 0;
}
