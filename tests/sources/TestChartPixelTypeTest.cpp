// Each pixel type's colour table and how the chart's colours come out in it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "sources/testchart/TestChartPage.h"
#include "tests/sources/TestChartDibReader.h"

namespace {

ChartDib LetterPage(ChartPixelType type) {
    TestChartSettings settings;
    settings.pixelType = type;
    HGLOBAL block = MakeTestChartPage(settings, 1);
    EXPECT_NE(block, nullptr);
    if (!block) return ChartDib{};
    ChartDib dib = ChartDib::FromHandle(block);
    GlobalFree(block);
    return dib;
}

uint32_t Rgb(const RGBQUAD& q) {
    return uint32_t(q.rgbRed) << 16 | uint32_t(q.rgbGreen) << 8 | q.rgbBlue;
}

bool IsGrey(const RGBQUAD& q) { return q.rgbRed == q.rgbGreen && q.rgbGreen == q.rgbBlue; }

// Centres of the eight colour bars on a letter page at 100 dpi, in row 425.
constexpr int kBarCentres[8] = {74, 171, 269, 367, 465, 562, 660, 758};
constexpr int kBarRow = 425;

TEST(TestChartTables, BlackAndWhiteIsBlackThenWhite) {
    const ChartDib dib = LetterPage(ChartPixelType::BlackWhite);
    ASSERT_EQ(dib.table.size(), 2u);
    EXPECT_EQ(Rgb(dib.table[0]), 0x000000u);
    EXPECT_EQ(Rgb(dib.table[1]), 0xFFFFFFu);
    EXPECT_EQ(dib.table[1].rgbReserved, 0);
}

TEST(TestChartTables, GreyTablesAreEvenRamps) {
    const ChartDib gray4 = LetterPage(ChartPixelType::Gray4);
    ASSERT_EQ(gray4.table.size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(Rgb(gray4.table[i]), uint32_t(i * 17) * 0x010101u);
    const ChartDib gray8 = LetterPage(ChartPixelType::Gray8);
    ASSERT_EQ(gray8.table.size(), 256u);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(Rgb(gray8.table[i]), uint32_t(i) * 0x010101u);
}

TEST(TestChartTables, PaletteIsACubeAndFortyGreys) {
    const ChartDib dib = LetterPage(ChartPixelType::Palette);
    ASSERT_EQ(dib.table.size(), 256u);
    EXPECT_EQ(Rgb(dib.table[0]), 0x000000u);
    EXPECT_EQ(Rgb(dib.table[5]), 0x0000FFu);
    EXPECT_EQ(Rgb(dib.table[30]), 0x00FF00u);
    EXPECT_EQ(Rgb(dib.table[180]), 0xFF0000u);
    EXPECT_EQ(Rgb(dib.table[215]), 0xFFFFFFu);
    EXPECT_EQ(Rgb(dib.table[1 * 36 + 2 * 6 + 3]), 0x336699u);
    std::set<uint32_t> distinct;
    for (const RGBQUAD& q : dib.table) distinct.insert(Rgb(q));
    EXPECT_EQ(distinct.size(), 256u);
    for (int i = 216; i < 256; ++i) {
        EXPECT_TRUE(IsGrey(dib.table[i])) << i;
        if (i > 216) {
            EXPECT_GT(dib.table[i].rgbRed, dib.table[i - 1].rgbRed) << i;
        }
    }
}

TEST(TestChartColours, BarsInEachPixelType) {
    const ChartDib gray8 = LetterPage(ChartPixelType::Gray8);
    const ChartDib gray4 = LetterPage(ChartPixelType::Gray4);
    const ChartDib palette = LetterPage(ChartPixelType::Palette);
    // Luminance 0.30 R + 0.59 G + 0.11 B of white, yellow, cyan, green, magenta, red,
    // blue, black; the same to the nearest of 16 greys; the palette's exact colours.
    const uint32_t grey8[8] = {255, 226, 178, 149, 106, 77, 29, 0};
    const uint32_t grey4[8] = {15, 13, 10, 9, 6, 5, 2, 0};
    const uint32_t entries[8] = {215, 210, 35, 30, 185, 180, 5, 0};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(gray8.Value(kBarCentres[k], kBarRow), grey8[k]) << "bar " << k;
        EXPECT_EQ(gray4.Value(kBarCentres[k], kBarRow), grey4[k]) << "bar " << k;
        EXPECT_EQ(palette.Value(kBarCentres[k], kBarRow), entries[k]) << "bar " << k;
    }
}

TEST(TestChartColours, WedgeStepsInFourBitGreyAndPalette) {
    const ChartDib gray4 = LetterPage(ChartPixelType::Gray4);
    const ChartDib palette = LetterPage(ChartPixelType::Palette);
    for (int step = 0; step < 16; ++step) {
        const int x = 34 + 782 * (2 * step + 1) / 32;
        EXPECT_EQ(gray4.Value(x, 700), uint32_t(step)) << "step " << step;
        // The palette's nearest grey: its greys are at most about 6 apart.
        const RGBQUAD& q = palette.table.at(palette.Value(x, 700));
        EXPECT_TRUE(IsGrey(q)) << "step " << step;
        EXPECT_LE(std::abs(int(q.rgbRed) - step * 17), 3) << "step " << step;
    }
}

TEST(TestChartColours, BlackAndWhiteDithersTheRampAndKeepsLinesSharp) {
    const ChartDib dib = LetterPage(ChartPixelType::BlackWhite);
    // The ramp from black to white comes out about half white, and whiter to the right.
    int white = 0;
    int whiteLeft = 0;
    int whiteRight = 0;
    for (int y = 580; y < 660; ++y) {
        for (int x = 34; x < 816; ++x) {
            const bool isWhite = dib.Value(x, y) == 1;
            white += isWhite;
            if (x < 230) whiteLeft += isWhite;
            if (x >= 620) whiteRight += isWhite;
        }
    }
    const double fraction = double(white) / (80.0 * 782.0);
    EXPECT_NEAR(fraction, 0.5, 0.03);
    EXPECT_LT(whiteLeft * 3, whiteRight);
    // Pure black and white are not dithered.
    for (int x = 34; x < 120; ++x) ASSERT_EQ(dib.Value(x, 20), 1u) << x;
    EXPECT_EQ(dib.Value(34, 900), 0u);
    EXPECT_EQ(dib.Value(35, 900), 1u);
    EXPECT_EQ(dib.Value(kBarCentres[0], kBarRow), 1u);
    EXPECT_EQ(dib.Value(kBarCentres[7], kBarRow), 0u);
}

}  // namespace
