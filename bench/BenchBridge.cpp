// Bridge costs, each beside a reference measured in the same iteration:
//  - PublishImage of a 2400 x 2200 24-bit image (placed in the data block, loaded
//    into the page, the page handed to the document) against one memcpy of its
//    bytes, and of the same at 8 bits against its expansion plus one memcpy;
//  - ExpandTo24 of an 8-bit 2400 x 2200 image against a memcpy of the 24-bit result;
//  - PollChannel with nothing to do, per call, against a plain load of the word.
// The counter x_memcpy (x_reference, x_load) is the ratio of the two times. The heap is tuned
// as the program tunes it (platform/HeapTuning.h).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bridge/ChannelActions.h"
#include "bridge/ChannelRequests.h"
#include "bridge/ImageDocument.h"
#include "bridge/ImageHandoff.h"
#include "bridge/PlainImageDocument.h"
#include "bridge/SharedChannel.h"
#include "dib/Dib.h"
#include "dib/DibExpand.h"
#include "platform/HeapTuning.h"
#include "bench/BenchClock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 2400;
constexpr int kHeight = 2200;

// Keeps only the latest document, as a user closing windows would.
struct Documents : velomark::ImageDocumentFactory {
    std::unique_ptr<velomark::PlainImageDocument> latest;
    velomark::ImageDocument* OpenNewDocument() override {
        latest = std::make_unique<velomark::PlainImageDocument>();
        return latest.get();
    }
};

struct NoActions : velomark::ChannelActions {
    BOOL SelectSource() override { return TRUE; }
    BOOL Acquire(int) override { return TRUE; }
};

// A packed DIB of the benchmark size with some content.
HGLOBAL MakeImage(int bits) {
    CDIB dib;
    dib.Create(kWidth, kHeight, bits);
    if (bits == 8) {
        RGBQUAD grey[256];
        for (int i = 0; i < 256; ++i) grey[i] = {BYTE(i), BYTE(i), BYTE(i), 0};
        dib.SetColorTable(grey);
    }
    for (int y = 0; y < kHeight; ++y) {
        BYTE* row = dib.GetRowPtr(y);
        for (int i = 0; i < dib.m_nStride; ++i) row[i] = BYTE(i * 7 + y);
    }
    return dib.PackToGlobal();
}

// A channel of the benchmark's own, so that a running Velomark is not disturbed.
velomark::SharedChannel& BenchChannel() {
    static bool opened = [] {
        setenv("VELOMARK_CHANNEL_SUFFIX", ("-bench-" + std::to_string(getpid())).c_str(), 1);
        velomark::SharedChannel::Instance().Open();
        return true;
    }();
    (void)opened;
    return velomark::SharedChannel::Instance();
}

// A page of `bits` published (loaded or expanded into the page, then placed),
// beside what it cannot do without, in the same iteration: a memcpy of the 24-bit
// page, and for an 8-bit page its expansion first. x_reference is the ratio.
void BM_PublishImage(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    velomark::SharedChannel& channel = BenchChannel();
    HGLOBAL image = MakeImage(bits);
    CDIB source, page;
    source.CreateFromHandle(image, bits);
    if (bits == 24)
        page.CopyFrom(source);
    else
        velomark::ExpandTo24(source, page);
    const size_t bytes = static_cast<size_t>(page.GetDIBSize());
    std::vector<BYTE> copy(bytes);
    Documents documents;
    TW_IMAGEINFO info{};
    info.BitsPerPixel = static_cast<TW_INT16>(bits);
    double publishSeconds = 0, referenceSeconds = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        if (velomark::PublishImage(image, bits, info, documents, channel) !=
            velomark::PublishResult::Published)
            state.SkipWithError("not published");
        publishSeconds += SecondsSince(start);
        channel.StoreStatus(0);
        start = Clock::now();
        if (bits != 24) velomark::ExpandTo24(source, page);
        std::memcpy(copy.data(), page.m_pBlock, bytes);
        benchmark::ClobberMemory();
        referenceSeconds += SecondsSince(start);
    }
    GlobalFree(image);
    state.counters["x_reference"] = publishSeconds / referenceSeconds;
    state.counters["ms_publish"] = publishSeconds / double(state.iterations()) * 1e3;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_ExpandTo24(benchmark::State& state) {
    HGLOBAL image = MakeImage(8);
    CDIB source;
    source.CreateFromHandle(image, 8);
    GlobalFree(image);
    CDIB target;
    velomark::ExpandTo24(source, target);
    const size_t bytes = static_cast<size_t>(target.m_nStride) * kHeight;
    std::vector<BYTE> copy(bytes);
    double expandSeconds = 0, copySeconds = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        velomark::ExpandTo24(source, target);
        benchmark::ClobberMemory();
        expandSeconds += SecondsSince(start);
        start = Clock::now();
        std::memcpy(copy.data(), target.m_pBits, bytes);
        benchmark::ClobberMemory();
        copySeconds += SecondsSince(start);
    }
    state.counters["x_memcpy"] = expandSeconds / copySeconds;
    state.counters["ms_expand"] = expandSeconds / double(state.iterations()) * 1e3;
}

void BM_PollChannelIdle(benchmark::State& state) {
    velomark::SharedChannel& channel = BenchChannel();
    channel.StoreStatus(0);
    NoActions actions;
    constexpr int kPolls = 10000;
    double pollSeconds = 0, loadSeconds = 0;
    const volatile int32_t* word = reinterpret_cast<const int32_t*>(channel.StatusBlock());
    for (auto _ : state) {
        auto start = Clock::now();
        for (int i = 0; i < kPolls; ++i) velomark::PollChannel(actions);
        pollSeconds += SecondsSince(start);
        start = Clock::now();
        int32_t sum = 0;
        for (int i = 0; i < kPolls; ++i) sum += *word;
        benchmark::DoNotOptimize(sum);
        loadSeconds += SecondsSince(start);
    }
    const double polls = double(state.iterations()) * kPolls;
    state.counters["ns_per_poll"] = pollSeconds / polls * 1e9;
    state.counters["x_load"] = pollSeconds / loadSeconds;
}

}  // namespace

BENCHMARK(BM_PublishImage)->ArgName("bits")->Arg(24)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExpandTo24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollChannelIdle);

int main(int argc, char** argv) {
    KeepImageMemoryWarm();  // as the program does
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    velomark::SharedChannel::Instance().Close();
    return 0;
}
