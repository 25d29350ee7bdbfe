// CDIB pixel access, rectangle copies and whole-image tools.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "dib/Dib.h"
#include "tests/dib/DibTestSupport.h"

namespace {

using namespace dibtest;

TEST(DibPixels, OutsideCoordinatesAreIgnored) {
    CDIB rgb;
    ASSERT_TRUE(rgb.Create(4, 3, 24));
    std::memset(rgb.m_pBits, 0x11, size_t(rgb.m_nStride) * 3);
    rgb.SetPixelRGB(1, 2, RGB(1, 2, 3));
    EXPECT_EQ(Row(rgb, 2, 6), (Bytes{0x11, 0x11, 0x11, 3, 2, 1}));
    EXPECT_EQ(rgb.GetPixelRGB(1, 2), RGB(1, 2, 3));
    EXPECT_EQ(rgb.GetPixelRGB(3, 0), 0x111111u);
    const Bytes before = Block(rgb);
    const int outside[][2] = {{-1, 0}, {4, 0}, {0, -1}, {0, 3}, {INT_MIN, 0}, {0, INT_MAX}};
    for (const auto& p : outside) {
        EXPECT_EQ(rgb.GetPixelRGB(p[0], p[1]), 0u) << p[0] << "," << p[1];
        rgb.SetPixelRGB(p[0], p[1], RGB(9, 9, 9));
    }
    EXPECT_EQ(Block(rgb), before);

    CDIB pal;
    MakeRows(pal, {{1, 2, 3}, {4, 5, 6}});
    int out = 77;
    pal.GetPixelIndex(2, 1, &out);
    EXPECT_EQ(out, 6);
    pal.SetPixelIndex(0, 1, 9);
    EXPECT_EQ(Row(pal, 1, 4), (Bytes{9, 5, 6, 0xEE}));
    const Bytes palBefore = Block(pal);
    for (const auto& p : {std::pair{-1, 0}, {3, 0}, {0, -1}, {0, 2}, {INT_MIN, INT_MIN}}) {
        out = 77;
        pal.GetPixelIndex(p.first, p.second, &out);
        EXPECT_EQ(out, 77) << p.first << "," << p.second;
        pal.SetPixelIndex(p.first, p.second, 1);
    }
    EXPECT_EQ(Block(pal), palBefore);

    pal.m_pColors[255] = {1, 2, 3, 4};
    EXPECT_EQ(pal.GetPaletteColor(255), RGB(3, 2, 1));
    EXPECT_EQ(pal.GetPaletteColor(-1), 0u);
    EXPECT_EQ(pal.GetPaletteColor(256), 0u);
    EXPECT_EQ(rgb.GetPaletteColor(0), 0u);
}

TEST(DibPixels, PasteClipsAtTheLeftAndTakesTheTable) {
    CDIB source, target;
    MakeRows(source, {{10, 11, 12, 13, 14, 15, 16, 17}, {20, 21, 22, 23, 24, 25, 26, 27}});
    MakeRows(target, {Bytes(8, 1), Bytes(8, 1)});
    source.m_pColors[200] = {7, 8, 9, 0};
    // x = -3 moves the source start 3 columns right and takes 3 bytes fewer.
    target.PasteDIB(-3, 0, 6, 2, source, 1, 0, nullptr);
    EXPECT_EQ(Row(target, 0, 8), (Bytes{14, 15, 16, 1, 1, 1, 1, 1}));
    EXPECT_EQ(Row(target, 1, 8), (Bytes{24, 25, 26, 1, 1, 1, 1, 1}));
    EXPECT_EQ(target.GetPaletteColor(200), RGB(9, 8, 7));
}

TEST(DibPixels, PasteMaskKeepsMaskedValues) {
    CDIB source, target;
    MakeRows(source, {{7, 1, 7}, {2, 7, 3}});
    MakeRows(target, {{50, 50, 50}, {50, 50, 50}});
    BYTE mask[256];
    std::memset(mask, 1, sizeof mask);
    mask[7] = 0;
    target.PasteDIB(0, 0, 3, 2, source, 0, 0, mask);
    EXPECT_EQ(Row(target, 0, 3), (Bytes{50, 1, 50}));
    EXPECT_EQ(Row(target, 1, 3), (Bytes{2, 50, 3}));
}

TEST(DibPixels, PasteWithinOneImageMovesTheRectangle) {
    CDIB dib;
    MakeRows(dib, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    dib.PasteDIB(1, 1, 2, 2, dib, 0, 0, nullptr);  // down and right, overlapping
    EXPECT_EQ(Row(dib, 1, 3), (Bytes{4, 1, 2}));
    EXPECT_EQ(Row(dib, 2, 3), (Bytes{7, 4, 5}));
    dib.PasteDIB(0, 0, 2, 2, dib, 1, 1, nullptr);  // and back up and left
    EXPECT_EQ(Row(dib, 0, 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(Row(dib, 1, 3), (Bytes{4, 5, 2}));
}

// Arguments around the edges of small images, extremes included.
const int kPositions[] = {INT_MIN, -7, -1, 0, 1, 3, 8, INT_MAX};
const int kSizes[] = {INT_MIN, -1, 0, 1, 4, 9, INT_MAX};

TEST(DibPixels, PasteMatchesPixelByPixelCopy) {
    CDIB source, target;
    std::vector<Bytes> rows(5, Bytes(6));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) rows[y][x] = BYTE(1 + 6 * y + x);
    MakeRows(source, rows);
    for (int x : kPositions)
        for (int y : kPositions)
            for (int sx : kPositions)
                for (int sy : kPositions)
                    for (int w : kSizes)
                        for (int h : kSizes) {
                            MakeRows(target, std::vector<Bytes>(4, Bytes(5, 0)), 0xEE);
                            target.PasteDIB(x, y, w, h, source, sx, sy, nullptr);
                            // Pixel (tx, ty) takes source (tx - x + sx, ty - y + sy) where both
                            // rectangles and both images hold it; everything else, padding
                            // included, stays.
                            bool same = true;
                            for (int ty = 0; ty < 4; ++ty) {
                                for (int tx = 0; tx < 8; ++tx) {
                                    const int64_t rx = int64_t(tx) - x, ry = int64_t(ty) - y;
                                    const int64_t px = rx + sx, py = ry + sy;
                                    BYTE expected = tx < 5 ? 0 : 0xEE;
                                    if (tx < 5 && rx >= 0 && ry >= 0 && rx < w && ry < h &&
                                        px >= 0 && py >= 0 && px < 6 && py < 5) {
                                        expected = rows[py][px];
                                    }
                                    same = same && target.GetRowPtr(ty)[tx] == expected;
                                }
                            }
                            if (!same) {
                                ADD_FAILURE() << "PasteDIB(" << x << ", " << y << ", " << w << ", "
                                              << h << ", source, " << sx << ", " << sy << ")";
                                return;
                            }
                        }
}

TEST(DibPixels, PasteStaysInsideNarrowRows) {
    // 1-bit rows are 40 pixels but 8 bytes; 24-bit rows 3 pixels but 12 bytes.
    CDIB images[3];
    ASSERT_TRUE(images[0].Create(40, 3, 1));
    ASSERT_TRUE(images[1].Create(3, 2, 24));
    ASSERT_TRUE(images[2].Create(5, 4, 8));
    for (CDIB& d : images) std::memset(d.m_pBlock, 0x5A, size_t(d.GetDIBSize()));
    const int sourcePositions[] = {INT_MIN, -1, 0, 3, INT_MAX};
    for (CDIB& target : images)
        for (const CDIB& source : images)
            for (int x : kPositions)
                for (int y : kPositions)
                    for (int sx : sourcePositions)
                        for (int sy : sourcePositions)
                            for (int w : kSizes)
                                for (int h : kSizes) {
                                    target.PasteDIB(x, y, w, h, source, sx, sy, nullptr);
                                }
    SUCCEED() << "the sanitizers watch every access";
}

TEST(DibPixels, FillSetsPixelsOnly) {
    CDIB rgb;
    ASSERT_TRUE(rgb.Create(3, 2, 24));
    std::memset(rgb.GetRowPtr(0), 0xAB, 12);
    std::memset(rgb.GetRowPtr(1), 0xCD, 12);
    rgb.Fill(0x00FF0000);
    EXPECT_EQ(Row(rgb, 0, 12), (Bytes{0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xAB, 0xAB, 0xAB}));
    EXPECT_EQ(Row(rgb, 1, 12), (Bytes{0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xCD, 0xCD, 0xCD}));

    CDIB pal;
    MakeRows(pal, {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}});
    pal.Fill(0x12345600);
    EXPECT_EQ(Bytes(pal.m_pBits, pal.m_pBits + 16), Bytes(16, 0));
}

TEST(DibPixels, CopyRowReplacesWholeStoredRow) {
    CDIB dib;
    MakeRows(dib, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}});
    dib.GetRowPtr(0)[3] = 0x77;
    const Bytes before = Block(dib);
    for (auto [from, to] : {std::pair{3, 3}, {-1, 0}, {0, 4}, {4, 0}, {INT_MIN, 1}}) {
        dib.CopyRow(from, to);
    }
    EXPECT_EQ(Block(dib), before);
    dib.CopyRow(0, 2);
    EXPECT_EQ(Row(dib, 2, 4), (Bytes{1, 1, 1, 0x77}));
    EXPECT_EQ(Row(dib, 1, 4), (Bytes{2, 2, 2, 0xEE}));
    EXPECT_EQ(Row(dib, 3, 4), (Bytes{4, 4, 4, 0xEE}));
}

