// The SANE source library's logic with the real libsane and its test backend, driven
// through SaneSource::Entry as the DSM forwards an application's triplets, with a
// MessageWindow as the application's window and no toolkit.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "platform/GlobalMemory.h"
#include "platform/Window.h"
#include "sources/sane/SaneSource.h"
#include "tests/sources/sane/SaneScanimage.h"
#include "twain/DataSource.h"

namespace {

using Clock = std::chrono::steady_clock;

class SaneSourceTest : public ::testing::Test {
protected:
    static constexpr TW_UINT32 kSourceId = 9;

    void SetUp() override {
        setenv("SANE_CONFIG_DIR", SaneTestConfigDir(), 1);
        char folder[] = "/tmp/velomark-sane-source-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_config = folder;
        setenv("XDG_CONFIG_HOME", folder, 1);
        m_blocks = GlobalLiveBlockCount();
    }
    void TearDown() override {
        m_source.reset();
        EXPECT_EQ(GlobalLiveBlockCount(), m_blocks) << "a global block was not freed";
        unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(m_config);
    }

    void MakeSource(const std::string& options, const std::string& library = "libsane.so.1",
                    bool unattended = false) {
        SaneSource::Environment environment;
        environment.libraryFile = library;
        environment.options = options;
        environment.unattended = unattended;
        m_source = std::make_unique<SaneSource>(
            nullptr, [environment] { return environment; }, m_log);
    }
    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        TW_IDENTITY application{};
        application.Id = 1;
        return m_source->Entry(&application, dg, dat, msg, data);
    }
    TW_UINT16 Condition() {
        TW_STATUS status{};
        EXPECT_EQ(m_source->Entry(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }
    std::vector<TW_IDENTITY> List() {
        std::vector<TW_IDENTITY> listed;
        TW_IDENTITY identity{};
        for (TW_UINT16 rc =
                 m_source->Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity);
             rc == TWRC_SUCCESS;
             rc = m_source->Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &identity))
            listed.push_back(identity);
        return listed;
    }
    // Opens a device no earlier test used, or the one opened last.
    TW_UINT16 Open(bool sameDevice = false) {
        const std::vector<TW_IDENTITY> listed = List();
        EXPECT_FALSE(listed.empty());
        if (listed.empty()) return TWRC_FAILURE;
        if (!sameDevice) m_deviceIndex = size_t(FreshSaneTestDevice());
        const size_t index = m_deviceIndex;
        EXPECT_LT(index, listed.size());
        if (index >= listed.size()) return TWRC_FAILURE;
        TW_IDENTITY identity = listed[index];
        identity.Id = kSourceId;
        return Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity);
    }
    TW_UINT16 Enable(bool showUi) {
        TW_USERINTERFACE ui{};
        ui.ShowUI = showUi;
        ui.hParent = m_window.Handle();
        return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    }
    TW_UINT16 Disable() {
        TW_USERINTERFACE ui{};
        ui.hParent = m_window.Handle();
        return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }
    TW_UINT16 Close() {
        TW_IDENTITY identity{};
        identity.Id = kSourceId;
        return Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &identity);
    }
    TW_UINT16 SetCount(TW_INT16 count) {
        HGLOBAL container = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
        const TW_ONEVALUE value{TWTY_INT16, static_cast<TW_UINT16>(count)};
        std::memcpy(GlobalLock(container), &value, sizeof value);
        GlobalUnlock(container);
        TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_ONEVALUE, container};
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
        GlobalFree(container);
        return rc;
    }
    int GetCount(TW_UINT16 msg = MSG_GET) {
        TW_CAPABILITY cap{CAP_XFERCOUNT, 0, nullptr};
        if (Call(DG_CONTROL, DAT_CAPABILITY, msg, &cap) != TWRC_SUCCESS) return -999;
        TW_ONEVALUE value{};
        std::memcpy(&value, GlobalLock(static_cast<HGLOBAL>(cap.hContainer)), sizeof value);
        GlobalFree(static_cast<HGLOBAL>(cap.hContainer));
        return static_cast<TW_INT16>(value.Item & 0xffff);
    }
    // The next notification the source posts, as the source claims it; MSG_NULL
    // when none comes within the time.
    TW_UINT16 NextNotification(int timeoutMs = 20000) {
        MSG msg{};
        if (!m_window.Wait(&msg, timeoutMs)) return MSG_NULL;
        TW_EVENT event{&msg, 0xBEEF};
        EXPECT_EQ(Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
        return event.TWMessage;
    }
    // Takes every waiting page as CTwain does; the number taken.
    int TransferAll(std::vector<TW_IMAGEINFO>* infos = nullptr) {
        int taken = 0;
        TW_PENDINGXFERS pending{1, 0};
        while (pending.Count > 0) {
            TW_IMAGEINFO info{};
            EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
            TW_HANDLE image = nullptr;
            EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image), TWRC_XFERDONE);
            EXPECT_GT(GlobalSize(static_cast<HGLOBAL>(image)), 40u);
            GlobalFree(static_cast<HGLOBAL>(image));
            if (infos) infos->push_back(info);
            ++taken;
            EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
        }
        return taken;
    }

    size_t m_deviceIndex = 0;
    std::ostringstream m_log;
    std::unique_ptr<SaneSource> m_source;
    MessageWindow m_window;
    std::filesystem::path m_config;
    size_t m_blocks = 0;
};

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
    TW_CAPABILITY other{ICAP_PIXELTYPE, 0, nullptr};
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
