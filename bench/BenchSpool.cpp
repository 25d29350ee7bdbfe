// The spool of waiting images: 30 images of 11.2 MB (a 200 dpi colour Letter page)
// pushed beyond the memory budget, so every one is written to the spool file, then
// taken back in order. Beside it, in the same run and the same folder: a plain
// write of the same bytes to a file and a read of them back into fresh blocks.
// x_plain is the ratio of the two times.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bridge/ChannelOutbox.h"
#include "bridge/SpoolFile.h"
#include "bench/BenchClock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kImages = 30;
constexpr size_t kImageBytes = 40 + size_t(5100) * 2200;  // 1700 x 2200 x 3

HGLOBAL MakeImage(int serial) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, kImageBytes);
    std::memset(GlobalLock(h), serial, kImageBytes);
    GlobalUnlock(h);
    return h;
}

// The same bytes through a plain file: written, then read back into new blocks.
double PlainSeconds(const std::vector<HGLOBAL>& images) {
    const std::string path = (velomark::SpoolFile::Folder() / "bench-plain").string();
    const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0600);
    unlink(path.c_str());
    const Clock::time_point start = Clock::now();
    for (HGLOBAL image : images) {
        if (write(fd, GlobalLock(image), kImageBytes) != static_cast<ssize_t>(kImageBytes))
            return -1;
        GlobalUnlock(image);
    }
    lseek(fd, 0, SEEK_SET);
    for (size_t i = 0; i < images.size(); ++i) {
        HGLOBAL back = GlobalAlloc(GMEM_MOVEABLE, kImageBytes);
        if (read(fd, GlobalLock(back), kImageBytes) != static_cast<ssize_t>(kImageBytes))
            return -1;
        GlobalUnlock(back);
        GlobalFree(back);
    }
    const double seconds = SecondsSince(start);
    close(fd);
    return seconds;
}

void BM_SpoolWriteAndReadBack(benchmark::State& state) {
    std::filesystem::create_directories(velomark::SpoolFile::Folder());
    double spoolSeconds = 0, plainSeconds = 0;
    int round = 0;
    for (auto _ : state) {
        std::vector<HGLOBAL> images;
        for (int i = 0; i < kImages; ++i) images.push_back(MakeImage(i + 1));
        // Each iteration runs the reference first and the spool second, then the
        // other way round, so that neither gains from what the other left cached.
        const bool referenceFirst = round++ % 2 == 0;
        if (referenceFirst) plainSeconds += PlainSeconds(images);

        velomark::ChannelOutbox outbox(0);  // no memory budget: everything is spooled
        std::string error;
        const Clock::time_point start = Clock::now();
        for (HGLOBAL image : images)
            if (!outbox.Push(image, kImageBytes, TW_IMAGEINFO{}, &error))
                state.SkipWithError(error.c_str());
        for (int i = 0; i < kImages; ++i) {
            velomark::ChannelOutbox::Image back{};
            if (!outbox.Pop(&back, &error)) state.SkipWithError(error.c_str());
            GlobalFree(back.packed);
        }
        spoolSeconds += SecondsSince(start);
        if (!referenceFirst) {
            for (int i = 0; i < kImages; ++i) images[i] = MakeImage(i + 1);
            plainSeconds += PlainSeconds(images);
            for (HGLOBAL image : images) GlobalFree(image);
        }
    }
    state.counters["x_plain"] = spoolSeconds / plainSeconds;
    state.counters["ms_spool"] = spoolSeconds / double(state.iterations()) * 1e3;
    state.counters["ms_plain"] = plainSeconds / double(state.iterations()) * 1e3;
}
BENCHMARK(BM_SpoolWriteAndReadBack)->Iterations(4)->Unit(benchmark::kMillisecond);

}  // namespace
