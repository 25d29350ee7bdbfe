// The session every source shares, driven with pages made by the test: where the
// rules of the two sources differ, and the packed DIB's header.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "platform/GlobalMemory.h"
#include "sources/common/PackedDibHeader.h"
#include "sources/common/SourceSession.h"
#include "twain/DataSource.h"

namespace {

TW_IDENTITY TestIdentity() {
    TW_IDENTITY self{};
    self.Id = 7;
    return self;
}

class ScriptedSession final : public SourceSession {
public:
    ScriptedSession(Rules rules) : SourceSession(TestIdentity(), false, rules) {}
    ~ScriptedSession() override { EndSession(); }
    void AddPage() {
        auto lock = Lock();
        pages.push_back(GlobalAlloc(GMEM_MOVEABLE, 64));
    }
    std::deque<HGLOBAL> pages;
    int stops = 0;

private:
    TW_UINT16 Capability(TW_UINT16, TW_CAPABILITY*, TW_UINT16*) override { return TWRC_FAILURE; }
    SourceUi* OpenWindow() override { return nullptr; }
    bool StartPages() override { return true; }
    void StopPages() override {
        ++stops;
        for (HGLOBAL page : pages) GlobalFree(page);
        pages.clear();
    }
    bool PagesReady() override { return !pages.empty(); }
    int PagesPending() override { return int(pages.size()); }
    bool DescribePage(TW_IMAGEINFO*) override { return !pages.empty(); }
    HGLOBAL TakePage() override {
        if (pages.empty()) return nullptr;
        HGLOBAL page = pages.front();
        pages.pop_front();
        return page;
    }
    int EndPage() override { return int(pages.size()); }
};

class SourceSessionTest : public ::testing::Test {
protected:
    void TearDown() override {
        m_session.reset();
        EXPECT_EQ(GlobalLiveBlockCount(), m_live);
    }
    // The condition of a failure stays in m_condition.
    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        m_condition = TWCC_SUCCESS;
        return m_session->Handle(dg, dat, msg, data, &m_condition);
    }
    // Enabled with a user interface that nobody sees, one page waiting.
    void Start(SourceSession::Rules rules) {
        m_session = std::make_unique<ScriptedSession>(rules);
        TW_USERINTERFACE ui{TRUE, FALSE, m_window.Handle()};
        ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
        m_session->AddPage();
    }
    TW_UINT16 EndTransfer() {
        TW_PENDINGXFERS pending{};
        return Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    }
    TW_UINT16 Disable() {
        TW_USERINTERFACE ui{FALSE, FALSE, m_window.Handle()};
        return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }

    size_t m_live = GlobalLiveBlockCount();
    MessageWindow m_window;
    std::unique_ptr<ScriptedSession> m_session;
    TW_UINT16 m_condition = TWCC_SUCCESS;
};

TEST_F(SourceSessionTest, AnUncountedBatchGoesOnAfterItsWaitingPagesEnd) {
    Start({.countedBatch = false});
    EXPECT_EQ(EndTransfer(), TWRC_SUCCESS);  // ended before its transfer: dropped
    EXPECT_EQ(m_session->stops, 0);
    EXPECT_EQ(m_session->CurrentState(), SourceSession::State::Enabled);
    MSG msg{};
    EXPECT_FALSE(m_window.Peek(&msg));  // the source says when its batch ends
    m_session->AddPage();
    EXPECT_EQ(m_session->CurrentState(), SourceSession::State::TransferReady);
}

TEST_F(SourceSessionTest, ACountedBatchEndsAtItsLastPageAndAsksToBeClosed) {
    Start({.countedBatch = true});
    TW_HANDLE page = nullptr;
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &page), TWRC_XFERDONE);
    GlobalFree(static_cast<HGLOBAL>(page));
    EXPECT_EQ(EndTransfer(), TWRC_SUCCESS);
    EXPECT_EQ(m_session->stops, 1);
    MSG msg{};
    ASSERT_TRUE(m_window.Peek(&msg));
    EXPECT_EQ(msg.wParam, MSG_CLOSEDSREQ);
    EXPECT_EQ(msg.lParam, 7);
}

TEST_F(SourceSessionTest, DisablingWithAPageWaitingFollowsTheSourcesRule) {
    Start({.disableWithPagesWaiting = false});
    EXPECT_EQ(Disable(), TWRC_FAILURE);
    EXPECT_EQ(m_condition, TWCC_SEQERROR);
    Start({.disableWithPagesWaiting = true});
    EXPECT_EQ(Disable(), TWRC_SUCCESS);
    EXPECT_TRUE(m_session->pages.empty());
}

TEST(PackedDibHeaderTest, HeaderAndTableDescribeTheRows) {
    const RGBQUAD table[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    uint8_t block[PackedDibHeaderBytes(2)] = {};
    WritePackedDibHeader(block, 33, 5, 1, 100, table, 2);
    BITMAPINFOHEADER header;
    std::memcpy(&header, block, sizeof header);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 33);
    EXPECT_EQ(header.biHeight, 5);
    EXPECT_EQ(header.biSizeImage, 8u * 5);  // 33 bits take two words a row
    EXPECT_EQ(header.biXPelsPerMeter, 3937);
    EXPECT_EQ(header.biClrUsed, 2u);
    EXPECT_EQ(block[40 + 4], 255);
    EXPECT_EQ(PackedDibStride(3, 24), 12u);
}

}  // namespace
