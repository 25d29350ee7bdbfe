#include <cstring>

#include "bridge/ImageHandoff.h"
#include "dib/Dib.h"

namespace velomark {

namespace {

// Blue, green, red of each colour-table entry, in their stored order.
struct TripleTable {
    BYTE bgr[256][3];
};

template <int Bits>
void ExpandRow(const BYTE* s, BYTE* d, int width, const TripleTable& table) {
    for (int x = 0; x < width; ++x) {
        int index;
        if constexpr (Bits == 1)
            index = (s[x >> 3] >> (7 - (x & 7))) & 1;
        else if constexpr (Bits == 4)
            index = (x & 1) ? (s[x >> 1] & 0x0F) : (s[x >> 1] >> 4);
        else
            index = s[x];
        const BYTE* triple = table.bgr[index];
        d[0] = triple[0];
        d[1] = triple[1];
        d[2] = triple[2];
        d += 3;
    }
}

template <int Bits>
void ExpandRows(const CDIB& source, CDIB& target, const TripleTable& table) {
    for (int y = 0; y < source.m_nHeight; ++y)
        ExpandRow<Bits>(source.GetRowPtr(y), target.GetRowPtr(y), source.m_nWidth, table);
}

}  // namespace

bool ExpandTo24(const CDIB& source, CDIB& target) {
    const int bits = source.m_pInfo ? source.m_pInfo->biBitCount : 0;
    if (bits != 1 && bits != 4 && bits != 8) {
        target.Destroy();
        return false;
    }
    if (!target.Create(source.m_nWidth, source.m_nHeight, 24)) return false;

    TripleTable table{};
    const int colors = source.GetColorCount();
    for (int i = 0; i < colors; ++i) {
        const COLORREF c = source.GetPaletteColor(i);
        table.bgr[i][0] = GetBValue(c);
        table.bgr[i][1] = GetGValue(c);
        table.bgr[i][2] = GetRValue(c);
    }
    if (bits == 1)
        ExpandRows<1>(source, target, table);
    else if (bits == 4)
        ExpandRows<4>(source, target, table);
    else
        ExpandRows<8>(source, target, table);
    return true;
}

}  // namespace velomark
