// A TWAIN 1.x manager: no entry point, no callback, and a source that posts
// nothing. Its news come only as answers to MSG_PROCESSEVENT, so the engine must
// offer it the program's turns while it is enabled.
#include <gtest/gtest.h>

#include "engine/AcquisitionEngine.h"
#include "engine/EngineHost.h"
#include "tests/twain/TwainTestSupport.h"

namespace {

// Counts the images the engine's own TWAIN session received.
class OldManagerHost : public velomark::EngineHost {
public:
    bool CommandEnabled(uint16_t) override { return true; }
    velomark::ImageDocument* OpenNewDocument() override { return nullptr; }
    void PageReceived(const TW_IMAGEINFO&, velomark::PublishResult,
                      velomark::ImageDocument*) override {
        ++pages;
    }
    size_t pages = 0;
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
    OldManagerHost host;
    velomark::AcquisitionEngine engine(host);
    velomark::TwainSession& twain = engine.Twain();
    ASSERT_TRUE(engine.StartTwain());
    ASSERT_TRUE(engine.Acquire(-1));
    EXPECT_TRUE(twain.WantsEveryEvent());

    // Nothing is ever posted: only the engine's turns (heartbeats) move it on.
    for (int turn = 0; turn < 10 && twain.HasSourceOpen(); ++turn) engine.Turn();
    EXPECT_EQ(host.pages, 3u);
    EXPECT_FALSE(twain.HasSourceOpen());
    EXPECT_FALSE(twain.WantsEveryEvent());
    EXPECT_EQ(offered, 2);  // one MSG_XFERREADY for the batch, one MSG_CLOSEDSREQ

    // A later turn asks the closed source nothing.
    engine.Turn();
    EXPECT_EQ(offered, 2);
    engine.Stop();
}

}  // namespace
