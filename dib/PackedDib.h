// A packed DIB read where it lies (a source's native block, a section): its header
// checked field by field, where its colour table and rows are, with no copy. Takes
// what CDIB takes: uncompressed 1, 4, 8 and 24-bit DIBs with headers of 40, 52, 56,
// 108 or 124 bytes, bottom-up or top-down, a colour table short of the full count
// when it holds biClrUsed entries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/WinTypes.h"

struct PackedDib {
    BITMAPINFOHEADER header{};  // as CDIB holds it: biSize 40, biHeight positive
    int width = 0;
    int height = 0;
    int stride = 0;             // bytes per stored row
    int colors = 0;             // table entries by bit count: 2, 16, 256, else 0
    const BYTE* table = nullptr;  // the stored table: tableEntries entries of 4 bytes
    int tableEntries = 0;       // fewer than `colors` when short: the rest are black
    const BYTE* rows = nullptr;
    bool topDown = false;

    // Row y counted from the top of the picture.
    const BYTE* Row(int y) const {
        const int stored = topDown ? y : height - 1 - y;
        return rows + static_cast<size_t>(stored) * static_cast<size_t>(stride);
    }
};

// False for anything CDIB would refuse; nothing is read past p + size.
bool ReadPackedDib(const BYTE* p, size_t size, PackedDib* out);
