// CDIB costs on a 2400 x 2200 scan (A4 at about 280 dpi), each beside the plain copy or
// file transfer of the same bytes, so that what the class adds can be read off.
//
// Rates: bytes/s for copies and files, pixels/s for ConvertFrom. In the paired
// benchmarks every iteration also runs the plain counterpart, outside the timed part;
// the counter x_memcpy, x_plain_write or x_plain_read is the time of the operation
// divided by the time of its counterpart, both taken under the same machine load.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dib/Dib.h"
#include "bench/BenchClock.h"

namespace {

constexpr int kWidth = 2400;
constexpr int kHeight = 2200;
constexpr int64_t kPixels = int64_t(kWidth) * kHeight;

using Clock = std::chrono::steady_clock;

std::string g_folder;  // scratch folder for the file benchmarks

// A 24-bit scan with smooth gradients and some grain, so that colour matching meets
// many different colours.
CDIB& Scan24() {
    static CDIB scan;
    if (!scan.m_pBlock) {
        if (!scan.Create(kWidth, kHeight, 24)) std::abort();
        uint32_t grain = 12345;
        for (int y = 0; y < kHeight; ++y) {
            BYTE* p = scan.GetRowPtr(y);
            for (int x = 0; x < kWidth; ++x, p += 3) {
                grain = grain * 1103515245u + 12345u;
                const int noise = int(grain >> 28) - 8;
                p[0] = BYTE(std::clamp(x * 255 / kWidth + noise, 0, 255));
                p[1] = BYTE(std::clamp(y * 255 / kHeight + noise, 0, 255));
                p[2] = BYTE(std::clamp((x + y) * 255 / (kWidth + kHeight) - noise, 0, 255));
            }
        }
    }
    return scan;
}

size_t PackedSize() { return size_t(Scan24().GetDIBSize()); }

// Runs `work` as the timed part of each iteration and `plain` beside it, untimed, and
// reports `bytes` per iteration as the rate and the time ratio under `ratioName`.
template <typename Work, typename Plain>
void PairedLoop(benchmark::State& state, const char* ratioName, size_t bytes, Work work,
                Plain plain) {
    double workSeconds = 0, plainSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto start = Clock::now();
        plain();
        plainSeconds += SecondsSince(start);
        state.ResumeTiming();
        start = Clock::now();
        work();
        workSeconds += SecondsSince(start);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    state.counters[ratioName] = workSeconds / plainSeconds;
}

template <typename Work>
void Loop(benchmark::State& state, size_t bytes, Work work) {
    for (auto _ : state) work();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

// The plain copy of the packed image's bytes between two warm buffers.
struct PlainCopy {
    std::vector<BYTE> from = std::vector<BYTE>(PackedSize(), 1);
    std::vector<BYTE> to = std::vector<BYTE>(PackedSize());
    void operator()() {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
    }
};

void BM_Memcpy(benchmark::State& state) {
    PlainCopy copy;
    Loop(state, PackedSize(), copy);
}

// The same copy into a fresh allocation each time, as PackToGlobal makes one.
void BM_MemcpyIntoNewBlock(benchmark::State& state) {
    std::vector<BYTE> from(PackedSize(), 1);
    PairedLoop(
        state, "x_memcpy", PackedSize(),
        [&] {
            void* to = std::malloc(from.size());
            std::memcpy(to, from.data(), from.size());
            benchmark::DoNotOptimize(to);
            std::free(to);
        },
        PlainCopy());
}

void BM_CreateFromHandle(benchmark::State& state) {
    HGLOBAL packed = Scan24().PackToGlobal();
    CDIB dib;
    PairedLoop(
        state, "x_memcpy", PackedSize(),
        [&] { benchmark::DoNotOptimize(dib.CreateFromHandle(packed, 8)); }, PlainCopy());
    GlobalFree(packed);
}

void BM_Assign(benchmark::State& state) {
    CDIB dib;
    PairedLoop(
        state, "x_memcpy", PackedSize(),
        [&] {
            dib.Assign(Scan24());
            benchmark::DoNotOptimize(dib.m_pBits);
        },
        PlainCopy());
}

void BM_PackToGlobal(benchmark::State& state) {
    PairedLoop(
        state, "x_memcpy", PackedSize(),
        [&] {
            HGLOBAL h = Scan24().PackToGlobal();
            benchmark::DoNotOptimize(h);
            GlobalFree(h);
        },
        PlainCopy());
}

// An 8-bit target with a 6 x 7 x 6 colour cube and four greys: 256 entries.
void MakePaletteTarget(CDIB& target, int width, int height) {
    if (!target.Create(width, height, 8)) std::abort();
    int i = 0;
    for (int r = 0; r < 6; ++r) {
        for (int g = 0; g < 7; ++g) {
            for (int b = 0; b < 6; ++b) {
                target.m_pColors[i++] = {BYTE(b * 51), BYTE(g * 42), BYTE(r * 51), 0};
            }
        }
    }
    for (const BYTE grey : {64, 96, 160, 192}) target.m_pColors[i++] = {grey, grey, grey, 0};
}

void BM_ConvertFrom24To256Colours(benchmark::State& state) {
    CDIB target;
    MakePaletteTarget(target, kWidth, kHeight);
    for (auto _ : state) benchmark::DoNotOptimize(target.ConvertFrom(&Scan24()));
    state.counters["pixels"] = benchmark::Counter(double(state.iterations()) * double(kPixels),
                                                  benchmark::Counter::kIsRate);
}

// The same conversion of one pixel: what building the 32,768-entry match table costs.
void BM_ConvertFromTableOnly(benchmark::State& state) {
    CDIB source, target;
    if (!source.Create(1, 1, 24)) std::abort();
    std::memset(source.m_pBits, 0x80, 4);
    MakePaletteTarget(target, 1, 1);
    for (auto _ : state) benchmark::DoNotOptimize(target.ConvertFrom(&source));
}

std::string ScratchFile(const char* name) { return g_folder + "/" + name; }

// The file as SaveBmp makes it, for the plain transfers; also leaves it on disk.
const std::vector<BYTE>& FileBytes() {
    static std::vector<BYTE> bytes;
    if (bytes.empty()) {
        const std::string path = ScratchFile("reference.bmp");
        if (!Scan24().SaveBmp(path.c_str(), FALSE)) std::abort();
        bytes.resize(PackedSize() + 14);
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0 || ::read(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) {
            std::abort();
        }
        ::close(fd);
    }
    return bytes;
}

// An existing file, as WriteBmp wants one.
std::string ExistingFile(const char* name) {
    const std::string path = ScratchFile(name);
    ::close(::open(path.c_str(), O_WRONLY | O_CREAT, 0644));
    return path;
}

// Writes the BMP bytes into an existing file, as WriteBmp does: open, write, close.
void PlainWrite(const std::string& path) {
    const std::vector<BYTE>& bytes = FileBytes();
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) std::abort();
    ::close(fd);
}

// Reads a whole file into a warm buffer: open, fstat, read, close.
void PlainRead(const std::string& path, std::vector<BYTE>& into) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) std::abort();
    into.resize(size_t(st.st_size));
    if (::read(fd, into.data(), into.size()) != ssize_t(into.size())) std::abort();
    ::close(fd);
}

