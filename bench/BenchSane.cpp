// SANE costs. One colour page, 8 bits a sample, over a US Letter area, from SANE's
// test backend, asked for as a client asks: status word 2 in the shared channel,
// taken up by the poll, through the real DSM, CTwain and sane.ds, handed off by the
// program's own engine (new document, channel) until a client watching the status
// word sees status 5. Beside it `scanimage --format=pnm > /dev/null` of the same page,
// timed in the same iteration (counter x_scanimage: the ratio of the two medians).
// The data section is grown to 32 MB first, as a client that wants 300 dpi colour
// pages (25 MB) does, so both resolutions reach status 5. Then the frame converter
// alone on the 300 dpi page's bytes, and its share of the whole acquisition.
//
// The test backend's scan area is at most 200 mm a side unless its configuration
// says otherwise, so the benchmark writes its own SANE configuration with a larger
// one; the area moves in whole millimetres, so the page is 216 x 279 mm. scanimage
// runs under `timeout`: once in a while it never returns from sane_exit (a reader
// thread of the backend cancelled while it held the loader's lock).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/ChannelLayout.h"
#include "bridge/PlainImageDocument.h"
#include "bridge/SharedChannel.h"
#include "engine/AcquisitionEngine.h"
#include "engine/EngineHost.h"
#include "platform/HeapTuning.h"
#include "sources/sane/SaneImageConverter.h"
#include "dib/Dib.h"
#include "bench/BenchClock.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Options(int dpi) {
    return "mode=Color,depth=8,resolution=" + std::to_string(dpi) +
           ",tl-x=0,tl-y=0,br-x=216,br-y=279,test-picture=Color pattern";
}
std::string ScanimageArguments(int dpi) {
    return "--mode=Color --depth=8 --resolution=" + std::to_string(dpi) +
           " -l 0 -t 0 -x 216 -y 279 --test-picture='Color pattern'";
}

double g_acquireSeconds = 0;  // per page, for the converter's share

// The engine's host without windows: the document factory (the latest document
// only) and what became of each page.
class PageTwain : public velomark::EngineHost {
public:
    bool CommandEnabled(uint16_t) override { return false; }
    void PageReceived(const TW_IMAGEINFO&, velomark::PublishResult result,
                      velomark::ImageDocument* page) override {
        if (page) bytes += size_t(page->Image().GetDIBSize());
        ++pages;
        lastResult = result;
        handedOff = Clock::now();
    }
    velomark::ImageDocument* OpenNewDocument() override {
        latest = std::make_unique<velomark::PlainImageDocument>();
        return latest.get();
    }
    size_t bytes = 0;
    int pages = 0;
    velomark::PublishResult lastResult = velomark::PublishResult::NoDocument;
    Clock::time_point handedOff;
    std::unique_ptr<velomark::PlainImageDocument> latest;
    velomark::AcquisitionEngine engine{*this};
};

