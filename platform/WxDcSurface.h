// A drawing surface over a wx device context (a window being painted, a printer
// page, a print preview): the colour values become a bitmap drawn at the logical
// position, and only the DC's clipping box is ever asked for.
#pragma once

#include <cstdint>

#include "platform/DrawingSurface.h"

class wxDC;

class WxDcSurface : public DrawingSurface {
public:
    explicit WxDcSurface(wxDC& dc) : m_dc(dc) {}

    // The DC's clipping box in logical units, or its whole area when it has none.
    SurfaceRect ClipBox() const override;
    void PutPixels(int x, int y, int w, int h, const uint32_t* colors, int pitch) override;

    // Pixels converted and drawn by every surface of this process so far; tests read
    // it to see how much of an image a paint converted.
    static uint64_t PixelsPut();

private:
    wxDC& m_dc;
};
