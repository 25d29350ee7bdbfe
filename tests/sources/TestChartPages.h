// Small test-chart pages for tests, and the bytes of a global block, so that what a
// source delivered can be compared with what the generator makes.
#pragma once

#include <cstdint>
#include <vector>

#include "dib/Dib.h"
#include "platform/GlobalMemory.h"
#include "sources/testchart/TestChartPage.h"

inline TestChartSettings SmallChart(ChartPixelType type, int width, int height, int pages,
                                    int dpi = 100) {
    TestChartSettings settings;
    settings.pixelType = type;
    settings.dpi = dpi;
    settings.pageSize = ChartPageSize::Custom;
    settings.customWidth = width;
    settings.customHeight = height;
    settings.pages = pages;
    return settings;
}

// The whole block; empty for a null or unknown handle.
inline std::vector<uint8_t> BlockBytes(HGLOBAL block) {
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(block));
    if (!bytes) return {};
    std::vector<uint8_t> copy(bytes, bytes + GlobalSize(block));
    GlobalUnlock(block);
    return copy;
}

// Page pageNumber as the generator makes it for these settings.
inline std::vector<uint8_t> GeneratorBytes(const TestChartSettings& settings, int pageNumber) {
    HGLOBAL block = MakeTestChartPage(settings, pageNumber);
    std::vector<uint8_t> bytes = BlockBytes(block);
    GlobalFree(block);
    return bytes;
}

// The colour of a pixel of a 1, 4, 8 or 24-bit image (y from the top), decoded here
// on its own, as a COLORREF (red in the low byte).
inline COLORREF ColourAt(const CDIB& image, int x, int y) {
    const BYTE* row = image.GetRowPtr(y);
    switch (image.m_pInfo->biBitCount) {
        case 1: return image.GetPaletteColor((row[x / 8] >> (7 - x % 8)) & 1);
        case 4: return image.GetPaletteColor(x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4);
        case 8: return image.GetPaletteColor(row[x]);
        default: return RGB(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    }
}
