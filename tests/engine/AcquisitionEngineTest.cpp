// The engine's re-entry rule and routing, with a host that counts what it is asked
// to do, on a channel of the test's own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bridge/ChannelLayout.h"
#include "engine/AcquisitionEngine.h"
#include "engine/EngineHost.h"
#include "tests/bridge/ChannelTestSupport.h"

namespace velomark {
namespace {

struct CountingHost : EngineHost {
    int selects = 0, acquires = 0, offered = 0, others = 0;
    bool running = false, mainLoop = true, enabled = true;
    BOOL ChooseSource() override { return ++selects, TRUE; }
    BOOL StartAcquisition(int) override { return ++acquires, TRUE; }
    bool AcquisitionRunning() const override { return running; }
    bool TwainReady() const override { return true; }
    // A source's notification: its batch is over and it closes.
    void OfferToSource(const MSG&) override {
        ++offered;
        running = false;
    }
    bool CommandEnabled(uint16_t) override { return enabled; }
    bool RunCommand(uint16_t) override { return ++others, true; }
    bool OnMainLoop() const override { return mainLoop; }
    ImageDocument* OpenNewDocument() override { return nullptr; }
};

class AcquisitionEngineTest : public ChannelTest {
protected:
    void SetUp() override {
        ChannelTest::SetUp();
        engine.OpenChannel();
        ASSERT_TRUE(Channel().HasStatusWord());
    }
    CountingHost host;
    AcquisitionEngine engine{host};
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
    EXPECT_EQ(host.acquires, 0);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_ACQUIRE);
    host.mainLoop = true;
    engine.Turn();
    EXPECT_EQ(host.acquires, 1);
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
    host.running = true;
    Channel().StoreStatus(CHANNEL_SELECT_SOURCE);
    engine.Turn();
    EXPECT_EQ(host.selects, 0);  // an enabled source would refuse it
    PostMessage(engine.Window(), WM_USER, 0, 0);
    engine.Turn();
    EXPECT_EQ(host.offered, 1);
    EXPECT_EQ(host.selects, 1);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
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
    EXPECT_EQ(host.acquires, 2);
    EXPECT_EQ(host.selects, 1);
    EXPECT_EQ(host.others, 1);
}

}  // namespace
}  // namespace velomark
