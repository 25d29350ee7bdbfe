// The image stream's own cost for a 600 dpi colour Letter page (5100 x 6600, 101
// MB): from the hand-off giving the packed image to the streams (one sealed memory
// file, written once) to the client library holding its read-only mapping, through
// the real command socket. Beside it, in the same iteration, one memcpy of the
// image into a buffer already in use (x_memcpy) and into fresh pages (x_memcpy_fresh,
// what a memory file without pages allocated in advance pays for them too).
// ms_handoff is the part the program's own thread spends (TakeImage). Medians of
// the images after the first; the first (no spare file allocated ahead) apart.
// Registered into the bridge benchmark program.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/CommandServer.h"
#include "bridge/ImageHandoff.h"
#include "bridge/ImageSink.h"
#include "bridge/PlainImageDocument.h"
#include "bridge/SharedChannel.h"
#include "bridge/StreamHub.h"
#include "client/velomark_client.h"
#include "bench/BenchClock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 5100;
constexpr int kHeight = 6600;

class StreamTarget : public velomark::CommandTarget {
public:
    void RunOnUiThread(std::function<void()> task) override { task(); }
    bool ExecuteCommand(uint16_t) override { return true; }
    bool AcceptsStreams() override { return true; }
};

std::vector<unsigned char> LetterPage() {
    const size_t stride = (static_cast<size_t>(kWidth) * 3 + 3) / 4 * 4;
    std::vector<unsigned char> dib(40 + stride * kHeight);
    const int32_t header[] = {40, kWidth, kHeight};
    std::memcpy(dib.data(), header, sizeof(header));
    dib[12] = 1;
    dib[14] = 24;
    for (size_t i = 40; i < dib.size(); ++i) dib[i] = static_cast<unsigned char>(i * 7);
    return dib;
}

// A runtime folder and channel names of the benchmark's own (set before the server
// is made), the command server and one stream client connected to it.
std::string OwnRuntimeFolder(const std::string& name) {
    char folderTemplate[] = "/tmp/velomark-bench-XXXXXX";
    const std::string folder = mkdtemp(folderTemplate);
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    setenv("VELOMARK_CHANNEL_SUFFIX", ("-bench-" + name + "-" + std::to_string(getpid())).c_str(),
           1);
    return folder;
}

struct ConnectedStream {
    explicit ConnectedStream(const std::string& name) : folder(OwnRuntimeFolder(name)) {}
    ~ConnectedStream() {
        if (stream) velomark_stream_close(stream);
        if (client) velomark_close(client);
        server.Stop();
        std::filesystem::remove_all(folder);
    }
    bool Connect() {
        return server.Start() && velomark_open(&client) == VELOMARK_OK &&
               velomark_stream_open(client, 0, 0, &stream) == VELOMARK_OK;
    }
    const std::string folder;
    StreamTarget target;
    velomark::StreamHub streams;
    velomark::CommandServer server{target, streams};
    velomark_client* client = nullptr;
    velomark_stream* stream = nullptr;
};

