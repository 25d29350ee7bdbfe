// Whole acquisitions with no GUI: CTwain loads the real DSM by its library name,
// the DSM finds the test-chart source beside it, and a plain message window
// carries the source's notifications, as the program's main frame does.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dib/Dib.h"
#include "platform/GlobalMemory.h"
#include "platform/Module.h"
#include "platform/Window.h"
#include "tests/DibRowSize.h"
#include "tests/sources/TestChartPages.h"
#include "tests/sources/UnattendedChart.h"
#include "twain/Twain.h"

namespace {

struct Received {
    std::vector<BYTE> block;
    TW_IMAGEINFO info;
};

class AcquiringTwain : public CTwain {
public:
    std::vector<Received> images;
    void ReceiveImage(HGLOBAL hImage, const TW_IMAGEINFO& info) override {
        images.push_back({BlockBytes(hImage), info});
        EXPECT_FALSE(images.back().block.empty());
    }
    ~AcquiringTwain() override { ReleaseTwain(); }
    BOOL SourceSelected() const { return m_bSourceSelected; }
    BOOL SourceEnabled() const { return m_bSourceEnabled; }
    TW_INT32 ImageCount() const { return m_nImageCount; }
    std::string SourceName() const { return m_Source.ProductName; }
};

// The environment of one unattended run, with a private configuration folder.
class AcquireTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        m_config = std::filesystem::temp_directory_path() /
                   ("velomark-acquire-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_config);
        SetUnattendedChart(m_config);
        m_blocksBefore = GlobalLiveBlockCount();
    }
    void TearDown() override {
        ClearUnattendedChart();
        std::filesystem::remove_all(m_config);
    }

    // Feeds every message of the window to the filter until the source has asked
    // to be closed and been closed, or the time is up.
    void RunUntilSourceCloses(AcquiringTwain& twain, MessageWindow& window) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        MSG msg;
        while (twain.IsSourceOpen() && std::chrono::steady_clock::now() < deadline)
            if (window.Wait(&msg, 100)) twain.FilterMessage(msg);
    }

    std::filesystem::path m_config;
    size_t m_blocksBefore = 0;
};

TestChartSettings SettingsFor(const char* type) {
    ChartPixelType pixelType = ChartPixelType::Rgb;
    EXPECT_TRUE(TestChartSettings::ParsePixelType(type, &pixelType));
    return SmallChart(pixelType, 173, 61, 3, 150);
}

}  // namespace

