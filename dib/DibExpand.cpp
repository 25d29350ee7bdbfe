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
template <int Bits>
void ExpandRows(const PackedDib& source, CDIB& target, const TripleTable& table) {
    const size_t pixelBytes = static_cast<size_t>(source.width) * 3;
    const size_t padding = static_cast<size_t>(target.m_nStride) - pixelBytes;
    for (int y = 0; y < source.height; ++y) {
        BYTE* row = target.GetRowPtr(y);
        ExpandRow<Bits>(source.Row(y), row, source.width, table);
        if (padding) std::memset(row + pixelBytes, 0, padding);
    }
}

}  // namespace

bool ExpandTo24(const PackedDib& source, CDIB& target) {
    const int bits = source.header.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8) {
        target.Destroy();
        return false;
    }
    if (!target.Create(source.width, source.height, 24)) return false;
    TripleTable table{};
    for (int i = 0; i < source.tableEntries && i < 256; ++i) {
        const BYTE* entry = source.table + 4 * static_cast<size_t>(i);
        table.bgr[i] = uint32_t(entry[0]) | uint32_t(entry[1]) << 8 | uint32_t(entry[2]) << 16;
    }
    if (bits == 1)
        ExpandRows<1>(source, target, table);
    else if (bits == 4)
        ExpandRows<4>(source, target, table);
    else
        ExpandRows<8>(source, target, table);
    return true;
}

bool ExpandTo24(const CDIB& source, CDIB& target) {
    // A CDIB's block is a packed DIB already.
    PackedDib packed;
    if (!source.m_pBlock ||
        !ReadPackedDib(static_cast<const BYTE*>(source.m_pBlock),
                       static_cast<size_t>(source.GetDIBSize()), &packed)) {
        target.Destroy();
        return false;
    }
    return ExpandTo24(packed, target);
}

}  // namespace velomark
