// A client process for the channel tests. It opens (or creates) the two sections
// the way a client does and then plays one part, talking to the test over its
// standard input and output, one line per step.
//   channel-peer hold [STATUS]   open; write STATUS if given; print "created" or
//                                "existed" per section; wait for a line; exit
//   channel-peer shrink BYTES    create both sections with BYTES each; "ready"; wait
//   channel-peer requests N SEED write N acquire requests at random moments, each
//                                after a junk value; "done N"
//   channel-peer reader N        take N images: on status 5 check the image against
//                                the description, acknowledge; "ok N" or "bad ..."
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <thread>

#include "bridge/ChannelLayout.h"
#include "platform/FileMapping.h"
#include "tests/bridge/ChannelImages.h"

using namespace velomark;

namespace {

struct Section {
    HANDLE mapping = nullptr;
    unsigned char* view = nullptr;
    size_t size = 0;
    bool created = false;
};

Section OpenSection(const char* baseName, size_t bytes) {
    Section s;
    const std::string name = ChannelSectionName(baseName);
    s.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                   static_cast<DWORD>(bytes), name.c_str());
    if (!s.mapping) return s;
    s.created = GetLastError() != ERROR_ALREADY_EXISTS;
    s.view = static_cast<unsigned char*>(MapViewOfFile(s.mapping, FILE_MAP_WRITE, 0, 0, 0));
    s.size = MappedViewSize(s.view);
    return s;
}

void CloseSection(Section& s) {
    if (s.view) UnmapViewOfFile(s.view);
    if (s.mapping) CloseHandle(s.mapping);
}

std::atomic_ref<int32_t> Word(Section& status) {
    return std::atomic_ref<int32_t>(*reinterpret_cast<int32_t*>(status.view));
}

void WaitForLine() {
    std::string line;
    std::getline(std::cin, line);
}

int Hold(int argc, char** argv) {
    Section data = OpenSection(kDataSectionName, kChannelBlockSize);
    Section status = OpenSection(kStatusSectionName, kChannelBlockSize);
    if (!data.view || !status.view) return 3;
    if (argc > 2) Word(status).store(std::atoi(argv[2]), std::memory_order_release);
    std::printf("%s %s\n", data.created ? "created" : "existed",
                status.created ? "created" : "existed");
    std::fflush(stdout);
    WaitForLine();
    CloseSection(data);
    CloseSection(status);
    return 0;
}

int Shrink(const char* bytesText) {
    const size_t bytes = std::strtoul(bytesText, nullptr, 10);
    Section data = OpenSection(kDataSectionName, bytes);
    Section status = OpenSection(kStatusSectionName, bytes);
    if (!data.view || !status.view) return 3;
    std::printf("ready %zu %zu\n", data.size, status.size);
    std::fflush(stdout);
    WaitForLine();
    CloseSection(data);
    CloseSection(status);
    return 0;
}

int Requests(int count, unsigned seed) {
    Section status = OpenSection(kStatusSectionName, kChannelBlockSize);
    if (!status.view) return 3;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(0, 200);
    auto word = Word(status);
    for (int i = 0; i < count; ++i) {
        // A value that is no request, then the request right behind it: a poll that
        // read the first and resets blindly would wipe out the second.
        word.store(7, std::memory_order_release);
        for (int spin = pause(random); spin > 0; --spin) std::atomic_signal_fence(std::memory_order_seq_cst);
        word.store(CHANNEL_ACQUIRE, std::memory_order_release);
        while (word.load(std::memory_order_acquire) == CHANNEL_ACQUIRE) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
    }
    std::printf("done %d\n", count);
    std::fflush(stdout);
    CloseSection(status);
    return 0;
}

int Reader(int count) {
    Section data = OpenSection(kDataSectionName, kChannelBlockSize);
    Section status = OpenSection(kStatusSectionName, kChannelBlockSize);
    if (!data.view || !status.view) return 3;
    std::printf("ready\n");
    std::fflush(stdout);
    auto word = Word(status);
    int bad = 0;
    for (int taken = 0; taken < count;) {
        if (word.load(std::memory_order_acquire) != CHANNEL_IMAGE_READY) {
            std::this_thread::yield();
            continue;
        }
        if (!ChannelImageMatchesDescription(data.view, data.size, status.view + kImageInfoOffset))
            ++bad;
        ++taken;
        word.store(CHANNEL_IDLE, std::memory_order_release);
    }
    if (bad)
        std::printf("bad %d\n", bad);
    else
        std::printf("ok %d\n", count);
    std::fflush(stdout);
    CloseSection(data);
    CloseSection(status);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string mode = argv[1];
    if (mode == "hold") return Hold(argc, argv);
    if (mode == "shrink" && argc > 2) return Shrink(argv[2]);
    if (mode == "requests" && argc > 3) return Requests(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "reader" && argc > 2) return Reader(std::atoi(argv[2]));
    return 2;
}
