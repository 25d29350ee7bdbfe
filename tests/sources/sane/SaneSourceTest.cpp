// The SANE source library's logic with the real libsane and its test backend, driven
// through SaneSource::Entry as the DSM forwards an application's triplets, with a
// MessageWindow as the application's window and no toolkit.
#include "tests/sources/sane/SaneSourceFixture.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSmall = "tl-x=0,tl-y=0,br-x=20,br-y=20,resolution=50";

TEST_F(SaneSourceTest, ListsOneIdentityPerDeviceWithItsDeviceNameBehind) {
    MakeSource("");
    const std::vector<TW_IDENTITY> listed = List();
    ASSERT_EQ(listed.size(), size_t(kSaneTestDevices));
    EXPECT_STREQ(listed[0].ProductName, "frontend-tester (test:0)");
    EXPECT_STREQ(listed[1].ProductName, "frontend-tester (test:1)");
    EXPECT_STREQ(listed[1].Manufacturer, "Noname");
    EXPECT_STREQ(listed[1].ProductFamily, "frontend-tester");
    const TW_UINT32 groups = listed[1].SupportedGroups;  // a copy: the field is packed
    EXPECT_EQ(groups, DG_CONTROL | DG_IMAGE);
    TW_VELOMARK_LONGNAME request{};
    request.Identity = listed[1];
    ASSERT_EQ(m_source->Entry(nullptr, DG_CONTROL, DAT_VELOMARK_LONGNAME, MSG_GET, &request),
              TWRC_SUCCESS);
    EXPECT_STREQ(request.LongName, "test:1");
    TW_VELOMARK_NOTE note{};
    EXPECT_EQ(m_source->Entry(nullptr, DG_CONTROL, DAT_VELOMARK_NOTE, MSG_GET, &note),
              TWRC_FAILURE);
    // A second listing gives the same names.
    EXPECT_STREQ(List()[1].ProductName, "frontend-tester (test:1)");
}

TEST_F(SaneSourceTest, WithoutSaneItOffersNothingAndSaysWhy) {
    MakeSource("", "/nonexistent/libsane.so.1");
    EXPECT_TRUE(List().empty());
    TW_VELOMARK_NOTE note{};
    ASSERT_EQ(m_source->Entry(nullptr, DG_CONTROL, DAT_VELOMARK_NOTE, MSG_GET, &note),
              TWRC_SUCCESS);
    EXPECT_EQ(std::string(note.Text).rfind("SANE: SANE is not installed", 0), 0u) << note.Text;
    TW_IDENTITY identity{};
    std::strcpy(identity.ProductName, "frontend-tester (test:0)");
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_NODS);

    MakeSource("", "libc.so.6");
    EXPECT_TRUE(List().empty());
    ASSERT_EQ(m_source->Entry(nullptr, DG_CONTROL, DAT_VELOMARK_NOTE, MSG_GET, &note),
              TWRC_SUCCESS);
    EXPECT_NE(std::string(note.Text).find("is not a SANE library"), std::string::npos) << note.Text;
}

TEST_F(SaneSourceTest, TransferCountIsNegotiatedBeforeEnabling) {
    MakeSource(kSmall);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(GetCount(), -1);
    EXPECT_EQ(SetCount(3), TWRC_SUCCESS);
    EXPECT_EQ(GetCount(MSG_GETCURRENT), 3);
    EXPECT_EQ(GetCount(MSG_GETDEFAULT), -1);
    EXPECT_EQ(SetCount(0), TWRC_CHECKSTATUS);
    EXPECT_EQ(GetCount(), 1);
    EXPECT_EQ(SetCount(-7), TWRC_CHECKSTATUS);
    EXPECT_EQ(GetCount(), -1);
    TW_CAPABILITY other{ICAP_COMPRESSION, 0, nullptr};
    EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &other), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_CAPUNSUPPORTED);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    EXPECT_EQ(SetCount(2), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(NextNotification(), MSG_XFERREADY);
    EXPECT_EQ(TransferAll(), 1);
    EXPECT_EQ(Disable(), TWRC_SUCCESS);
    EXPECT_EQ(Close(), TWRC_SUCCESS);
}

