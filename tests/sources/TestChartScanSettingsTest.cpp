// The scan settings through the real source: what MSG_GET says it can do, values it
// takes only approximately or not at all, the area, feeder, flatbed and duplex
// batches, and no settings once it is enabled.
#include <cmath>
#include <cstring>
#include <vector>

#include "sources/testchart/TestChartPage.h"
#include "tests/sources/TestChartDibReader.h"
#include "tests/sources/TestChartPages.h"
#include "tests/sources/TestChartSourceFixture.h"

namespace {

// A capability's answer, whatever its container.
struct Answer {
    TW_UINT16 conType = 0;  // 0: the source refused
    TW_UINT16 itemType = 0;
    std::vector<TW_UINT32> items;  // the enumeration's items, or the one value
    TW_UINT32 current = 0;         // the item itself for a one value or a range
    TW_UINT32 fallback = 0;
    TW_RANGE range{};
};

double Inches(TW_UINT32 fix32Item) { return Fix32ToDouble(ItemToFix32(fix32Item)); }

class TestChartScanSettingsTest : public TestChartSourceTest {
protected:
    Answer Ask(TW_UINT16 capability, TW_UINT16 msg = MSG_GET) {
        Answer answer;
        TW_CAPABILITY cap{capability, TWON_DONTCARE16, nullptr};
        if (Call(DG_CONTROL, DAT_CAPABILITY, msg, &cap) != TWRC_SUCCESS) return answer;
        HGLOBAL block = static_cast<HGLOBAL>(cap.hContainer);
        const auto* bytes = static_cast<const uint8_t*>(GlobalLock(block));
        const size_t size = GlobalSize(block);
        answer.conType = cap.ConType;
        if (cap.ConType == TWON_ONEVALUE && size >= sizeof(TW_ONEVALUE)) {
            TW_ONEVALUE one{};
            std::memcpy(&one, bytes, sizeof one);
            answer.itemType = one.ItemType;
            answer.current = one.Item;
            answer.items = {one.Item};
        } else if (cap.ConType == TWON_RANGE && size >= sizeof(TW_RANGE)) {
            std::memcpy(&answer.range, bytes, sizeof answer.range);
            answer.itemType = answer.range.ItemType;
            answer.current = answer.range.CurrentValue;
        } else if (cap.ConType == TWON_ENUMERATION) {
            TW_ENUMERATION head{};
            std::memcpy(&head, bytes, offsetof(TW_ENUMERATION, ItemList));
            // Copies: the packed members cannot be bound to references.
            const size_t numItems = head.NumItems;
            const size_t currentIndex = head.CurrentIndex;
            const size_t defaultIndex = head.DefaultIndex;
            answer.itemType = head.ItemType;
            const size_t itemSize = head.ItemType == TWTY_FIX32 ? 4 : 2;
            const size_t listStart = offsetof(TW_ENUMERATION, ItemList);
            EXPECT_EQ(size, listStart + numItems * itemSize);
            for (size_t i = 0; i < numItems && listStart + (i + 1) * itemSize <= size; ++i) {
                TW_UINT32 item = 0;
                std::memcpy(&item, bytes + listStart + i * itemSize, itemSize);
                answer.items.push_back(item);
            }
            EXPECT_LT(currentIndex, answer.items.size());
            EXPECT_LT(defaultIndex, answer.items.size());
            answer.current = answer.items.at(currentIndex);
            answer.fallback = answer.items.at(defaultIndex);
        }
        GlobalUnlock(block);
        GlobalFree(block);
        return answer;
    }

    TW_UINT16 Layout(TW_UINT16 msg, TW_FRAME* frame) {
        TW_IMAGELAYOUT layout{};
        layout.Frame = *frame;
        const TW_UINT16 result = Call(DG_IMAGE, DAT_IMAGELAYOUT, msg, &layout);
        *frame = layout.Frame;
        return result;
    }
    TW_UINT16 SetFrame(double left, double top, double right, double bottom) {
        TW_FRAME frame{DoubleToFix32(left), DoubleToFix32(top), DoubleToFix32(right),
                       DoubleToFix32(bottom)};
        return Layout(MSG_SET, &frame);
    }
    void ExpectFrame(TW_UINT16 msg, double left, double top, double right, double bottom) {
        TW_FRAME frame{};
        ASSERT_EQ(Layout(msg, &frame), TWRC_SUCCESS);
        EXPECT_NEAR(Fix32ToDouble(frame.Left), left, 1e-4);
        EXPECT_NEAR(Fix32ToDouble(frame.Top), top, 1e-4);
        EXPECT_NEAR(Fix32ToDouble(frame.Right), right, 1e-4);
        EXPECT_NEAR(Fix32ToDouble(frame.Bottom), bottom, 1e-4);
    }

