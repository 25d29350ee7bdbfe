// An in-memory drawing surface of 32-bit colour values that tests read back.
#pragma once

#include <vector>

#include "platform/DrawingSurface.h"
#include "platform/WinTypes.h"

class RasterSurface : public DrawingSurface {
public:
    RasterSurface(int width, int height, COLORREF background = 0);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    COLORREF Pixel(int x, int y) const;  // 0xFFFFFFFF outside the surface
    int PutCount() const { return m_putCount; }

    SurfaceRect ClipBox() const override { return {0, 0, m_width, m_height}; }
    void PutPixels(int x, int y, int w, int h, const uint32_t* colors, int pitch) override;

private:
    int m_width;
    int m_height;
    int m_putCount = 0;
    std::vector<COLORREF> m_pixels;
};
