// The image stream as a whole process: the real program (unattended, the test chart
// at 300 dpi US Letter in colour, 10 pages a batch) and `velomark-client acquire
// --stream -n 10` run from start to end, saving into /dev/shm. Beside it in the same
// run: the test chart making the same 10 pages in this process plus one memcpy of
// each, the work that cannot be avoided. x_reference is the ratio. Needs a display.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "bench/RunningVelomark.h"
#include "platform/GlobalMemory.h"
#include "sources/testchart/TestChartPage.h"
#include "sources/testchart/TestChartSettings.h"
#include "bench/BenchClock.h"

namespace {

using bench::Clock;
using bench::RunningVelomark;

constexpr int kPages = 10;
constexpr int kDpi = 300;

// Runs the client beside the program; its exit code, -1 when it could not run.
int RunClient(const std::vector<std::string>& arguments) {
    const std::string client = (bench::fs::read_symlink("/proc/self/exe").parent_path() /
                                "velomark-client").string();
    std::vector<char*> argv{const_cast<char*>(client.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execv(client.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

double ReferenceSeconds() {
    TestChartSettings settings;
    settings.dpi = kDpi;
    const Clock::time_point start = Clock::now();
    for (int page = 1; page <= kPages; ++page) {
        HGLOBAL block = MakeTestChartPage(settings, page);
        const size_t bytes = GlobalSize(block);
        std::vector<char> copy(bytes);
        std::memcpy(copy.data(), GlobalLock(block), bytes);
        benchmark::DoNotOptimize(copy.data());
        GlobalUnlock(block);
        GlobalFree(block);
    }
    return SecondsSince(start);
}

void BM_StreamTenPagesWholeProcess(benchmark::State& state) {
    RunningVelomark velomark(kDpi, kPages);
    if (!velomark.Ready() || RunClient({"select"}) != 0) {
        state.SkipWithError("Velomark did not start (is there a display?)");
        return;
    }
    const std::string out = "/dev/shm/velomark-bench-stream-" + std::to_string(getpid());
    double streamSeconds = 0, referenceSeconds = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        if (RunClient({"acquire", "--stream", "-n", std::to_string(kPages), "-o", out}) != 0) {
            state.SkipWithError("the stream did not deliver its pages");
            break;
        }
        streamSeconds += SecondsSince(start);
        std::error_code ignored;
        bench::fs::remove_all(out, ignored);
        referenceSeconds += ReferenceSeconds();
        // The source closes after its batch before the next one starts.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    state.counters["ms_stream"] = streamSeconds / double(state.iterations()) * 1e3;
    state.counters["ms_reference"] = referenceSeconds / double(state.iterations()) * 1e3;
    state.counters["x_reference"] = streamSeconds / referenceSeconds;
}
BENCHMARK(BM_StreamTenPagesWholeProcess)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
