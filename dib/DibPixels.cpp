// CDIB row, colour-table and pixel access, rectangle copies and whole-image tools.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dib/Dib.h"
#include "dib/DibLayout.h"

BYTE* CDIB::GetRowPtr(int y) const {
    if (!m_ppRows || y < 0 || y >= m_nHeight) return nullptr;
    return m_ppRows[y];
}

void CDIB::CopyColorsFrom(const CDIB& source) {
    const int entries = std::min(GetColorCount(), source.GetColorCount());
    if (m_pBlock && source.m_pBlock && this != &source) {
        std::memcpy(m_pColors, source.m_pColors, sizeof(RGBQUAD) * entries);
    }
}

void CDIB::SetColorTable(const RGBQUAD* pColors) {
    if (!pColors || !m_pBlock) return;
    std::memcpy(m_pColors, pColors, sizeof(RGBQUAD) * GetColorCount());
}

COLORREF CDIB::GetPaletteColor(int index) const {
    if (index < 0 || index >= GetColorCount()) return 0;  // no entry there
    const RGBQUAD& c = m_pColors[index];
    return RGB(c.rgbRed, c.rgbGreen, c.rgbBlue);
}

COLORREF CDIB::GetPixelRGB(int x, int y) const {
    if (!m_ppRows || x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight) return 0;
    if (3 * static_cast<int64_t>(x) + 3 > m_nStride) return 0;  // not a 24-bit row
    const BYTE* p = m_ppRows[y] + 3 * x;
    return RGB(p[2], p[1], p[0]);
}

void CDIB::GetPixelIndex(int x, int y, int* pIndex) const {
    if (!m_ppRows || !pIndex) return;
    if (static_cast<unsigned>(x) >= static_cast<unsigned>(ByteColumns()) ||
        static_cast<unsigned>(y) >= static_cast<unsigned>(m_nHeight)) {
        return;
    }
    *pIndex = m_ppRows[y][x];
}

void CDIB::SetPixelIndex(int x, int y, BYTE index) {
    if (!m_ppRows || x < 0 || y < 0 || x >= ByteColumns() || y >= m_nHeight) return;
    m_ppRows[y][x] = index;
}

void CDIB::SetPixelRGB(int x, int y, COLORREF color) {
    if (!m_ppRows || x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight) return;
    if (3 * static_cast<int64_t>(x) + 3 > m_nStride) return;
    BYTE* p = m_ppRows[y] + 3 * x;
    p[0] = GetBValue(color);
    p[1] = GetGValue(color);
    p[2] = GetRValue(color);
}

void CDIB::PasteDIB(int x, int y, int w, int h, const CDIB& source, int sx, int sy,
                    const BYTE* pMask) {
    if (!m_pBlock || !source.m_pBlock) return;
    CopyColorsFrom(source);

    int64_t dx = x, dy = y, w64 = w, h64 = h, sx64 = sx, sy64 = sy;
    if (dx < 0) sx64 -= dx, w64 += dx, dx = 0;
    if (dy < 0) sy64 -= dy, h64 += dy, dy = 0;
    if (sx64 < 0) dx -= sx64, w64 += sx64, sx64 = 0;
    if (sy64 < 0) dy -= sy64, h64 += sy64, sy64 = 0;
    if (dx + w64 > ByteColumns()) w64 = ByteColumns() - dx;
    if (dy + h64 > m_nHeight) h64 = m_nHeight - dy;
    if (sx64 + w64 > source.ByteColumns()) w64 = source.ByteColumns() - sx64;
    if (sy64 + h64 > source.m_nHeight) h64 = source.m_nHeight - sy64;
    if (w64 <= 0 || h64 <= 0) return;

    // Within one image, a rectangle moved down is copied bottom row first, so that no
    // row is overwritten before it has been read.
    const bool bottomFirst = this == &source && dy > sy64;
    for (int64_t n = 0; n < h64; ++n) {
        const int64_t i = bottomFirst ? h64 - 1 - n : n;
        const BYTE* from = source.m_ppRows[sy64 + i] + sx64;
        BYTE* to = m_ppRows[dy + i] + dx;
        if (!pMask) {
            std::memmove(to, from, static_cast<size_t>(w64));
            continue;
        }
        for (int64_t k = 0; k < w64; ++k) {
            if (pMask[from[k]]) to[k] = from[k];
        }
    }
}

