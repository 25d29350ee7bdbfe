// CDIB gamma, nearest-colour matching, conversion onto a fixed palette and scaling.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "dib/Dib.h"

namespace {

constexpr int kFarthest = 10000000;  // beyond any ColorDistance

}  // namespace

void CDIB::SetGamma(float gamma, BOOL on) {
    m_bGamma = on;
    m_fGamma = gamma;
    BuildGammaTable();
}

void CDIB::BuildGammaTable() {
    for (int i = 0; i < 256; ++i) {
        const double v = std::pow(i / 255.0, static_cast<double>(m_fGamma)) * 255.0 + 0.5;
        // Exponents of zero or below give 1 or infinity; keep every entry a byte.
        m_GammaTable[i] = static_cast<BYTE>(std::isnan(v) ? 0 : v >= 255.0 ? 255 : v <= 0 ? 0 : v);
    }
}

int CDIB::ColorDistance(const BYTE* bgr1, const BYTE* bgr2) {
    const int db = bgr1[0] - bgr2[0];
    const int dg = bgr1[1] - bgr2[1];
    const int dr = bgr1[2] - bgr2[2];
    return 3 * dr * dr + 4 * dg * dg + 2 * db * db;
}

int CDIB::FindClosestColor(RGBQUAD color) {
    // Only images with a colour table have an entry to return.
    const int entries = GetColorCount();
    if (entries == 0) return -1;
    const BYTE c[3] = {color.rgbBlue, color.rgbGreen, color.rgbRed};
    for (int i = 0; i < entries; ++i) {
        const BYTE* memo = reinterpret_cast<const BYTE*>(&m_MatchColor[i]);
        if (m_MatchValid[i] && memo[0] == c[0] && memo[1] == c[1] && memo[2] == c[2]) return i;
    }
    int best = 0;
    int bestDistance = kFarthest;
    for (int j = 0; j < entries; ++j) {
        const int d = ColorDistance(c, &m_pColors[j].rgbBlue);
        if (d == 0) {
            best = j;
            break;
        }
        if (d < bestDistance) {
            best = j;
            bestDistance = d;
        }
    }
    std::memcpy(&m_MatchColor[best], &color, sizeof(DWORD));
    m_MatchValid[best] = 1;
    return best;
}

BOOL CDIB::ConvertFrom(const CDIB* pSource) {
    if (!pSource || !pSource->m_pBlock || !m_pBlock) return FALSE;
    const int bits = pSource->m_pInfo->biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return FALSE;
    // The target must be an 8-bit image no larger than the source: it is written one
    // byte per pixel and the source is read at the same positions.
    if (m_pInfo->biBitCount != 8 || m_nWidth > pSource->m_nWidth ||
        m_nHeight > pSource->m_nHeight) {
        return FALSE;
    }
    BYTE* table15 = nullptr;
    if (bits == 24) {
        table15 = static_cast<BYTE*>(std::malloc(32768));
        if (!table15) return FALSE;
    }
    std::memset(m_MatchValid, 0, sizeof(m_MatchValid));

    BYTE map[256] = {};
    if (bits == 24) {
        for (int e = 0; e < 32768; ++e) {
            // Each 5-bit channel value v stands for 8v + 7, the top of its eight values.
            RGBQUAD rep{static_cast<BYTE>(((e & 31) << 3) | 7),
                        static_cast<BYTE>((((e >> 5) & 31) << 3) | 7),
                        static_cast<BYTE>((((e >> 10) & 31) << 3) | 7), 0};
            table15[e] = static_cast<BYTE>(FindClosestColor(rep));
        }
    } else {
        const int entries = pSource->GetColorCount();
        for (int k = 0; k < entries; ++k)
            map[k] = static_cast<BYTE>(FindClosestColor(pSource->m_pColors[k]));
    }

    for (int y = 0; y < m_nHeight; ++y) {
        const BYTE* src = pSource->m_ppRows[y];
        BYTE* dst = m_ppRows[y];
        switch (bits) {
            case 1:
                for (int x = 0; x < m_nWidth; ++x) dst[x] = map[(src[x >> 3] >> (7 - (x & 7))) & 1];
                break;
            case 4:
                for (int x = 0; x < m_nWidth; ++x) {
                    const BYTE b = src[x >> 1];
                    dst[x] = map[(x & 1) ? (b & 0x0F) : (b >> 4)];
                }
                break;
            case 8:
                for (int x = 0; x < m_nWidth; ++x) dst[x] = map[src[x]];
                break;
            case 24:
                for (int x = 0; x < m_nWidth; ++x, src += 3) {
                    dst[x] = table15[((src[2] >> 3) << 10) | ((src[1] >> 3) << 5) | (src[0] >> 3)];
                }
                break;
        }
    }
    std::free(table15);
    return TRUE;
}

