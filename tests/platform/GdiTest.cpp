// DIB drawing onto a raster surface, and device bitmaps.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/Gdi.h"
#include "platform/RasterSurface.h"
#include "tests/DibRowSize.h"

namespace {

using Bytes = std::vector<BYTE>;
using Colors = std::vector<std::vector<COLORREF>>;  // rows, top first

constexpr COLORREF kBackground = 0x00ABCDEF;

// Table entry k: red 2k, green k, blue 255 - k.
COLORREF Entry(int k) { return RGB(BYTE(2 * k), BYTE(k), BYTE(255 - k)); }

// A packed 8-bit DIB: header, 256 entries, then the stored rows as given
// (bottom-up, or top-down when topDown), each row padded to 4 bytes.
struct PackedDib {
    BITMAPINFOHEADER header{};
    RGBQUAD table[256];
    Bytes bits;

    PackedDib(const std::vector<Bytes>& storedRows, bool topDown = false) {
        const int width = int(storedRows[0].size());
        const int stride = int(DibRowSize(width, 8));
        header = {40, width, topDown ? -int(storedRows.size()) : int(storedRows.size()),
                  1,  8,     BI_RGB,
                  0,  0,     0,
                  0,  0};
        for (int k = 0; k < 256; ++k) table[k] = {BYTE(255 - k), BYTE(k), BYTE(2 * k), 0};
        for (const Bytes& row : storedRows) {
            bits.insert(bits.end(), row.begin(), row.end());
            bits.resize(bits.size() + size_t(stride - width), 0);
        }
    }
    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(&header); }
};

Colors Read(const RasterSurface& s) {
    Colors out(size_t(s.Height()), std::vector<COLORREF>(size_t(s.Width())));
    for (int y = 0; y < s.Height(); ++y)
        for (int x = 0; x < s.Width(); ++x) out[y][x] = s.Pixel(x, y);
    return out;
}

const COLORREF B = kBackground;
const auto E = Entry;

TEST(GdiSetDIBits, DrawsRowsBottomUpAndOnlyTheScanLinesGiven) {
    // Bottom-up rows: stored row k holds 10k + 1, 10k + 2.
    const PackedDib dib({{1, 2}, {11, 12}, {21, 22}, {31, 32}});
    RasterSurface whole(2, 4, kBackground);
    EXPECT_EQ(SetDIBitsToDevice(&whole, 0, 0, 2, 4, 0, 0, 0, 4, dib.bits.data(), dib.Info(),
                                DIB_RGB_COLORS),
              4);
    EXPECT_EQ(Read(whole), (Colors{{E(31), E(32)}, {E(21), E(22)}, {E(11), E(12)}, {E(1), E(2)}}));

    // Scan lines 1 and 2 alone, in a buffer that holds nothing else.
    const Bytes lines(dib.bits.begin() + 4, dib.bits.begin() + 12);
    RasterSurface part(2, 4, kBackground);
    EXPECT_EQ(
        SetDIBitsToDevice(&part, 0, 0, 2, 4, 0, 0, 1, 2, lines.data(), dib.Info(), DIB_RGB_COLORS),
        2);
    EXPECT_EQ(Read(part), (Colors{{B, B}, {E(21), E(22)}, {E(11), E(12)}, {B, B}}));

    // Source point (1, 2) counts from the bottom-left: a 1x1 rectangle shows row 2, column 1.
    RasterSurface one(1, 1, kBackground);
    SetDIBitsToDevice(&one, 0, 0, 1, 1, 1, 2, 0, 4, dib.bits.data(), dib.Info(), DIB_RGB_COLORS);
    EXPECT_EQ(one.Pixel(0, 0), E(22));
}

TEST(GdiSetDIBits, TopDownDibIsTakenWhole) {
    const PackedDib dib({{1, 2}, {3, 4}}, true);  // stored top row first
    RasterSurface surface(2, 2, kBackground);
    EXPECT_EQ(SetDIBitsToDevice(&surface, 0, 0, 2, 2, 0, 0, 0, 2, dib.bits.data(), dib.Info(),
                                DIB_RGB_COLORS),
              2);
    EXPECT_EQ(Read(surface), (Colors{{E(1), E(2)}, {E(3), E(4)}}));
    EXPECT_EQ(SetDIBitsToDevice(&surface, 0, 0, 2, 2, 0, 0, 1, 1, dib.bits.data(), dib.Info(),
                                DIB_RGB_COLORS),
              0);
}

