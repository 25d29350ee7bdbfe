// CDIB gamma table, colour matching, conversion onto a palette, palette loading and
// scaled copies.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <vector>

#include "dib/Dib.h"
#include "tests/dib/DibTestSupport.h"

namespace {

using namespace dibtest;

RGBQUAD Rgb(BYTE r, BYTE g, BYTE b) { return {b, g, r, 0}; }

// An 8-bit 1x1 image whose table starts with `entries`; the rest is far-away magenta.
void MakePalette(CDIB& dib, std::initializer_list<RGBQUAD> entries, int w = 1, int h = 1) {
    ASSERT_TRUE(dib.Create(w, h, 8));
    for (int i = 0; i < 256; ++i) dib.m_pColors[i] = Rgb(255, 0, 255);
    int i = 0;
    for (const RGBQUAD& e : entries) dib.m_pColors[i++] = e;
    std::memset(dib.m_pBits, 0xEE, size_t(dib.m_nStride) * h);
}

TEST(DibGamma, TableRoundsThePowerCurve) {
    CDIB dib;
    dib.SetGamma(2.0f, TRUE);
    EXPECT_TRUE(dib.m_bGamma);
    EXPECT_EQ(dib.m_GammaTable[0], 0);
    EXPECT_EQ(dib.m_GammaTable[64], 16);
    EXPECT_EQ(dib.m_GammaTable[128], 64);
    EXPECT_EQ(dib.m_GammaTable[254], 253);
    EXPECT_EQ(dib.m_GammaTable[255], 255);
    dib.SetGamma(0.5f, TRUE);
    EXPECT_EQ(dib.m_GammaTable[0], 0);
    EXPECT_EQ(dib.m_GammaTable[1], 16);
    EXPECT_EQ(dib.m_GammaTable[64], 128);
    EXPECT_EQ(dib.m_GammaTable[128], 181);
    EXPECT_EQ(dib.m_GammaTable[255], 255);
    dib.SetGamma(1.0f, FALSE);
    EXPECT_FALSE(dib.m_bGamma);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(dib.m_GammaTable[i], i);
}

TEST(DibGamma, DegenerateExponentsStayBytes) {
    CDIB dib;
    // x^0 is 1 and x^-1.5 is at least 1 on [0, 1]: every entry saturates.
    for (float g : {0.0f, -1.5f, -std::numeric_limits<float>::infinity()}) {
        dib.SetGamma(g, TRUE);
        for (int i = 1; i < 256; ++i) ASSERT_EQ(dib.m_GammaTable[i], 255) << g << " " << i;
    }
    dib.SetGamma(std::numeric_limits<float>::infinity(), TRUE);
    EXPECT_EQ(dib.m_GammaTable[254], 0);
    EXPECT_EQ(dib.m_GammaTable[255], 255);
    dib.SetGamma(std::nanf(""), TRUE);  // only has to stay defined
}

TEST(DibColor, DistanceWeighsGreenMostAndBlueLeast) {
    const BYTE black[3] = {0, 0, 0}, blue[3] = {1, 0, 0}, green[3] = {0, 1, 0}, red[3] = {0, 0, 1};
    const BYTE white[3] = {255, 255, 255}, mix[3] = {10, 20, 30};
    EXPECT_EQ(CDIB::ColorDistance(black, blue), 2);
    EXPECT_EQ(CDIB::ColorDistance(black, green), 4);
    EXPECT_EQ(CDIB::ColorDistance(black, red), 3);
    EXPECT_EQ(CDIB::ColorDistance(white, black), 585225);
    EXPECT_EQ(CDIB::ColorDistance(mix, black), 2 * 100 + 4 * 400 + 3 * 900);
    EXPECT_EQ(CDIB::ColorDistance(black, mix), CDIB::ColorDistance(mix, black));
}

TEST(DibColor, ClosestEntry) {
    const RGBQUAD grey = Rgb(100, 100, 100);
    struct Case {
        const char* what;
        std::initializer_list<RGBQUAD> table;
        RGBQUAD color;
        int index;
    };
    const Case cases[] = {
        {"exact beats an earlier close one", {Rgb(100, 100, 101), grey}, grey, 1},
        {"first of two exact", {Rgb(9, 9, 9), grey, grey}, grey, 1},
        {"first of two at equal distance",
         {Rgb(0, 0, 0), Rgb(110, 100, 100), Rgb(90, 100, 100)},
         grey,
         1},
        {"blue nearer than red",
         {Rgb(100, 110, 100), Rgb(110, 100, 100), Rgb(100, 100, 110)},
         grey,
         2},
        {"red nearer than green", {Rgb(100, 110, 100), Rgb(110, 100, 100)}, grey, 1},
        {"fourth byte not compared", {Rgb(1, 1, 1), {100, 100, 100, 9}}, {100, 100, 100, 200}, 1},
        {"far colour takes the nearest", {Rgb(0, 0, 0), Rgb(200, 200, 200)}, Rgb(250, 250, 250), 1},
    };
    for (const Case& c : cases) {
        CDIB dib;
        MakePalette(dib, c.table);
        EXPECT_EQ(dib.FindClosestColor(c.color), c.index) << c.what;
        EXPECT_EQ(dib.FindClosestColor(c.color), c.index) << c.what << ", asked again";
    }
    CDIB rgb;
    ASSERT_TRUE(rgb.Create(1, 1, 24));
    EXPECT_EQ(rgb.FindClosestColor(grey), -1);
}

TEST(DibConvert, TrueColourMatchesThroughTopOfEachEight) {
    CDIB target, source;
    MakePalette(target, {}, 3, 1);
    target.m_pColors[3] = Rgb(8, 8, 8);
    target.m_pColors[5] = Rgb(0, 0, 0);
    // Against the representative (0x47, 0x87, 0xC7), entries 20 to 22 each miss one
    // channel by 7; entry 23 is 3 away in all three and so the nearest.
    target.m_pColors[20] = Rgb(0x40, 0x87, 0xC7);
    target.m_pColors[21] = Rgb(0x47, 0x80, 0xC7);
    target.m_pColors[22] = Rgb(0x47, 0x87, 0xC0);
    target.m_pColors[23] = Rgb(0x4A, 0x8A, 0xCA);
    ASSERT_TRUE(source.Create(3, 1, 24));
    source.SetPixelRGB(0, 0, RGB(0, 0, 0));  // stands for (7, 7, 7): nearer to 8 than to 0
    source.SetPixelRGB(1, 0, RGB(0x40, 0x80, 0xC0));
    source.SetPixelRGB(2, 0, RGB(0x47, 0x87, 0xC7));
    const Bytes before = Block(target);
    EXPECT_TRUE(target.ConvertFrom(&source));
    EXPECT_EQ(Row(target, 0, 3), (Bytes{3, 23, 23}));
    const Bytes after = Block(target);
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 1064),
              Bytes(before.begin(), before.begin() + 1064));  // header and table kept
}

