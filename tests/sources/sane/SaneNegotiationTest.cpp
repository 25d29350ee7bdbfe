// Scan settings negotiated with the SANE source before it is enabled, on SANE's test
// backend: what is negotiated is what the device scans with (the pixels equal
// scanimage's for the same options), and what the device cannot do is answered as TWAIN
// answers it.
#include <cmath>

#include "tests/sources/sane/SaneSourceFixture.h"

namespace {

TW_UINT32 Fix32(double value) { return Fix32ToItem(DoubleToFix32(value)); }
double Millimetres(const TW_FIX32& inches) { return Fix32ToDouble(inches) * 25.4; }

SaneSettings Options(const std::string& text) {
    SaneSettings settings;
    std::string error;
    EXPECT_TRUE(SaneSettings::Parse(text, &settings, &error)) << error;
    return settings;
}

constexpr const char* kPicture = "test-picture=Color pattern,tl-x=0,tl-y=0,br-x=40,br-y=30";

struct TypeCase {
    TW_UINT16 pixelType;
    int bits;  // ICAP_BITDEPTH sent; 0: none, the pixel type alone decides
    double dpi;
    const char* scanimageOptions;
};

// In this order on one device: black and white leaves the device at depth 1, which
// colour must not keep.
const TypeCase kTypeCases[] = {
    {TWPT_GRAY, 8, 100, "mode=Gray,depth=8,resolution=100"},
    {TWPT_BW, 1, 75, "mode=Gray,depth=1,resolution=75"},
    {TWPT_RGB, 0, 50, "mode=Color,depth=8,resolution=50"},
};

TEST_F(SaneSourceTest, NegotiatedPixelTypeAndResolutionScanAsScanimageDoes) {
    if (!SaneScanimage::Available()) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
    // The environment asks for something else; what is negotiated wins.
    MakeSource(std::string(kPicture) + ",mode=Color,resolution=300", "libsane.so.1", true);
    bool sameDevice = false;
    for (const TypeCase& test : kTypeCases) {
        SCOPED_TRACE(test.scanimageOptions);
        ASSERT_EQ(Open(sameDevice), TWRC_SUCCESS);
        sameDevice = true;
        EXPECT_EQ(SetCap(ICAP_PIXELTYPE, TWTY_UINT16, test.pixelType), TWRC_SUCCESS);
        if (test.bits) {
            EXPECT_EQ(SetCap(ICAP_BITDEPTH, TWTY_UINT16, test.bits), TWRC_SUCCESS);
        }
        EXPECT_EQ(SetCap(ICAP_XRESOLUTION, TWTY_FIX32, Fix32(test.dpi)), TWRC_SUCCESS);
        EXPECT_EQ(SetCap(ICAP_YRESOLUTION, TWTY_FIX32, Fix32(test.dpi)), TWRC_SUCCESS);
        EXPECT_EQ(OneValue(ICAP_PIXELTYPE), TW_UINT32(test.pixelType));
        EXPECT_EQ(OneValue(ICAP_BITDEPTH), TW_UINT32(test.pixelType == TWPT_RGB ? 24 : test.bits));
        EXPECT_EQ(OneValue(ICAP_YRESOLUTION), Fix32(test.dpi));

        ASSERT_EQ(Enable(true), TWRC_SUCCESS);
        ASSERT_EQ(NextNotification(), MSG_XFERREADY);
        std::vector<TW_IMAGEINFO> infos;
        std::vector<std::vector<uint8_t>> pages;
        ASSERT_EQ(TransferAll(&infos, &pages), 1);
        EXPECT_EQ(NextNotification(), MSG_CLOSEDSREQ);
        EXPECT_EQ(Disable(), TWRC_SUCCESS);
        EXPECT_EQ(Close(), TWRC_SUCCESS);

        EXPECT_EQ(infos[0].PixelType, test.pixelType);
        EXPECT_EQ(infos[0].XResolution.Whole, int(test.dpi));
        DecodedImage expected, actual;
        std::string error;
        ASSERT_TRUE(SaneScanimage::Scan(
            "test:" + std::to_string(m_deviceIndex),
            Options(std::string(kPicture) + "," + test.scanimageOptions), &expected, &error))
            << error;
        ASSERT_TRUE(DecodeDib(pages[0], &actual, &error)) << error;
        EXPECT_EQ(FirstDifference(expected, actual), "");
    }
}

TEST_F(SaneSourceTest, ALayoutInInchesIsTakenAsTheNearestMillimetresAndScansAsScanimageDoes) {
    if (!SaneScanimage::Available()) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
    MakeSource("test-picture=Color pattern,mode=Gray", "libsane.so.1", true);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(SetCap(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB), TWRC_SUCCESS);
    EXPECT_EQ(SetCap(ICAP_XRESOLUTION, TWTY_FIX32, Fix32(75)), TWRC_SUCCESS);
    EXPECT_EQ(SetCap(ICAP_YRESOLUTION, TWTY_FIX32, Fix32(75)), TWRC_SUCCESS);

    TW_IMAGELAYOUT layout{};
    layout.Frame = {DoubleToFix32(1), DoubleToFix32(0), DoubleToFix32(0.5), DoubleToFix32(1)};
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    // Past the bed's 200 mm: the nearest area is up to its edges.
    layout.Frame = {DoubleToFix32(0), DoubleToFix32(0), DoubleToFix32(10), DoubleToFix32(10)};
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout), TWRC_CHECKSTATUS);
    EXPECT_NEAR(Millimetres(layout.Frame.Right), 200, 0.001);
    EXPECT_NEAR(Millimetres(layout.Frame.Bottom), 200, 0.001);

    // 12.7, 6.35, 38.1 and 25.4 mm: the device takes whole millimetres.
    layout.Frame = {DoubleToFix32(0.5), DoubleToFix32(0.25), DoubleToFix32(1.5), DoubleToFix32(1)};
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout), TWRC_CHECKSTATUS);
    TW_IMAGELAYOUT held{};
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &held), TWRC_SUCCESS);
    EXPECT_NEAR(Millimetres(held.Frame.Left), 13, 0.001);
    EXPECT_NEAR(Millimetres(held.Frame.Top), 6, 0.001);
    EXPECT_NEAR(Millimetres(held.Frame.Right), 38, 0.001);
    EXPECT_NEAR(Millimetres(held.Frame.Bottom), 25, 0.001);
    TW_IMAGELAYOUT whole{};
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GETDEFAULT, &whole), TWRC_SUCCESS);
    EXPECT_NEAR(Millimetres(whole.Frame.Right), 200, 0.001);

    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    ASSERT_EQ(NextNotification(), MSG_XFERREADY);
    std::vector<std::vector<uint8_t>> pages;
    ASSERT_EQ(TransferAll(nullptr, &pages), 1);
    DecodedImage expected, actual;
    std::string error;
    ASSERT_TRUE(SaneScanimage::Scan(
        "test:" + std::to_string(m_deviceIndex),
        Options(
            "test-picture=Color pattern,mode=Color,resolution=75,tl-x=13,tl-y=6,br-x=38,br-y=25"),
        &expected, &error))
        << error;
    ASSERT_TRUE(DecodeDib(pages[0], &actual, &error)) << error;
    EXPECT_EQ(FirstDifference(expected, actual), "");
}

