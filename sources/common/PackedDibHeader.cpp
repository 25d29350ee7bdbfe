#include "sources/common/PackedDibHeader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void WritePackedDibHeader(uint8_t* block, size_t width, int rows, int bitsPerPixel, double dpi,
                          const RGBQUAD* table, size_t tableEntries) {
    // Pixels per metre, rounded: 100 dpi is 3937.
    const LONG pelsPerMeter = static_cast<LONG>(std::lround(std::max(dpi, 0.0) / 0.0254));
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = static_cast<LONG>(width);
    header.biHeight = rows;  // positive: rows bottom-up
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bitsPerPixel);
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(PackedDibStride(width, bitsPerPixel) * size_t(rows));
    header.biXPelsPerMeter = pelsPerMeter;
    header.biYPelsPerMeter = pelsPerMeter;
    header.biClrUsed = static_cast<DWORD>(tableEntries);
    std::memcpy(block, &header, sizeof header);
    if (tableEntries > 0) std::memcpy(block + sizeof header, table, tableEntries * sizeof(RGBQUAD));
}