// A SANE configuration of the benchmark's own: the test backend, one device, a scan
// area large enough for US Letter.
fs::path WriteSaneConfig(int dpi = 300) {
    const fs::path folder =
        fs::temp_directory_path() / ("velomark-bench-sane-" + std::to_string(getpid()));
    fs::create_directories(folder / "config");
    std::ofstream(folder / "dll.conf") << "test\n";
    std::ofstream(folder / "test.conf") << "number_of_devices 1\ngeometry_max 300.0\n";
    setenv("SANE_CONFIG_DIR", folder.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    setenv("VELOMARK_UNATTENDED", "1", 1);
    setenv("VELOMARK_DEFAULT_SOURCE", "test:0", 1);
    setenv("VELOMARK_SANE_OPTIONS", Options(dpi).c_str(), 1);
    setenv("VELOMARK_CHANNEL_SUFFIX", ("-bench-sane-" + std::to_string(getpid())).c_str(), 1);
    return folder;
}

// The status word as a client sees it: its own read-only mapping of the status
// section, polled every 0.1 ms (the client library polls every 1 ms) on a thread of
// its own, so that the time is the one at which a client could take the page, not
// the one at which the program's loop is through with its turn.
class StatusWatcher {
public:
    StatusWatcher() {
        const std::string name =
            "/" + velomark::ChannelSectionName(velomark::kStatusSectionName);
        const int fd = shm_open(name.c_str(), O_RDONLY, 0);
        if (fd < 0) return;
        void* view = mmap(nullptr, sizeof(int32_t), PROT_READ, MAP_SHARED, fd, 0);
        close(fd);
        if (view != MAP_FAILED) m_word = static_cast<const std::atomic<int32_t>*>(view);
    }
    ~StatusWatcher() {
        if (m_word) munmap(const_cast<std::atomic<int32_t>*>(m_word), sizeof(int32_t));
    }
    bool Ready() const { return m_word != nullptr; }
    // Polls until the status is 5 or `stop` is set; the moment it was first seen.
    void Watch(const std::atomic<bool>& stop, std::optional<Clock::time_point>* seen) const {
        while (!stop.load()) {
            if (m_word->load(std::memory_order_acquire) == velomark::CHANNEL_IMAGE_READY) {
                *seen = Clock::now();
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }

private:
    const std::atomic<int32_t>* m_word = nullptr;
};

// One acquisition as a client asks for it: status 2, then the program's loop (the
// engine's turns) until the page is handed off and the source closed. Returns the
// seconds from the request to status 5 as the watcher saw it (or to the hand-off
// when the page does not fit the channel); negative when the source did not deliver.
double RequestOnePage(PageTwain& twain, const StatusWatcher& watcher) {
    velomark::SharedChannel& channel = twain.engine.Channel();
    const int pagesBefore = twain.pages;
    std::atomic<bool> stop{false};
    std::optional<Clock::time_point> seen;
    std::thread watching([&] { watcher.Watch(stop, &seen); });
    const auto start = Clock::now();
    channel.StoreStatus(velomark::CHANNEL_ACQUIRE);
    const auto deadline = start + std::chrono::seconds(60);
    do {
        twain.engine.Turn();
        twain.engine.WaitForWork(1);
    } while ((twain.engine.Twain().HasSourceOpen() || twain.pages == pagesBefore) &&
             Clock::now() < deadline);
    stop = true;
    watching.join();
    if (twain.pages == pagesBefore) return -1;
    double seconds = -1;
    if (seen) seconds = std::chrono::duration<double>(*seen - start).count();
    else if (twain.lastResult == velomark::PublishResult::TooLarge)
        seconds = std::chrono::duration<double>(twain.handedOff - start).count();
    channel.StoreStatus(velomark::CHANNEL_IDLE);  // the client took it
    return seconds;
}

void BM_SaneColourLetter(benchmark::State& state) {
    const int dpi = int(state.range(0));
    const fs::path folder = WriteSaneConfig(dpi);
    const std::string scanimage =
        "timeout 60 scanimage -d test:0 --format=pnm " + ScanimageArguments(dpi) + " > /dev/null";
    if (std::system("scanimage --version > /dev/null 2>&1") != 0) {
        state.SkipWithError("scanimage (sane-utils) is not installed");
        return;
    }
    PageTwain twain;
    twain.engine.OpenChannel();
    // As a client that wants 300 dpi colour pages (25.2 MB) does: a larger section.
    std::string sectionName = "/";
    sectionName += velomark::ChannelSectionName(velomark::kDataSectionName);
    const int section = shm_open(sectionName.c_str(), O_RDWR, 0);
    if (section >= 0) {
        if (posix_fallocate(section, 0, off_t(32) << 20) != 0)
            state.SkipWithError("the data section could not be grown");
        close(section);
    }
    if (!twain.engine.StartTwain()) {
        state.SkipWithError("the DSM could not be loaded");
        return;
    }
    const StatusWatcher watcher;
    if (!watcher.Ready()) {
        state.SkipWithError("the status section could not be mapped");
        return;
    }
    std::vector<double> acquireSeconds, scanimageSeconds;
    for (auto _ : state) {
        const double seconds = RequestOnePage(twain, watcher);
        if (seconds < 0) {
            state.SkipWithError("the SANE source did not deliver its page");
            break;
        }
        acquireSeconds.push_back(seconds);
        const auto start = Clock::now();
        if (std::system(scanimage.c_str()) != 0) {
            state.SkipWithError("scanimage failed");
            break;
        }
        scanimageSeconds.push_back(SecondsSince(start));
    }
    // Medians, and the best page of each: a backend that hands its bytes from a
    // reader thread through a pipe (the test backend, and scanimage with it) takes
    // about 10 ms when the scheduler keeps both ends on one core and about 20 ms when
    // it spreads them over two, whichever program reads; the best pages compare the
    // two programs' own costs. The first page (no worker started ahead, nothing
    // warm) is reported apart.
    if (twain.pages > 0 && !acquireSeconds.empty()) {
        const double acquire = Median(acquireSeconds), scanimageMedian = Median(scanimageSeconds);
        state.counters["mb_per_page"] = double(twain.bytes) / twain.pages / 1e6;
        state.counters["ms_per_page"] = acquire * 1e3;
        state.counters["ms_first_page"] = acquireSeconds.front() * 1e3;
        state.counters["scanimage_ms"] = scanimageMedian * 1e3;
        state.counters["x_scanimage"] = acquire / scanimageMedian;
        const double best = *std::min_element(acquireSeconds.begin() + 1, acquireSeconds.end());
        const double scanimageBest =
            *std::min_element(scanimageSeconds.begin(), scanimageSeconds.end());
        state.counters["ms_best_page"] = best * 1e3;
        state.counters["x_scanimage_best"] = best / scanimageBest;
        state.counters["reached_status_5"] =
            twain.lastResult == velomark::PublishResult::Published ? 1 : 0;
        if (dpi == 300) g_acquireSeconds = acquire;
    }
    twain.engine.Stop();
    fs::remove_all(folder);
}
BENCHMARK(BM_SaneColourLetter)->Arg(300)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(20);

// The same page's bytes as the backend sends them: scanimage's PNM body is the
// frame's rows as read (8-bit RGB has no padding here).
bool ScannedFrame(std::vector<uint8_t>* bytes, SANE_Parameters* parameters) {
    const fs::path folder = WriteSaneConfig();
    const fs::path file = folder / "page.pnm";
    const std::string command =
        "timeout 60 scanimage -d test:0 --format=pnm " + ScanimageArguments(300) + " > " +
        file.string();
    const bool scanned = std::system(command.c_str()) == 0;
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maxval = 0;
    std::string line;
    std::getline(in, magic);
    while (in.peek() == '#') std::getline(in, line);
    in >> width >> height >> maxval;
    in.get();
    bytes->assign(size_t(width) * size_t(height) * 3, 0);
    in.read(reinterpret_cast<char*>(bytes->data()), std::streamsize(bytes->size()));
    const bool whole =
        scanned && magic == "P6" && maxval == 255 && in.gcount() == std::streamsize(bytes->size());
    *parameters = SANE_Parameters{SANE_FRAME_RGB, 1, width * 3, width, height, 8};
    fs::remove_all(folder);
    return whole && width > 0;
}

void BM_SaneConverterOnly(benchmark::State& state) {
    std::vector<uint8_t> bytes;
    SANE_Parameters parameters{};
    if (!ScannedFrame(&bytes, &parameters)) {
        state.SkipWithError("scanimage could not scan the page");
        return;
    }
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        SaneImageConverter converter;
        std::string error;
        converter.BeginFrame(parameters, &error);
        converter.Append(bytes.data(), bytes.size());
        TW_IMAGEINFO info{};
        HGLOBAL dib = converter.MakeDib(300, &info, &error);
        benchmark::DoNotOptimize(dib);
        GlobalFree(dib);
        seconds += SecondsSince(start);
    }
    const double pages = double(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
    state.counters["ms_per_page"] = seconds / pages * 1e3;
    if (g_acquireSeconds > 0)
        state.counters["share_of_acquisition"] = seconds / pages / g_acquireSeconds;
}
BENCHMARK(BM_SaneConverterOnly)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    KeepImageMemoryWarm();  // as the program does
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