TEST_F(SaneSourceTest, WhatTheDeviceOffersAndCannotDoIsAnsweredAsTwainDoes) {
    MakeSource("mode=Gray,resolution=150");
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    TW_UINT16 conType = 0;

    // The resolution is a range of 1 to 1200 dpi; past it, the nearest is taken.
    std::vector<uint8_t> bytes = GetCap(ICAP_XRESOLUTION, MSG_GET, &conType);
    ASSERT_EQ(conType, TWON_RANGE);
    TW_RANGE range{};
    ASSERT_GE(bytes.size(), sizeof range);
    std::memcpy(&range, bytes.data(), sizeof range);
    const TW_UINT16 itemType = range.ItemType;  // copies: the fields are packed
    const TW_UINT32 min = range.MinValue, max = range.MaxValue, step = range.StepSize,
                    current = range.CurrentValue;
    EXPECT_EQ(itemType, TWTY_FIX32);
    EXPECT_EQ(min, Fix32(1));
    EXPECT_EQ(max, Fix32(1200));
    EXPECT_EQ(step, Fix32(1));
    EXPECT_EQ(current, Fix32(150));
    EXPECT_EQ(SetCap(ICAP_XRESOLUTION, TWTY_FIX32, Fix32(1500)), TWRC_CHECKSTATUS);
    EXPECT_EQ(OneValue(ICAP_XRESOLUTION), Fix32(1200));
    EXPECT_EQ(SetCap(ICAP_XRESOLUTION, TWTY_FIX32, Fix32(0)), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);

    // Grey and colour modes, and black and white as grey at depth 1.
    bytes = GetCap(ICAP_PIXELTYPE, MSG_GET, &conType);
    ASSERT_EQ(conType, TWON_ENUMERATION);
    TW_ENUMERATION head{};
    ASSERT_EQ(bytes.size(), offsetof(TW_ENUMERATION, ItemList) + 3 * sizeof(TW_UINT16));
    std::memcpy(&head, bytes.data(), offsetof(TW_ENUMERATION, ItemList));
    TW_UINT16 types[3];
    std::memcpy(types, bytes.data() + offsetof(TW_ENUMERATION, ItemList), sizeof types);
    const TW_UINT16 itemType16 = head.ItemType;
    const TW_UINT32 currentIndex = head.CurrentIndex;
    EXPECT_EQ(itemType16, TWTY_UINT16);
    EXPECT_EQ(types[0], TWPT_BW);
    EXPECT_EQ(types[1], TWPT_GRAY);
    EXPECT_EQ(types[2], TWPT_RGB);
    EXPECT_EQ(currentIndex, 1u);
    EXPECT_EQ(SetCap(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_PALETTE), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(SetCap(ICAP_BITDEPTH, TWTY_UINT16, 24), TWRC_FAILURE);  // grey is 8
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_TRUE(GetCap(ICAP_PIXELTYPE, MSG_GETDEFAULT, &conType).empty());
    EXPECT_EQ(conType, TWCC_CAPBADOPERATION);

    // A flatbed with a feeder, no duplex and no paper sensor; a 200 mm square bed.
    EXPECT_EQ(OneValue(CAP_FEEDERENABLED, MSG_GET), 0u);
    EXPECT_EQ(OneValue(CAP_DUPLEX, MSG_GET), TW_UINT32(TWDX_NONE));
    EXPECT_EQ(SetCap(CAP_DUPLEXENABLED, TWTY_BOOL, 1), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_CAPUNSUPPORTED);
    EXPECT_TRUE(GetCap(CAP_FEEDERLOADED, MSG_GET, &conType).empty());
    EXPECT_EQ(conType, TWCC_CAPUNSUPPORTED);
    EXPECT_EQ(OneValue(ICAP_PHYSICALWIDTH, MSG_GET), Fix32(200 / 25.4));
    EXPECT_EQ(OneValue(ICAP_PHYSICALHEIGHT, MSG_GET), Fix32(200 / 25.4));
    EXPECT_EQ(OneValue(ICAP_UNITS, MSG_GET), TW_UINT32(TWUN_INCHES));
    EXPECT_EQ(SetCap(ICAP_UNITS, TWTY_UINT16, 1), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(Close(), TWRC_SUCCESS);
}

TEST_F(SaneSourceTest, TheNegotiatedFeederGivesItsPagesThenTheEndAndTheFlatbedOne) {
    MakeSource("tl-x=0,tl-y=0,br-x=20,br-y=20,resolution=50,source=Flatbed", "libsane.so.1", true);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    for (const bool feeder : {true, false}) {
        SCOPED_TRACE(feeder ? "feeder" : "flatbed");
        EXPECT_EQ(SetCap(CAP_FEEDERENABLED, TWTY_BOOL, feeder), TWRC_SUCCESS);
        EXPECT_EQ(OneValue(CAP_FEEDERENABLED), TW_UINT32(feeder));
        ASSERT_EQ(SetCount(-1), TWRC_SUCCESS);
        ASSERT_EQ(Enable(true), TWRC_SUCCESS);
        EXPECT_EQ(SetCap(CAP_FEEDERENABLED, TWTY_BOOL, !feeder), TWRC_FAILURE);
        EXPECT_EQ(Condition(), TWCC_SEQERROR);
        // A page's notification finds it taken already when an earlier one took it.
        int taken = 0;
        TW_UINT16 message = MSG_NULL;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (message != MSG_CLOSEDSREQ && std::chrono::steady_clock::now() < deadline)
            if ((message = NextNotification(500)) == MSG_XFERREADY) taken += TransferAll();
        EXPECT_EQ(message, MSG_CLOSEDSREQ);
        EXPECT_EQ(taken, feeder ? 10 : 1);  // the test backend's feeder holds ten sheets
        EXPECT_EQ(Disable(), TWRC_SUCCESS);
    }
    EXPECT_EQ(Close(), TWRC_SUCCESS);
}

}  // namespace