void BM_PlainWrite(benchmark::State& state) {
    const std::string path = ExistingFile("plain.bmp");
    Loop(state, FileBytes().size(), [&] { PlainWrite(path); });
}

void BM_WriteBmp(benchmark::State& state) {
    const std::string path = ExistingFile("written.bmp"), plain = ExistingFile("plain.bmp");
    PairedLoop(
        state, "x_plain_write", FileBytes().size(),
        [&] { benchmark::DoNotOptimize(Scan24().WriteBmp(path.c_str())); },
        [&] { PlainWrite(plain); });
}

void BM_PlainRead(benchmark::State& state) {
    FileBytes();
    std::vector<BYTE> into;
    Loop(state, FileBytes().size(), [&] { PlainRead(ScratchFile("reference.bmp"), into); });
}

void BM_ReadBmp(benchmark::State& state) {
    const std::string path = ScratchFile("reference.bmp");
    FileBytes();
    std::vector<BYTE> into;
    CDIB dib;
    PairedLoop(
        state, "x_plain_read", FileBytes().size(),
        [&] { benchmark::DoNotOptimize(dib.ReadBmp(path.c_str())); },
        [&] { PlainRead(path, into); });
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyIntoNewBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateFromHandle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Assign)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackToGlobal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertFrom24To256Colours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertFromTableOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBmp)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    char folder[] = "/tmp/velomark-bench-XXXXXX";
    if (!::mkdtemp(folder)) return 1;
    g_folder = folder;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
