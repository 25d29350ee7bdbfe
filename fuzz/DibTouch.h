// What the DIB fuzz targets do with an image that was taken: read pixels across it
// and pack it again; a packed image of a depth CreateFromHandle takes (1, 4, 8 or
// 24 bits) must be taken again.
#pragma once

#include <algorithm>
#include <cstdlib>

#include "dib/Dib.h"

inline void TouchDib(const CDIB& dib) {
    if (!dib.m_pInfo) return;
    const int stepX = std::max(1, dib.m_nWidth / 32);
    const int stepY = std::max(1, dib.m_nHeight / 32);
    volatile COLORREF sink = 0;
    for (int y = 0; y < dib.m_nHeight; y += stepY)
        for (int x = 0; x < dib.m_nWidth; x += stepX) sink = sink ^ dib.GetPixelRGB(x, y);
    HGLOBAL packed = dib.PackToGlobal();
    if (!packed) return;  // memory short: not a fault of the input
    CDIB again;
    const int bits = dib.m_pInfo->biBitCount;
    const bool takenDepth = bits == 1 || bits == 4 || bits == 8 || bits == 24;
    if (!again.CreateFromHandle(packed, bits) && takenDepth) std::abort();  // our own packing refused
    GlobalFree(packed);
}
