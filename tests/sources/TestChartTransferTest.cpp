// Batches through the real source: notifications, MSG_PROCESSEVENT, image
// information, native transfers of the generator's exact pages, and the counts.
#include "sources/testchart/TestChartPage.h"
#include "tests/sources/TestChartDibReader.h"
#include "tests/sources/TestChartPages.h"
#include "tests/sources/TestChartSourceFixture.h"
#include "twain/DataSource.h"

namespace {

TestChartSettings SmallSettings(ChartPixelType type, int pages) {
    return SmallChart(type, 40, 30, pages);
}

class TestChartTransferTest : public TestChartSourceTest {
protected:
    void SetUp() override {
        TestChartSourceTest::SetUp();
        setenv("VELOMARK_TESTCHART_SIZE", "40x30", 1);
        setenv("VELOMARK_TESTCHART_TYPE", "palette", 1);
    }
    // Transfers the current page and checks that it is the generator's page.
    void TransferPage(const TestChartSettings& settings, int pageNumber) {
        HGLOBAL page = nullptr;
        ASSERT_EQ(Transfer(&page), TWRC_XFERDONE) << "page " << pageNumber;
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(BlockBytes(page) == GeneratorBytes(settings, pageNumber))
            << "page " << pageNumber;
        GlobalFree(page);  // the application frees what it was given
    }
};

TEST_F(TestChartTransferTest, WithoutUserInterfaceEveryPageIsTransferredAndNothingMoreAsked) {
    setenv("VELOMARK_TESTCHART_PAGES", "3", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();

    TW_IMAGEINFO info{};
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(int(info.ImageWidth), 40);
    EXPECT_EQ(int(info.ImageLength), 30);
    EXPECT_EQ(info.PixelType, TWPT_PALETTE);
    EXPECT_EQ(info.BitsPerPixel, 8);
    EXPECT_EQ(info.XResolution.Whole, 100);

    const TestChartSettings settings = SmallSettings(ChartPixelType::Palette, 3);
    for (int page = 1; page <= 3; ++page) {
        TransferPage(settings, page);
        int count = -1;
        ASSERT_EQ(EndTransfer(&count), TWRC_SUCCESS);
        EXPECT_EQ(count, 3 - page);
    }
    // Back to enabled: no page pending, and no request to close.
    TW_IMAGEINFO after{};
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &after), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    MSG stray{};
    EXPECT_FALSE(m_window.Wait(&stray, 200));
    EXPECT_EQ(Disable(), TWRC_SUCCESS);
    EXPECT_EQ(Close(), TWRC_SUCCESS);
}

TEST_F(TestChartTransferTest, DefaultPageIsLetterAt100DpiInColour) {
    unsetenv("VELOMARK_TESTCHART_SIZE");
    unsetenv("VELOMARK_TESTCHART_TYPE");
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    HGLOBAL page = nullptr;
    ASSERT_EQ(Transfer(&page), TWRC_XFERDONE);
    const ChartDib dib = ChartDib::FromHandle(page);
    GlobalFree(page);
    EXPECT_EQ(dib.header.biWidth, 850);
    EXPECT_EQ(dib.header.biHeight, 1100);
    EXPECT_EQ(dib.header.biBitCount, 24);
    EXPECT_EQ(dib.header.biXPelsPerMeter, 3937);
    int count = -1;
    EXPECT_EQ(EndTransfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0);
}

TEST_F(TestChartTransferTest, UnattendedUserInterfaceAsksToBeClosedAfterTheBatch) {
    setenv("VELOMARK_UNATTENDED", "1", 1);
    setenv("VELOMARK_TESTCHART_PAGES", "2", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    WaitUntilTransferReady();
    const TestChartSettings settings = SmallSettings(ChartPixelType::Palette, 2);
    TransferPage(settings, 1);
    int count = -1;
    ASSERT_EQ(EndTransfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(m_window.QueuedCount(), 0u);  // not before the batch is done
    TransferPage(settings, 2);
    ASSERT_EQ(EndTransfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0);

    WaitForOwnNotification(MSG_CLOSEDSREQ);
    EXPECT_EQ(Disable(), TWRC_SUCCESS);
}

TEST_F(TestChartTransferTest, UserInterfaceWithoutAGraphicalApplicationActsUnattended) {
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    WaitUntilTransferReady();
    TransferPage(SmallSettings(ChartPixelType::Palette, 1), 1);
    int count = -1;
    ASSERT_EQ(EndTransfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(WaitForNotification().wParam, MSG_CLOSEDSREQ);
}

TEST_F(TestChartTransferTest, ProcessEventClaimsOnlyItsOwnMessages) {
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    const MSG own = WaitForNotification();
    MessageWindow otherWindow;
    MSG otherNumber = own;
    otherNumber.message = WM_TIMER;
    MSG otherHwnd = own;
    otherHwnd.hwnd = otherWindow.Handle();
    MSG otherSource = own;
    otherSource.lParam = kSourceId + 1;
    for (const MSG* foreign : {&otherNumber, &otherHwnd, &otherSource}) {
        TW_UINT16 twainMessage = 0xBEEF;
        EXPECT_EQ(ProcessEvent(foreign, &twainMessage), TWRC_NOTDSEVENT);
        EXPECT_EQ(twainMessage, MSG_NULL);
    }
    TW_UINT16 twainMessage = 0xBEEF;
    EXPECT_EQ(ProcessEvent(nullptr, &twainMessage), TWRC_NOTDSEVENT);
    EXPECT_EQ(twainMessage, MSG_NULL);
    EXPECT_EQ(Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(ProcessEvent(&own, &twainMessage), TWRC_DSEVENT);
    EXPECT_EQ(twainMessage, MSG_XFERREADY);
}

TEST_F(TestChartTransferTest, TransferStepsOutOfOrderAreRefused) {
    setenv("VELOMARK_TESTCHART_PAGES", "2", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    EXPECT_EQ(Disable(), TWRC_FAILURE);  // pages are pending
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    HGLOBAL page = nullptr;
    ASSERT_EQ(Transfer(&page), TWRC_XFERDONE);
    GlobalFree(page);
    HGLOBAL second = nullptr;
    EXPECT_EQ(Transfer(&second), TWRC_FAILURE);  // MSG_ENDXFER first
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(second, nullptr);
    TW_IMAGEINFO info{};
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, nullptr), TWRC_FAILURE);
    int count = -1;
    EXPECT_EQ(EndTransfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(count, 1);
}

TEST_F(TestChartTransferTest, EndingAPageBeforeItsTransferSkipsIt) {
    setenv("VELOMARK_TESTCHART_PAGES", "3", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    int count = -1;
    ASSERT_EQ(EndTransfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(count, 2);
    TransferPage(SmallSettings(ChartPixelType::Palette, 3), 2);
    ASSERT_EQ(EndTransfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(count, 1);
}

TEST_F(TestChartTransferTest, TransferCountLimitsTheBatch) {
    setenv("VELOMARK_TESTCHART_PAGES", "5", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_INT16, 2), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 2);
    // The page says "PAGE 1/2": a batch of two.
    TransferPage(SmallSettings(ChartPixelType::Palette, 2), 1);
    int count = -1;
    ASSERT_EQ(EndTransfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(count, 1);
}

TEST_F(TestChartTransferTest, ResetDiscardsThePendingPages) {
    setenv("VELOMARK_TESTCHART_PAGES", "5", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    const MSG ready = WaitForNotification();
    TransferPage(SmallSettings(ChartPixelType::Palette, 5), 1);
    int count = -1;
    ASSERT_EQ(EndTransfer(&count), TWRC_SUCCESS);
    ASSERT_EQ(count, 4);

    TW_PENDINGXFERS pending{99, 0};
    ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);
    pending.Count = 99;
    ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);
    TW_IMAGEINFO info{};
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    // The batch's old notification is still the source's, but asks for nothing now.
    TW_UINT16 twainMessage = 0xBEEF;
    EXPECT_EQ(ProcessEvent(&ready, &twainMessage), TWRC_DSEVENT);
    EXPECT_EQ(twainMessage, MSG_NULL);
    EXPECT_EQ(Disable(), TWRC_SUCCESS);
}

}  // namespace
