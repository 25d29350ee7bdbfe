// A client takes a batch from the real program: velomark-client and the client
// library against Velomark with the test chart unattended, each page compared with
// what the generator makes; and the command texts that start an acquisition. Each
// case runs through the desktop program and through `velomark --headless`; documents
// are the desktop's alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <tuple>
#include <vector>

#include "client/velomark_client.h"
#include "dib/Dib.h"
#include "sources/testchart/TestChartPage.h"
#include "tests/e2e/ChartPages.h"
#include "tests/e2e/E2eFixture.h"

namespace velomark::e2e {
namespace {

constexpr int kWidth = 173;
constexpr int kHeight = 61;
constexpr int kDpi = 150;
constexpr int kPages = 3;

struct ChartCase {
    const char* name;
    ChartPixelType type;
    int bitsPerPixel;
};

class ClientAcquireTest : public E2eFixture {
protected:
    void StartUnattended(const char* type, Program program = Program::Desktop) {
        UseProgram(program);
        SetProgramVariable("VELOMARK_UNATTENDED", "1");
        UseTestChart(type, kWidth, kHeight, kPages, kDpi);
        StartVelomark();
    }
};

class ClientAcquirePixelTypeTest
    : public ClientAcquireTest,
      public ::testing::WithParamInterface<std::tuple<ChartCase, Program>> {
protected:
    const ChartCase& Chart() const { return std::get<0>(GetParam()); }
};

// Either program, for the cases that run through both.
class ClientAcquireBothTest : public ClientAcquireTest,
                              public ::testing::WithParamInterface<Program> {};

TEST_P(ClientAcquirePixelTypeTest, ClientSavesEveryPageOfTheBatchAtTwentyFourBits) {
    ASSERT_NO_FATAL_FAILURE(StartUnattended(Chart().name, std::get<1>(GetParam())));
    const std::string out = Folder() + "/out";
    const testing::ProgramOutput result =
        RunClient({"acquire", "-n", std::to_string(kPages), "-o", out, "-t", "60"});
    ASSERT_EQ(result.exitCode, 0) << result.err << "\nevents:\n" << Velomark().EventText();

    // One document and one hand-off per page, in order.
    EXPECT_TRUE(Velomark().WaitForEvents("image ", kPages, kImageTimeoutMs));
    std::vector<std::string> documents;
    for (const std::string& event : Velomark().Events())
        if (event.rfind("document ", 0) == 0) documents.push_back(event.substr(9));
    if (!Headless()) {
        EXPECT_EQ(documents, (std::vector<std::string>{"Velomark1", "Velomark2", "Velomark3"}));
    }
    const std::string imageEvent = "image " + std::to_string(kWidth) + " " +
                                   std::to_string(kHeight) + " " +
                                   std::to_string(Chart().bitsPerPixel) + " Image ";
    EXPECT_EQ(Velomark().CountEvents(imageEvent), kPages) << Velomark().EventText();

    const TestChartSettings settings = SmallChart(Chart().type, kWidth, kHeight, kPages, kDpi);
    for (int page = 1; page <= kPages; ++page) {
        char name[32];
        std::snprintf(name, sizeof name, "/image-%03d.bmp", page);
        CDIB saved, expected;
        ASSERT_TRUE(saved.ReadBmp((out + name).c_str())) << out + name;
        EXPECT_EQ(saved.m_pInfo->biBitCount, 24);
        ASSERT_TRUE(LoadChartPage(settings, page, expected));
        EXPECT_EQ(CountDifferentPixels(saved, expected), 0) << "page " << page;
    }
    ExitAndExpectCleanEnd();
}

// One page type per road through the program: expanded to 24 bits for the client, and
// handed over as it came. Every pixel type is acquired through CTwain in tests/twain,
// expanded in tests/bridge (ExpandTo24Test) and taken by a client in tests/client.
INSTANTIATE_TEST_SUITE_P(
    PixelTypes, ClientAcquirePixelTypeTest,
    ::testing::Combine(::testing::Values(ChartCase{"bw", ChartPixelType::BlackWhite, 1},
                                         ChartCase{"rgb", ChartPixelType::Rgb, 24}),
                       ::testing::Values(Program::Desktop, Program::Headless)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" +
               ProgramName(std::get<1>(info.param));
    });

// Through the desktop program only: `velomark --headless` gives the library the same
// descriptions and expanded pages in tests/client (HeadlessTest,
// DescriptionsAreTheSourcesOwnAndImagesTheirExpansion; the palette road there through
// HeadlessAcquireTest).
TEST_F(ClientAcquireTest, LibraryGetsTheSourcesDescriptionsWithTheExpandedPages) {
    ASSERT_NO_FATAL_FAILURE(StartUnattended("palette"));
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    ASSERT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    const TestChartSettings settings =
        SmallChart(ChartPixelType::Palette, kWidth, kHeight, kPages, kDpi);
    const TW_IMAGEINFO expectedInfo = TestChartImageInfo(settings);
    static_assert(sizeof expectedInfo == VELOMARK_IMAGE_INFO_SIZE);
    for (int page = 1; page <= kPages; ++page) {
        ASSERT_EQ(velomark_wait_image(client, kImageTimeoutMs), VELOMARK_OK)
            << "page " << page << "\n"
            << Velomark().EventText();
        unsigned char info[VELOMARK_IMAGE_INFO_SIZE];
        ASSERT_EQ(velomark_copy_image_info(client, info), VELOMARK_OK);
        EXPECT_EQ(std::memcmp(info, &expectedInfo, sizeof info), 0) << "page " << page;
        size_t size = 0;
        ASSERT_EQ(velomark_image_size(client, &size), VELOMARK_OK);
        HGLOBAL copy = GlobalAlloc(GHND, size);
        ASSERT_NE(copy, nullptr);
        ASSERT_EQ(velomark_copy_image(client, GlobalLock(copy), size, &size), VELOMARK_OK);
        GlobalUnlock(copy);
        ASSERT_EQ(velomark_acknowledge(client), VELOMARK_OK);
        CDIB received, expected;
        const bool loaded = received.CreateFromHandle(copy, 24) != FALSE;
        GlobalFree(copy);
        ASSERT_TRUE(loaded);
        EXPECT_EQ(received.m_pInfo->biBitCount, 24);
        ASSERT_TRUE(LoadChartPage(settings, page, expected));
        EXPECT_EQ(CountDifferentPixels(received, expected), 0) << "page " << page;
    }
    velomark_close(client);
    ExitAndExpectCleanEnd();
}

TEST_P(ClientAcquireBothTest, ANewRequestSupersedesThePagesStillWaiting) {
    ASSERT_NO_FATAL_FAILURE(StartUnattended("rgb", GetParam()));
    const TestChartSettings settings = SmallChart(ChartPixelType::Rgb, kWidth, kHeight, kPages, kDpi);
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    auto expectPage = [&](int page) {
        ASSERT_EQ(velomark_wait_image(client, kImageTimeoutMs), VELOMARK_OK)
            << Velomark().EventText();
        size_t size = 0;
        ASSERT_EQ(velomark_image_size(client, &size), VELOMARK_OK);
        HGLOBAL copy = GlobalAlloc(GHND, size);
        ASSERT_EQ(velomark_copy_image(client, GlobalLock(copy), size, &size), VELOMARK_OK);
        GlobalUnlock(copy);
        CDIB received, expected;
        const bool loaded = received.CreateFromHandle(copy, 24) != FALSE;
        GlobalFree(copy);
        ASSERT_TRUE(loaded && LoadChartPage(settings, page, expected));
        EXPECT_EQ(CountDifferentPixels(received, expected), 0) << "page " << page;
    };
    ASSERT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    expectPage(1);
    ASSERT_EQ(velomark_acknowledge(client), VELOMARK_OK);
    expectPage(2);
    ASSERT_TRUE(Velomark().WaitForEvents("image ", kPages, kImageTimeoutMs));
    // Page 3 waits; a new request instead of the acknowledgement drops it from the
    // channel (not from its window): the next image is a new page 1.
    ASSERT_EQ(velomark_request(client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    for (int page = 1; page <= kPages; ++page) {
        expectPage(page);
        ASSERT_EQ(velomark_acknowledge(client), VELOMARK_OK);
    }
    if (!Headless()) {
        // The client has each page before its window is made.
        EXPECT_TRUE(Velomark().WaitForEvents("document ", 2 * kPages, kImageTimeoutMs));
        EXPECT_EQ(Velomark().CountEvents("document "), 2 * kPages);
    }
    velomark_close(client);
    ExitAndExpectCleanEnd("alt+n");  // the dropped page never reached a client: unsaved
}

TEST_P(ClientAcquireBothTest, CommandTextsAreAnsweredAndCarriedOut) {
    ASSERT_NO_FATAL_FAILURE(StartUnattended("gray", GetParam()));
    testing::ProgramOutput result = RunClient({"command", "OnFileAcquire", "-t", "60"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Wait For OnFileAcquire\n");
    EXPECT_TRUE(Velomark().WaitForEvents("image ", kPages, kImageTimeoutMs))
        << Velomark().EventText();
    if (!Headless()) {
        EXPECT_EQ(Velomark().CountEvents("document "), kPages);
    }

    // The pages wait in the program until a client takes them, one after another.
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    for (int page = 1; page <= kPages; ++page) {
        EXPECT_EQ(velomark_wait_image(client, kImageTimeoutMs), VELOMARK_OK) << "page " << page;
        EXPECT_EQ(velomark_acknowledge(client), VELOMARK_OK);
    }
    velomark_close(client);

    result = RunClient({"command", "OnSelectDataSource", "-t", "60"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Wait For OnFileSelectsource\n");
    // Any other text is left as it is, and nothing happens.
    result = RunClient({"command", "OnSomethingElse", "-t", "60"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "OnSomethingElse\n");
    ExitAndExpectCleanEnd();
}

TEST_F(ClientAcquireTest, ATicketedJobOpensNoWindowAndTheStatusBarSaysForWhom) {
    ASSERT_NO_FATAL_FAILURE(StartUnattended("rgb"));
    velomark_client* client = nullptr;
    ASSERT_EQ(velomark_open(&client), VELOMARK_OK);
    velomark_ticket ticket;
    velomark_ticket_init(&ticket);
    ticket.color = VELOMARK_COLOR_GRAY;
    velomark_stream* stream = nullptr;
    ASSERT_EQ(velomark_stream_open_ticket(client, &ticket, 0, &stream), VELOMARK_OK);
    velomark_image* image = nullptr;
    velomark_result result;
    int pages = 0;
    while ((result = velomark_stream_next(stream, &image, kImageTimeoutMs)) == VELOMARK_OK) {
        EXPECT_EQ(image->bits_per_pixel, 8);
        velomark_image_release(image);
        ++pages;
    }
    EXPECT_EQ(result, VELOMARK_E_END);
    EXPECT_EQ(pages, kPages);
    velomark_stream_close(stream);
    velomark_close(client);
    EXPECT_EQ(Velomark().CountEvents("document "), 0) << Velomark().EventText();
    EXPECT_EQ(Velomark().CountEvents("status Scanning for a client: page 3 of 3"), 1)
        << Velomark().EventText();
    ExitAndExpectCleanEnd();  // no page of its own to ask about
}

INSTANTIATE_TEST_SUITE_P(Programs, ClientAcquireBothTest,
                         ::testing::Values(Program::Desktop, Program::Headless),
                         [](const auto& info) { return std::string(ProgramName(info.param)); });

}  // namespace
}  // namespace velomark::e2e