TEST(GdiSetDIBits, StaysInsideTheClipBox) {
    const PackedDib dib({{1, 2}, {3, 4}});
    RasterSurface surface(3, 3, kBackground);
    SetDIBitsToDevice(&surface, 2, 2, 2, 2, 0, 0, 0, 2, dib.bits.data(), dib.Info(),
                      DIB_RGB_COLORS);
    EXPECT_EQ(surface.PutCount(), 1);
    EXPECT_EQ(Read(surface), (Colors{{B, B, B}, {B, B, B}, {B, B, E(3)}}));
    for (int at : {3, -2, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(SetDIBitsToDevice(&surface, at, 0, 2, 2, 0, 0, 0, 2, dib.bits.data(), dib.Info(),
                                    DIB_RGB_COLORS),
                  2);
        SetDIBitsToDevice(&surface, 0, at, 2, 2, 0, 0, 0, 2, dib.bits.data(), dib.Info(),
                          DIB_RGB_COLORS);
    }
    EXPECT_EQ(surface.PutCount(), 1);
}

TEST(GdiSetDIBits, RefusesWhatItCannotDecode) {
    PackedDib dib({{1, 2}});
    RasterSurface surface(2, 1, kBackground);
    EXPECT_EQ(SetDIBitsToDevice(nullptr, 0, 0, 2, 1, 0, 0, 0, 1, dib.bits.data(), dib.Info(), 0),
              0);
    EXPECT_EQ(SetDIBitsToDevice(&surface, 0, 0, 2, 1, 0, 0, 0, 1, dib.bits.data(), dib.Info(), 1),
              0);
    dib.header.biCompression = BI_RLE8;
    EXPECT_EQ(SetDIBitsToDevice(&surface, 0, 0, 2, 1, 0, 0, 0, 1, dib.bits.data(), dib.Info(), 0),
              0);
    EXPECT_EQ(surface.PutCount(), 0);
}

TEST(GdiStretchDIBits, NearestPixelBothWays) {
    const PackedDib small({{3, 4}, {1, 2}});  // top row 1 2, bottom row 3 4
    RasterSurface large(4, 4, kBackground);
    EXPECT_EQ(StretchDIBits(&large, 0, 0, 4, 4, 0, 0, 2, 2, small.bits.data(), small.Info(),
                            DIB_RGB_COLORS, SRCCOPY),
              2);
    EXPECT_EQ(Read(large), (Colors{{E(1), E(1), E(2), E(2)},
                                   {E(1), E(1), E(2), E(2)},
                                   {E(3), E(3), E(4), E(4)},
                                   {E(3), E(3), E(4), E(4)}}));

    // 4x4 onto 2x2 takes columns 0, 2 and top-down rows 0, 2.
    const PackedDib big({{41, 42, 43, 44}, {31, 32, 33, 34}, {21, 22, 23, 24}, {11, 12, 13, 14}});
    RasterSurface shrunk(2, 2, kBackground);
    StretchDIBits(&shrunk, 0, 0, 2, 2, 0, 0, 4, 4, big.bits.data(), big.Info(), DIB_RGB_COLORS,
                  SRCCOPY);
    EXPECT_EQ(Read(shrunk), (Colors{{E(11), E(13)}, {E(31), E(33)}}));

    // Source columns past the DIB come out black.
    RasterSurface edge(2, 1, kBackground);
    StretchDIBits(&edge, 0, 0, 2, 1, 1, 1, 2, 1, small.bits.data(), small.Info(), DIB_RGB_COLORS,
                  SRCCOPY);
    EXPECT_EQ(Read(edge), (Colors{{E(2), 0}}));
}

TEST(GdiStretchDIBits, StaysInsideTheClipBox) {
    const PackedDib small({{3, 4}, {1, 2}});
    RasterSurface surface(3, 3, kBackground);
    StretchDIBits(&surface, 1, 1, 4, 4, 0, 0, 2, 2, small.bits.data(), small.Info(), DIB_RGB_COLORS,
                  SRCCOPY);
    EXPECT_EQ(surface.PutCount(), 1);
    EXPECT_EQ(Read(surface), (Colors{{B, B, B}, {B, E(1), E(1)}, {B, E(1), E(1)}}));
    StretchDIBits(&surface, 3, 0, 4, 4, 0, 0, 2, 2, small.bits.data(), small.Info(), DIB_RGB_COLORS,
                  SRCCOPY);
    EXPECT_EQ(StretchDIBits(&surface, 0, 0, 0, 4, 0, 0, 2, 2, small.bits.data(), small.Info(),
                            DIB_RGB_COLORS, SRCCOPY),
              0);
    EXPECT_EQ(surface.PutCount(), 1);
}

TEST(GdiBitmap, DescriptionBitsAndDeletion) {
    const size_t baseline = GdiLiveObjectCount();
    const Bytes initial{1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                        13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
    BITMAP desc{0, 3, 2, 12, 1, 32, const_cast<BYTE*>(initial.data())};
    HBITMAP h = CreateBitmapIndirect(&desc);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GdiLiveObjectCount(), baseline + 1);

    BITMAP got;
    std::memset(&got, 0x33, sizeof got);
    EXPECT_EQ(GetObjectA(h, sizeof got, &got), int(sizeof(BITMAP)));
    EXPECT_EQ(got.bmWidth, 3);
    EXPECT_EQ(got.bmHeight, 2);
    EXPECT_EQ(got.bmWidthBytes, 12);
    EXPECT_EQ(got.bmBitsPixel, 32);
    EXPECT_EQ(got.bmBits, nullptr);  // the bitmap keeps its own copy
    EXPECT_EQ(GetObjectA(h, 0, nullptr), int(sizeof(BITMAP)));
    std::memset(&got, 0x33, sizeof got);
    EXPECT_EQ(GetObjectA(h, 8, &got), 8);
    EXPECT_EQ(got.bmHeight, 0x33333333);

    Bytes bits(30, 0xFF);
    EXPECT_EQ(GetBitmapBits(h, 30, bits.data()), 24);
    EXPECT_EQ(Bytes(bits.begin(), bits.begin() + 24), initial);
    EXPECT_EQ(bits[24], 0xFF);
    const Bytes next(40, 0x66);
    EXPECT_EQ(SetBitmapBits(h, 40, next.data()), 24);
    EXPECT_EQ(GetBitmapBits(h, 5, bits.data()), 5);
    EXPECT_EQ(Bytes(bits.begin(), bits.begin() + 6), (Bytes{0x66, 0x66, 0x66, 0x66, 0x66, 6}));

    EXPECT_TRUE(DeleteObject(h));
    EXPECT_EQ(GdiLiveObjectCount(), baseline);
    EXPECT_FALSE(DeleteObject(h));
    EXPECT_EQ(GetObjectA(h, sizeof got, &got), 0);
    EXPECT_EQ(GetBitmapBits(h, 24, bits.data()), 0);
    EXPECT_EQ(SetBitmapBits(h, 24, next.data()), 0);
    EXPECT_FALSE(DeleteObject(nullptr));
    EXPECT_FALSE(DeleteObject(&got));
}

TEST(GdiBitmap, RefusesDescriptionsThatDoNotAddUp) {
    const BITMAP bad[] = {
        {0, 0, 2, 12, 1, 32, nullptr},
        {0, 3, 0, 12, 1, 32, nullptr},
        {0, 3, 2, 0, 1, 32, nullptr},
        {0, 3, 2, 8, 1, 32, nullptr},              // rows too short
        {0, 3, 0x10000, 0x10000, 1, 32, nullptr},  // past 2 GiB
    };
    const size_t baseline = GdiLiveObjectCount();
    for (const BITMAP& d : bad) EXPECT_EQ(CreateBitmapIndirect(&d), nullptr) << d.bmWidthBytes;
    EXPECT_EQ(CreateBitmapIndirect(nullptr), nullptr);
    EXPECT_EQ(GdiLiveObjectCount(), baseline);
}

}  // namespace
