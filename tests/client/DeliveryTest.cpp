// What reaches a client through the channel, between real processes: every page in
// order (from the spool too), never an image older than the client's request, pages
// larger than the usual section once the client grew it, a section cut under
// Velomark, and requests back to back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bridge/ChannelLayout.h"
#include "client/velomark_client.h"
#include "tests/client/HeadlessFixture.h"
#include "tests/sources/TestChartPages.h"

namespace velomark::testing {
namespace {

class DeliveryTest : public HeadlessTest {
protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        setenv("VELOMARK_TESTCHART_TYPE", "rgb", 1);
    }
    void EndPrograms() override {
        if (m_client) velomark_close(m_client);
        m_client = nullptr;
        HeadlessTest::EndPrograms();
    }
    void StartWithClient() {
        StartVelomark();
        ASSERT_EQ(velomark_open(&m_client), VELOMARK_OK);
    }
    // The image in the channel is page `page` of the generator, byte for byte (24-bit
    // pages go to the client as the source delivered them).
    void ExpectPage(const TestChartSettings& settings, int page) {
        ASSERT_EQ(velomark_wait_image(m_client, 60000), VELOMARK_OK) << "page " << page;
        size_t size = 0;
        ASSERT_EQ(velomark_image_size(m_client, &size), VELOMARK_OK)
            << velomark_last_error(m_client);
        std::vector<unsigned char> image(size);
        ASSERT_EQ(velomark_copy_image(m_client, image.data(), size, &size), VELOMARK_OK);
        const std::vector<uint8_t> expected = GeneratorBytes(settings, page);
        ASSERT_LE(size, expected.size());
        EXPECT_EQ(std::memcmp(image.data(), expected.data(), size), 0) << "page " << page;
    }
    void Resize(const char* baseName, off_t size) {
        const int fd = shm_open(("/" + ChannelSectionName(baseName)).c_str(), O_RDWR, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, size), 0);
        close(fd);
    }
    static TestChartSettings Letter(int dpi, int pages) {
        TestChartSettings settings = SmallChart(ChartPixelType::Rgb, 1, 1, pages, dpi);
        settings.pageSize = ChartPageSize::Letter;
        return settings;
    }

    velomark_client* m_client = nullptr;
};

TEST_F(DeliveryTest, ASlowClientGetsEveryPageInOrderThroughTheSpool) {
    // 30 pages of 11.2 MB: more than the 256 MiB that wait in memory.
    setenv("VELOMARK_TESTCHART_SIZE", "letter", 1);
    setenv("VELOMARK_TESTCHART_DPI", "200", 1);
    setenv("VELOMARK_TESTCHART_PAGES", "30", 1);
    setenv("XDG_CACHE_HOME", (Folder() + "/cache").c_str(), 1);
    StartWithClient();
    ASSERT_EQ(velomark_request(m_client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    const TestChartSettings settings = Letter(200, 30);
    for (int page = 1; page <= 30; ++page) {
        ExpectPage(settings, page);
        if (page == 1) {
            ASSERT_TRUE(m_velomark.WaitForEvents("image", 30, 120000));
        }
        ASSERT_EQ(velomark_acknowledge(m_client), VELOMARK_OK);
    }
    unsetenv("XDG_CACHE_HOME");
}

TEST_F(DeliveryTest, ANewRequestIsNeverAnsweredWithAnOlderImage) {
    StartWithClient();
    const TestChartSettings settings = SmallChart(ChartPixelType::Rgb, 173, 61, 3, 150);
    ASSERT_EQ(velomark_request(m_client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    ExpectPage(settings, 1);
    // A new request instead of the acknowledgement: pages 2 and 3 of the first batch
    // are superseded.
    ASSERT_EQ(velomark_request(m_client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    for (int page = 1; page <= 3; ++page) {
        ExpectPage(settings, page);
        ASSERT_EQ(velomark_acknowledge(m_client), VELOMARK_OK);
    }
    EXPECT_TRUE(m_velomark.WaitForEvents("image", 6, 30000));
    EXPECT_EQ(CountEvents("acquire"), 2);
}

TEST_F(DeliveryTest, AClientThatGrewTheSectionGetsA300DpiColourPage) {
    setenv("VELOMARK_TESTCHART_SIZE", "letter", 1);
    setenv("VELOMARK_TESTCHART_DPI", "300", 1);
    setenv("VELOMARK_TESTCHART_PAGES", "1", 1);
    StartWithClient();
    // 2550 x 3300 at 24 bits: 25,245,040 bytes.
    ASSERT_EQ(velomark_grow_data(m_client, 26u << 20), VELOMARK_OK);
    ASSERT_EQ(velomark_request(m_client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    ExpectPage(Letter(300, 1), 1);
}

TEST_F(DeliveryTest, ASectionCutMidBatchIsReportedAndWorksOnceRestored) {
    StartWithClient();
    const TestChartSettings settings = SmallChart(ChartPixelType::Rgb, 173, 61, 3, 150);
    ASSERT_EQ(velomark_request(m_client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
    ExpectPage(settings, 1);
    Resize(kDataSectionName, 4096);
    ASSERT_EQ(velomark_acknowledge(m_client), VELOMARK_OK);
    ASSERT_TRUE(m_velomark.WaitForEvent("notice a client cut the shared section", 10000));
    EXPECT_EQ(velomark_check_running(m_client, 5000), VELOMARK_OK);
    Resize(kDataSectionName, static_cast<off_t>(kChannelBlockSize));
    for (int page = 2; page <= 3; ++page) {
        ExpectPage(settings, page);
        ASSERT_EQ(velomark_acknowledge(m_client), VELOMARK_OK);
    }
}

TEST_F(DeliveryTest, AHundredRequestsBackToBackGetAHundredImages) {
    setenv("VELOMARK_TESTCHART_PAGES", "1", 1);
    StartWithClient();
    int images = 0;
    for (int request = 0; request < 100; ++request) {
        ASSERT_EQ(velomark_request(m_client, VELOMARK_STATUS_ACQUIRE), VELOMARK_OK);
        if (velomark_wait_image(m_client, 20000) != VELOMARK_OK) break;
        ++images;
        ASSERT_EQ(velomark_acknowledge(m_client), VELOMARK_OK);
    }
    EXPECT_EQ(images, 100);
}

}  // namespace
}  // namespace velomark::testing