TEST_F(SaneSourceTest, PagesAreAnnouncedAsTheyComeAndTheLateOnesAnnouncedAgain) {
    // Pages of the feeder come slowly; the application takes what is there each time.
    MakeSource(std::string(kSmall) +
               ",source=Automatic Document Feeder,read-delay=yes,read-delay-duration=20000");
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(SetCount(4), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    int taken = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (taken < 4 && Clock::now() < deadline) {
        const TW_UINT16 message = NextNotification(500);
        if (message == MSG_XFERREADY) taken += TransferAll();
    }
    EXPECT_EQ(taken, 4);
    // Enabled without a window: the application decides when to close.
    EXPECT_EQ(NextNotification(300), MSG_NULL);
    EXPECT_EQ(Disable(), TWRC_SUCCESS);
}

TEST_F(SaneSourceTest, UnattendedItAsksToCloseAfterTheBatch) {
    MakeSource(std::string(kSmall) + ",mode=Color", "libsane.so.1", true);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    ASSERT_EQ(NextNotification(), MSG_XFERREADY);
    std::vector<TW_IMAGEINFO> infos;
    EXPECT_EQ(TransferAll(&infos), 1);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].PixelType, TWPT_RGB);
    EXPECT_EQ(infos[0].XResolution.Whole, 50);
    EXPECT_EQ(NextNotification(), MSG_CLOSEDSREQ);
    EXPECT_EQ(Disable(), TWRC_SUCCESS);
    EXPECT_EQ(Close(), TWRC_SUCCESS);
}

TEST_F(SaneSourceTest, AResetInTheMiddleOfAPageInterruptsTheRead) {
    // About two seconds of reading at this delay; the reset comes well before.
    MakeSource(
        "tl-x=0,tl-y=0,br-x=100,br-y=100,resolution=200,mode=Gray,"
        "read-delay=yes,read-delay-duration=200000",
        "libsane.so.1", true);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    const auto start = Clock::now();
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    EXPECT_EQ(NextNotification(400), MSG_NULL);  // still reading
    TW_PENDINGXFERS pending{0xBEEF, 0};
    EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1800)) << "the read ran to its end";
    // The interrupted batch still ends with the request to close.
    EXPECT_EQ(NextNotification(), MSG_CLOSEDSREQ);
    TW_IMAGEINFO info{};
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
    EXPECT_EQ(Disable(), TWRC_SUCCESS);
    EXPECT_EQ(Close(), TWRC_SUCCESS);
    // The device answers again after the cancel.
    MakeSource(std::string(kSmall) + ",read-delay=no", "libsane.so.1", true);
    ASSERT_EQ(Open(true), TWRC_SUCCESS);
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    EXPECT_EQ(NextNotification(), MSG_XFERREADY);
    EXPECT_EQ(TransferAll(), 1);
}

TEST_F(SaneSourceTest, ClosingInTheMiddleOfAPageStopsTheWorker) {
    MakeSource(
        "tl-x=0,tl-y=0,br-x=100,br-y=100,resolution=200,read-delay=yes,"
        "read-delay-duration=200000",
        "libsane.so.1", true);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    EXPECT_EQ(NextNotification(300), MSG_NULL);
    EXPECT_EQ(Disable(), TWRC_SUCCESS);
    EXPECT_EQ(Close(), TWRC_SUCCESS);
}

TEST_F(SaneSourceTest, OptionsTheDeviceRefusesAreReportedAndTheScanGoesOn) {
    MakeSource(std::string(kSmall) + ",nosuch=1,resolution=fine,three-pass=yes", "libsane.so.1",
               true);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    ASSERT_EQ(NextNotification(), MSG_XFERREADY);
    EXPECT_EQ(TransferAll(), 1);
    EXPECT_EQ(NextNotification(), MSG_CLOSEDSREQ);
    EXPECT_EQ(Disable(), TWRC_SUCCESS);
    EXPECT_EQ(Close(), TWRC_SUCCESS);
    const std::string log = m_log.str();
    EXPECT_NE(log.find("the device has no option nosuch"), std::string::npos) << log;
    EXPECT_NE(log.find("option resolution takes a number, not \"fine\""), std::string::npos) << log;
    EXPECT_NE(log.find("option three-pass is inactive"), std::string::npos) << log;

    MakeSource("mode", "libsane.so.1", true);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_NE(m_log.str().find("VELOMARK_SANE_OPTIONS ignored"), std::string::npos) << m_log.str();
}

TEST_F(SaneSourceTest, OpeningTwiceOrUnknownDevicesFails) {
    MakeSource(kSmall);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(Open(), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_MAXCONNECTIONS);
    EXPECT_EQ(Close(), TWRC_SUCCESS);
    EXPECT_EQ(Close(), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    TW_IDENTITY unknown{};
    std::strcpy(unknown.ProductName, "Nobody's scanner");
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &unknown), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_NODS);
}

}  // namespace
