// The packed DIB every source hands over in a native transfer: a 40-byte
// BITMAPINFOHEADER, the colour table, then the rows bottom-up, each padded to whole
// 4-byte words.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/WinTypes.h"

// Bytes of one stored row.
inline size_t PackedDibStride(size_t width, int bitsPerPixel) {
    return (width * size_t(bitsPerPixel) + 31) / 32 * 4;
}

// Bytes before the rows: the info header and a table of `tableEntries` colours.
inline size_t PackedDibHeaderBytes(size_t tableEntries) {
    return sizeof(BITMAPINFOHEADER) + tableEntries * sizeof(RGBQUAD);
}

// Writes the header of a `width` x `rows` image at `dpi` and the colour table into the
// first PackedDibHeaderBytes(tableEntries) bytes of `block`.
void WritePackedDibHeader(uint8_t* block, size_t width, int rows, int bitsPerPixel, double dpi,
                          const RGBQUAD* table, size_t tableEntries);
