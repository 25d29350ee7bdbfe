// Size arithmetic of packed DIBs, every product checked against overflow.
#pragma once

#include <cstdint>

struct DibLayout {
    int32_t stride = 0;       // bytes per stored row, a multiple of 4
    int32_t colors = 0;       // colour-table entries by bit count alone
    int64_t pixelBytes = 0;   // stride x height
    int64_t packedBytes = 0;  // 40 + 4 x colors + pixelBytes
};

// Colour-table entries by bit count alone: 2, 16, 256, else 0.
int ColorCountForBits(int bitCount);

// Fails for a negative width or height and when the packed size does not fit in a
// signed 32-bit byte count.
bool ComputeDibLayout(int64_t width, int64_t height, int bitCount, DibLayout* out);
