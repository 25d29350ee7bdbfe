// Packed DIBs a data source hands over: the first input byte picks the bit count
// the caller passes, the rest is the global block.
#include <cstdint>
#include <cstring>

#include "dib/Dib.h"
#include "fuzz/DibTouch.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    static const int kBitCounts[] = {1, 4, 8, 16, 24, 32, 0, -1};
    const uint8_t pick = input.Take<uint8_t>();
    const int bits = pick < 8 ? kBitCounts[pick] : pick;
    size_t bytes = 0;
    const uint8_t* block = input.Rest(&bytes);
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!handle) return 0;
    if (bytes > 0) {
        std::memcpy(GlobalLock(handle), block, bytes);
        GlobalUnlock(handle);
    }
    CDIB dib;
    if (dib.CreateFromHandle(handle, bits)) TouchDib(dib);
    GlobalFree(handle);
    return 0;
}
