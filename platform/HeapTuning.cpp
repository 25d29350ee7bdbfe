#include "platform/HeapTuning.h"

#include <malloc.h>

namespace {
// Blocks below this come from the heap: a 600 dpi colour page (Letter 101 MB, A4
// 104 MB) too, whose fresh pages cost seven times the copy of it.
constexpr int kMapThreshold = 128 << 20;
constexpr int kTrimThreshold = 256 << 20;  // free heap kept before trimming
}  // namespace

void KeepImageMemoryWarm() {
    mallopt(M_MMAP_THRESHOLD, kMapThreshold);
    mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
}

void ReleaseFreeImageMemory() { malloc_trim(0); }
