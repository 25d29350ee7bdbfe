// The engine's re-entry rule and routing, with a host and a TWAIN session that count
// what they are asked to do, on a channel of the test's own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bridge/ChannelLayout.h"
#include "bridge/PlainImageDocument.h"
#include "engine/AcquisitionEngine.h"
#include "engine/EngineHost.h"
#include "tests/engine/StandInSession.h"
#include "tests/bridge/ChannelImages.h"
#include "tests/bridge/ChannelTestSupport.h"

namespace velomark {
namespace {

struct CountingHost : EngineHost {
    int others = 0;
    bool mainLoop = true, enabled = true;
    bool CommandEnabled(uint16_t) override { return enabled; }
    bool RunCommand(uint16_t) override { return ++others, true; }
    bool OnMainLoop() const override { return mainLoop; }
    ImageDocument* OpenNewDocument() override { return &page; }
    PlainImageDocument page;
};

class AcquisitionEngineTest : public ChannelTest {
protected:
    void SetUp() override {
        ChannelTest::SetUp();
        engine.OpenChannel();
        ASSERT_TRUE(Channel().HasStatusWord());
    }
    CountingHost host;
    StandInSession* twain = new StandInSession;  // the engine's
    AcquisitionEngine engine{host, SharedChannel::Instance(), std::unique_ptr<TwainSession>(twain)};
};

TEST_F(AcquisitionEngineTest, ARequestWaitsForTheOutermostTurnOfTheMainLoop) {
    Channel().StoreStatus(CHANNEL_ACQUIRE);
    engine.Turn();  // TWAIN not started yet
    engine.Begin();
    {
        const AcquisitionEngine::Nested handler;
        EXPECT_FALSE(engine.MayTurn());
        engine.Turn();
        engine.Poll();
    }
    host.mainLoop = false;  // a modal dialog's loop
    engine.Turn();
    EXPECT_EQ(twain->acquires, 0);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_ACQUIRE);
    host.mainLoop = true;
    engine.Turn();
    EXPECT_EQ(twain->acquires, 1);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
}

TEST_F(AcquisitionEngineTest, AClientsCommandRunsInATurnOnlyAndNeverAfterShutdown) {
    engine.Begin();
    int runs = 0;
    engine.RunOnUiThread([&] { ++runs; });
    EXPECT_TRUE(engine.WaitForWork(0));
    {
        const AcquisitionEngine::Nested handler;
        engine.Turn();
    }
    EXPECT_EQ(runs, 0);
    engine.Turn();
    EXPECT_EQ(runs, 1);
    engine.RunOnUiThread([&] { ++runs; });
    engine.Shutdown();
    engine.Turn();
    EXPECT_EQ(runs, 1);
}

TEST_F(AcquisitionEngineTest, ASourceThatClosesLetsTheWaitingRequestThroughInTheSameTurn) {
    engine.Begin();
    twain->running = true;
    Channel().StoreStatus(CHANNEL_SELECT_SOURCE);
    engine.Turn();
    EXPECT_EQ(twain->selects, 0);  // an enabled source would refuse it
    PostMessage(engine.Window(), WM_USER, 0, 0);
    engine.Turn();
    EXPECT_EQ(twain->offered, 1);
    EXPECT_EQ(twain->selects, 1);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
}

// The source transfers one page now, as its window's Scan button would.
PublishResult ScanOnePage(AcquisitionEngine& engine, int serial) {
    TW_IMAGEINFO info;
    HGLOBAL image = MakeChannelImage(serial, 8, 4, &info);
    const PublishResult result = engine.ReceiveImage(image, info);
    GlobalFree(image);
    return result;
}

TEST_F(AcquisitionEngineTest, ARequestJoinsTheRunningAcquisitionAndStartsOneOnlyIfItGotNoPage) {
    engine.Begin();
    twain->running = true;  // the person's acquisition, its source's window open
    ASSERT_EQ(ScanOnePage(engine, 1), PublishResult::Published);
    Channel().StoreStatus(CHANNEL_ACQUIRE);
    engine.Turn();
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);  // taken up at once
    EXPECT_EQ(ScanOnePage(engine, 2), PublishResult::Published);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IMAGE_READY);
    PostMessage(engine.Window(), WM_USER, 0, 0);  // the person closes the window
    engine.Turn();
    EXPECT_EQ(twain->offered, 1);
    EXPECT_EQ(twain->acquires, 0);  // nothing reopens

    // The same by the command text, with no page before the source closes: the
    // request then starts an acquisition of its own.
    twain->running = true;
    Channel().StoreStatus(CHANNEL_IDLE);
    std::strcpy(reinterpret_cast<char*>(Channel().DataBlock()), kAcquireCommand);
    engine.HandleCommandText();
    EXPECT_STREQ(reinterpret_cast<const char*>(Channel().DataBlock()), kAcquireReply);
    EXPECT_EQ(twain->acquires, 0);
    PostMessage(engine.Window(), WM_USER, 0, 0);
    engine.Turn();
    EXPECT_EQ(twain->acquires, 1);
    engine.Turn();
    EXPECT_EQ(twain->acquires, 1);
}

TEST_F(AcquisitionEngineTest, ASourceThatAnswersOnlyProcessEventIsOfferedEveryTurnAndEvent) {
    twain->everyEvent = true;
    engine.Begin();
    twain->running = true;
    engine.Turn();  // a heartbeat, nothing posted
    EXPECT_EQ(twain->offered, 1);
    twain->running = true;
    const MSG event{nullptr, WM_CLOSE, 0, 0, 0, {0, 0}};
    engine.Poll(&event);  // an outermost event
    EXPECT_EQ(twain->offered, 2);
    engine.Turn();  // closed: nothing more to offer
    engine.Poll(&event);
    EXPECT_EQ(twain->offered, 2);
}

TEST_F(AcquisitionEngineTest, CommandsAreRoutedAsTheMenuRoutesThem) {
    EXPECT_FALSE(engine.ExecuteCommand(32772));  // not begun
    engine.Begin();
    host.enabled = false;
    EXPECT_FALSE(engine.ExecuteCommand(32772));
    host.enabled = true;
    EXPECT_TRUE(engine.ExecuteCommand(32772));
    EXPECT_TRUE(engine.ExecuteCommand(32771));
    std::strcpy(reinterpret_cast<char*>(Channel().DataBlock()), kAcquireCommand);
    EXPECT_TRUE(engine.ExecuteCommand(ID_GET_DIB_BITES));
    EXPECT_STREQ(reinterpret_cast<const char*>(Channel().DataBlock()), kAcquireReply);
    EXPECT_TRUE(engine.ExecuteCommand(57600));
    EXPECT_EQ(twain->acquires, 2);
    EXPECT_EQ(twain->selects, 1);
    EXPECT_EQ(host.others, 1);
    // A stream's start flag is a client's request: the menu's greying (no source
    // chosen yet) does not stop it, and a running acquisition is joined.
    host.enabled = false;
    EXPECT_TRUE(engine.StartStreamAcquisition());
    EXPECT_EQ(twain->acquires, 3);
    twain->running = true;
    EXPECT_TRUE(engine.StartStreamAcquisition());
    EXPECT_EQ(twain->acquires, 3);
}

}  // namespace
}  // namespace velomark
