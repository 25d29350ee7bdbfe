// A TWAIN 1.x manager: no entry point, no callback, and a source that posts
// nothing. Its news come only as answers to MSG_PROCESSEVENT, so the engine must
// offer it the program's turns while it is enabled.
#include <gtest/gtest.h>

#include "engine/AcquisitionEngine.h"
#include "engine/EngineHost.h"
#include "tests/twain/TwainTestSupport.h"

namespace {

class OldManagerClient : public TestTwain, public velomark::EngineHost {
public:
    BOOL ChooseSource() override { return SelectSource(); }
    BOOL StartAcquisition(int nImages) override { return Acquire(nImages); }
    bool AcquisitionRunning() const override { return IsSourceEnabled() != FALSE; }
    bool TwainReady() const override { return IsDsmOpen() != FALSE; }
    void OfferToSource(const MSG& msg) override { FilterMessage(msg); }
    bool SourceNeedsEveryEvent() const override { return NeedsEveryEvent() != FALSE; }
    bool CommandEnabled(uint16_t) override { return true; }
    velomark::ImageDocument* OpenNewDocument() override { return nullptr; }
};

TEST(TwainOldManagerTest, ImagesAndTheCloseRequestComeAsAnswersToProcessEvent) {
    ScopedDsmPath path(FAKE_DSM_PATH);
    ScriptedDsm dsm(FAKE_DSM_PATH);
    // The source has news for whatever event it is offered: its images while it
    // holds some, then its close request.
    int offered = 0;
    dsm.On(DAT_EVENT, MSG_PROCESSEVENT, [&](const DsmCall&, TW_MEMREF data) -> TW_UINT16 {
        ++offered;
        static_cast<TW_EVENT*>(data)->TWMessage =
            dsm.pendingImages > 0 ? MSG_XFERREADY : MSG_CLOSEDSREQ;
        return TWRC_DSEVENT;
    });
    OldManagerClient client;
    velomark::AcquisitionEngine engine(client);
    ASSERT_TRUE(client.InitTwain(engine.Window()));
    engine.Begin();
    ASSERT_TRUE(engine.Acquire(-1));
    EXPECT_TRUE(client.NeedsEveryEvent());

    // Nothing is ever posted: only the engine's turns (heartbeats) move it on.
    for (int turn = 0; turn < 10 && client.IsSourceOpen(); ++turn) engine.Turn();
    EXPECT_EQ(client.received.size(), 3u);
    EXPECT_FALSE(client.IsSourceOpen());
    EXPECT_FALSE(client.NeedsEveryEvent());
    EXPECT_EQ(offered, 2);  // one MSG_XFERREADY for the batch, one MSG_CLOSEDSREQ

    // A later turn asks the closed source nothing.
    engine.Turn();
    EXPECT_EQ(offered, 2);
    engine.Shutdown();
}

}  // namespace
