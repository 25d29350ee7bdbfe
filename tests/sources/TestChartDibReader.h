// Reads test-chart pages back in the tests: header, colour table and pixels of a
// packed DIB, with row 0 at the top of the page.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/GlobalMemory.h"
#include "platform/WinTypes.h"
#include "tests/DibRowSize.h"

struct ChartDib {
    BITMAPINFOHEADER header{};
    std::vector<RGBQUAD> table;
    std::vector<uint8_t> bytes;  // the whole packed DIB

    // Copies the block; fails the test when it is too short for its own header.
    static ChartDib FromHandle(HGLOBAL block) {
        ChartDib dib;
        const size_t size = GlobalSize(block);
        EXPECT_GE(size, sizeof(BITMAPINFOHEADER));
        if (size < sizeof(BITMAPINFOHEADER)) return dib;
        const auto* data = static_cast<const uint8_t*>(GlobalLock(block));
        dib.bytes.assign(data, data + size);
        GlobalUnlock(block);
        std::memcpy(&dib.header, dib.bytes.data(), sizeof dib.header);
        const size_t tableBytes = size_t(dib.header.biClrUsed) * sizeof(RGBQUAD);
        EXPECT_GE(size, sizeof(BITMAPINFOHEADER) + tableBytes);
        if (size < sizeof(BITMAPINFOHEADER) + tableBytes) return dib;
        dib.table.resize(dib.header.biClrUsed);
        if (tableBytes)
            std::memcpy(dib.table.data(), dib.bytes.data() + sizeof(BITMAPINFOHEADER), tableBytes);
        return dib;
    }

    size_t Stride() const { return DibRowSize(header.biWidth, header.biBitCount); }
    size_t PixelOffset() const { return sizeof(BITMAPINFOHEADER) + table.size() * sizeof(RGBQUAD); }
    // Row y counted from the top of the page (the DIB holds rows bottom-up).
    const uint8_t* Row(int y) const {
        return bytes.data() + PixelOffset() + size_t(header.biHeight - 1 - y) * Stride();
    }
    // The value stored for pixel (x, y): a table index, or 0xRRGGBB for 24-bit rows.
    uint32_t Value(int x, int y) const {
        const uint8_t* row = Row(y);
        switch (header.biBitCount) {
            case 1: return (row[x / 8] >> (7 - x % 8)) & 1;
            case 4: return (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
            case 8: return row[x];
            default:
                return uint32_t(row[3 * x + 2]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x];
        }
    }
    // The colour of pixel (x, y) as 0xRRGGBB, through the table when there is one.
    uint32_t Colour(int x, int y) const {
        const uint32_t value = Value(x, y);
        if (header.biBitCount == 24) return value;
        const RGBQUAD& q = table.at(value);
        return uint32_t(q.rgbRed) << 16 | uint32_t(q.rgbGreen) << 8 | q.rgbBlue;
    }
};

// Pixels of `area` whose stored value differs from that of `whole` at (left + x,
// top + y); 0 when `area` is exactly that piece of `whole`, colour table included.
inline int PixelsDifferingFromCrop(const ChartDib& whole, const ChartDib& area, int left, int top) {
    if (area.table.size() != whole.table.size() ||
        (!area.table.empty() &&
         std::memcmp(area.table.data(), whole.table.data(), area.table.size() * sizeof(RGBQUAD))))
        return area.header.biWidth * area.header.biHeight;
    int differing = 0;
    for (int y = 0; y < area.header.biHeight; ++y)
        for (int x = 0; x < area.header.biWidth; ++x)
            differing += area.Value(x, y) != whole.Value(left + x, top + y);
    return differing;
}