    // Transfers the current page and ends it; the pages still to come go to *count.
    ChartDib TransferAndEnd(int* count) {
        HGLOBAL page = nullptr;
        EXPECT_EQ(Transfer(&page), TWRC_XFERDONE);
        const ChartDib dib = page ? ChartDib::FromHandle(page) : ChartDib{};
        GlobalFree(page);
        EXPECT_EQ(EndTransfer(count), TWRC_SUCCESS);
        return dib;
    }
    int Pending() {
        TW_PENDINGXFERS pending{0xBEEF, 0};
        EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
        return pending.Count;
    }
};

TEST_F(TestChartScanSettingsTest, AbilitiesAnswerInTheirContainerForms) {
    setenv("VELOMARK_TESTCHART_SIZE", "a4", 1);
    setenv("VELOMARK_TESTCHART_DPI", "150", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    const struct {
        TW_UINT16 cap;
        TW_UINT16 itemType;
        TW_UINT32 value;
    } oneValues[] = {{CAP_FEEDERENABLED, TWTY_BOOL, 1},
                     {CAP_FEEDERLOADED, TWTY_BOOL, 1},
                     {CAP_DUPLEX, TWTY_UINT16, TWDX_1PASSDUPLEX},
                     {CAP_DUPLEXENABLED, TWTY_BOOL, 0},
                     {ICAP_UNITS, TWTY_UINT16, TWUN_INCHES}};
    for (const auto& c : oneValues) {
        const Answer answer = Ask(c.cap);
        EXPECT_EQ(answer.conType, TWON_ONEVALUE) << c.cap;
        EXPECT_EQ(answer.itemType, c.itemType) << c.cap;
        EXPECT_EQ(answer.current, c.value) << c.cap;
    }
    const Answer width = Ask(ICAP_PHYSICALWIDTH);
    EXPECT_EQ(width.conType, TWON_ONEVALUE);
    EXPECT_EQ(width.itemType, TWTY_FIX32);
    EXPECT_NEAR(Inches(width.current), 210 / 25.4, 1.0 / 65536);
    EXPECT_NEAR(Inches(Ask(ICAP_PHYSICALHEIGHT).current), 297 / 25.4, 1.0 / 65536);

    for (TW_UINT16 cap : {ICAP_XRESOLUTION, ICAP_YRESOLUTION}) {
        const Answer range = Ask(cap);
        EXPECT_EQ(range.conType, TWON_RANGE) << cap;
        EXPECT_EQ(range.itemType, TWTY_FIX32) << cap;
        EXPECT_EQ(Inches(range.range.MinValue), 25.0) << cap;
        EXPECT_EQ(Inches(range.range.MaxValue), 1200.0) << cap;
        EXPECT_EQ(Inches(range.range.StepSize), 1.0) << cap;
        EXPECT_EQ(Inches(range.current), 150.0) << cap;
    }

    ASSERT_EQ(SetOneValue(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWRC_SUCCESS);
    const Answer types = Ask(ICAP_PIXELTYPE);
    EXPECT_EQ(types.conType, TWON_ENUMERATION);
    EXPECT_EQ(types.itemType, TWTY_UINT16);
    EXPECT_EQ(types.items, (std::vector<TW_UINT32>{TWPT_BW, TWPT_GRAY, TWPT_RGB, TWPT_PALETTE}));
    EXPECT_EQ(types.current, TW_UINT32(TWPT_GRAY));
    EXPECT_EQ(types.fallback, TW_UINT32(TWPT_RGB));
    // The client reads a value back as one value.
    EXPECT_EQ(Ask(ICAP_PIXELTYPE, MSG_GETCURRENT).conType, TWON_ONEVALUE);

    const Answer greyDepths = Ask(ICAP_BITDEPTH);
    EXPECT_EQ(greyDepths.conType, TWON_ENUMERATION);
    EXPECT_EQ(greyDepths.items, (std::vector<TW_UINT32>{8, 4}));
    EXPECT_EQ(greyDepths.current, 8u);
    ASSERT_EQ(SetOneValue(ICAP_BITDEPTH, TWTY_UINT16, 4), TWRC_SUCCESS);
    EXPECT_EQ(Ask(ICAP_BITDEPTH).current, 4u);
    ASSERT_EQ(SetOneValue(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW), TWRC_SUCCESS);
    EXPECT_EQ(Ask(ICAP_BITDEPTH).items, (std::vector<TW_UINT32>{1}));
}

TEST_F(TestChartScanSettingsTest, WhatItCannotTakeIsRefusedAndApproximationsChecked) {
    setenv("VELOMARK_TESTCHART_TYPE", "gray", 1);
    setenv("VELOMARK_TESTCHART_SIZE", "32x20", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    for (TW_UINT16 cap : {CAP_FEEDERLOADED, CAP_DUPLEX, ICAP_PHYSICALWIDTH}) {
        EXPECT_EQ(SetOneValue(cap, TWTY_BOOL, 0), TWRC_FAILURE) << cap;
        EXPECT_EQ(Condition(), TWCC_CAPBADOPERATION) << cap;
    }
    const struct {
        TW_UINT16 cap;
        TW_UINT16 itemType;
        TW_UINT32 item;
    } refused[] = {{ICAP_UNITS, TWTY_UINT16, 1},
                   {ICAP_BITDEPTH, TWTY_UINT16, 16},
                   {ICAP_BITDEPTH, TWTY_UINT16, 24},
                   {CAP_FEEDERENABLED, TWTY_FIX32, 1}};
    for (const auto& c : refused) {
        EXPECT_EQ(SetOneValue(c.cap, c.itemType, c.item), TWRC_FAILURE) << c.cap << " " << c.item;
        EXPECT_EQ(Condition(), TWCC_BADVALUE) << c.cap << " " << c.item;
    }
    EXPECT_EQ(Ask(ICAP_BITDEPTH, MSG_GETCURRENT).current, 8u);

    // Out of range or between whole numbers: the nearest resolution, TWRC_CHECKSTATUS.
    EXPECT_EQ(SetOneValue(ICAP_XRESOLUTION, TWTY_FIX32, 10), TWRC_CHECKSTATUS);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(Inches(Ask(ICAP_XRESOLUTION, MSG_GETCURRENT).current), 25.0);
    EXPECT_EQ(Inches(Ask(ICAP_YRESOLUTION).current), 25.0);
    EXPECT_EQ(SetOneValue(ICAP_YRESOLUTION, TWTY_FIX32, Fix32ToItem(DoubleToFix32(200.5))),
              TWRC_CHECKSTATUS);
    EXPECT_EQ(Inches(Ask(ICAP_XRESOLUTION, MSG_GETCURRENT).current), 201.0);
}

TEST_F(TestChartScanSettingsTest, FramesAreCutToTheBedOrRefused) {
    ASSERT_EQ(Open(), TWRC_SUCCESS);  // Letter: 8.5 x 11 in
    ExpectFrame(MSG_GET, 0, 0, 8.5, 11);
    EXPECT_EQ(SetFrame(-1, 1, 9, 12), TWRC_CHECKSTATUS);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    ExpectFrame(MSG_GETCURRENT, 0, 1, 8.5, 11);
    for (const TW_FRAME& bad :
         {TW_FRAME{DoubleToFix32(3), {1, 0}, {2, 0}, {2, 0}},
          TW_FRAME{{2, 0}, {2, 0}, {2, 0}, {3, 0}}, TW_FRAME{{9, 0}, {0, 0}, {10, 0}, {1, 0}}}) {
        TW_FRAME frame = bad;
        EXPECT_EQ(Layout(MSG_SET, &frame), TWRC_FAILURE);
        EXPECT_EQ(Condition(), TWCC_BADVALUE);
    }
    ExpectFrame(MSG_GET, 0, 1, 8.5, 11);  // unchanged by the refused frames
    ExpectFrame(MSG_GETDEFAULT, 0, 0, 8.5, 11);
    ExpectFrame(MSG_RESET, 0, 0, 8.5, 11);
    ExpectFrame(MSG_GET, 0, 0, 8.5, 11);
}

TEST_F(TestChartScanSettingsTest, AreaPageIsTheCropOfTheWholePage) {
    setenv("VELOMARK_TESTCHART_TYPE", "bw", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(ICAP_XRESOLUTION, TWTY_FIX32, 75), TWRC_SUCCESS);
    ASSERT_EQ(SetFrame(1.03, 2, 3.5, 4.25), TWRC_SUCCESS);  // from pixel (77, 150)
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    TW_IMAGEINFO info{};
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(int(info.ImageWidth), 185);  // 2.47 in at 75 dpi
    EXPECT_EQ(int(info.ImageLength), 169);
    EXPECT_EQ(info.XResolution.Whole, 75);
    int count = -1;
    const ChartDib area = TransferAndEnd(&count);
    EXPECT_EQ(area.header.biWidth, 185);
    EXPECT_EQ(area.header.biHeight, 169);

    TestChartSettings wholeBed;
    wholeBed.pixelType = ChartPixelType::BlackWhite;
    wholeBed.dpi = 75;
    HGLOBAL block = MakeTestChartPage(wholeBed, 1);
    const ChartDib whole = ChartDib::FromHandle(block);
    GlobalFree(block);
    EXPECT_EQ(PixelsDifferingFromCrop(whole, area, 77, 150), 0);
}

TEST_F(TestChartScanSettingsTest, FeederBatchGivesEverySheetThenEnds) {
    setenv("VELOMARK_TESTCHART_SIZE", "40x30", 1);
    setenv("VELOMARK_TESTCHART_PAGES", "3", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(CAP_FEEDERENABLED, TWTY_BOOL, 1), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    EXPECT_EQ(Pending(), 3);
    const TestChartSettings settings = SmallChart(ChartPixelType::Rgb, 40, 30, 3);
    for (int page = 1; page <= 3; ++page) {
        // The sheet being scanned has left the feeder.
        EXPECT_EQ(Ask(CAP_FEEDERLOADED, MSG_GETCURRENT).current, page < 3 ? 1u : 0u) << page;
        int count = -1;
        const ChartDib dib = TransferAndEnd(&count);
        EXPECT_TRUE(dib.bytes == GeneratorBytes(settings, page)) << page;
        EXPECT_EQ(count, 3 - page);
    }
    TW_IMAGEINFO info{};
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(Ask(CAP_FEEDERLOADED).current, 1u);  // filled again for the next batch
}

TEST_F(TestChartScanSettingsTest, FlatbedScansOnePageUnlessTheCountAsksMore) {
    setenv("VELOMARK_TESTCHART_SIZE", "40x30", 1);
    setenv("VELOMARK_TESTCHART_PAGES", "3", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(CAP_FEEDERENABLED, TWTY_BOOL, 0), TWRC_SUCCESS);
    EXPECT_EQ(Ask(CAP_FEEDERENABLED, MSG_GETCURRENT).current, 0u);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    EXPECT_EQ(Pending(), 1);
    ASSERT_EQ(Close(), TWRC_SUCCESS);

    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(CAP_FEEDERENABLED, TWTY_BOOL, 0), TWRC_SUCCESS);
    EXPECT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_INT16, 5), TWRC_SUCCESS);  // beyond the feeder
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    EXPECT_EQ(Pending(), 5);
}

TEST_F(TestChartScanSettingsTest, DuplexGivesEachFrontThenItsMarkedBack) {
    setenv("VELOMARK_TESTCHART_SIZE", "60x40", 1);
    setenv("VELOMARK_TESTCHART_PAGES", "2", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(CAP_DUPLEXENABLED, TWTY_BOOL, 1), TWRC_SUCCESS);
    EXPECT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_INT16, 4), TWRC_SUCCESS);  // two sheets, two sides
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    EXPECT_EQ(Pending(), 4);
    const TestChartSettings settings = SmallChart(ChartPixelType::Rgb, 60, 40, 2);
    for (int page = 1; page <= 4; ++page) {
        const int sheet = (page + 1) / 2;
        const ChartSide side = page % 2 ? ChartSide::Front : ChartSide::Back;
        HGLOBAL expected = MakeTestChartPage(settings, sheet, side);
        const std::vector<uint8_t> expectedBytes = BlockBytes(expected);
        GlobalFree(expected);
        int count = -1;
        const ChartDib dib = TransferAndEnd(&count);
        EXPECT_TRUE(dib.bytes == expectedBytes) << "page " << page;
        if (side == ChartSide::Back) {
            EXPECT_FALSE(dib.bytes == GeneratorBytes(settings, sheet)) << "page " << page;
        }
        EXPECT_EQ(count, 4 - page);
    }
}

