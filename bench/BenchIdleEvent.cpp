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
#include "twain/Twain.h"
#include "bench/BenchClock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kEventsPerRound = 1000;

class IdleHost : public CTwain, public velomark::EngineHost, public velomark::ChannelActions {
public:
    BOOL ChooseSource() override { return TRUE; }
    BOOL StartAcquisition(int) override { return TRUE; }
    BOOL SelectSource() override { return TRUE; }
    BOOL Acquire(int) override { return TRUE; }
    bool AcquisitionRunning() const override { return IsSourceEnabled() != FALSE; }
    bool TwainReady() const override { return true; }
    void OfferToSource(const MSG& msg) override { FilterMessage(msg); }
    bool CommandEnabled(uint16_t) override { return false; }
    velomark::ImageDocument* OpenNewDocument() override { return nullptr; }
    void ReceiveImage(HGLOBAL, const TW_IMAGEINFO&) override {}
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
    engine.OpenChannel();
    if (!host.InitTwain(engine.Window()) || !host.CTwain::Acquire(-1) || !host.IsSourceEnabled()) {
        state.SkipWithError("the DSM or the test-chart source could not be enabled");
        return;
    }
    engine.Begin();
    const MSG message{nullptr, WM_TIMER, 1, 0, MessageTime(), {0, 0}};
    MSG copies[kEventsPerRound];
    double eventSeconds = 0, copySeconds = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        if (filter) {
            for (int i = 0; i < kEventsPerRound; ++i) {
                velomark::PollChannel(engine.Channel(), host);
                host.FilterMessage(message);
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
    engine.Shutdown();
    host.ReleaseTwain();
    engine.CloseChannel();
    std::filesystem::remove_all(config);
}
BENCHMARK(BM_IdleEvent_SourceEnabled)
    ->ArgName("poll_and_filter")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