TEST(DibConvert, PaletteSourcesAreReadPerPixel) {
    CDIB target;
    MakePalette(target, {}, 10, 2);
    target.m_pColors[2] = Rgb(0, 0, 0);
    target.m_pColors[7] = Rgb(255, 255, 255);

    CDIB mono;
    ASSERT_TRUE(mono.Create(10, 2, 1));
    mono.m_pColors[0] = Rgb(0, 0, 0);
    mono.m_pColors[1] = Rgb(250, 250, 250);
    // Pixels 8 and 9 are the top two bits of the second byte; the rest of it is noise.
    const Bytes top{0xA0, 0xBF}, bottom{0x01, 0x7F};
    std::memcpy(mono.GetRowPtr(0), top.data(), 2);
    std::memcpy(mono.GetRowPtr(1), bottom.data(), 2);
    EXPECT_TRUE(target.ConvertFrom(&mono));
    EXPECT_EQ(Row(target, 0, 10), (Bytes{7, 2, 7, 2, 2, 2, 2, 2, 7, 2}));
    EXPECT_EQ(Row(target, 1, 10), (Bytes{2, 2, 2, 2, 2, 2, 2, 7, 2, 7}));

    // 4 bits: entry k of the source is entry 15 - k of the target.
    CDIB nibbles, small;
    ASSERT_TRUE(nibbles.Create(3, 1, 4));
    MakePalette(small, {}, 2, 1);
    for (int k = 0; k < 16; ++k) {
        nibbles.m_pColors[k] = Rgb(BYTE(16 * k), BYTE(k), 0);
        small.m_pColors[15 - k] = nibbles.m_pColors[k];
    }
    nibbles.GetRowPtr(0)[0] = 0x5A;
    nibbles.GetRowPtr(0)[1] = 0x31;
    EXPECT_TRUE(small.ConvertFrom(&nibbles));  // a smaller target takes the top-left part
    EXPECT_EQ(Row(small, 0, 3), (Bytes{10, 5, 0xEE}));
}

