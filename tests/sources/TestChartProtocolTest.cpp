// The test-chart source's identity, its capabilities, and the triplets it refuses:
// unknown ones, and known ones in the wrong state.
#include <cstring>

#include "tests/sources/TestChartSourceFixture.h"

namespace {

TEST_F(TestChartSourceTest, OffersOneIdentityAndLeavesItsIdToTheDsm) {
    TW_IDENTITY identity{};
    identity.Id = 42;
    ASSERT_EQ(Entry()(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity), TWRC_SUCCESS);
    EXPECT_EQ(TW_UINT32(identity.Id), 42u);
    EXPECT_STREQ(identity.ProductName, "Velomark Test Chart");
    EXPECT_STREQ(identity.Manufacturer, "Velomark");
    EXPECT_STREQ(identity.ProductFamily, "Test Chart");
    EXPECT_STREQ(identity.Version.Info, "1.0");
    EXPECT_EQ(identity.Version.MajorNum, 1);
    EXPECT_EQ(identity.Version.MinorNum, 0);
    EXPECT_EQ(identity.ProtocolMajor, 1);
    EXPECT_EQ(identity.ProtocolMinor, 9);
    EXPECT_EQ(TW_UINT32(identity.SupportedGroups), DG_CONTROL | DG_IMAGE);

    TW_IDENTITY next{};
    EXPECT_EQ(Entry()(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &next), TWRC_ENDOFLIST);
    TW_IDENTITY single{};
    ASSERT_EQ(Entry()(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &single), TWRC_SUCCESS);
    EXPECT_STREQ(single.ProductName, "Velomark Test Chart");
}

TEST_F(TestChartSourceTest, OpensOnceAndClosesOnce) {
    EXPECT_EQ(Close(), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(Open(), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_MAXCONNECTIONS);
    EXPECT_EQ(Condition(), TWCC_SUCCESS);  // reading the condition cleared it
    EXPECT_EQ(Close(), TWRC_SUCCESS);
    EXPECT_EQ(Close(), TWRC_FAILURE);
}

TEST_F(TestChartSourceTest, RefusesTripletsBeforeItIsOpen) {
    TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_DONTCARE16, nullptr};
    EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(Enable(false), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
}

TEST_F(TestChartSourceTest, RefusesUnknownTriplets) {
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    TW_UINT32 scratch[8] = {};
    EXPECT_EQ(Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, scratch), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, scratch), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(Call(DG_AUDIO, DAT_NULL, MSG_GET, scratch), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, scratch), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
}

TEST_F(TestChartSourceTest, RefusesTransferTripletsWhileOnlyOpen) {
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    TW_IMAGEINFO info{};
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    HGLOBAL page = nullptr;
    EXPECT_EQ(Transfer(&page), TWRC_FAILURE);
    EXPECT_EQ(page, nullptr);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    int count = -1;
    EXPECT_EQ(EndTransfer(&count), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(Disable(), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    pending.Count = 99;
    EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);
}

TEST_F(TestChartSourceTest, EnableNeedsALiveWindowAndIsRefusedTwice) {
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    HWND gone = nullptr;
    {
        MessageWindow window;
        gone = window.Handle();
    }
    EXPECT_EQ(Enable(false, gone), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);

    setenv("VELOMARK_TESTCHART_SIZE", "16x16", 1);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    EXPECT_EQ(Enable(false), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
}

TEST_F(TestChartSourceTest, TransferCountIsNegotiatedWithinThePagesSet) {
    setenv("VELOMARK_TESTCHART_PAGES", "3", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(GetOneValue(CAP_XFERCOUNT), -1);
    EXPECT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_INT16, 2), TWRC_SUCCESS);
    EXPECT_EQ(GetOneValue(CAP_XFERCOUNT), 2);
    EXPECT_EQ(GetOneValue(CAP_XFERCOUNT, MSG_GETCURRENT), 2);

    // Counts it cannot honour: the nearest it can, with TWRC_CHECKSTATUS.
    const struct {
        int asked;
        int taken;
    } nearest[] = {{5, 3}, {0, 1}, {-7, -1}, {4, 3}};
    for (const auto& c : nearest) {
        EXPECT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_INT16, static_cast<TW_UINT16>(c.asked)),
                  TWRC_CHECKSTATUS)
            << c.asked;
        EXPECT_EQ(GetOneValue(CAP_XFERCOUNT), c.taken) << c.asked;
    }
    EXPECT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_UINT16, 3), TWRC_SUCCESS);
    EXPECT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_UINT16, 0xFFFF), TWRC_SUCCESS);
    EXPECT_EQ(GetOneValue(CAP_XFERCOUNT), -1);
    EXPECT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_INT16, 1), TWRC_SUCCESS);
    EXPECT_EQ(GetOneValue(CAP_XFERCOUNT, MSG_GETDEFAULT), -1);
    EXPECT_EQ(GetOneValue(CAP_XFERCOUNT), 1);
}