TEST_F(TestChartScanSettingsTest, SettingsAreRefusedOnceEnabled) {
    setenv("VELOMARK_TESTCHART_SIZE", "40x30", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    const struct {
        TW_UINT16 cap;
        TW_UINT16 itemType;
        TW_UINT32 item;
    } sets[] = {{CAP_FEEDERENABLED, TWTY_BOOL, 0},      {CAP_DUPLEXENABLED, TWTY_BOOL, 1},
                {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW}, {ICAP_BITDEPTH, TWTY_UINT16, 24},
                {ICAP_XRESOLUTION, TWTY_FIX32, 200},    {ICAP_UNITS, TWTY_UINT16, TWUN_INCHES}};
    for (const auto& c : sets) {
        EXPECT_EQ(SetOneValue(c.cap, c.itemType, c.item), TWRC_FAILURE) << c.cap;
        EXPECT_EQ(Condition(), TWCC_SEQERROR) << c.cap;
    }
    EXPECT_EQ(SetFrame(0, 0, 0.1, 0.1), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    TW_FRAME frame{};
    EXPECT_EQ(Layout(MSG_RESET, &frame), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    // Asking stays allowed.
    EXPECT_EQ(Inches(Ask(ICAP_XRESOLUTION).current), 100.0);
    ExpectFrame(MSG_GET, 0, 0, 0.4, 0.3);
}

}  // namespace