TEST(DibConvert, EachConversionMatchesAfresh) {
    CDIB source, target;
    MakeRows(source, {{1, 2}});
    source.m_pColors[1] = Rgb(50, 60, 70);
    source.m_pColors[2] = Rgb(200, 10, 10);
    MakePalette(target, {Rgb(50, 60, 70), Rgb(200, 10, 10)}, 2, 1);
    EXPECT_TRUE(target.ConvertFrom(&source));
    EXPECT_EQ(Row(target, 0, 2), (Bytes{0, 1}));
    // Colours matched last time must not keep their old entries.
    target.m_pColors[0] = Rgb(0, 0, 0);
    target.m_pColors[1] = Rgb(0, 0, 255);
    target.m_pColors[4] = Rgb(50, 60, 70);
    target.m_pColors[6] = Rgb(200, 10, 10);
    EXPECT_TRUE(target.ConvertFrom(&source));
    EXPECT_EQ(Row(target, 0, 2), (Bytes{4, 6}));
}

TEST(DibConvert, RefusedConversionsChangeNothing) {
    CDIB target;
    MakePalette(target, {Rgb(1, 2, 3)}, 2, 2);
    const Bytes before = Block(target);
    for (int bits : {16, 32}) {
        CDIB source;
        ASSERT_TRUE(source.Create(2, 2, bits));
        std::memset(source.m_pBits, 0, size_t(source.m_nStride) * 2);
        EXPECT_FALSE(target.ConvertFrom(&source)) << bits;
    }
    CDIB narrow, low, empty;
    MakePalette(narrow, {}, 1, 2);
    MakePalette(low, {}, 2, 1);
    EXPECT_FALSE(target.ConvertFrom(&narrow));
    EXPECT_FALSE(target.ConvertFrom(&low));
    EXPECT_FALSE(target.ConvertFrom(&empty));
    EXPECT_FALSE(target.ConvertFrom(nullptr));
    EXPECT_EQ(Block(target), before);

    CDIB rgbTarget, source;
    ASSERT_TRUE(rgbTarget.Create(2, 2, 24));
    std::memset(rgbTarget.m_pBits, 0x33, 16);
    MakePalette(source, {}, 2, 2);
    const Bytes rgbBefore = Block(rgbTarget);
    EXPECT_FALSE(rgbTarget.ConvertFrom(&source));
    EXPECT_EQ(Block(rgbTarget), rgbBefore);
}

TEST(DibPalette, LoadsTriplesInRedGreenBlueOrder) {
    CDIB dib;
    ASSERT_TRUE(dib.Create(8, 1, 1));
    dib.m_pColors[0] = {0x77, 0x77, 0x77, 0x77};
    dib.m_pColors[1] = {0x77, 0x77, 0x77, 0x77};
    const BYTE triples[] = {1, 2, 3, 128, 64, 254};
    dib.SetPaletteFromRGB(triples);
    EXPECT_EQ(std::memcmp(dib.m_pColors, Bytes({3, 2, 1, 0, 254, 64, 128, 0}).data(), 8), 0);

    dib.SetGamma(2.0f, TRUE);
    dib.SetPaletteFromRGB(triples);
    EXPECT_EQ(std::memcmp(dib.m_pColors, Bytes({0, 0, 0, 0, 253, 16, 64, 0}).data(), 8), 0);

    CDIB rgb;
    ASSERT_TRUE(rgb.Create(2, 1, 24));
    std::memset(rgb.m_pBits, 0x44, 8);
    const Bytes before = Block(rgb);
    rgb.SetPaletteFromRGB(triples);
    EXPECT_EQ(Block(rgb), before);
}

// Stretches one source rectangle onto a fresh 'z'-filled target and returns the rows.
std::vector<Bytes> Stretch(const std::vector<Bytes>& source, int tw, int th, int dx, int dy, int dw,
                           int dh, int sx, int sy, int sw, int sh) {
    CDIB from, to;
    MakeRows(from, source);
    MakeRows(to, std::vector<Bytes>(size_t(th), Bytes(size_t(tw), 'z')));
    to.StretchCopy(dx, dy, dw, dh, &from, sx, sy, sw, sh);
    std::vector<Bytes> out;
    for (int y = 0; y < th; ++y) out.push_back(Row(to, y, tw));
    return out;
}

