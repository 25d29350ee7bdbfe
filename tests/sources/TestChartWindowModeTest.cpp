// The session with its window shown, through a stand-in for the window: nothing is
// scanned until Scan, Close asks the application to close the source, and the window
// is taken down when the source is disabled or closed.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/GlobalMemory.h"
#include "sources/testchart/TestChartSession.h"
#include "sources/testchart/TestChartSource.h"
#include "twain/DataSource.h"

namespace {

class FakeWindow final : public SourceUi {
public:
    explicit FakeWindow(TestChartSession& session, int* dismissals)
        : session(session), m_dismissals(dismissals) {}
    virtual ~FakeWindow() = default;
    void Dismiss() override {
        ++*m_dismissals;
        delete this;
    }
    TestChartSession& session;

private:
    int* m_dismissals;
};

class TestChartWindowMode : public ::testing::Test {
protected:
    void SetUp() override {
        m_live = GlobalLiveBlockCount();
        TW_IDENTITY self = TestChartSource::Identity();
        self.Id = 3;
        TestChartSettings settings;
        settings.pageSize = ChartPageSize::Custom;
        settings.customWidth = 24;
        settings.customHeight = 16;
        settings.pages = 2;
        m_session = std::make_unique<TestChartSession>(
            self, settings, false, [this](TestChartSession& session, const TestChartSettings&) {
                m_window = new FakeWindow(session, &m_dismissals);
                return m_window;
            });
    }
    void TearDown() override {
        m_session.reset();
        EXPECT_EQ(GlobalLiveBlockCount(), m_live);
    }
    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        TW_UINT16 condition = TWCC_SUCCESS;
        return m_session->Handle(dg, dat, msg, data, &condition);
    }
    TW_UINT16 EnableWithWindow() {
        TW_USERINTERFACE ui{TRUE, TRUE, m_appWindow.Handle()};
        return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    }

    MessageWindow m_appWindow;
    std::unique_ptr<TestChartSession> m_session;
    FakeWindow* m_window = nullptr;
    int m_dismissals = 0;
    size_t m_live = 0;
};

TEST_F(TestChartWindowMode, ScansOnlyWhenAskedAndAsksNothingAfterTheBatch) {
    ASSERT_EQ(EnableWithWindow(), TWRC_SUCCESS);
    ASSERT_NE(m_window, nullptr);
    MSG msg{};
    EXPECT_FALSE(m_appWindow.Wait(&msg, 200));  // no batch before Scan
    EXPECT_FALSE(m_session->Progress().running);

    TestChartSettings chosen;
    chosen.pageSize = ChartPageSize::Custom;
    chosen.customWidth = 30;
    chosen.customHeight = 10;
    chosen.pages = 1;
    ASSERT_TRUE(m_window->session.StartScan(chosen));
    EXPECT_FALSE(m_window->session.StartScan(chosen));  // one batch at a time
    ASSERT_TRUE(m_appWindow.Wait(&msg, 20000));
    EXPECT_EQ(msg.wParam, MSG_XFERREADY);
    TW_IMAGEINFO info{};
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(int(info.ImageWidth), 30);
    TW_HANDLE page = nullptr;
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &page), TWRC_XFERDONE);
    GlobalFree(static_cast<HGLOBAL>(page));
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);

    const TestChartProgress progress = m_session->Progress();
    EXPECT_EQ(progress.made, 1);
    EXPECT_EQ(progress.asked, 1);
    EXPECT_FALSE(progress.running);
    EXPECT_FALSE(m_appWindow.Wait(&msg, 200));         // the window stays; the user closes it
    EXPECT_TRUE(m_window->session.StartScan(chosen));  // and may scan again
}

TEST_F(TestChartWindowMode, CloseAsksTheApplicationAndDisablingTakesTheWindowDown) {
    ASSERT_EQ(EnableWithWindow(), TWRC_SUCCESS);
    m_window->session.RequestClose();
    MSG msg{};
    ASSERT_TRUE(m_appWindow.Wait(&msg, 20000));
    EXPECT_EQ(msg.wParam, MSG_CLOSEDSREQ);
    EXPECT_EQ(msg.lParam, 3);
    TW_EVENT event{&msg, 0};
    EXPECT_EQ(Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
    EXPECT_EQ(event.TWMessage, MSG_CLOSEDSREQ);

    TW_USERINTERFACE ui{FALSE, FALSE, m_appWindow.Handle()};
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(m_dismissals, 1);
}

TEST_F(TestChartWindowMode, ClosingMidBatchTakesTheWindowDownOnce) {
    ASSERT_EQ(EnableWithWindow(), TWRC_SUCCESS);
    TestChartSettings many;
    many.pages = 30;
    ASSERT_TRUE(m_window->session.StartScan(many));
    m_session.reset();
    EXPECT_EQ(m_dismissals, 1);
}

TEST_F(TestChartWindowMode, AWindowTheToolkitDestroyedIsForgotten) {
    ASSERT_EQ(EnableWithWindow(), TWRC_SUCCESS);
    m_session->WindowGone(m_window);
    delete m_window;
    TW_USERINTERFACE ui{FALSE, FALSE, m_appWindow.Handle()};
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(m_dismissals, 0);
}

}  // namespace
