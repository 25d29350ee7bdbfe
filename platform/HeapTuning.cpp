#include "platform/HeapTuning.h"

#include <malloc.h>

namespace {
constexpr int kMapThreshold = 64 << 20;    // blocks below this come from the heap
constexpr int kTrimThreshold = 256 << 20;  // free heap kept before trimming
}  // namespace

void KeepImageMemoryWarm() {
    mallopt(M_MMAP_THRESHOLD, kMapThreshold);
    mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
}

void ReleaseFreeImageMemory() { malloc_trim(0); }
