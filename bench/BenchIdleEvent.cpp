// The cost of one idle event in the desktop program while a source is enabled (the
// real DSM and the test chart, enabled and never drained), beside a memcpy of the
// message, in the same iteration:
//  - engine: what an event costs now, AcquisitionEngine::Poll (the re-entry rule and
//    one load of the status word): toolkit events no longer reach the TWAIN filter;
//  - poll_and_filter: what it cost when every event went on to FilterMessage
//    (MSG_PROCESSEVENT through the DSM to the source, and its DAT_STATUS follow-up).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "bridge/ChannelActions.h"
#include "bridge/ChannelRequests.h"
#include "bridge/SharedChannel.h"
#include "engine/AcquisitionEngine.h"
#include "engine/EngineHost.h"
#include "bench/BenchClock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kEventsPerRound = 1000;

// The host, and the poll's actions of the old road (which start nothing).
class IdleHost : public velomark::EngineHost, public velomark::ChannelActions {
public:
    BOOL SelectSource() override { return TRUE; }
    BOOL Acquire(int) override { return TRUE; }
    bool AcquisitionRunning() const override { return twain && twain->IsRunning(); }
    bool CommandEnabled(uint16_t) override { return false; }
    velomark::ImageDocument* OpenNewDocument() override { return nullptr; }
    const velomark::TwainSession* twain = nullptr;
};

void BM_IdleEvent_SourceEnabled(benchmark::State& state) {
    const bool filter = state.range(0) != 0;
    const auto config =
        std::filesystem::temp_directory_path() / ("velomark-bench-idle-" + std::to_string(getpid()));
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("VELOMARK_UNATTENDED", "1", 1);
    setenv("VELOMARK_DEFAULT_SOURCE", "Velomark Test Chart", 1);
    setenv("VELOMARK_TESTCHART_SIZE", "16x16", 1);
    setenv("VELOMARK_CHANNEL_SUFFIX", ("-bench-idle-" + std::to_string(getpid())).c_str(), 1);
    IdleHost host;
    velomark::AcquisitionEngine engine(host);
    velomark::TwainSession& twain = engine.Twain();
    host.twain = &twain;
    engine.OpenChannel();
    if (!engine.StartTwain() || !twain.StartAcquisition(-1) || !twain.IsRunning()) {
        state.SkipWithError("the DSM or the test-chart source could not be enabled");
        return;
    }
    const MSG message{nullptr, WM_TIMER, 1, 0, MessageTime(), {0, 0}};
    MSG copies[kEventsPerRound];
    double eventSeconds = 0, copySeconds = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        if (filter) {
            for (int i = 0; i < kEventsPerRound; ++i) {
                velomark::PollChannel(engine.Channel(), host);
                twain.OfferMessage(message);
            }
        } else {
            for (int i = 0; i < kEventsPerRound; ++i) engine.Poll();
        }
        eventSeconds += SecondsSince(start);
        start = Clock::now();
        for (int i = 0; i < kEventsPerRound; ++i) {
            std::memcpy(&copies[i], &message, sizeof(message));
            benchmark::ClobberMemory();
        }
        copySeconds += SecondsSince(start);
    }
    const double events = double(state.iterations()) * kEventsPerRound;
    state.counters["ns_per_event"] = eventSeconds / events * 1e9;
    state.counters["x_memcpy"] = eventSeconds / copySeconds;
    engine.Stop();
    std::filesystem::remove_all(config);
}
BENCHMARK(BM_IdleEvent_SourceEnabled)
    ->ArgName("poll_and_filter")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
