// SANE costs. One colour page, 8 bits a sample, 300 dpi, over a US Letter area, from
// SANE's test backend through the real DSM, CTwain and sane.ds to the DIB in hand,
// beside `scanimage --format=pnm > /dev/null` of the same page timed in the same
// iteration (counter x_scanimage: the ratio of the two). Then the frame converter
// alone on the same page's bytes, and its share of the whole acquisition.
//
// The test backend's scan area is at most 200 mm a side unless its configuration
// says otherwise, so the benchmark writes its own SANE configuration with a larger
// one; the area moves in whole millimetres, so the page is 216 x 279 mm.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Window.h"
#include "sources/sane/SaneImageConverter.h"
#include "twain/Twain.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kOptions =
    "mode=Color,depth=8,resolution=300,tl-x=0,tl-y=0,br-x=216,br-y=279,"
    "test-picture=Color pattern";
constexpr const char* kScanimageArguments =
    "--mode=Color --depth=8 --resolution=300 -l 0 -t 0 -x 216 -y 279 "
    "--test-picture='Color pattern'";

double g_acquireSeconds = 0;  // per page, for the converter's share

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class PageTwain : public CTwain {
public:
    void ReceiveImage(HGLOBAL image, const TW_IMAGEINFO&) override {
        bytes += GlobalSize(image);
        ++pages;
    }
    size_t bytes = 0;
    int pages = 0;
};

// A SANE configuration of the benchmark's own: the test backend, one device, a scan
// area large enough for US Letter.
fs::path WriteSaneConfig() {
    const fs::path folder =
        fs::temp_directory_path() / ("velomark-bench-sane-" + std::to_string(getpid()));
    fs::create_directories(folder / "config");
    std::ofstream(folder / "dll.conf") << "test\n";
    std::ofstream(folder / "test.conf") << "number_of_devices 1\ngeometry_max 300.0\n";
    setenv("SANE_CONFIG_DIR", folder.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    setenv("VELOMARK_UNATTENDED", "1", 1);
    setenv("VELOMARK_DEFAULT_SOURCE", "test:0", 1);
    setenv("VELOMARK_SANE_OPTIONS", kOptions, 1);
    return folder;
}

// One unattended acquisition; false when the source did not deliver and close.
bool AcquireOnePage(PageTwain& twain, MessageWindow& window) {
    if (!twain.Acquire(-1)) return false;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    MSG msg;
    while (twain.IsSourceOpen() && Clock::now() < deadline)
        if (window.Wait(&msg, 100)) twain.FilterMessage(msg);
    return !twain.IsSourceOpen();
}

void BM_SaneColourLetter300(benchmark::State& state) {
    const fs::path folder = WriteSaneConfig();
    const std::string scanimage =
        "scanimage -d test:0 --format=pnm " + std::string(kScanimageArguments) + " > /dev/null";
    if (std::system("scanimage --version > /dev/null 2>&1") != 0) {
        state.SkipWithError("scanimage (sane-utils) is not installed");
        return;
    }
    MessageWindow window;
    PageTwain twain;
    if (!twain.InitTwain(window.Handle())) {
        state.SkipWithError("the DSM could not be loaded");
        return;
    }
    double acquireSeconds = 0, scanimageSeconds = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        if (!AcquireOnePage(twain, window)) {
            state.SkipWithError("the SANE source did not deliver its page");
            break;
        }
        acquireSeconds += SecondsSince(start);
        start = Clock::now();
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
        g_acquireSeconds = acquireSeconds / pages;
    }
    twain.ReleaseTwain();
    fs::remove_all(folder);
}
BENCHMARK(BM_SaneColourLetter300)->Unit(benchmark::kMillisecond)->Iterations(10);

// The same page's bytes as the backend sends them: scanimage's PNM body is the
// frame's rows as read (8-bit RGB has no padding here).
bool ScannedFrame(std::vector<uint8_t>* bytes, SANE_Parameters* parameters) {
    const fs::path folder = WriteSaneConfig();
    const fs::path file = folder / "page.pnm";
    const std::string command = "scanimage -d test:0 --format=pnm " +
                                std::string(kScanimageArguments) + " > " + file.string();
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

BENCHMARK_MAIN();
