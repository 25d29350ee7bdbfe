// SANE costs. One colour page, 8 bits a sample, over a US Letter area, from SANE's
// test backend, asked for as a client asks: status word 2 in the shared channel,
// taken up by the poll, through the real DSM, CTwain and sane.ds, handed off by the
// program's own engine (new document, channel) until the client would see status 5.
// Beside it `scanimage --format=pnm > /dev/null` of the same page, timed in the same
// iteration (counter x_scanimage: the ratio of the two). At 300 dpi the page (25 MB
// at 24 bits) is larger than the channel's data block, so it stops at the hand-off
// (its window) instead; at 200 dpi it reaches status 5. Then the frame converter
// alone on the 300 dpi page's bytes, and its share of the whole acquisition.
//
// The test backend's scan area is at most 200 mm a side unless its configuration
// says otherwise, so the benchmark writes its own SANE configuration with a larger
// one; the area moves in whole millimetres, so the page is 216 x 279 mm.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
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

// One acquisition as a client asks for it: status 2, then the program's loop (the
// engine's turns) until the page is handed off. Returns the seconds from the request
// to status 5 (or to the hand-off when the page does not fit the channel); negative
// when the source did not deliver.
double RequestOnePage(PageTwain& twain) {
    velomark::SharedChannel& channel = twain.engine.Channel();
    const int pagesBefore = twain.pages;
    const auto start = Clock::now();
    channel.StoreStatus(velomark::CHANNEL_ACQUIRE);
    double seconds = -1;
    const auto deadline = start + std::chrono::seconds(60);
    do {
        twain.engine.Turn();
        if (seconds < 0 && channel.LoadStatus() == velomark::CHANNEL_IMAGE_READY)
            seconds = SecondsSince(start);
        twain.engine.WaitForWork(seconds < 0 ? 1 : 100);
    } while ((twain.engine.Twain().HasSourceOpen() || twain.pages == pagesBefore) &&
             Clock::now() < deadline);
    if (twain.pages == pagesBefore) return -1;
    if (seconds < 0 && twain.lastResult == velomark::PublishResult::TooLarge)
        seconds = std::chrono::duration<double>(twain.handedOff - start).count();
    channel.StoreStatus(velomark::CHANNEL_IDLE);  // the client took it
    return seconds;
}

void BM_SaneColourLetter(benchmark::State& state) {
    const int dpi = int(state.range(0));
    const fs::path folder = WriteSaneConfig(dpi);
    const std::string scanimage =
        "scanimage -d test:0 --format=pnm " + ScanimageArguments(dpi) + " > /dev/null";
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
    double acquireSeconds = 0, scanimageSeconds = 0;
    for (auto _ : state) {
        const double seconds = RequestOnePage(twain);
        if (seconds < 0) {
            state.SkipWithError("the SANE source did not deliver its page");
            break;
        }
        acquireSeconds += seconds;
        const auto start = Clock::now();
        if (std::system(scanimage.c_str()) != 0) {
            state.SkipWithError("scanimage failed");
            break;
        }
        scanimageSeconds += SecondsSince(start);
    }
    const double pages = double(state.iterations());
    if (twain.pages > 0) {
        state.counters["mb_per_page"] = double(twain.bytes) / twain.pages / 1e6;
        state.counters["ms_per_page"] = acquireSeconds / pages * 1e3;
        state.counters["scanimage_ms"] = scanimageSeconds / pages * 1e3;
        state.counters["x_scanimage"] = acquireSeconds / scanimageSeconds;
        state.counters["reached_status_5"] =
            twain.lastResult == velomark::PublishResult::Published ? 1 : 0;
        if (dpi == 300) g_acquireSeconds = acquireSeconds / pages;
    }
    twain.engine.Stop();
    fs::remove_all(folder);
}
BENCHMARK(BM_SaneColourLetter)->Arg(300)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(10);

// The same page's bytes as the backend sends them: scanimage's PNM body is the
// frame's rows as read (8-bit RGB has no padding here).
bool ScannedFrame(std::vector<uint8_t>* bytes, SANE_Parameters* parameters) {
    const fs::path folder = WriteSaneConfig();
    const fs::path file = folder / "page.pnm";
    const std::string command =
        "scanimage -d test:0 --format=pnm " + ScanimageArguments(300) + " > " + file.string();
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
