// A drawing surface over a wx device context (a window being painted, a printer
// page, a print preview): the colour values become a bitmap drawn at the logical
// position, and only the DC's clipping box is ever asked for. On a scaled display
// (content scale 2: two device pixels per logical unit) the surface's units are
// device pixels, so that an image drawn unscaled maps one pixel to one device pixel.
#pragma once

#include <cstdint>

#include "platform/DrawingSurface.h"

class wxDC;

class WxDcSurface : public DrawingSurface {
public:
    // `deviceScale`: device pixels per logical unit of `dc` (1 for printers and previews).
    explicit WxDcSurface(wxDC& dc, int deviceScale = 1)
        : m_dc(dc), m_scale(deviceScale > 1 ? deviceScale : 1) {}

    // The DC's clipping box in surface units, or its whole area when it has none.
    SurfaceRect ClipBox() const override;
    void PutPixels(int x, int y, int w, int h, const uint32_t* colors, int pitch) override;

    // Pixels converted and drawn by every surface of this process so far; tests read
    // it to see how much of an image a paint converted.
    static uint64_t PixelsPut();

private:
    wxDC& m_dc;
    int m_scale;
};
