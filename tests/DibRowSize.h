// Bytes of one stored DIB row, whole 4-byte words: worked out here for every test
// rather than asked of the code under test.
#pragma once

#include <cstddef>
#include <cstdint>

inline size_t DibRowSize(int64_t width, int bitsPerPixel) {
    return size_t((width * bitsPerPixel + 31) / 32 * 4);
}
