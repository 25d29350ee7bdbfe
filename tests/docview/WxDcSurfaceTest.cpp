// The drawing surface over a wx DC: what it offers as its clip box and where the
// colour values it is given end up.
#include <wx/bitmap.h>
#include <wx/dcmemory.h>

#include <gtest/gtest.h>

#include "platform/WxDcSurface.h"
#include "tests/docview/DocviewFixture.h"

namespace docviewtest {
namespace {

struct MemoryCanvas {
    explicit MemoryCanvas(int w, int h) : bitmap(w, h, 24), dc(bitmap) {
        dc.SetBackground(*wxBLACK_BRUSH);
        dc.Clear();
    }
    wxImage Read() {
        dc.SelectObject(wxNullBitmap);
        return bitmap.ConvertToImage();
    }
    wxBitmap bitmap;
    wxMemoryDC dc;
};

void ExpectRect(const SurfaceRect& r, int left, int top, int right, int bottom) {
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right, right);
    EXPECT_EQ(r.bottom, bottom);
}

TEST(WxDcSurfaceTest, ClipBoxIsTheWholeDcInLogicalUnitsWithoutClipping) {
    MemoryCanvas canvas(64, 48);
    WxDcSurface surface(canvas.dc);
    ExpectRect(surface.ClipBox(), 0, 0, 64, 48);
    // A scrolled view: the device origin moves the logical area.
    canvas.dc.SetDeviceOrigin(-100, -250);
    ExpectRect(surface.ClipBox(), 100, 250, 164, 298);
}

TEST(WxDcSurfaceTest, ClipBoxIsTheClippingRegionInLogicalUnits) {
    MemoryCanvas canvas(64, 48);
    canvas.dc.SetDeviceOrigin(-100, -250);
    canvas.dc.SetClippingRegion(wxRect(110, 260, 20, 8));
    WxDcSurface surface(canvas.dc);
    ExpectRect(surface.ClipBox(), 110, 260, 130, 268);
}

TEST(WxDcSurfaceTest, PutPixelsDrawsEachColourAtItsLogicalPosition) {
    MemoryCanvas canvas(16, 16);
    canvas.dc.SetDeviceOrigin(-10, -20);
    WxDcSurface surface(canvas.dc);
    // Two rows of three values out of rows of four (the pitch): red, green, blue, mixed.
    const uint32_t colors[] = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xDEADBEEF,
                               0x00102030, 0x00405060, 0x00708090, 0xDEADBEEF};
    const uint64_t before = WxDcSurface::PixelsPut();
    surface.PutPixels(12, 23, 3, 2, colors, 4);
    EXPECT_EQ(WxDcSurface::PixelsPut() - before, 6u);
    const wxImage image = canvas.Read();
    EXPECT_EQ(ColorAt(image, 2, 3), 0x000000FFu);
    EXPECT_EQ(ColorAt(image, 3, 3), 0x0000FF00u);
    EXPECT_EQ(ColorAt(image, 4, 3), 0x00FF0000u);
    EXPECT_EQ(ColorAt(image, 2, 4), 0x00102030u);
    EXPECT_EQ(ColorAt(image, 4, 4), 0x00708090u);
    // Nothing around the rectangle.
    EXPECT_EQ(ColorAt(image, 5, 3), 0u);
    EXPECT_EQ(ColorAt(image, 2, 5), 0u);
    EXPECT_EQ(ColorAt(image, 1, 3), 0u);
    EXPECT_EQ(ColorAt(image, 2, 2), 0u);
}

TEST(WxDcSurfaceTest, ImageDrawnThroughTheSurfaceMatchesItsPixels) {
    CDIB dib;
    FillPattern24(dib, 40, 30);
    MemoryCanvas canvas(40, 30);
    WxDcSurface surface(canvas.dc);
    ASSERT_NE(dib.Draw(&surface, 0, 0, 40, 30, 0, 0), 0);
    const wxImage image = canvas.Read();
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(ColorAt(image, x, y), PatternColor(x, y)) << x << "," << y;
    }
}

TEST(WxDcSurfaceTest, ScaledDisplayGetsOneImagePixelPerDevicePixel) {
    // A DC of content scale 2, as a window's on GDK_SCALE=2: 20 x 15 logical units over
    // 40 x 30 device pixels, scrolled by 5 x 3 units.
    CDIB dib;
    FillPattern24(dib, 50, 40);
    wxBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateWithDIPSize(wxSize(20, 15), 2.0, 24));
    {
        wxMemoryDC dc(bitmap);
        dc.SetDeviceOrigin(-5, -3);
        WxDcSurface surface(dc, 2);
        ExpectRect(surface.ClipBox(), 10, 6, 50, 36);
        ASSERT_NE(dib.Draw(&surface, 0, 0, 50, 40, 0, 0), 0);
    }
    const wxImage image = bitmap.ConvertToImage();
    ASSERT_EQ(image.GetSize(), wxSize(40, 30));
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(ColorAt(image, x, y), PatternColor(10 + x, 6 + y)) << x << "," << y;
    }
}

}  // namespace
}  // namespace docviewtest
