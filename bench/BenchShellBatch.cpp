// Memory of a batch that a slow client takes: the real program acquires 30 US
// Letter pages at 200 dpi (11.2 MB each) in one batch, and a client takes one page
// every 100 ms. Reported: Velomark's peak resident memory above its idle memory,
// less the documents' own images (every page keeps its window), beside the goal of
// the waiting queue's 256 MiB in memory plus two pages. Needs a display.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "bench/RunningVelomark.h"

namespace {

using bench::RunningVelomark;

constexpr int kPages = 30;

// A field of /proc/PID/status in bytes (VmRSS, VmHWM); 0 when not found.
double StatusBytes(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) * 1024;
    return 0;
}

void BM_SlowClientBatchPeakMemory(benchmark::State& state) {
    for (auto _ : state) {
        RunningVelomark velomark(200, kPages);
        if (!velomark.Ready()) {
            state.SkipWithError("Velomark did not start (is there a display?)");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const double idle = StatusBytes(velomark.Pid(), "VmRSS");
        velomark_client* client = velomark.Client();
        velomark_request(client, VELOMARK_STATUS_ACQUIRE);
        size_t pageBytes = 0;
        int pages = 0;
        for (; pages < kPages; ++pages) {
            if (velomark_wait_image(client, 60000) != VELOMARK_OK) break;
            velomark_image_size(client, &pageBytes);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            velomark_acknowledge(client);
        }
        if (pages < kPages) {
            state.SkipWithError("not every page reached the client");
            return;
        }
        const double peak = StatusBytes(velomark.Pid(), "VmHWM");
        const double documents = static_cast<double>(pageBytes) * kPages;
        const double queue = peak - idle - documents;
        const double goal = 256.0 * (1 << 20) + 2.0 * static_cast<double>(pageBytes);
        state.counters["idle_MB"] = idle / 1e6;
        state.counters["peak_MB"] = peak / 1e6;
        state.counters["documents_MB"] = documents / 1e6;
        state.counters["beyond_documents_MB"] = queue / 1e6;
        state.counters["goal_MB"] = goal / 1e6;
        state.counters["x_goal"] = queue / goal;
    }
}
BENCHMARK(BM_SlowClientBatchPeakMemory)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
