#include "dib/DibExpand.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "dib/Dib.h"
#include "dib/PackedDib.h"

namespace velomark {

namespace {

static_assert(std::endian::native == std::endian::little, "pixels are stored as words");

// Blue, green, red of each colour-table entry, in their stored order, in the low
// three bytes of a word so that a pixel is one 4-byte store.
struct TripleTable {
    uint32_t bgr[256];
};

template <int Bits>
inline int IndexAt(const BYTE* s, int x) {
    if constexpr (Bits == 1)
        return (s[x >> 3] >> (7 - (x & 7))) & 1;
    else if constexpr (Bits == 4)
        return (x & 1) ? (s[x >> 1] & 0x0F) : (s[x >> 1] >> 4);
    else
        return s[x];
}

// Each store writes one byte into the next pixel, which that pixel then overwrites;
// the last pixel is stored as three bytes so that nothing past the row is touched.
template <int Bits>
void ExpandRow(const BYTE* s, BYTE* d, int width, const TripleTable& table) {
    int x = 0;
    for (; x + 1 < width; ++x, d += 3) std::memcpy(d, &table.bgr[IndexAt<Bits>(s, x)], 4);
    if (x < width) {
        const uint32_t last = table.bgr[IndexAt<Bits>(s, x)];
        d[0] = static_cast<BYTE>(last);
        d[1] = static_cast<BYTE>(last >> 8);
        d[2] = static_cast<BYTE>(last >> 16);
    }
}

// Row padding is zeroed, so that no stale heap bytes reach the client or a file.
// `rowAt(y)` gives the source's row y from the top.
template <int Bits, typename RowAt>
void ExpandRows(RowAt rowAt, int width, int height, CDIB& target, const TripleTable& table) {
    const size_t pixelBytes = static_cast<size_t>(width) * 3;
    const size_t padding = static_cast<size_t>(target.m_nStride) - pixelBytes;
    for (int y = 0; y < height; ++y) {
        BYTE* row = target.GetRowPtr(y);
        ExpandRow<Bits>(rowAt(y), row, width, table);
        if (padding) std::memset(row + pixelBytes, 0, padding);
    }
}

// `bgrAt(i)` gives the stored blue, green and red of entry i.
template <typename BgrAt, typename RowAt>
bool Expand(int bits, int width, int height, int colors, BgrAt bgrAt, RowAt rowAt, CDIB& target) {
    if (bits != 1 && bits != 4 && bits != 8) {
        target.Destroy();
        return false;
    }
    if (!target.Create(width, height, 24)) return false;
    TripleTable table{};
    for (int i = 0; i < colors && i < 256; ++i) table.bgr[i] = bgrAt(i);
    if (bits == 1)
        ExpandRows<1>(rowAt, width, height, target, table);
    else if (bits == 4)
        ExpandRows<4>(rowAt, width, height, target, table);
    else
        ExpandRows<8>(rowAt, width, height, target, table);
    return true;
}

}  // namespace

bool ExpandTo24(const CDIB& source, CDIB& target) {
    const int bits = source.m_pInfo ? source.m_pInfo->biBitCount : 0;
    return Expand(
        bits, source.m_nWidth, source.m_nHeight, source.GetColorCount(),
        [&source](int i) {
            const COLORREF c = source.GetPaletteColor(i);
            return uint32_t(GetBValue(c)) | uint32_t(GetGValue(c)) << 8 |
                   uint32_t(GetRValue(c)) << 16;
        },
        [&source](int y) -> const BYTE* { return source.GetRowPtr(y); }, target);
}

bool ExpandTo24(const PackedDib& source, CDIB& target) {
    return Expand(
        source.header.biBitCount, source.width, source.height, source.tableEntries,
        [&source](int i) {
            const BYTE* entry = source.table + 4 * static_cast<size_t>(i);
            return uint32_t(entry[0]) | uint32_t(entry[1]) << 8 | uint32_t(entry[2]) << 16;
        },
        [&source](int y) { return source.Row(y); }, target);
}

}  // namespace velomark
