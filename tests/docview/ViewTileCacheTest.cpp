// The tiles a view keeps: within their byte budget, the least recently drawn go first.
#include <wx/bitmap.h>
#include <wx/dcmemory.h>

#include <gtest/gtest.h>

#include "docview/ViewTileCache.h"

namespace docviewtest {
namespace {

TEST(ViewTileCacheTest, KeepsTheLatestTilesWithinItsBudget) {
    constexpr int kSide = ViewTileCache::kTileSide;
    const wxSize drawn(3 * kSide, 3 * kSide);
    const size_t tileBytes = size_t(kSide) * kSide * 4;
    ViewTileCache tiles(4 * tileBytes);
    int made = 0;
    // What a tile shows is the view tests' concern; here only how many are made.
    const ViewTileCache::MakeTile make = [&made](wxDC&) { ++made; };
    wxBitmap target(drawn.x, drawn.y, 24);
    wxMemoryDC dc(target);
    const auto paint = [&](const wxRect& area) { tiles.Paint(dc, area, 1.0, 1, drawn, make); };

    paint(wxRect(drawn));  // nine tiles, row by row
    EXPECT_EQ(made, 9);
    EXPECT_EQ(tiles.Tiles(), 4u);
    EXPECT_LE(tiles.Bytes(), 4 * tileBytes);
    // The last four made are kept; the first was let go and is made again.
    paint(wxRect(2 * kSide + 5, 2 * kSide + 5, 10, 10));
    paint(wxRect(kSide + 5, 2 * kSide + 5, 10, 10));
    EXPECT_EQ(made, 9);
    paint(wxRect(5, 5, 10, 10));
    EXPECT_EQ(made, 10);
    EXPECT_EQ(tiles.Tiles(), 4u);
}

}  // namespace
}  // namespace docviewtest
