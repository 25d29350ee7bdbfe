// The scan settings in the page generator: an area page is exactly its piece of the
// whole-bed page, the area's pixel size, the batches of the feeder and the flatbed,
// and the back of a sheet.
#include <gtest/gtest.h>

#include "sources/testchart/TestChartBatch.h"
#include "sources/testchart/TestChartPage.h"
#include "tests/sources/TestChartDibReader.h"
#include "tests/sources/TestChartPages.h"

namespace {

ChartDib Page(const TestChartSettings& settings, int pageNumber = 1,
              ChartSide side = ChartSide::Front) {
    HGLOBAL block = MakeTestChartPage(settings, pageNumber, side);
    EXPECT_NE(block, nullptr);
    if (!block) return ChartDib{};
    ChartDib dib = ChartDib::FromHandle(block);
    GlobalFree(block);
    return dib;
}

// At 64 dpi a pixel is 1024 steps of 1/65536 inch, so these frames are whole pixels.
constexpr int kDpi = 64;
ChartFrame PixelFrame(int left, int top, int width, int height) {
    constexpr int64_t pixel = ChartFrame::kUnitsPerInch / kDpi;
    return ChartFrame{left * pixel, top * pixel, (left + width) * pixel, (top + height) * pixel};
}

class TestChartAreaCrop : public ::testing::TestWithParam<ChartPixelType> {};

TEST_P(TestChartAreaCrop, AreaPageIsThePixelsOfTheWholePageThere) {
    TestChartSettings settings;
    settings.pixelType = GetParam();
    settings.dpi = kDpi;  // Letter: 544 x 704 pixels
    const ChartDib whole = Page(settings);
    // An odd left edge: the dither and the 4-bit pairs must not restart at the area.
    settings.area = PixelFrame(37, 101, 201, 333);
    EXPECT_EQ(settings.ImageRect(), (ChartPixelRect{37, 101, 201, 333}));
    const ChartDib area = Page(settings);
    EXPECT_EQ(area.header.biWidth, 201);
    EXPECT_EQ(area.header.biHeight, 333);
    EXPECT_EQ(PixelsDifferingFromCrop(whole, area, 37, 101), 0);
    const TW_IMAGEINFO info = TestChartImageInfo(settings);
    EXPECT_EQ(int(info.ImageWidth), 201);
    EXPECT_EQ(int(info.ImageLength), 333);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, TestChartAreaCrop,
                         ::testing::Values(ChartPixelType::BlackWhite, ChartPixelType::Gray4,
                                           ChartPixelType::Gray8, ChartPixelType::Palette,
                                           ChartPixelType::Rgb));

TEST(TestChartArea, SidesRoundToWholePixelsAndStayOnTheBed) {
    TestChartSettings settings;  // Letter at 100 dpi: 850 x 1100
    const int64_t inch = ChartFrame::kUnitsPerInch;
    // 1.005 in from the left is 100.5 pixels: rounded up; 0.001 in tall is at least 1.
    settings.area = ChartFrame{inch + inch / 200 + 1, 0, 3 * inch, inch / 1000};
    EXPECT_EQ(settings.ImageRect(), (ChartPixelRect{101, 0, 199, 1}));
    // An area set for a larger bed or a higher resolution keeps to this bed.
    settings.area = ChartFrame{8 * inch, 10 * inch, 20 * inch, 20 * inch};
    EXPECT_EQ(settings.ImageRect(), (ChartPixelRect{800, 1000, 50, 100}));
    settings.area = ChartFrame{9 * inch, 12 * inch, 10 * inch, 13 * inch};
    EXPECT_EQ(settings.ImageRect(), (ChartPixelRect{849, 1099, 1, 1}));
}

TEST(TestChartArea, BackOfASheetIsMarkedAndOtherwiseTheFront) {
    TestChartSettings settings;
    settings.pixelType = ChartPixelType::Gray8;
    settings.pages = 2;
    const ChartDib front = Page(settings, 2, ChartSide::Front);
    const ChartDib back = Page(settings, 2, ChartSide::Back);
    const ChartDib again = Page(settings, 2, ChartSide::Back);
    EXPECT_TRUE(back.bytes == again.bytes);
    // Letter at 100 dpi: the text band is rows 34 to 280. There the back is a black
    // banner with its writing in white; below it the two sides are the same.
    EXPECT_EQ(front.Value(40, 40), 255u);
    EXPECT_EQ(back.Value(40, 40), 0u);
    int whiteInBanner = 0;
    for (int y = 34; y < 281; ++y)
        for (int x = 34; x < 816; ++x) whiteInBanner += back.Value(x, y) == 255;
    EXPECT_GT(whiteInBanner, 1000);
    for (int y = 281; y < 1100; ++y)
        ASSERT_EQ(std::memcmp(front.Row(y), back.Row(y), front.Stride()), 0) << "row " << y;
}

TEST(TestChartBatch, FeederGivesItsSheetsFrontThenBackAndTheFlatbedWhatIsAsked) {
    TestChartSettings settings = SmallChart(ChartPixelType::Rgb, 20, 10, 3);
    settings.duplexEnabled = true;
    const TestChartBatch duplex(settings);
    ASSERT_EQ(duplex.Pages(), 6);
    EXPECT_EQ(duplex.Sheets(), 3);
    for (int page = 1; page <= 6; ++page) {
        EXPECT_EQ(duplex.SheetOf(page), (page + 1) / 2) << page;
        EXPECT_EQ(duplex.SideOf(page), page % 2 ? ChartSide::Front : ChartSide::Back) << page;
        EXPECT_EQ(duplex.SheetsInFeeder(page), 3 - (page + 1) / 2) << page;
    }
    // Three pages asked: two sheets, the second without its back.
    EXPECT_EQ(TestChartBatch(settings, 3).Sheets(), 2);
    EXPECT_EQ(TestChartBatch::MostPages(settings), 6);

    settings.feederEnabled = false;  // a flatbed has one side and leaves the feeder be
    const TestChartBatch flatbed(settings, 5);
    EXPECT_EQ(flatbed.Pages(), 5);
    EXPECT_EQ(flatbed.SideOf(2), ChartSide::Front);
    EXPECT_EQ(flatbed.SheetsInFeeder(5), 3);
    EXPECT_EQ(TestChartBatch::MostPages(settings), TestChartSettings::kMaxPages);
}

}  // namespace
