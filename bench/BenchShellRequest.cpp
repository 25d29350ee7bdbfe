// A client's request to status 5 through the real program: build/bin/velomark is
// started (unattended, the test chart as default source, one 24-bit US Letter page
// per acquisition) and a client writes status 2, waits for 5, acknowledges. Timed
// per request, median of 20. Beside it, in the same run: the test chart making the
// same page in this process (the work outside Velomark: its share of the request)
// and a memcpy of the page's bytes (the ratio). Needs a display: run under xvfb-run.
//
// BM_DesktopBesideHeadless: the same request to the desktop program and to `velomark
// --headless`, one after the other in the same run, the data section grown to hold
// the page as a client does, the requests spread over the poll's period; x_headless
// is the desktop's median over the headless one.
//
// BM_FirstRequestWithSlowListing: the first request after start, with a source library
// beside the test chart that takes 3 s to list (bench/SlowListingSource.cpp), made as
// soon as the program answers (arg 0) or once the listing had time to end (arg 1),
// beside the median of the requests after it in the same program.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchClock.h"
#include "bench/RunningVelomark.h"
#include "client/velomark_client.h"
#include "platform/GlobalMemory.h"
#include "sources/testchart/TestChartPage.h"
#include "sources/testchart/TestChartSettings.h"

namespace {

using bench::Clock;
using bench::RunningVelomark;
namespace fs = std::filesystem;

constexpr int kRequests = 20;
constexpr int kSlowListingMs = 3000;

double SourcePageSeconds(int dpi) {
    TestChartSettings settings;
    settings.dpi = dpi;
    std::vector<double> times;
    for (int i = 0; i < kRequests; ++i) {
        const Clock::time_point start = Clock::now();
        HGLOBAL page = MakeTestChartPage(settings, 1);
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        GlobalFree(page);
    }
    return Median(times);
}

double MemcpySeconds(size_t bytes) {
    std::vector<char> from(bytes, 1), to(bytes);
    std::vector<double> times;
    for (int i = 0; i < kRequests; ++i) {
        const Clock::time_point start = Clock::now();
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    return Median(times);
}

void BM_RequestToImageReady(benchmark::State& state) {
    const int dpi = static_cast<int>(state.range(0));
    RunningVelomark velomark(dpi, 1);
    if (!velomark.Ready()) {
        state.SkipWithError("Velomark did not start (is there a display?)");
        return;
    }
    size_t bytes = 0;
    velomark.Request(&bytes);  // warm: the DSM lists its sources at the first request
    std::vector<double> times;
    for (auto _ : state) {
        const double seconds = velomark.Request(&bytes);
        if (seconds < 0) {
            state.SkipWithError("no image reached the channel");
            return;
        }
        times.push_back(seconds);
        state.SetIterationTime(seconds);
    }
    const double median = Median(times);
    const double source = SourcePageSeconds(dpi);
    const double copy = MemcpySeconds(bytes);
    state.counters["median_ms"] = median * 1e3;
    state.counters["source_page_ms"] = source * 1e3;
    state.counters["share_outside"] = source / median;
    state.counters["x_memcpy"] = median / copy;
    state.counters["image_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_RequestToImageReady)
    ->Arg(100)
    ->Arg(200)
    ->Iterations(kRequests)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The median request of a fresh program of `kind`, its section grown for 300 dpi
// Letter pages; negative when it did not start or deliver.
double MedianRequest(int dpi, RunningVelomark::Kind kind, size_t* bytes) {
    RunningVelomark velomark(dpi, 1, kind);
    if (!velomark.Ready() || velomark_grow_data(velomark.Client(), size_t(32) << 20) != VELOMARK_OK)
        return -1;
    velomark.Request(bytes);  // warm: the DSM lists its sources at the first request
    std::vector<double> times;
    for (int i = 0; i < kRequests; ++i) {
        // Requests at every phase of the programs' 20 ms poll, the same for both: a
        // fixed pause would meet the poll at the same moment each time.
        std::this_thread::sleep_for(std::chrono::milliseconds(i * 7 % 20));
        const double seconds = velomark.Request(bytes);
        if (seconds < 0) return -1;
        times.push_back(seconds);
    }
    return Median(times);
}

void BM_DesktopBesideHeadless(benchmark::State& state) {
    const int dpi = static_cast<int>(state.range(0));
    double desktop = 0, headless = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        desktop = MedianRequest(dpi, RunningVelomark::Kind::Desktop, &bytes);
        headless = MedianRequest(dpi, RunningVelomark::Kind::Headless, &bytes);
        if (desktop < 0 || headless < 0) {
            state.SkipWithError("a program did not start or deliver (is there a display?)");
            return;
        }
        state.SetIterationTime(desktop);
    }
    state.counters["desktop_ms"] = desktop * 1e3;
    state.counters["headless_ms"] = headless * 1e3;
    state.counters["x_headless"] = desktop / headless;
    state.counters["x_memcpy"] = desktop / MemcpySeconds(bytes);
}
BENCHMARK(BM_DesktopBesideHeadless)
    ->Arg(100)
    ->Arg(300)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

fs::path SlowListingFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bench" / "sources";
}

void BM_FirstRequestWithSlowListing(benchmark::State& state) {
    const bool afterListing = state.range(0) != 0;
    constexpr int kDpi = 100;
    std::vector<double> firsts, laters;
    size_t bytes = 0;
    for (auto _ : state) {
        setenv("VELOMARK_SOURCE_PATH", SlowListingFolder().c_str(), 1);
        setenv("VELOMARK_BENCH_LISTING_MS", std::to_string(kSlowListingMs).c_str(), 1);
        RunningVelomark velomark(kDpi, 1);
        unsetenv("VELOMARK_SOURCE_PATH");
        if (!velomark.Ready()) {
            state.SkipWithError("Velomark did not start (is there a display?)");
            return;
        }
        if (afterListing) {
            // The listing starts with the program; a margin for a loaded machine.
            const double wait = kSlowListingMs / 1e3 + 0.5 - velomark.SinceStart().count();
            if (wait > 0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
        }
        const double first = velomark.Request(&bytes);
        if (first < 0) {
            state.SkipWithError("no image reached the channel");
            return;
        }
        firsts.push_back(first);
        state.SetIterationTime(first);
        for (int i = 0; i < 5; ++i) laters.push_back(velomark.Request(&bytes));
    }
    const double first = Median(firsts);
    const double later = Median(laters);
    const double source = SourcePageSeconds(kDpi);
    state.counters["first_ms"] = first * 1e3;
    state.counters["later_ms"] = later * 1e3;
    state.counters["source_page_ms"] = source * 1e3;
    state.counters["first_per_later"] = first / later;
    state.counters["first_per_source_page"] = first / source;
    state.counters["x_memcpy"] = first / MemcpySeconds(bytes);
}
BENCHMARK(BM_FirstRequestWithSlowListing)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
