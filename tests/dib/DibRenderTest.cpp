// CDIB drawing onto a raster surface and device bitmaps made from images.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dib/Dib.h"
#include "platform/Bitmap.h"
#include "platform/Dc.h"
#include "platform/RasterSurface.h"

namespace {

using Bytes = std::vector<BYTE>;
using Colors = std::vector<std::vector<COLORREF>>;  // rows, top first

constexpr COLORREF kBackground = 0x00ABCDEF;

// Table entry k of every palette image here: red k, green 255 - k, blue k ^ 0x5A.
COLORREF Entry(int k) { return RGB(BYTE(k), BYTE(255 - k), BYTE(k ^ 0x5A)); }

// An image from rows of stored bytes (top row first), with the table above.
void Make(CDIB& dib, int width, int bits, const std::vector<Bytes>& rows) {
    ASSERT_TRUE(dib.Create(width, int(rows.size()), bits));
    for (int k = 0; k < dib.GetColorCount(); ++k) {
        dib.m_pColors[k] = {BYTE(k ^ 0x5A), BYTE(255 - k), BYTE(k), 0};
    }
    std::memset(dib.m_pBits, 0, size_t(dib.m_nStride) * dib.m_nHeight);
    for (size_t y = 0; y < rows.size(); ++y) {
        std::memcpy(dib.GetRowPtr(int(y)), rows[y].data(), rows[y].size());
    }
}

Colors Read(const RasterSurface& s) {
    Colors out(size_t(s.Height()), std::vector<COLORREF>(size_t(s.Width())));
    for (int y = 0; y < s.Height(); ++y)
        for (int x = 0; x < s.Width(); ++x) out[y][x] = s.Pixel(x, y);
    return out;
}

TEST(DibRender, DrawShowsTableColoursAtEveryDepth) {
    const COLORREF B = kBackground;
    struct Case {
        int width, bits;
        std::vector<Bytes> rows;
        Colors expected;
    };
    const Case cases[] = {
        {10,
         1,
         {{0xA0, 0x40}},
         {{Entry(1), Entry(0), Entry(1), Entry(0), Entry(0), Entry(0), Entry(0), Entry(0), Entry(0),
           Entry(1), B},
          std::vector<COLORREF>(11, B)}},
        {3, 4, {{0x5A, 0xF0}}, {{Entry(5), Entry(10), Entry(15), B}, {B, B, B, B}}},
        {2,
         8,
         {{7, 200}, {0, 255}},
         {{Entry(7), Entry(200), B}, {Entry(0), Entry(255), B}, {B, B, B}}},
        {2, 24, {{1, 2, 3, 4, 5, 6}}, {{RGB(3, 2, 1), RGB(6, 5, 4), B}, {B, B, B}}},
    };
    for (const Case& c : cases) {
        CDIB dib;
        Make(dib, c.width, c.bits, c.rows);
        RasterSurface surface(c.width + 1, int(c.rows.size()) + 1, kBackground);
        EXPECT_EQ(dib.Draw(&surface, 0, 0, dib.m_nWidth, dib.m_nHeight, 0, 0), dib.m_nHeight);
        EXPECT_EQ(Read(surface), c.expected) << c.bits << " bits";
    }
}

TEST(DibRender, DrawTakesSourceRowsFromTheTop) {
    CDIB dib;
    Make(dib, 2, 8, {{11, 12}, {21, 22}, {31, 32}});
    const COLORREF B = kBackground;
    const auto E = Entry;
    struct Case {
        int x, y, w, h, xSrc, ySrc;
        Colors expected;
    };
    const Case cases[] = {
        {0, 0, 2, 2, 0, 0, {{E(11), E(12)}, {E(21), E(22)}, {B, B}}},  // top h rows
        {0, 0, 2, 2, 0, 1, {{E(21), E(22)}, {E(31), E(32)}, {B, B}}},  // from row 1 down
        {0, 0, 1, 3, 1, 0, {{E(12), B}, {E(22), B}, {E(32), B}}},      // one column
        {1, 1, 2, 3, 0, 0, {{B, B}, {B, E(11)}, {B, E(21)}}},          // clipped right, bottom
        {-1, -1, 2, 3, 0, 0, {{E(22), B}, {E(32), B}, {B, B}}},        // clipped left, top
    };
    for (const Case& c : cases) {
        RasterSurface surface(2, 3, kBackground);
        dib.Draw(&surface, c.x, c.y, c.w, c.h, c.xSrc, c.ySrc);
        EXPECT_EQ(Read(surface), c.expected) << "Draw at " << c.x << "," << c.y << " " << c.w << "x"
                                             << c.h << " from " << c.xSrc << "," << c.ySrc;
    }
    RasterSurface surface(2, 3, kBackground);
    dib.Draw(&surface, 5, 0, 2, 3, 0, 0);
    EXPECT_EQ(surface.PutCount(), 0);
    CDIB empty;
    EXPECT_EQ(empty.Draw(&surface, 0, 0, 1, 1, 0, 0), 0);
}

TEST(DibRender, StretchDrawCountsSourceRowsFromTheBottom) {
    CDIB dib;
    Make(dib, 2, 8, {{1, 2}, {3, 4}});
    const auto E = Entry;
    RasterSurface large(4, 4, kBackground);
    EXPECT_EQ(dib.StretchDraw(&large, 0, 0, 4, 4, 0, 0, 2, 2), 2);
    EXPECT_EQ(Read(large), (Colors{{E(1), E(1), E(2), E(2)},
                                   {E(1), E(1), E(2), E(2)},
                                   {E(3), E(3), E(4), E(4)},
                                   {E(3), E(3), E(4), E(4)}}));
    RasterSurface top(2, 2, kBackground), bottom(2, 2, kBackground);
    dib.StretchDraw(&top, 0, 0, 2, 2, 0, 1, 2, 1);
    dib.StretchDraw(&bottom, 0, 0, 2, 2, 0, 0, 2, 1);
    EXPECT_EQ(Read(top), (Colors{{E(1), E(2)}, {E(1), E(2)}}));
    EXPECT_EQ(Read(bottom), (Colors{{E(3), E(4)}, {E(3), E(4)}}));
}

// Device bitmap rows of the 3x2 image below: B, G, R, 0 per pixel, top row first.
Bytes DeviceBytes(std::initializer_list<int> indices) {
    Bytes out;
    for (int k : indices) {
        const COLORREF c = Entry(k);
        out.insert(out.end(), {GetBValue(c), GetGValue(c), GetRValue(c), 0});
    }
    return out;
}

TEST(DibRender, MakeBitmapGivesAnIndependentDeviceCopy) {
    const size_t baseline = GdiLiveObjectCount();
    RasterSurface surface(1, 1);
    CDC dc(&surface);
    CBitmap* bitmap = nullptr;
    {
        CDIB dib;
        Make(dib, 3, 8, {{1, 2, 3}, {4, 5, 6}});
        bitmap = dib.MakeBitmap(&dc);
        EXPECT_EQ(dib.MakeBitmap(nullptr), nullptr);
    }
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(GdiLiveObjectCount(), baseline + 1);  // the intermediate one is gone
    BITMAP desc{};
    EXPECT_EQ(bitmap->GetBitmap(&desc), int(sizeof(BITMAP)));
    EXPECT_EQ(desc.bmWidth, 3);
    EXPECT_EQ(desc.bmHeight, 2);
    EXPECT_EQ(desc.bmWidthBytes, 12);
    EXPECT_EQ(desc.bmBitsPixel, 32);
    Bytes bits(24);
    EXPECT_EQ(bitmap->GetBitmapBits(24, bits.data()), 24u);
    EXPECT_EQ(bits, DeviceBytes({1, 2, 3, 4, 5, 6}));
    delete bitmap;
    CGdiObject::DeleteTempMap();
    EXPECT_EQ(GdiLiveObjectCount(), baseline);
    CDIB empty;
    EXPECT_EQ(empty.MakeBitmap(&dc), nullptr);
}

TEST(DibRender, DeviceBitmapIsTemporaryWrapperOfCallersHandle) {
    const size_t baseline = GdiLiveObjectCount();
    RasterSurface surface(1, 1);
    CDC dc(&surface);
    CDIB dib;
    Make(dib, 3, 8, {{7, 8, 9}, {10, 11, 12}});
    CBitmap* temporary = dib.GetDeviceBitmap(&dc);
    ASSERT_NE(temporary, nullptr);
    const HBITMAP handle = temporary->GetHandle();
    EXPECT_EQ(CBitmap::FromHandle(handle), temporary);
    Bytes bits(24);
    EXPECT_EQ(temporary->GetBitmapBits(24, bits.data()), 24u);
    EXPECT_EQ(bits, DeviceBytes({7, 8, 9, 10, 11, 12}));
    CGdiObject::DeleteTempMap();  // frees the wrapper, not the bitmap
    EXPECT_EQ(GdiLiveObjectCount(), baseline + 1);
    EXPECT_TRUE(DeleteObject(handle));
    EXPECT_EQ(GdiLiveObjectCount(), baseline);
}

}  // namespace
