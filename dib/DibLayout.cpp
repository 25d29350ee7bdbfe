#include "dib/DibLayout.h"

#include <limits>

int ColorCountForBits(int bitCount) {
    switch (bitCount) {
        case 1: return 2;
        case 4: return 16;
        case 8: return 256;
        default: return 0;
    }
}

bool ComputeDibLayout(int64_t width, int64_t height, int bitCount, DibLayout* out) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (width < 0 || height < 0 || bitCount < 0 || width > kMax || height > kMax) return false;
    // width and bitCount are below 2^31 and 2^16, so the product fits in 64 bits.
    const int64_t stride = ((width * bitCount + 7) / 8 + 3) / 4 * 4;
    if (stride > kMax) return false;
    const int colors = ColorCountForBits(bitCount);
    const int64_t head = 40 + 4 * static_cast<int64_t>(colors);
    if (height != 0 && stride > (kMax - head) / height) return false;
    out->stride = static_cast<int32_t>(stride);
    out->colors = colors;
    out->pixelBytes = stride * height;
    out->packedBytes = head + out->pixelBytes;
    return true;
}
