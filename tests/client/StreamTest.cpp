// The image stream between real processes: the test chart's pages byte for byte,
// a 600 dpi Letter page, a count, a stream that never reads beside a channel
// client, and a refusal without a DSM.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "client/velomark_client.h"
#include "tests/DibRowSize.h"
#include "tests/ProgramRun.h"
#include "tests/client/HeadlessFixture.h"
#include "tests/sources/TestChartPages.h"

namespace velomark::testing {
namespace {

class StreamTest : public HeadlessTest {
protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        setenv("VELOMARK_TESTCHART_TYPE", "rgb", 1);
    }
    void EndPrograms() override {
        velomark_stream_close(m_stream);
        m_stream = nullptr;
        if (m_client) velomark_close(m_client);
        m_client = nullptr;
        HeadlessTest::EndPrograms();
    }
    void Open(uint32_t flags, uint64_t count) {
        StartVelomark();
        ASSERT_EQ(velomark_open(&m_client), VELOMARK_OK);
        ASSERT_EQ(velomark_stream_open(m_client, flags, count, &m_stream), VELOMARK_OK)
            << velomark_last_error(m_client);
    }
    // The next image is page `page` of the generator, byte for byte.
    void ExpectPage(const TestChartSettings& settings, int page) {
        velomark_image* image = nullptr;
        ASSERT_EQ(velomark_stream_next(m_stream, &image, 120000), VELOMARK_OK)
            << velomark_last_error(m_client);
        const std::vector<uint8_t> expected = GeneratorBytes(settings, page);
        EXPECT_EQ(image->sequence, static_cast<uint32_t>(page));
        ASSERT_LE(image->size, expected.size());
        EXPECT_EQ(std::memcmp(image->dib, expected.data(), image->size), 0) << "page " << page;
        velomark_image_release(image);
    }
    void ExpectEnd(uint32_t count) {
        velomark_image* image = nullptr;
        EXPECT_EQ(velomark_stream_next(m_stream, &image, 60000), VELOMARK_E_END)
            << velomark_last_error(m_client);
        EXPECT_EQ(image, nullptr);
        EXPECT_EQ(velomark_stream_count(m_stream), count);
    }

