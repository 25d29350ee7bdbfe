#include "platform/RasterSurface.h"

#include <algorithm>
#include <cstring>

RasterSurface::RasterSurface(int width, int height, COLORREF background)
    : m_width(std::max(width, 0)),
      m_height(std::max(height, 0)),
      m_pixels(static_cast<size_t>(m_width) * m_height, background) {}

COLORREF RasterSurface::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) return 0xFFFFFFFFu;
    return m_pixels[static_cast<size_t>(y) * m_width + x];
}

void RasterSurface::PutPixels(int x, int y, int w, int h, const uint32_t* colors, int pitch) {
    ++m_putCount;
    for (int row = 0; row < h; ++row) {
        std::memcpy(&m_pixels[static_cast<size_t>(y + row) * m_width + x],
                    colors + static_cast<size_t>(row) * pitch, sizeof(uint32_t) * w);
    }
}
