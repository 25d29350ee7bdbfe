// TWAIN costs. FilterMessage per message while a source is enabled (the real DSM
// and the test-chart source: MSG_PROCESSEVENT and its DAT_STATUS follow-up) and
// while none is (a flag test), each beside a memcpy of the message it copies. The
// test-chart page rate for a US Letter page at 200 dpi in 24-bit colour, beside a
// memcpy of the page's bytes.
//
// Every iteration runs the measured work and its reference one after the other, so
// that both see the same machine load; the counter x_memcpy is the ratio of their
// times.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Window.h"
#include "sources/testchart/TestChartPage.h"
#include "twain/Twain.h"
#include "bench/BenchClock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMessagesPerRound = 1000;

class BenchTwain : public CTwain {
public:
    void ReceiveImage(HGLOBAL, const TW_IMAGEINFO&) override {}
    BOOL Enabled() const { return m_bSourceEnabled; }
};

// The messages a frame sees while idle: none of them is the source's.
MSG IdleMessage(HWND hwnd) { return MSG{hwnd, WM_TIMER, 1, 0, MessageTime(), {0, 0}}; }

void FilterRounds(benchmark::State& state, BenchTwain& twain, HWND hwnd) {
    const MSG message = IdleMessage(hwnd);
    MSG copies[kMessagesPerRound];
    double filterSeconds = 0, copySeconds = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        for (int i = 0; i < kMessagesPerRound; ++i) twain.FilterMessage(message);
        filterSeconds += SecondsSince(start);
        start = Clock::now();
        for (int i = 0; i < kMessagesPerRound; ++i) {
            std::memcpy(&copies[i], &message, sizeof(message));
            benchmark::ClobberMemory();
        }
        copySeconds += SecondsSince(start);
    }
    const double messages = double(state.iterations()) * kMessagesPerRound;
    state.counters["ns_per_message"] = filterSeconds / messages * 1e9;
    state.counters["x_memcpy"] = filterSeconds / copySeconds;
    state.SetItemsProcessed(int64_t(messages));
}

void BM_FilterMessage_NoSource(benchmark::State& state) {
    MessageWindow window;
    BenchTwain twain;  // no DSM loaded: the filter stops at its flag
    FilterRounds(state, twain, window.Handle());
}
BENCHMARK(BM_FilterMessage_NoSource)->Unit(benchmark::kMicrosecond);

void BM_FilterMessage_SourceEnabled(benchmark::State& state) {
    const auto config =
        std::filesystem::temp_directory_path() / ("velomark-bench-" + std::to_string(getpid()));
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("VELOMARK_UNATTENDED", "1", 1);
    setenv("VELOMARK_DEFAULT_SOURCE", "Velomark Test Chart", 1);
    setenv("VELOMARK_TESTCHART_SIZE", "16x16", 1);
    MessageWindow window;
    BenchTwain twain;
    if (!twain.InitTwain(window.Handle()) || !twain.Acquire(-1) || !twain.Enabled()) {
        state.SkipWithError("the DSM or the test-chart source could not be enabled");
        return;
    }
    FilterRounds(state, twain, window.Handle());
    twain.ReleaseTwain();
    std::filesystem::remove_all(config);
}
BENCHMARK(BM_FilterMessage_SourceEnabled)->Unit(benchmark::kMicrosecond);

void BM_TestChartPage_Letter200Rgb(benchmark::State& state) {
    TestChartSettings settings;
    settings.dpi = 200;
    const size_t bytes = TestChartPageBytes(settings);
    std::vector<BYTE> page(bytes), copy(bytes);
    PaintTestChartPage(settings, 1, page.data(), bytes);
    double paintSeconds = 0, copySeconds = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        PaintTestChartPage(settings, 1, page.data(), bytes);
        benchmark::ClobberMemory();
        paintSeconds += SecondsSince(start);
        start = Clock::now();
        std::memcpy(copy.data(), page.data(), bytes);
        benchmark::ClobberMemory();
        copySeconds += SecondsSince(start);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    state.counters["pages_per_s"] = double(state.iterations()) / paintSeconds;
    state.counters["x_memcpy"] = paintSeconds / copySeconds;
}
BENCHMARK(BM_TestChartPage_Letter200Rgb)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
