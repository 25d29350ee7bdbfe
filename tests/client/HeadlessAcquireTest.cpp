// The client's requests end to end through the real TWAIN road: `velomark
// --headless` (the engine, CTwain, the real DSM, the test-chart source unattended, the real bridge and
// socket) driven by velomark-client and by the client library.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "client/velomark_client.h"
#include "dib/Dib.h"
#include "tests/ProgramRun.h"
#include "tests/client/ChildProcess.h"
#include "tests/client/HeadlessFixture.h"
#include "tests/sources/TestChartPages.h"

namespace velomark::testing {
namespace {

struct ChartCase {
    const char* name;
    ChartPixelType type;
};

// Every pixel of the saved file equals the colour of the generator's page.
void ExpectFileShowsPage(const std::string& path, const TestChartSettings& settings, int page) {
    CDIB saved;
    ASSERT_TRUE(saved.ReadBmp(path.c_str())) << path;
    ASSERT_EQ(saved.m_pInfo->biBitCount, 24);
    HGLOBAL block = MakeTestChartPage(settings, page);
    CDIB expected;
    ASSERT_TRUE(expected.CreateFromHandle(block, 8));
    GlobalFree(block);
    ASSERT_EQ(saved.m_nWidth, expected.m_nWidth);
    ASSERT_EQ(saved.m_nHeight, expected.m_nHeight);
    int wrong = 0;
    for (int y = 0; y < expected.m_nHeight; ++y)
        for (int x = 0; x < expected.m_nWidth; ++x)
            wrong += ColourAt(saved, x, y) != ColourAt(expected, x, y);
    EXPECT_EQ(wrong, 0) << path << " page " << page;
}

class HeadlessAcquireTest : public HeadlessTest, public ::testing::WithParamInterface<ChartCase> {};

TEST_P(HeadlessAcquireTest, ClientReceivesEveryPageOfTheBatchAtTwentyFourBits) {
    setenv("VELOMARK_TESTCHART_TYPE", GetParam().name, 1);
    StartVelomark();
    const std::string out = Folder() + "/out";
    ProgramOutput result =
        RunProgram({VELOMARK_CLIENT_PATH, "acquire", "-n", "3", "-o", out, "-t", "30"}, 60000);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(m_velomark.WaitForEvents("image 173 61 ", 3));
    const TestChartSettings settings = SmallChart(GetParam().type, 173, 61, 3, 150);
    for (int page = 1; page <= 3; ++page) {
        char name[32];
        std::snprintf(name, sizeof name, "/image-%03d.bmp", page);
        ExpectFileShowsPage(out + name, settings, page);
    }
}

// The page types that the end-to-end tests do not take through a client (they take 1
// and 24 bits; 8-bit grey comes through the library below).
INSTANTIATE_TEST_SUITE_P(PixelTypes, HeadlessAcquireTest,
                         ::testing::Values(ChartCase{"gray4", ChartPixelType::Gray4},
                                           ChartCase{"palette", ChartPixelType::Palette}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HeadlessTest, DescriptionsAreTheSourcesOwnAndImagesTheirExpansion) {
    setenv("VELOMARK_TESTCHART_TYPE", "gray", 1);
    StartVelomark();
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    ASSERT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    const TestChartSettings settings = SmallChart(ChartPixelType::Gray8, 173, 61, 3, 150);
    const TW_IMAGEINFO expectedInfo = TestChartImageInfo(settings);
    for (int page = 1; page <= 3; ++page) {
        ASSERT_EQ(velomark_wait_image(client, 30000), VELOMARK_OK) << page;
        unsigned char info[VELOMARK_IMAGE_INFO_SIZE];
        ASSERT_EQ(velomark_copy_image_info(client, info), VELOMARK_OK);
        EXPECT_EQ(std::memcmp(info, &expectedInfo, sizeof info), 0) << page;
        size_t size = 0;
        ASSERT_EQ(velomark_image_size(client, &size), VELOMARK_OK);
        std::vector<unsigned char> image(size);
        ASSERT_EQ(velomark_copy_image(client, image.data(), image.size(), &size), VELOMARK_OK);
        ASSERT_EQ(velomark_acknowledge(client), VELOMARK_OK);

        HGLOBAL copy = GlobalAlloc(GHND, size);
        std::memcpy(GlobalLock(copy), image.data(), size);
        GlobalUnlock(copy);
        CDIB received;
        ASSERT_TRUE(received.CreateFromHandle(copy, 24));
        GlobalFree(copy);
        EXPECT_EQ(received.m_pInfo->biBitCount, 24);
        HGLOBAL block = MakeTestChartPage(settings, page);
        CDIB expected;
        ASSERT_TRUE(expected.CreateFromHandle(block, 8));
        GlobalFree(block);
        int wrong = 0;
        for (int y = 0; y < 61; ++y)
            for (int x = 0; x < 173; ++x) {
                const COLORREF c = received.GetPixelRGB(x, y);
                wrong += c != ColourAt(expected, x, y) || GetRValue(c) != GetGValue(c) ||
                         GetGValue(c) != GetBValue(c);
            }
        EXPECT_EQ(wrong, 0) << page;
    }
    velomark_close(client);
}

TEST_F(HeadlessTest, CommandTextsAreAnsweredAndCarriedOut) {
    StartVelomark();
    ProgramOutput result = RunProgram({VELOMARK_CLIENT_PATH, "command", "OnFileAcquire"}, 30000);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Wait For OnFileAcquire\n");
    EXPECT_TRUE(m_velomark.WaitForEvents("image", 3, 30000));
    EXPECT_EQ(CountEvents("acquire"), 1);

    result = RunProgram({VELOMARK_CLIENT_PATH, "command", "OnSelectDataSource"}, 30000);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Wait For OnFileSelectsource\n");
    EXPECT_TRUE(m_velomark.WaitForEvents("select", 1));
}

TEST_F(HeadlessTest, WithoutTheDsmRequestsAreResetAndTheTwainCommandsRefused) {
    setenv("VELOMARK_DSM", (Folder() + "/no-such-dsm.so").c_str(), 1);
    StartVelomark();
    ASSERT_TRUE(m_velomark.WaitForEvent("no-twain"));
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    ASSERT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    EXPECT_EQ(velomark_wait_status_change(client, VELOMARK_STATUS_ACQUIRE, 10000), VELOMARK_OK);
    int32_t status = -1;
    ASSERT_EQ(velomark_get_status(client, &status), VELOMARK_OK);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(velomark_send_command(client, 32772, 0, 10000), VELOMARK_E_REFUSED);
    EXPECT_EQ(velomark_send_command(client, 32771, 0, 10000), VELOMARK_E_REFUSED);
    EXPECT_EQ(CountEvents("image"), 0);
    velomark_close(client);
}

// Reads a ticketed stream to its end: the pages' bit counts as the source delivered
// them, each page checked for its resolution.
std::vector<int> TakeJob(velomark_stream* stream, double dpi, velomark_result* end) {
    std::vector<int> bits;
    velomark_image* image = nullptr;
    while ((*end = velomark_stream_next(stream, &image, 60000)) == VELOMARK_OK) {
        bits.push_back(image->bits_per_pixel);
        EXPECT_EQ(image->x_resolution, dpi);
        velomark_image_release(image);
    }
    return bits;
}

TEST_F(HeadlessTest, TicketedJobsRunInTurnEachPageToItsOwnStreamAndNoneToTheChannel) {
    setenv("VELOMARK_TESTCHART_PAGES", "2", 1);
    StartVelomark();
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    velomark_ticket gray, colour, missing;
    for (velomark_ticket* ticket : {&gray, &colour, &missing}) velomark_ticket_init(ticket);
    gray.color = VELOMARK_COLOR_GRAY;
    gray.x_resolution = 50;
    colour.color = VELOMARK_COLOR_RGB;
    colour.x_resolution = 60;
    missing.device = "No Such Scanner";
    velomark_stream *first = nullptr, *second = nullptr, *third = nullptr;
    ASSERT_EQ(velomark_stream_open_ticket(client, &gray, 0, &first), VELOMARK_OK);
    ASSERT_EQ(velomark_stream_open_ticket(client, &colour, 0, &second), VELOMARK_OK);
    ASSERT_EQ(velomark_stream_open_ticket(client, &missing, 0, &third), VELOMARK_OK);

    velomark_result end = VELOMARK_OK;
    EXPECT_EQ(TakeJob(second, 60, &end), (std::vector<int>{24, 24}));
    EXPECT_EQ(end, VELOMARK_E_END);
    EXPECT_EQ(TakeJob(first, 50, &end), (std::vector<int>{8, 8}));
    EXPECT_EQ(end, VELOMARK_E_END);
    EXPECT_EQ(TakeJob(third, 0, &end).size(), 0u);
    EXPECT_EQ(end, VELOMARK_E_SERVER);
    EXPECT_STREQ(velomark_stream_error(third), "there is no source named 'No Such Scanner'");
    // The second job's pages came after the first job's, whatever order they were read in.
    ASSERT_TRUE(m_velomark.WaitForEvents("image ", 4));
    std::vector<int> transferred;  // "image <width> <height> <bits> ..."
    for (const std::string& event : m_velomark.Events()) {
        int width = 0, height = 0, bitCount = 0;
        if (std::sscanf(event.c_str(), "image %d %d %d", &width, &height, &bitCount) == 3)
            transferred.push_back(bitCount);
    }
    EXPECT_EQ(transferred, (std::vector<int>{8, 8, 24, 24}));
    int32_t status = -1;
    ASSERT_EQ(velomark_get_status(client, &status), VELOMARK_OK);
    EXPECT_EQ(status, 0);  // the channel got none of them
    for (velomark_stream* stream : {first, second, third}) velomark_stream_close(stream);
    velomark_close(client);
}

TEST(HeadlessOptionsTest, AnUnknownOptionIsRefusedWithTheUsage) {
    const ProgramOutput result =
        RunProgram({VELOMARK_PROGRAM_PATH, "--headless", "--no-such-option"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("unknown option '--no-such-option'"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("usage: velomark"), std::string::npos) << result.err;
}

// SIGTERM with a batch under way and images waiting for the client: the program
// ends with status 0, its socket file gone; TearDown finds both sections released.
TEST_F(HeadlessTest, TermWithImagesWaitingEndsCleanly) {
    setenv("VELOMARK_TESTCHART_PAGES", "40", 1);
    StartVelomark();
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    ASSERT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    ASSERT_EQ(velomark_wait_image(client, 30000), VELOMARK_OK);
    velomark_close(client);
    ASSERT_TRUE(m_velomark.WaitForEvent("image 173 61 24 Image waiting", 30000));
    EXPECT_EQ(m_velomark.Stop(), 0);
    EXPECT_EQ(CountEvents("exit"), 1);
    EXPECT_FALSE(std::filesystem::exists(m_velomark.SocketPath()));
}

}  // namespace
}  // namespace velomark::testing
