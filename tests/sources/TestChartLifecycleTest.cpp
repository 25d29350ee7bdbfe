// Opening, closing and unloading the real source with work under way: nothing hangs,
// every page the source still held is freed, and a new session starts afresh.
#include <algorithm>
#include <string>

#include "tests/sources/TestChartSourceFixture.h"

namespace {

TEST_F(TestChartSourceTest, ClosingWhileThePagesAreBeingMadeFreesThem) {
    setenv("VELOMARK_TESTCHART_DPI", "300", 1);
    setenv("VELOMARK_TESTCHART_PAGES", "40", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    EXPECT_EQ(Close(), TWRC_SUCCESS);
    EXPECT_EQ(GlobalLiveBlockCount(), m_liveBlocksAtStart);
}

TEST_F(TestChartSourceTest, ClosingWithPagesPendingFreesThem) {
    setenv("VELOMARK_TESTCHART_PAGES", "10", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    HGLOBAL page = nullptr;
    ASSERT_EQ(Transfer(&page), TWRC_XFERDONE);
    EXPECT_EQ(Close(), TWRC_SUCCESS);
    EXPECT_EQ(GlobalLiveBlockCount(), m_liveBlocksAtStart + 1);  // the page handed over
    GlobalFree(page);
}

TEST_F(TestChartSourceTest, ReopeningStartsAfreshWithTheEnvironmentOfThatTime) {
    setenv("VELOMARK_TESTCHART_SIZE", "20x10", 1);
    setenv("VELOMARK_TESTCHART_PAGES", "4", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_INT16, 2), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    ASSERT_EQ(Close(), TWRC_SUCCESS);

    setenv("VELOMARK_TESTCHART_SIZE", "30x12", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(GetOneValue(CAP_XFERCOUNT), -1);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    TW_IMAGEINFO info{};
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(int(info.ImageWidth), 30);
    EXPECT_EQ(int(info.ImageLength), 12);
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 4);
}

TEST_F(TestChartSourceTest, AnInvalidSettingIsReportedAndTheDefaultUsed) {
    setenv("VELOMARK_TESTCHART_DPI", "fast", 1);
    setenv("VELOMARK_TESTCHART_SIZE", "16x16", 1);
    testing::internal::CaptureStderr();
    const TW_UINT16 opened = Open();
    const std::string errors = testing::internal::GetCapturedStderr();
    ASSERT_EQ(opened, TWRC_SUCCESS);
    EXPECT_NE(errors.find("VELOMARK_TESTCHART_DPI"), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_EQ(GetOneValue(ICAP_XRESOLUTION, MSG_GETCURRENT, TWTY_FIX32), 100);
}

TEST_F(TestChartSourceTest, UnloadingTheLibraryClosesAnOpenSession) {
    setenv("VELOMARK_TESTCHART_PAGES", "20", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    UnloadLibrary();
    EXPECT_EQ(GlobalLiveBlockCount(), m_liveBlocksAtStart);
    LoadLibrary();
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(Close(), TWRC_SUCCESS);
}

}  // namespace