TEST(DibPixels, CountColorsAndReplaceIndexIgnorePadding) {
    CDIB dib;
    MakeRows(dib, {{5, 5, 5}, {5, 5, 5}, {5, 5, 5}}, 9);
    BYTE present[256];
    std::memset(present, 0xFF, sizeof present);
    EXPECT_EQ(dib.CountColors(present), 1);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(present[i], i == 5 ? 1 : 0) << i;

    MakeRows(dib, {{4, 2, 4}, {3, 4, 2}}, 4);
    EXPECT_EQ(dib.CountColors(), 3);
    dib.ReplaceIndex(4, 8);
    EXPECT_EQ(Row(dib, 0, 4), (Bytes{8, 2, 8, 4}));
    EXPECT_EQ(Row(dib, 1, 4), (Bytes{3, 8, 2, 4}));
}

TEST(DibPixels, EnlargeRepeatsWholePixelsAndRows) {
    CDIB source, target;
    MakeRows(source, {{'a', 'b', 'c'}, {'d', 'e', 'f'}, {'g', 'h', 'i'}});
    MakeRows(target, std::vector<Bytes>(5, Bytes(5, 'z')));
    target.EnlargeRect(0, 0, 2, 2, source, 0, 0, 3, 3);
    const Bytes ab{'a', 'a', 'b', 'b', 'b'}, de{'d', 'd', 'e', 'e', 'e'};
    const std::vector<Bytes> expected{ab, ab, de, de, de};
    for (int y = 0; y < 5; ++y) EXPECT_EQ(Row(target, y, 5), expected[y]) << y;

    // EnlargeCopy cuts the source rectangle at the source's edges and takes its table.
    source.m_pColors[3] = {1, 2, 3, 0};
    MakeRows(target, std::vector<Bytes>(5, Bytes(5, 'z')));
    target.EnlargeCopy(0, 0, 2, 2, source, 1, 1, 5, 5);
    const Bytes ef{'e', 'e', 'f', 'f', 'z'}, hi{'h', 'h', 'i', 'i', 'z'};
    const std::vector<Bytes> cut{ef, ef, hi, hi, Bytes(5, 'z')};
    for (int y = 0; y < 5; ++y) EXPECT_EQ(Row(target, y, 5), cut[y]) << y;
    EXPECT_EQ(target.GetPaletteColor(3), RGB(3, 2, 1));
}

TEST(DibPixels, EnlargeStaysInsideBothImages) {
    CDIB source, target, narrow;
    MakeRows(source, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    ASSERT_TRUE(target.Create(5, 4, 8));
    ASSERT_TRUE(narrow.Create(40, 2, 1));
    const int positions[] = {-1, 0, 2, 4, INT_MAX};
    const int factors[] = {0, 1, 3, INT_MAX};
    const int sizes[] = {INT_MIN, 0, 1, 3, INT_MAX};
    for (CDIB* to : {&target, &narrow})
        for (CDIB* from : {&source, &narrow})
            for (int x : positions)
                for (int y : positions)
                    for (int sx : positions)
                        for (int sy : positions)
                            for (int fx : factors)
                                for (int fy : factors)
                                    for (int sw : sizes)
                                        for (int sh : sizes) {
                                            to->EnlargeCopy(x, y, fx, fy, *from, sx, sy, sw, sh);
                                            to->EnlargeRect(x, y, fx, fy, *from, sx, sy, sw, sh);
                                        }
    SUCCEED() << "the sanitizers watch every access";
}

}  // namespace
