#include "platform/WxDcSurface.h"

#include <wx/bitmap.h>
#include <wx/dc.h>
#include <wx/image.h>

#include <algorithm>
#include <atomic>

namespace {

std::atomic<uint64_t> g_pixelsPut{0};

}  // namespace

SurfaceRect WxDcSurface::ClipBox() const {
    wxRect box;
    if (!m_dc.GetClippingBox(box)) {
        // No clipping region: the whole device area, seen through the current mapping.
        const wxSize size = m_dc.GetSize();
        const wxPoint a(m_dc.DeviceToLogicalX(0), m_dc.DeviceToLogicalY(0));
        const wxPoint b(m_dc.DeviceToLogicalX(size.x), m_dc.DeviceToLogicalY(size.y));
        box = wxRect(wxPoint(std::min(a.x, b.x), std::min(a.y, b.y)),
                     wxPoint(std::max(a.x, b.x) - 1, std::max(a.y, b.y) - 1));
    }
    return {box.x * m_scale, box.y * m_scale, (box.x + box.width) * m_scale,
            (box.y + box.height) * m_scale};
}

void WxDcSurface::PutPixels(int x, int y, int w, int h, const uint32_t* colors, int pitch) {
    if (w <= 0 || h <= 0 || !colors) return;
    wxImage image(w, h, false);
    unsigned char* rgb = image.GetData();
    for (int row = 0; row < h; ++row) {
        const uint32_t* source = colors + static_cast<size_t>(row) * pitch;
        for (int col = 0; col < w; ++col, rgb += 3) {
            const uint32_t color = source[col];  // 0x00BBGGRR
            rgb[0] = static_cast<unsigned char>(color);
            rgb[1] = static_cast<unsigned char>(color >> 8);
            rgb[2] = static_cast<unsigned char>(color >> 16);
        }
    }
    if (m_scale == 1) {
        m_dc.DrawBitmap(wxBitmap(image), x, y, false);
    } else {
        // A bitmap of scale factor s covers 1/s of its pixels in logical units.
        m_dc.DrawBitmap(wxBitmap(image, wxBITMAP_SCREEN_DEPTH, m_scale), x / m_scale, y / m_scale,
                        false);
    }
    g_pixelsPut += static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
}

uint64_t WxDcSurface::PixelsPut() { return g_pixelsPut.load(); }