void BM_StreamLetterPage600Dpi(benchmark::State& state) {
    ConnectedStream connected("stream");
    if (!connected.Connect()) {
        state.SkipWithError("no stream");
        return;
    }
    velomark::CommandServer& server = connected.server;
    velomark_client* client = connected.client;
    velomark_stream* stream = connected.stream;
    const std::vector<unsigned char> page = LetterPage();
    std::vector<unsigned char> copy(page.size());
    const unsigned char info[VELOMARK_IMAGE_INFO_SIZE] = {};
    std::vector<double> streamSeconds, copySeconds, freshSeconds, takeSeconds;
    for (auto _ : state) {
        auto start = Clock::now();
        server.Streams().TakeImage(page.data(), page.size(), info);
        takeSeconds.push_back(SecondsSince(start));
        velomark_image* image = nullptr;
        if (velomark_stream_next(stream, &image, 10000) != VELOMARK_OK) {
            state.SkipWithError(velomark_last_error(client));
            break;
        }
        streamSeconds.push_back(SecondsSince(start));
        velomark_image_release(image);
        // The next image's file is allocated on the hub's own thread, off the
        // hand-off's path; the references run once it is done, on a quiet machine.
        while (!server.Streams().SpareReady()) usleep(1000);

        start = Clock::now();
        std::memcpy(copy.data(), page.data(), page.size());
        benchmark::ClobberMemory();
        copySeconds.push_back(SecondsSince(start));

        start = Clock::now();
        void* fresh = mmap(nullptr, page.size(), PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        std::memcpy(fresh, page.data(), page.size());
        benchmark::ClobberMemory();
        freshSeconds.push_back(SecondsSince(start));
        munmap(fresh, page.size());
    }
    if (streamSeconds.size() < 2 || copySeconds.size() < 2) return;
    // The first image of a stream has no spare file allocated ahead: reported apart.
    // The rest are medians; the hand-off's own share is what the program's thread
    // spends before it goes on.
    state.counters["ms_first_image"] = streamSeconds.front() * 1e3;
    const std::vector<double> later(streamSeconds.begin() + 1, streamSeconds.end());
    state.counters["ms_handoff"] =
        Median({takeSeconds.begin() + 1, takeSeconds.end()}) * 1e3;
    state.counters["ms_stream"] = Median(later) * 1e3;
    state.counters["x_memcpy"] = Median(later) / Median(copySeconds);
    state.counters["x_memcpy_fresh"] = Median(later) / Median(freshSeconds);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
}
BENCHMARK(BM_StreamLetterPage600Dpi)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(12);

// The whole hand-off of the same page with a stream open: PublishImage from the
// source's block to the document and the stream. In place, the page is decoded
// straight into the file the stream sends and the document maps it copy-on-write;
// beside it, in the same iterations, the road without that room (a sink that can
// only copy: decoded, then copied into the file). ms_* are the program thread's
// time, ms_*_to_client until the client holds the page; x_copying is the in-place
// hand-off over the copying one. The page is larger than the channel's section, so
// the channel is left out of both. Medians of the pages after each road's first.
class CopyingSink : public velomark::ImageSink {
public:
    explicit CopyingSink(velomark::StreamHub& hub) : m_hub(hub) {}
    void TakeImage(const void* packed, size_t size, const unsigned char* info) override {
        m_hub.TakeImage(packed, size, info);
    }

private:
    velomark::StreamHub& m_hub;
};

struct LatestDocument : velomark::ImageDocumentFactory {
    std::unique_ptr<velomark::PlainImageDocument> latest;
    velomark::ImageDocument* OpenNewDocument() override {
        latest = std::make_unique<velomark::PlainImageDocument>();
        return latest.get();
    }
};

void BM_HandOffToStream600Dpi(benchmark::State& state) {
    ConnectedStream connected("handoff");
    velomark::SharedChannel& channel = velomark::SharedChannel::Instance();
    channel.Close();
    channel.Open();
    if (!connected.Connect()) {
        state.SkipWithError("no stream");
        return;
    }
    velomark::CommandServer& server = connected.server;
    velomark_client* client = connected.client;
    velomark_stream* stream = connected.stream;
    const std::vector<unsigned char> page = LetterPage();
    HGLOBAL source = GlobalAlloc(GMEM_MOVEABLE, page.size());
    std::memcpy(GlobalLock(source), page.data(), page.size());
    GlobalUnlock(source);
    CopyingSink copying(server.Streams());
    velomark::ImageSink* roads[] = {&server.Streams(), &copying};
    LatestDocument documents;
    TW_IMAGEINFO info{};
    std::vector<double> handoff[2], toClient[2];
    for (auto _ : state) {
        for (int road = 0; road < 2; ++road) {
            // The spare is first wanted by the first page; then it is made ahead.
            for (int waited = 0; waited < 5000 && !server.Streams().SpareReady(); ++waited)
                usleep(1000);
            documents.latest.reset();  // as a person closing the last page
            const auto start = Clock::now();
            velomark::PublishImage(source, 24, info, documents, channel, roads[road]);
            handoff[road].push_back(SecondsSince(start));
            velomark_image* image = nullptr;
            if (velomark_stream_next(stream, &image, 10000) != VELOMARK_OK) {
                state.SkipWithError(velomark_last_error(client));
                break;
            }
            toClient[road].push_back(SecondsSince(start));
            velomark_image_release(image);
        }
    }
    GlobalFree(source);
    channel.Close();
    if (handoff[1].size() < 2) return;
    const auto later = [](const std::vector<double>& v) {
        return Median(std::vector<double>(v.begin() + 1, v.end()));
    };
    state.counters["ms_in_place"] = later(handoff[0]) * 1e3;
    state.counters["ms_copying"] = later(handoff[1]) * 1e3;
    state.counters["ms_in_place_to_client"] = later(toClient[0]) * 1e3;
    state.counters["ms_copying_to_client"] = later(toClient[1]) * 1e3;
    state.counters["x_copying"] = later(handoff[0]) / later(handoff[1]);
}
BENCHMARK(BM_HandOffToStream600Dpi)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(8);

}  // namespace