TEST_F(TestChartSourceTest, BadContainersAreRefusedAndChangeNothing) {
    setenv("VELOMARK_TESTCHART_PAGES", "3", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_INT16, 2), TWRC_SUCCESS);

    // A block shorter than a TW_ONEVALUE: nothing is read past its end.
    HGLOBAL shortBlock = GlobalAlloc(GHND, 4);
    TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_ONEVALUE, shortBlock};
    EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    GlobalFree(shortBlock);

    cap.hContainer = nullptr;
    EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);

    HGLOBAL block = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
    const TW_ONEVALUE one{TWTY_INT16, 1};
    std::memcpy(GlobalLock(block), &one, sizeof one);
    GlobalUnlock(block);
    cap = TW_CAPABILITY{CAP_XFERCOUNT, TWON_ENUMERATION, block};
    EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    GlobalFree(block);

    EXPECT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_FIX32, 1), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(GetOneValue(CAP_XFERCOUNT), 2);
}

TEST_F(TestChartSourceTest, ImageCapabilitiesReachTheImageInfo) {
    setenv("VELOMARK_TESTCHART_SIZE", "32x20", 1);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(GetOneValue(ICAP_PIXELTYPE, MSG_GETCURRENT, TWTY_UINT16), TWPT_RGB);
    EXPECT_EQ(GetOneValue(ICAP_XRESOLUTION, MSG_GETCURRENT, TWTY_FIX32), 100);
    EXPECT_EQ(SetOneValue(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWRC_SUCCESS);
    EXPECT_EQ(SetOneValue(ICAP_PIXELTYPE, TWTY_UINT16, 9), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(SetOneValue(ICAP_XRESOLUTION, TWTY_FIX32, 150), TWRC_SUCCESS);
    EXPECT_EQ(SetOneValue(ICAP_YRESOLUTION, TWTY_FIX32, 5000), TWRC_CHECKSTATUS);
    EXPECT_EQ(GetOneValue(ICAP_XRESOLUTION, MSG_GETCURRENT, TWTY_FIX32), 1200);
    EXPECT_EQ(SetOneValue(ICAP_XRESOLUTION, TWTY_FIX32, 150), TWRC_SUCCESS);

    TW_CAPABILITY unknown{ICAP_COMPRESSION, TWON_DONTCARE16, nullptr};
    EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &unknown), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_CAPUNSUPPORTED);
    EXPECT_TRUE(unknown.hContainer == nullptr);

    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    // Negotiation is over once the source is enabled.
    EXPECT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_INT16, 1), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(GetOneValue(CAP_XFERCOUNT), -1);
    WaitUntilTransferReady();
    TW_IMAGEINFO info{};
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(info.PixelType, TWPT_GRAY);
    EXPECT_EQ(info.BitsPerPixel, 8);
    EXPECT_EQ(info.XResolution.Whole, 150);
    EXPECT_EQ(info.YResolution.Whole, 150);
    EXPECT_EQ(int(info.ImageWidth), 32);
    EXPECT_EQ(int(info.ImageLength), 20);
}

}  // namespace