void CDIB::SetPaletteFromRGB(const BYTE* pTriples) {
    if (!pTriples || !m_pBlock) return;
    const int entries = GetColorCount();
    for (int i = 0; i < entries; ++i, pTriples += 3) {
        RGBQUAD& e = m_pColors[i];
        e.rgbRed = m_bGamma ? m_GammaTable[pTriples[0]] : pTriples[0];
        e.rgbGreen = m_bGamma ? m_GammaTable[pTriples[1]] : pTriples[1];
        e.rgbBlue = m_bGamma ? m_GammaTable[pTriples[2]] : pTriples[2];
        e.rgbReserved = 0;
    }
}

void CDIB::StretchCopy(int dx, int dy, int dw, int dh, const CDIB* pSource, int sx, int sy, int sw,
                       int sh) {
    if (!pSource || !pSource->m_pBlock || !m_pBlock) return;
    // Offsets are taken as they come only when non-negative; far edges are clipped.
    if (dx < 0 || dy < 0 || sx < 0 || sy < 0) return;
    if (int64_t(dx) + dw > ByteColumns()) dw = ByteColumns() - dx;
    if (int64_t(dy) + dh > m_nHeight) dh = m_nHeight - dy;
    if (int64_t(sx) + sw > pSource->ByteColumns()) sw = pSource->ByteColumns() - sx;
    if (int64_t(sy) + sh > pSource->m_nHeight) sh = pSource->m_nHeight - sy;
    if (sw < 1 || sh < 1 || dw < 1 || dh < 1) return;  // nothing to copy or nowhere to put it
    CopyColorsFrom(*pSource);

    const int qx = dw / sw, rx = dw % sw, qy = dh / sh, ry = dh % sh;
    if (rx == 0 && ry == 0 && qx >= 1 && qy >= 1) {
        EnlargeCopy(dx, dy, qx, qy, *pSource, sx, sy, sw, sh);
        return;
    }
    auto* buffer = static_cast<BYTE*>(std::malloc(static_cast<size_t>(dw) + 20));
    if (!buffer) return;
    // Each accumulator gains the remainder per source pixel (row) and gives back the
    // source size at every carry, so exactly rx pixels (ry rows) get one copy more.
    int ey = 0, t = 0;
    for (int j = 0; j < sh && t < dh; ++j) {
        const BYTE* src = pSource->m_ppRows[sy + j] + sx;
        int ex = 0, k = 0;
        for (int i = 0; i < sw && k < dw; ++i) {
            ex += rx;
            int repeat = qx;
            if (ex >= sw) repeat = qx + 1, ex -= sw;
            for (; repeat > 0 && k < dw; --repeat) buffer[k++] = src[i];
        }
        ey += ry;
        int rows = qy;
        if (ey >= sh) rows = qy + 1, ey -= sh;
        for (; rows > 0 && t < dh; --rows, ++t) std::memcpy(m_ppRows[dy + t] + dx, buffer, dw);
    }
    std::free(buffer);
}