TEST(DibStretchCopy, ScalesByRepeatingAndDropping) {
    using Rows = std::vector<Bytes>;
    // Whole factors 3 and 2, placed at (1, 1).
    EXPECT_EQ(Stretch({{'a', 'b'}, {'c', 'd'}}, 8, 5, 1, 1, 6, 4, 0, 0, 2, 2),
              (Rows{Bytes(8, 'z'),
                    {'z', 'a', 'a', 'a', 'b', 'b', 'b', 'z'},
                    {'z', 'a', 'a', 'a', 'b', 'b', 'b', 'z'},
                    {'z', 'c', 'c', 'c', 'd', 'd', 'd', 'z'},
                    {'z', 'c', 'c', 'c', 'd', 'd', 'd', 'z'}}));
    EXPECT_EQ(Stretch({{1, 2, 3}}, 4, 1, 0, 0, 4, 1, 0, 0, 3, 1), (Rows{{1, 2, 3, 3}}));
    EXPECT_EQ(Stretch({{1, 2, 3, 4}}, 4, 1, 0, 0, 3, 1, 0, 0, 4, 1), (Rows{{2, 3, 4, 'z'}}));
    EXPECT_EQ(Stretch({{1, 2, 3}}, 3, 1, 0, 0, 2, 1, 0, 0, 3, 1), (Rows{{2, 3, 'z'}}));
    EXPECT_EQ(Stretch({{1, 2, 3, 4}}, 6, 1, 0, 0, 6, 1, 0, 0, 4, 1), (Rows{{1, 2, 2, 3, 4, 4}}));
    EXPECT_EQ(Stretch({{1, 2, 3, 4, 5}}, 3, 1, 0, 0, 3, 1, 0, 0, 5, 1), (Rows{{2, 4, 5}}));
    // Rows follow the same rule: 3 rows onto 4 repeat the last, 3 onto 2 drop the first.
    EXPECT_EQ(Stretch({{1}, {2}, {3}}, 1, 4, 0, 0, 1, 4, 0, 0, 1, 3), (Rows{{1}, {2}, {3}, {3}}));
    EXPECT_EQ(Stretch({{1}, {2}, {3}}, 1, 3, 0, 0, 1, 2, 0, 0, 1, 3), (Rows{{2}, {3}, {'z'}}));
    EXPECT_EQ(Stretch({{1}, {2}, {3}, {4}}, 1, 6, 0, 0, 1, 6, 0, 0, 1, 4),
              (Rows{{1}, {2}, {2}, {3}, {4}, {4}}));
    // A source rectangle reaching past the source is cut at its edge.
    EXPECT_EQ(Stretch({{1, 2}, {3, 4}}, 2, 2, 0, 0, 2, 2, 1, 0, 5, 2), (Rows{{2, 2}, {4, 4}}));
}

TEST(DibStretchCopy, NothingToCopyLeavesTargetAlone) {
    CDIB source, target;
    MakeRows(source, {{1, 2, 3}, {4, 5, 6}});
    source.m_pColors[0] = Rgb(1, 2, 3);
    MakeRows(target, {{9, 9, 9}, {9, 9, 9}});
    target.m_pColors[0] = Rgb(7, 7, 7);
    const Bytes before = Block(target);
    const int args[][8] = {
        {0, 0, 3, 2, 3, 0, 1, 1},   // source rectangle starts at the right edge
        {0, 0, 3, 2, 0, 2, 1, 1},   // ... at the bottom edge
        {0, 0, 3, 2, 0, 0, 0, 2},   // no source columns
        {0, 0, 0, 2, 0, 0, 3, 2},   // no target columns
        {-1, 0, 3, 2, 0, 0, 3, 2},  // negative offsets
        {0, -1, 3, 2, 0, 0, 3, 2}, {0, 0, 3, 2, -1, 0, 3, 2}, {0, 0, 3, 2, 0, -1, 3, 2},
    };
    for (const auto& a : args) {
        target.StretchCopy(a[0], a[1], a[2], a[3], &source, a[4], a[5], a[6], a[7]);
        EXPECT_EQ(Block(target), before)
            << a[0] << a[1] << a[2] << a[3] << a[4] << a[5] << a[6] << a[7];
    }
    target.StretchCopy(0, 0, 3, 2, nullptr, 0, 0, 3, 2);
    EXPECT_EQ(Block(target), before);
    target.StretchCopy(0, 0, 2, 1, &source, 0, 0, 3, 2);  // a real copy takes the table
    EXPECT_EQ(target.GetPaletteColor(0), RGB(1, 2, 3));
}

TEST(DibStretchCopy, StaysInsideBothImages) {
    CDIB source, target, mono;
    MakeRows(source, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    ASSERT_TRUE(target.Create(5, 4, 8));
    ASSERT_TRUE(mono.Create(40, 3, 1));
    const int positions[] = {-1, 0, 2, INT_MAX};
    const int sizes[] = {INT_MIN, 0, 1, 3, 7, INT_MAX};
    for (CDIB* to : {&target, &mono})
        for (CDIB* from : {&source, &mono})
            for (int dx : positions)
                for (int dy : positions)
                    for (int sx : positions)
                        for (int sy : positions)
                            for (int dw : sizes)
                                for (int dh : sizes)
                                    for (int sw : sizes)
                                        for (int sh : sizes) {
                                            to->StretchCopy(dx, dy, dw, dh, from, sx, sy, sw, sh);
                                        }
    SUCCEED() << "the sanitizers watch every access";
}

}  // namespace