void CDIB::Fill(COLORREF value) {
    if (!m_pBlock) return;
    if (m_pInfo->biBitCount != 24) {
        std::memset(m_pBits, static_cast<BYTE>(value), static_cast<size_t>(m_nStride) * m_nHeight);
        return;
    }
    const BYTE bgr[3] = {GetBValue(value), GetGValue(value), GetRValue(value)};
    if (m_nHeight == 0) return;
    BYTE* first = m_ppRows[0];
    for (int x = 0; x < m_nWidth; ++x) std::memcpy(first + 3 * x, bgr, 3);
    for (int y = 1; y < m_nHeight; ++y) std::memcpy(m_ppRows[y], first, 3 * size_t(m_nWidth));
}

void CDIB::CopyRow(int from, int to) {
    if (from == to || !GetRowPtr(from) || !GetRowPtr(to)) return;
    std::memcpy(m_ppRows[to], m_ppRows[from], m_nStride);
}

int CDIB::CountColors() const {
    BYTE present[256];
    return CountColors(present);
}

int CDIB::CountColors(BYTE* pPresent) const {
    if (!pPresent) return 0;
    std::memset(pPresent, 0, 256);
    if (!m_pBlock) return 0;
    int count = 0;
    const int columns = ByteColumns();
    for (int y = 0; y < m_nHeight; ++y) {
        const BYTE* row = m_ppRows[y];
        for (int x = 0; x < columns; ++x) {
            if (!pPresent[row[x]]) {
                pPresent[row[x]] = 1;
                ++count;
            }
        }
    }
    return count;
}

void CDIB::ReplaceIndex(BYTE from, BYTE to) {
    if (!m_pBlock) return;
    const int columns = ByteColumns();
    for (int y = 0; y < m_nHeight; ++y) {
        BYTE* row = m_ppRows[y];
        for (int x = 0; x < columns; ++x) {
            if (row[x] == from) row[x] = to;
        }
    }
}

void CDIB::EnlargeCopy(int x, int y, int fx, int fy, const CDIB& source, int sx, int sy, int sw,
                       int sh) {
    if (!m_pBlock || !source.m_pBlock) return;
    CopyColorsFrom(source);
    // EnlargeRect keeps the source rectangle inside the source itself.
    EnlargeRect(x, y, fx, fy, source, sx, sy, sw, sh);
}

void CDIB::EnlargeRect(int x, int y, int fx, int fy, const CDIB& source, int sx, int sy, int sw,
                       int sh) {
    if (!m_pBlock || !source.m_pBlock || fx < 1 || fy < 1) return;
    // No clipping on the left or top: such rectangles are refused. The source rectangle
    // is kept inside the source so that no row or column outside it is read.
    if (x < 0 || y < 0 || sx < 0 || sy < 0) return;
    sw = static_cast<int>(std::min<int64_t>(sw, int64_t(source.ByteColumns()) - sx));
    sh = static_cast<int>(std::min<int64_t>(sh, int64_t(source.m_nHeight) - sy));
    if (sw < 1 || sh < 1) return;

    const int64_t W = std::min<int64_t>(int64_t(sw) * fx, int64_t(ByteColumns()) - x);
    const int64_t H = std::min<int64_t>(int64_t(sh) * fy, int64_t(m_nHeight) - y);
    if (W <= 0 || H <= 0) return;
    const int wholeColumns = static_cast<int>(W / fx);
    const int wholeRows = static_cast<int>(H / fy);

    auto* buffer = static_cast<BYTE*>(std::malloc(static_cast<size_t>(W) + 20));
    if (!buffer) return;
    // A destination narrower than one factor still shows the first source pixel (row).
    auto buildRow = [&](int r) {
        const BYTE* src = source.m_ppRows[sy + r] + sx;
        BYTE* out = buffer;
        for (int i = 0; i < wholeColumns; ++i, out += fx) std::memset(out, src[i], fx);
        const BYTE last = wholeColumns > 0 ? src[wholeColumns - 1] : src[0];
        std::memset(out, last, static_cast<size_t>(W - int64_t(wholeColumns) * fx));
    };
    int64_t target = y;
    for (int r = 0; r < wholeRows; ++r) {
        buildRow(r);
        for (int k = 0; k < fy; ++k) std::memcpy(m_ppRows[target++] + x, buffer, W);
    }
    if (wholeRows == 0) buildRow(0);
    while (target < y + H) std::memcpy(m_ppRows[target++] + x, buffer, W);
    std::free(buffer);
}