TEST_P(AcquireTest, ThreePagesArriveDescribedAndWhole) {
    setenv("VELOMARK_TESTCHART_TYPE", GetParam(), 1);
    const TestChartSettings settings = SettingsFor(GetParam());
    struct Expected {
        int bits, samples, sampleBits, colors;
        TW_INT16 pixelType;
    };
    const std::string type = GetParam();
    const Expected expected = type == "bw"        ? Expected{1, 1, 1, 2, TWPT_BW}
                              : type == "gray4"   ? Expected{4, 1, 4, 16, TWPT_GRAY}
                              : type == "gray"    ? Expected{8, 1, 8, 256, TWPT_GRAY}
                              : type == "palette" ? Expected{8, 1, 8, 256, TWPT_PALETTE}
                                                  : Expected{24, 3, 8, 0, TWPT_RGB};
    {
        MessageWindow window;
        AcquiringTwain twain;
        ASSERT_TRUE(twain.InitTwain(window.Handle())) << ModuleLoadError();
        ASSERT_TRUE(twain.IsDsmOpen());
        ASSERT_TRUE(twain.Acquire(-1));
        EXPECT_EQ(twain.SourceName(), "Velomark Test Chart");
        EXPECT_EQ(twain.ImageCount(), -1);
        RunUntilSourceCloses(twain, window);
        EXPECT_FALSE(twain.IsSourceOpen()) << "the source did not ask to be closed";
        EXPECT_TRUE(twain.IsDsmOpen());
        ASSERT_EQ(twain.images.size(), 3u);

        const int stride = int(DibRowSize(173, expected.bits));
        for (int page = 1; page <= 3; ++page) {
            SCOPED_TRACE("page " + std::to_string(page));
            const Received& image = twain.images[page - 1];
            const TW_IMAGEINFO& info = image.info;
            EXPECT_EQ(int{info.XResolution.Whole}, 150);
            EXPECT_EQ(int{info.XResolution.Frac}, 0);
            EXPECT_EQ(int{info.YResolution.Whole}, 150);
            EXPECT_EQ(int{info.YResolution.Frac}, 0);
            EXPECT_EQ(int{info.ImageWidth}, 173);
            EXPECT_EQ(int{info.ImageLength}, 61);
            EXPECT_EQ(int{info.SamplesPerPixel}, expected.samples);
            for (int s = 0; s < 8; ++s)
                EXPECT_EQ(int{info.BitsPerSample[s]},
                          s < expected.samples ? expected.sampleBits : 0);
            EXPECT_EQ(int{info.BitsPerPixel}, expected.bits);
            EXPECT_EQ(int{info.Planar}, 0);
            EXPECT_EQ(int{info.PixelType}, expected.pixelType);
            EXPECT_EQ(int{info.Compression}, TWCP_NONE);

            // A packed DIB of exactly the size its header describes.
            BITMAPINFOHEADER header;
            ASSERT_GE(image.block.size(), sizeof(header));
            std::memcpy(&header, image.block.data(), sizeof(header));
            EXPECT_EQ(header.biSize, 40u);
            EXPECT_EQ(header.biWidth, 173);
            EXPECT_EQ(header.biHeight, 61);
            EXPECT_EQ(header.biBitCount, expected.bits);
            EXPECT_EQ(header.biCompression, BI_RGB);
            EXPECT_EQ(image.block.size(), 40u + 4u * expected.colors + size_t(stride) * 61);

            // The bytes of the page that the generator makes for these settings.
            EXPECT_TRUE(GeneratorBytes(settings, page) == image.block);

            // The image loads, and its frame is black at every corner.
            HGLOBAL copy = GlobalAlloc(GHND, image.block.size());
            std::memcpy(GlobalLock(copy), image.block.data(), image.block.size());
            GlobalUnlock(copy);
            CDIB dib;
            ASSERT_TRUE(dib.CreateFromHandle(copy, expected.bits));
            GlobalFree(copy);
            for (auto [x, y] : {std::pair{0, 0}, {172, 0}, {0, 60}, {172, 60}})
                EXPECT_EQ(dib.GetPixelRGB(x, y), RGB(0, 0, 0)) << x << "," << y;
        }
        // The page number is written on each page.
        EXPECT_NE(twain.images[0].block, twain.images[1].block);
        EXPECT_NE(twain.images[1].block, twain.images[2].block);
    }
    EXPECT_EQ(GlobalLiveBlockCount(), m_blocksBefore) << "a block was not freed";
}

INSTANTIATE_TEST_SUITE_P(EveryPixelType, AcquireTest,
                         ::testing::Values("bw", "gray4", "gray", "palette", "rgb"));

TEST_F(AcquireTest, SelectingThenAcquiringAgainAfterTheSourceClosed) {
    setenv("VELOMARK_TESTCHART_PAGES", "2", 1);
    MessageWindow window;
    AcquiringTwain twain;
    ASSERT_TRUE(twain.InitTwain(window.Handle()));
    // Unattended, user-select answers with the default source without a dialog.
    ASSERT_TRUE(twain.SelectSource());
    EXPECT_EQ(twain.SourceName(), "Velomark Test Chart");
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(twain.Acquire(-1));
        RunUntilSourceCloses(twain, window);
        EXPECT_FALSE(twain.IsSourceOpen());
        EXPECT_EQ(twain.images.size(), 2u * round);
    }
    twain.ReleaseTwain();
    EXPECT_FALSE(twain.IsDsmLoaded());
    EXPECT_TRUE(twain.SourceSelected());
}

TEST_F(AcquireTest, ReleasingWhilePagesArePendingEndsCleanly) {
    setenv("VELOMARK_TESTCHART_PAGES", "50", 1);
    setenv("VELOMARK_TESTCHART_SIZE", "letter", 1);
    {
        MessageWindow window;
        AcquiringTwain twain;
        ASSERT_TRUE(twain.InitTwain(window.Handle()));
        ASSERT_TRUE(twain.Acquire(-1));
        // The source is making pages on its own thread; the program closes now.
        twain.ReleaseTwain();
        EXPECT_FALSE(twain.IsDsmLoaded());
        EXPECT_TRUE(twain.images.empty());
    }
    EXPECT_EQ(GlobalLiveBlockCount(), m_blocksBefore);
}
