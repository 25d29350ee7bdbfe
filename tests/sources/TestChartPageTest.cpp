// The test-chart page generator: page sizes, the packed DIB's header, the chart's
// known pixels, and that the same settings always give the same bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sources/testchart/TestChartPage.h"
#include "tests/DibRowSize.h"
#include "tests/sources/TestChartDibReader.h"

namespace {

TestChartSettings Settings(ChartPixelType type, ChartPageSize size = ChartPageSize::Letter,
                           int dpi = 100) {
    TestChartSettings settings;
    settings.pixelType = type;
    settings.pageSize = size;
    settings.dpi = dpi;
    return settings;
}

TestChartSettings Custom(ChartPixelType type, int width, int height) {
    TestChartSettings settings = Settings(type, ChartPageSize::Custom);
    settings.customWidth = width;
    settings.customHeight = height;
    return settings;
}

ChartDib MakeDib(const TestChartSettings& settings, int pageNumber = 1) {
    HGLOBAL block = MakeTestChartPage(settings, pageNumber);
    EXPECT_NE(block, nullptr);
    if (!block) return ChartDib{};
    ChartDib dib = ChartDib::FromHandle(block);
    GlobalFree(block);
    return dib;
}

TEST(TestChartPageSize, PaperSizesAtTheirResolution) {
    EXPECT_EQ(Settings(ChartPixelType::Rgb).PixelWidth(), 850);
    EXPECT_EQ(Settings(ChartPixelType::Rgb).PixelHeight(), 1100);
    EXPECT_EQ(Settings(ChartPixelType::Rgb, ChartPageSize::A4).PixelWidth(), 827);
    EXPECT_EQ(Settings(ChartPixelType::Rgb, ChartPageSize::A4).PixelHeight(), 1169);
    EXPECT_EQ(Settings(ChartPixelType::Rgb, ChartPageSize::A4, 300).PixelWidth(), 2480);
    EXPECT_EQ(Settings(ChartPixelType::Rgb, ChartPageSize::A4, 300).PixelHeight(), 3508);
    EXPECT_EQ(Settings(ChartPixelType::Rgb, ChartPageSize::Legal).PixelHeight(), 1400);
    EXPECT_EQ(Settings(ChartPixelType::Rgb, ChartPageSize::Letter, 300).PixelWidth(), 2550);
    EXPECT_EQ(Custom(ChartPixelType::Rgb, 64, 48).PixelHeight(), 48);
}

TEST(TestChartPageHeader, LetterAt100DpiInColour) {
    const ChartDib dib = MakeDib(Settings(ChartPixelType::Rgb));
    EXPECT_EQ(dib.header.biSize, 40u);
    EXPECT_EQ(dib.header.biWidth, 850);
    EXPECT_EQ(dib.header.biHeight, 1100);
    EXPECT_EQ(dib.header.biPlanes, 1);
    EXPECT_EQ(dib.header.biBitCount, 24);
    EXPECT_EQ(dib.header.biCompression, BI_RGB);
    EXPECT_EQ(dib.header.biSizeImage, 2552u * 1100u);  // 850 * 3 padded to 2552
    EXPECT_EQ(dib.header.biXPelsPerMeter, 3937);
    EXPECT_EQ(dib.header.biYPelsPerMeter, 3937);
    EXPECT_EQ(dib.header.biClrUsed, 0u);
    EXPECT_EQ(dib.bytes.size(), 40u + 2552u * 1100u);
}

struct TypeCase {
    ChartPixelType type;
    int bits;
    size_t tableSize;
    int16_t twainType;
};

class TestChartPixelTypes : public ::testing::TestWithParam<TypeCase> {};

TEST_P(TestChartPixelTypes, HeaderBlockSizeAndImageInfoAgree) {
    const TypeCase c = GetParam();
    const TestChartSettings settings = Custom(c.type, 37, 23);
    HGLOBAL block = MakeTestChartPage(settings, 1);
    ASSERT_NE(block, nullptr);
    const ChartDib dib = ChartDib::FromHandle(block);
    const size_t stride = DibRowSize(37, c.bits);
    EXPECT_EQ(dib.header.biBitCount, c.bits);
    EXPECT_EQ(dib.header.biClrUsed, c.tableSize);
    EXPECT_EQ(dib.header.biSizeImage, stride * 23);
    EXPECT_EQ(GlobalSize(block), 40 + c.tableSize * 4 + stride * 23);
    EXPECT_EQ(TestChartPageBytes(settings), GlobalSize(block));
    GlobalFree(block);

    const TW_IMAGEINFO info = TestChartImageInfo(settings);
    EXPECT_EQ(int(info.ImageWidth), 37);
    EXPECT_EQ(int(info.ImageLength), 23);
    EXPECT_EQ(info.XResolution.Whole, 100);
    EXPECT_EQ(info.XResolution.Frac, 0);
    EXPECT_EQ(info.YResolution.Whole, 100);
    EXPECT_EQ(info.BitsPerPixel, c.bits);
    EXPECT_EQ(info.PixelType, c.twainType);
    EXPECT_EQ(info.Planar, FALSE);
    EXPECT_EQ(info.Compression, TWCP_NONE);
    const int samples = c.bits == 24 ? 3 : 1;
    EXPECT_EQ(info.SamplesPerPixel, samples);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(info.BitsPerSample[i], i < samples ? (c.bits == 24 ? 8 : c.bits) : 0) << i;
}

TEST_P(TestChartPixelTypes, SameSettingsGiveTheSameBytes) {
    TestChartSettings settings = Settings(GetParam().type, ChartPageSize::Letter, 50);
    settings.pages = 3;
    const ChartDib first = MakeDib(settings, 2);
    const ChartDib second = MakeDib(settings, 2);
    ASSERT_FALSE(first.bytes.empty());
    EXPECT_TRUE(first.bytes == second.bytes);

    // Painting into a caller's block gives the same bytes as a new block.
    std::vector<uint8_t> own(TestChartPageBytes(settings));
    ASSERT_TRUE(PaintTestChartPage(settings, 2, own.data(), own.size()));
    EXPECT_TRUE(own == first.bytes);
}

TEST_P(TestChartPixelTypes, TinyPagesStayInsideTheirBlock) {
    // Under the sanitizer a row written past the block fails here.
    for (int width = 1; width <= 24; ++width) {
        for (int height = 1; height <= 24; height += 3) {
            const ChartDib dib = MakeDib(Custom(GetParam().type, width, height));
            ASSERT_EQ(dib.header.biWidth, width);
            EXPECT_EQ(dib.Colour(0, 0), 0u) << width << "x" << height;  // the frame
            EXPECT_EQ(dib.Colour(width - 1, height - 1), 0u) << width << "x" << height;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, TestChartPixelTypes,
                         ::testing::Values(TypeCase{ChartPixelType::BlackWhite, 1, 2, TWPT_BW},
                                           TypeCase{ChartPixelType::Gray4, 4, 16, TWPT_GRAY},
                                           TypeCase{ChartPixelType::Gray8, 8, 256, TWPT_GRAY},
                                           TypeCase{ChartPixelType::Palette, 8, 256, TWPT_PALETTE},
                                           TypeCase{ChartPixelType::Rgb, 24, 0, TWPT_RGB}));

TEST(TestChartPagePaint, RefusesABlockTooSmallAndWritesNothing) {
    const TestChartSettings settings = Custom(ChartPixelType::Gray8, 16, 16);
    std::vector<uint8_t> block(TestChartPageBytes(settings) - 1, 0xA5);
    EXPECT_FALSE(PaintTestChartPage(settings, 1, block.data(), block.size()));
    for (uint8_t b : block) ASSERT_EQ(b, 0xA5);
}

TEST(TestChartPagePaint, RowPaddingIsZero) {
    // 5 pixels of 24 bits: 15 bytes of pixels and 1 byte of padding a row.
    const ChartDib dib = MakeDib(Custom(ChartPixelType::Rgb, 5, 4));
    ASSERT_EQ(dib.Stride(), 16u);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(dib.Row(y)[15], 0) << y;
}

// Letter at 100 dpi: a 34-pixel margin; bands from the top: text (rows 34 to 280),
// colour bars (322 to 528), grey ramp (570 to 672), wedge (673 to 776), fine lines
// (818 to 1065). Coordinates below are well inside their band.
TEST(TestChartPageContent, FrameAndColourBarsInOrderTopDown) {
    const ChartDib dib = MakeDib(Settings(ChartPixelType::Rgb));
    EXPECT_EQ(dib.Colour(0, 0), 0x000000u);
    EXPECT_EQ(dib.Colour(849, 0), 0x000000u);
    EXPECT_EQ(dib.Colour(0, 1099), 0x000000u);
    EXPECT_EQ(dib.Colour(10, 10), 0xFFFFFFu);
    EXPECT_EQ(dib.Colour(849, 550), 0x000000u);

    const int barCentres[8] = {74, 171, 269, 367, 465, 562, 660, 758};
    const uint32_t barColours[8] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                                    0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(dib.Colour(barCentres[k], 425), barColours[k]) << "bar " << k;
        EXPECT_EQ(dib.Colour(barCentres[k], 323), barColours[k]) << "bar " << k;
    }
    // Above and below the bars the page is white.
    EXPECT_EQ(dib.Colour(171, 300), 0xFFFFFFu);
    EXPECT_EQ(dib.Colour(171, 550), 0xFFFFFFu);
}

TEST(TestChartPageContent, GreyRampAndWedge) {
    const ChartDib dib = MakeDib(Settings(ChartPixelType::Gray8));
    EXPECT_EQ(dib.Value(34, 600), 0u);
    EXPECT_EQ(dib.Value(815, 600), 255u);
    EXPECT_EQ(dib.Value(424, 600), 127u);
    for (int x = 35; x < 816; ++x) ASSERT_GE(dib.Value(x, 600), dib.Value(x - 1, 600)) << x;
    for (int step = 0; step < 16; ++step) {
        const int x = 34 + 782 * (2 * step + 1) / 32;
        EXPECT_EQ(dib.Value(x, 700), uint32_t(step * 17)) << "step " << step;
    }
}

TEST(TestChartPageContent, FineLines) {
    const ChartDib dib = MakeDib(Settings(ChartPixelType::Rgb));
    // One-pixel vertical lines, then two-pixel ones.
    EXPECT_EQ(dib.Colour(34, 900), 0x000000u);
    EXPECT_EQ(dib.Colour(35, 900), 0xFFFFFFu);
    EXPECT_EQ(dib.Colour(36, 900), 0x000000u);
    const uint32_t wide[5] = {0, 0, 0xFFFFFF, 0xFFFFFF, 0};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(dib.Colour(230 + i, 900), wide[i]) << i;
    // Horizontal lines on every other row of the band, which starts at row 818.
    EXPECT_EQ(dib.Colour(500, 900), 0x000000u);
    EXPECT_EQ(dib.Colour(500, 901), 0xFFFFFFu);
    // Diagonals falling to the right, every eighth pixel, from x 621.
    EXPECT_EQ(dib.Colour(623, 900), 0x000000u);
    EXPECT_EQ(dib.Colour(624, 901), 0x000000u);
    EXPECT_EQ(dib.Colour(631, 900), 0x000000u);
    EXPECT_EQ(dib.Colour(624, 900), 0xFFFFFFu);
    EXPECT_EQ(dib.Colour(623, 901), 0xFFFFFFu);
}

TEST(TestChartPageContent, PagesOfABatchDifferOnlyInTheirText) {
    TestChartSettings settings = Settings(ChartPixelType::Rgb);
    settings.pages = 2;
    const ChartDib first = MakeDib(settings, 1);
    const ChartDib second = MakeDib(settings, 2);
    ASSERT_EQ(first.bytes.size(), second.bytes.size());
    int differingRows = 0;
    for (int y = 0; y < 1100; ++y) {
        const bool same = std::memcmp(first.Row(y), second.Row(y), first.Stride()) == 0;
        if (!same) {
            ++differingRows;
            EXPECT_TRUE(y >= 34 && y < 281) << "row " << y << " is outside the text";
        }
    }
    EXPECT_GT(differingRows, 0);
    // Writing in the text band, none in the margin above it.
    int black = 0;
    for (int y = 34; y < 281; ++y)
        for (int x = 34; x < 816; ++x) black += first.Colour(x, y) == 0;
    EXPECT_GT(black, 1000);
    for (int x = 1; x < 849; ++x) ASSERT_EQ(first.Colour(x, 20), 0xFFFFFFu) << x;
}

}  // namespace