    velomark_client* m_client = nullptr;
    velomark_stream* m_stream = nullptr;
};

TEST_F(StreamTest, EveryPageOfTheBatchArrivesAsTheGeneratorMadeIt) {
    Open(VELOMARK_STREAM_START, 0);
    const TestChartSettings settings = SmallChart(ChartPixelType::Rgb, 173, 61, 3, 150);
    for (int page = 1; page <= 3; ++page) ExpectPage(settings, page);
    ExpectEnd(3);
}

TEST_F(StreamTest, ABatchMixingBitDepthsArrivesAtTwentyFourBitsPixelForPixel) {
    setenv("VELOMARK_TESTCHART_TYPE", "mixed", 1);
    Open(VELOMARK_STREAM_START, 0);
    TestChartSettings settings = SmallChart(ChartPixelType::Rgb, 173, 61, 3, 150);
    settings.mixedTypes = true;
    for (int page = 1; page <= 3; ++page) {
        velomark_image* image = nullptr;
        ASSERT_EQ(velomark_stream_next(m_stream, &image, 120000), VELOMARK_OK)
            << velomark_last_error(m_client);
        const TestChartSettings made = settings.ForPage(page);
        EXPECT_EQ(image->bits_per_pixel, made.BitsPerPixel()) << "page " << page;
        HGLOBAL copy = GlobalAlloc(GHND, image->size);
        std::memcpy(GlobalLock(copy), image->dib, image->size);
        GlobalUnlock(copy);
        velomark_image_release(image);
        CDIB received, expected;
        ASSERT_TRUE(received.CreateFromHandle(copy, 24));
        GlobalFree(copy);
        HGLOBAL block = MakeTestChartPage(made, page);
        ASSERT_TRUE(expected.CreateFromHandle(block, 8));
        GlobalFree(block);
        int wrong = 0;
        for (int y = 0; y < 61; ++y)
            for (int x = 0; x < 173; ++x) wrong += ColourAt(received, x, y) != ColourAt(expected, x, y);
        EXPECT_EQ(wrong, 0) << "page " << page;
    }
    ExpectEnd(3);
}

TEST_F(StreamTest, A600DpiLetterPageInColour) {
    setenv("VELOMARK_TESTCHART_SIZE", "letter", 1);
    setenv("VELOMARK_TESTCHART_DPI", "600", 1);
    setenv("VELOMARK_TESTCHART_PAGES", "1", 1);
    Open(VELOMARK_STREAM_START, 0);
    TestChartSettings settings = SmallChart(ChartPixelType::Rgb, 1, 1, 1, 600);
    settings.pageSize = ChartPageSize::Letter;
    velomark_image* image = nullptr;
    ASSERT_EQ(velomark_stream_next(m_stream, &image, 300000), VELOMARK_OK)
        << velomark_last_error(m_client);
    EXPECT_EQ(image->width, 5100);
    EXPECT_EQ(image->height, 6600);
    EXPECT_EQ(image->x_resolution, 600.0);
    const std::vector<uint8_t> expected = GeneratorBytes(settings, 1);
    ASSERT_EQ(image->size, expected.size());
    EXPECT_EQ(std::memcmp(image->dib, expected.data(), image->size), 0);
    velomark_image_release(image);
    ExpectEnd(1);
}

TEST_F(StreamTest, ACountOfOneEndsAfterTheFirstPage) {
    Open(VELOMARK_STREAM_START, 1);
    ExpectPage(SmallChart(ChartPixelType::Rgb, 173, 61, 3, 150), 1);
    ExpectEnd(1);
    // Velomark goes on with the batch for everyone else.
    EXPECT_TRUE(m_velomark.WaitForEvents("image", 3, 60000));
}

TEST_F(StreamTest, AStreamThatNeverReadsHoldsNoChannelClientBack) {
    Open(0, 0);
    ASSERT_EQ(velomark_request(m_client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    for (int page = 1; page <= 3; ++page) {
        ASSERT_EQ(velomark_wait_image(m_client, 60000), VELOMARK_OK) << "page " << page;
        ASSERT_EQ(velomark_acknowledge(m_client), VELOMARK_OK);
    }
}

TEST_F(StreamTest, TheCommandLineSavesEachPageAsPngAndSaysSoInJson) {
    StartVelomark();
    const std::string out = Folder() + "/out";
    ProgramOutput run = RunProgram(
        {VELOMARK_CLIENT_PATH, "acquire", "--stream", "--json", "--format", "png", "-o", out},
        60000);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const TestChartSettings settings = SmallChart(ChartPixelType::Rgb, 173, 61, 3, 150);
    size_t at = 0;
    for (int page = 1; page <= 3; ++page) {
        const std::string path = out + "/page-00" + std::to_string(page) + ".png";
        const std::string line = run.out.substr(at, run.out.find('\n', at) - at);
        at += line.size() + 1;
        EXPECT_EQ(line.rfind("{\"path\":\"" + path + "\",\"width\":173,\"height\":61,\"bits\":24,"
                             "\"xres\":150,\"yres\":150,", 0),
                  0u)
            << line;
        // ImageMagick reads the file back as the generator's page, top row first.
        ProgramOutput rgb = RunProgram({VELOMARK_CONVERT, path, "-depth", "8", "rgb:-"});
        ASSERT_EQ(rgb.out.size(), size_t{173} * 61 * 3) << rgb.err;
        const std::vector<uint8_t> dib = GeneratorBytes(settings, page);
        const size_t stride = DibRowSize(173, 24);
        int wrong = 0;
        for (size_t y = 0; y < 61; ++y)
            for (size_t x = 0; x < 173; ++x)
                for (size_t c = 0; c < 3; ++c)
                    wrong += static_cast<uint8_t>(rgb.out[(y * 173 + x) * 3 + c]) !=
                             dib[40 + (60 - y) * stride + x * 3 + (2 - c)];
        EXPECT_EQ(wrong, 0) << path;
    }
    EXPECT_EQ(run.out.substr(at).rfind("{\"end\":true,\"pages\":3,", 0), 0u) << run.out;
}

TEST_F(StreamTest, TheCExampleOfTheProtocolNotesPrintsEachPage) {
    StartVelomark();
    ProgramOutput run = RunProgram({STREAM_EXAMPLE_PATH}, 60000);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string page = " 173 x 61 at 150 dpi, 31760 bytes\n";
    EXPECT_EQ(run.out, "page 1:" + page + "page 2:" + page + "page 3:" + page +
                           "3 pages (the acquisition ended)\n");
}

TEST_F(StreamTest, ThePythonModuleTakesTheBatchFromTheRealServer) {
    StartVelomark();
    const std::string out = Folder() + "/py";
    ProgramOutput run = RunProgram({VELOMARK_PYTHON, PYTHON_CLIENT_PATH, "acquire", "--stream",
                                    "--json", "-o", out},
                                   60000);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find(R"("end": true, "pages": 3)"), std::string::npos) << run.out;
    // The saved file is the packed page behind a 14-byte file header.
    const std::vector<uint8_t> expected =
        GeneratorBytes(SmallChart(ChartPixelType::Rgb, 173, 61, 3, 150), 3);
    ProgramOutput saved = RunProgram({"/usr/bin/tail", "-c", "+15", out + "/image-003.bmp"});
    ASSERT_EQ(saved.out.size(), 40 + size_t(520) * 61);
    EXPECT_EQ(std::memcmp(saved.out.data(), expected.data(), saved.out.size()), 0);
}

TEST_F(StreamTest, WithoutADsmTheStreamIsRefused) {
    setenv("VELOMARK_DSM", (Folder() + "/no-such-dsm.so").c_str(), 1);
    StartVelomark();
    ASSERT_TRUE(m_velomark.WaitForEvent("no-twain"));
    ASSERT_EQ(velomark_open(&m_client), VELOMARK_OK);
    EXPECT_EQ(velomark_stream_open(m_client, VELOMARK_STREAM_START, 0, &m_stream),
              VELOMARK_E_REFUSED);
    EXPECT_EQ(m_stream, nullptr);
}

}  // namespace
}  // namespace velomark::testing
