// A client's request to status 5 through the real program: build/bin/velomark is
// started (unattended, the test chart as default source, one 24-bit US Letter page
// per acquisition) and a client writes status 2, waits for 5, acknowledges. Timed
// per request, median of 20. Beside it, in the same run: the test chart making the
// same page in this process (the work outside Velomark: its share of the request)
// and a memcpy of the page's bytes (the ratio). Needs a display: run under xvfb-run.
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

#include "bench/RunningVelomark.h"
#include "client/velomark_client.h"
#include "platform/GlobalMemory.h"
#include "sources/testchart/TestChartPage.h"
#include "sources/testchart/TestChartSettings.h"

namespace {

using bench::Clock;
using bench::RunningVelomark;

constexpr int kRequests = 20;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

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

}  // namespace
