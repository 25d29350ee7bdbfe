// The scan settings through the real source: what MSG_GET says it can do, values it
// takes only approximately or not at all, the area, the feeder, flatbed and duplex
// batches, and no settings once it is enabled. The page rules themselves are tested on
// the generator (TestChartAreaTest).
#include <cstring>
#include <vector>

#include "tests/sources/TestChartDibReader.h"
#include "tests/sources/TestChartPages.h"
#include "tests/sources/TestChartSourceFixture.h"

namespace {

// A capability's answer: its container and items (a range as min, max, step).
struct Answer {
    TW_UINT16 conType = 0;  // 0: refused
    TW_UINT16 itemType = 0;
    std::vector<TW_UINT32> items;
    TW_UINT32 current = 0;
    TW_UINT32 fallback = 0;
};

double Number(TW_UINT32 fix32Item) { return Fix32ToDouble(ItemToFix32(fix32Item)); }

class TestChartScanSettingsTest : public TestChartSourceTest {
protected:
    Answer Ask(TW_UINT16 capability, TW_UINT16 msg = MSG_GET) {
        TW_CAPABILITY cap{capability, TWON_DONTCARE16, nullptr};
        if (Call(DG_CONTROL, DAT_CAPABILITY, msg, &cap) != TWRC_SUCCESS) return Answer{};
        HGLOBAL block = static_cast<HGLOBAL>(cap.hContainer);
        const std::vector<uint8_t> bytes = BlockBytes(block);
        GlobalFree(block);
        Answer answer;
        answer.conType = cap.ConType;
        // Little-endian fields at their packed offsets; an item is 2 or 4 bytes.
        const auto field = [&bytes](size_t offset, size_t size) {
            TW_UINT32 value = 0;
            if (offset + size <= bytes.size()) std::memcpy(&value, bytes.data() + offset, size);
            return value;
        };
        answer.itemType = TW_UINT16(field(0, 2));
        if (cap.ConType == TWON_ONEVALUE) {
            EXPECT_EQ(bytes.size(), sizeof(TW_ONEVALUE));
            answer.current = field(2, 4);
        } else if (cap.ConType == TWON_RANGE) {
            EXPECT_EQ(bytes.size(), sizeof(TW_RANGE));
            answer.items = {field(2, 4), field(6, 4), field(10, 4)};
            answer.fallback = field(14, 4);
            answer.current = field(18, 4);
        } else if (cap.ConType == TWON_ENUMERATION) {
            const size_t itemSize = answer.itemType == TWTY_FIX32 ? 4 : 2;
            const TW_UINT32 count = field(2, 4);
            EXPECT_EQ(bytes.size(), 14 + count * itemSize);
            for (size_t i = 0; i < count; ++i)
                answer.items.push_back(field(14 + i * itemSize, itemSize));
            const TW_UINT32 current = field(6, 4);
            const TW_UINT32 fallback = field(10, 4);
            EXPECT_TRUE(current < count && fallback < count) << current << " " << fallback;
            if (current < count) answer.current = answer.items[current];
            if (fallback < count) answer.fallback = answer.items[fallback];
        }
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
    // Transfers the current page and ends it; returns its bytes.
    std::vector<uint8_t> TransferAndEnd(int* count) {
        HGLOBAL page = nullptr;
        EXPECT_EQ(Transfer(&page), TWRC_XFERDONE);
        std::vector<uint8_t> bytes = BlockBytes(page);
        GlobalFree(page);
        EXPECT_EQ(EndTransfer(count), TWRC_SUCCESS);
        return bytes;
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
        TW_UINT16 cap, itemType;
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
    EXPECT_NEAR(Number(width.current), 210 / 25.4, 1.0 / 65536);
    EXPECT_NEAR(Number(Ask(ICAP_PHYSICALHEIGHT).current), 297 / 25.4, 1.0 / 65536);

    for (TW_UINT16 cap : {ICAP_XRESOLUTION, ICAP_YRESOLUTION}) {
        const Answer range = Ask(cap);
        EXPECT_EQ(range.conType, TWON_RANGE) << cap;
        EXPECT_EQ(range.itemType, TWTY_FIX32) << cap;
        ASSERT_EQ(range.items.size(), 3u);
        EXPECT_EQ(Number(range.items[0]), 25.0) << cap;  // min, max, step
        EXPECT_EQ(Number(range.items[1]), 1200.0) << cap;
        EXPECT_EQ(Number(range.items[2]), 1.0) << cap;
        EXPECT_EQ(Number(range.current), 150.0) << cap;
    }

    ASSERT_EQ(SetOneValue(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWRC_SUCCESS);
    const Answer types = Ask(ICAP_PIXELTYPE);
    EXPECT_EQ(types.conType, TWON_ENUMERATION);
    EXPECT_EQ(types.itemType, TWTY_UINT16);
    EXPECT_EQ(types.items, (std::vector<TW_UINT32>{TWPT_BW, TWPT_GRAY, TWPT_RGB, TWPT_PALETTE}));
    EXPECT_EQ(types.current, TW_UINT32(TWPT_GRAY));
    EXPECT_EQ(types.fallback, TW_UINT32(TWPT_RGB));
    EXPECT_EQ(Ask(ICAP_PIXELTYPE, MSG_GETCURRENT).conType, TWON_ONEVALUE);  // read back so

    EXPECT_EQ(Ask(ICAP_BITDEPTH).items, (std::vector<TW_UINT32>{8, 4}));
    ASSERT_EQ(SetOneValue(ICAP_BITDEPTH, TWTY_UINT16, 4), TWRC_SUCCESS);
    EXPECT_EQ(Ask(ICAP_BITDEPTH).current, 4u);
    ASSERT_EQ(SetOneValue(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW), TWRC_SUCCESS);
    EXPECT_EQ(Ask(ICAP_BITDEPTH).items, (std::vector<TW_UINT32>{1}));
}

TEST_F(TestChartScanSettingsTest, WhatItCannotTakeIsRefusedAndApproximationsChecked) {
    setenv("VELOMARK_TESTCHART_TYPE", "gray", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(SetOneValue(CAP_DUPLEX, TWTY_UINT16, TWDX_NONE), TWRC_FAILURE);  // read only
    EXPECT_EQ(Condition(), TWCC_CAPBADOPERATION);
    EXPECT_EQ(SetOneValue(ICAP_UNITS, TWTY_UINT16, 1), TWRC_FAILURE);  // centimetres
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(SetOneValue(ICAP_BITDEPTH, TWTY_UINT16, 24), TWRC_FAILURE);  // not for grey
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(Ask(ICAP_BITDEPTH, MSG_GETCURRENT).current, 8u);

    // Below the range or between whole numbers: the nearest, with TWRC_CHECKSTATUS.
    EXPECT_EQ(SetOneValue(ICAP_XRESOLUTION, TWTY_FIX32, 10), TWRC_CHECKSTATUS);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(Number(Ask(ICAP_XRESOLUTION, MSG_GETCURRENT).current), 25.0);
    EXPECT_EQ(Number(Ask(ICAP_YRESOLUTION).current), 25.0);
    EXPECT_EQ(SetOneValue(ICAP_YRESOLUTION, TWTY_FIX32, Fix32ToItem(DoubleToFix32(200.5))),
              TWRC_CHECKSTATUS);
    EXPECT_EQ(Number(Ask(ICAP_XRESOLUTION, MSG_GETCURRENT).current), 201.0);
}

TEST_F(TestChartScanSettingsTest, FramesAreCutToTheBedOrRefused) {
    ASSERT_EQ(Open(), TWRC_SUCCESS);  // Letter: 8.5 x 11 in
    ExpectFrame(MSG_GET, 0, 0, 8.5, 11);
    EXPECT_EQ(SetFrame(-1, 1, 9, 12), TWRC_CHECKSTATUS);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    ExpectFrame(MSG_GETCURRENT, 0, 1, 8.5, 11);
    const double inverted[4] = {3, 1, 2, 2}, empty[4] = {2, 2, 2, 3}, offTheBed[4] = {9, 0, 10, 1};
    for (const double* f : {inverted, empty, offTheBed}) {
        EXPECT_EQ(SetFrame(f[0], f[1], f[2], f[3]), TWRC_FAILURE) << f[0];
        EXPECT_EQ(Condition(), TWCC_BADVALUE) << f[0];
    }
    ExpectFrame(MSG_GET, 0, 1, 8.5, 11);
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
    int count = -1;
    HGLOBAL block = nullptr;
    ASSERT_EQ(Transfer(&block), TWRC_XFERDONE);
    const ChartDib area = ChartDib::FromHandle(block);
    GlobalFree(block);
    ASSERT_EQ(area.header.biWidth, 185);
    ASSERT_EQ(area.header.biHeight, 169);
    EXPECT_EQ(EndTransfer(&count), TWRC_SUCCESS);

    TestChartSettings wholeBed;
    wholeBed.pixelType = ChartPixelType::BlackWhite;
    wholeBed.dpi = 75;
    block = MakeTestChartPage(wholeBed, 1);
    EXPECT_EQ(PixelsDifferingFromCrop(ChartDib::FromHandle(block), area, 77, 150), 0);
    GlobalFree(block);
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
        EXPECT_TRUE(TransferAndEnd(&count) == GeneratorBytes(settings, page)) << page;
        EXPECT_EQ(count, 3 - page);
    }
    TW_IMAGEINFO info{};
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(Ask(CAP_FEEDERLOADED).current, 1u);  // filled again for the next batch
}

TEST_F(TestChartScanSettingsTest, FlatbedScansOnePage) {
    setenv("VELOMARK_TESTCHART_SIZE", "40x30", 1);
    setenv("VELOMARK_TESTCHART_PAGES", "3", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(CAP_FEEDERENABLED, TWTY_BOOL, 0), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    WaitUntilTransferReady();
    EXPECT_EQ(Pending(), 1);
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
        int count = -1;
        const std::vector<uint8_t> bytes = TransferAndEnd(&count);
        EXPECT_TRUE(bytes == BlockBytes(expected)) << page;
        EXPECT_EQ(bytes == GeneratorBytes(settings, sheet), side == ChartSide::Front) << page;
        EXPECT_EQ(count, 4 - page);
        GlobalFree(expected);
    }
}

TEST_F(TestChartScanSettingsTest, SettingsAreRefusedOnceEnabled) {
    setenv("VELOMARK_TESTCHART_SIZE", "40x30", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    const struct {
        TW_UINT16 cap, itemType;
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
    EXPECT_EQ(Number(Ask(ICAP_XRESOLUTION).current), 100.0);
    ExpectFrame(MSG_GET, 0, 0, 0.4, 0.3);
}

}  // namespace
