#include "platform/DibRowDecoder.h"

#include <cstring>

DibRowDecoder::DibRowDecoder(const BITMAPINFO* bmi) {
    if (!bmi) return;
    const BITMAPINFOHEADER& h = bmi->bmiHeader;
    if (h.biWidth < 0 || h.biCompression != BI_RGB) return;
    switch (h.biBitCount) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32: break;
        default: return;
    }
    m_width = h.biWidth;
    m_topDown = h.biHeight < 0;
    const int64_t height = m_topDown ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
    if (height > INT32_MAX) return;
    m_height = static_cast<int>(height);
    m_bitCount = h.biBitCount;
    m_stride = ((static_cast<size_t>(m_width) * m_bitCount + 31) / 32) * 4;
    const int entries = m_bitCount <= 8 ? (1 << m_bitCount) : 0;
    // The table follows the header as the header's own size says.
    const auto* table = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(bmi) +
                                                         (h.biSize >= 40 ? h.biSize : 40));
    for (int i = 0; i < entries; ++i) {
        m_palette[i] = RGB(table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue);
    }
    m_valid = true;
}

void DibRowDecoder::Decode(const BYTE* row, int first, int count, uint32_t* out) const {
    switch (m_bitCount) {
        case 1:
            for (int i = 0; i < count; ++i) {
                const int x = first + i;
                out[i] = m_palette[(row[x >> 3] >> (7 - (x & 7))) & 1];
            }
            break;
        case 4:
            for (int i = 0; i < count; ++i) {
                const int x = first + i;
                const BYTE b = row[x >> 1];
                out[i] = m_palette[(x & 1) ? (b & 0x0F) : (b >> 4)];
            }
            break;
        case 8:
            for (int i = 0; i < count; ++i) out[i] = m_palette[row[first + i]];
            break;
        case 16:
            // 5-5-5, the uncompressed 16-bit format; each 5-bit value widened to 8 bits.
            for (int i = 0; i < count; ++i) {
                const BYTE* p = row + 2 * static_cast<size_t>(first + i);
                const unsigned v = p[0] | (p[1] << 8);
                const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
                out[i] = RGB((r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
            }
            break;
        case 24:
            for (int i = 0; i < count; ++i) {
                const BYTE* p = row + 3 * static_cast<size_t>(first + i);
                out[i] = RGB(p[2], p[1], p[0]);
            }
            break;
        case 32:
            for (int i = 0; i < count; ++i) {
                const BYTE* p = row + 4 * static_cast<size_t>(first + i);
                out[i] = RGB(p[2], p[1], p[0]);
            }
            break;
    }
}
