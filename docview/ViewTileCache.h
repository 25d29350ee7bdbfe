// What a view has already converted: the image at one zoom and device scale cut into
// square tiles of device pixels, each a ready bitmap, kept least recently drawn first
// out within a byte budget. A paint copies the tiles it finds and makes only the
// others, so a window uncovered or scrolled back converts nothing again.
#pragma once

#include <wx/bitmap.h>
#include <wx/gdicmn.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <unordered_map>

class wxDC;

class ViewTileCache {
public:
    // Enough for the tiles of two 4K screens, or half a 600 dpi Letter page at 100%,
    // and no more, since every open document's view has its own.
    static constexpr size_t kDefaultBudget = size_t(64) << 20;
    // Tile side in device pixels at device scale 1.
    static constexpr int kTileSide = 256;

    // Draws the image into a tile's memory DC, one DC unit per device pixel, with the
    // device origin moved so that logical coordinates are those of the whole image.
    using MakeTile = std::function<void(wxDC& tile)>;

    explicit ViewTileCache(size_t byteBudget = kDefaultBudget) : m_budget(byteBudget) {}

    // Draws onto `dc` the tiles under `area` (logical units of `dc`), for an image
    // `drawn` device pixels in size at `zoom` on `deviceScale` device pixels per unit.
    // Tiles kept for another zoom or scale are dropped first.
    void Paint(wxDC& dc, const wxRect& area, double zoom, int deviceScale, wxSize drawn,
               const MakeTile& make);
    // The image changed: nothing kept shows it any more.
    void Drop();

    size_t Bytes() const { return m_bytes; }
    size_t Tiles() const { return m_tiles.size(); }
    // Tile side in device pixels, a whole number of logical units at `deviceScale`.
    static int TileSide(int deviceScale);

private:
    struct Tile {
        uint64_t key;
        wxBitmap bitmap;
        size_t bytes;
    };

    const wxBitmap& TileAt(int column, int row, int side, int deviceScale, wxSize drawn,
                           const MakeTile& make);
    void Trim();

    size_t m_budget;
    size_t m_bytes = 0;
    double m_zoom = 0;
    int m_deviceScale = 0;
    wxSize m_drawn;
    // Front: the most recently drawn.
    std::list<Tile> m_tiles;
    std::unordered_map<uint64_t, std::list<Tile>::iterator> m_index;
};
