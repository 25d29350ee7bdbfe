#include "docview/ViewTileCache.h"

#include <wx/dc.h>
#include <wx/dcmemory.h>

#include <algorithm>

namespace {

// The toolkit keeps a bitmap as a cairo image surface, four bytes a pixel.
constexpr size_t kBytesPerPixel = 4;

}  // namespace

int ViewTileCache::TileSide(int deviceScale) {
    const int scale = std::max(1, deviceScale);
    // A whole number of units, so that every tile starts on a logical coordinate.
    return std::max(1, kTileSide / scale) * scale;
}

void ViewTileCache::Paint(wxDC& dc, const wxRect& area, double zoom, int deviceScale, wxSize drawn,
                          const MakeTile& make) {
    const int scale = std::max(1, deviceScale);
    if (zoom != m_zoom || scale != m_deviceScale || drawn != m_drawn) {
        Drop();
        m_zoom = zoom;
        m_deviceScale = scale;
        m_drawn = drawn;
    }
    // The area in device pixels, within the image.
    const int left = std::max(0, area.x * scale);
    const int top = std::max(0, area.y * scale);
    const int right = std::min(drawn.x, (area.x + area.width) * scale);
    const int bottom = std::min(drawn.y, (area.y + area.height) * scale);
    if (left >= right || top >= bottom) return;
    const int side = TileSide(scale);
    for (int row = top / side; row * side < bottom; ++row) {
        for (int column = left / side; column * side < right; ++column) {
            const wxBitmap& tile = TileAt(column, row, side, scale, drawn, make);
            dc.DrawBitmap(tile, column * side / scale, row * side / scale, false);
        }
    }
}

const wxBitmap& ViewTileCache::TileAt(int column, int row, int side, int deviceScale, wxSize drawn,
                                      const MakeTile& make) {
    const uint64_t key = (uint64_t(uint32_t(row)) << 32) | uint32_t(column);
    if (auto found = m_index.find(key); found != m_index.end()) {
        m_tiles.splice(m_tiles.begin(), m_tiles, found->second);
        return found->second->bitmap;
    }
    const int x = column * side, y = row * side;
    const int width = std::min(side, drawn.x - x), height = std::min(side, drawn.y - y);
    wxBitmap bitmap(width, height, 24);
    {
        wxMemoryDC tileDc(bitmap);
        tileDc.SetDeviceOrigin(-x, -y);
        make(tileDc);
    }
    // Drawn in device pixels; on a scaled display it covers 1/scale of them in units.
    if (deviceScale > 1) bitmap.SetScaleFactor(deviceScale);
    const size_t bytes = size_t(width) * size_t(height) * kBytesPerPixel;
    m_tiles.push_front({key, bitmap, bytes});
    m_index[key] = m_tiles.begin();
    m_bytes += bytes;
    Trim();
    return m_tiles.front().bitmap;
}

void ViewTileCache::Trim() {
    // The front tile is the one being drawn: it stays even over budget.
    while (m_bytes > m_budget && m_tiles.size() > 1) {
        m_bytes -= m_tiles.back().bytes;
        m_index.erase(m_tiles.back().key);
        m_tiles.pop_back();
    }
}

void ViewTileCache::Drop() {
    m_tiles.clear();
    m_index.clear();
    m_bytes = 0;
}
