// Stopping the command socket: waiting senders are let go, the file goes, and a
// task that reaches the UI thread afterwards touches nothing of the server.
#include <sys/stat.h>

#include <chrono>
#include <future>
#include <memory>

#include "tests/bridge/CommandServerTestSupport.h"

namespace velomark::testing {
namespace {

using namespace std::chrono_literals;

constexpr uint16_t kCommand = 32783;

bool FileExists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

using CommandServerStopTest = CommandSocketTest;

TEST_F(CommandServerStopTest, StopReleasesWaitingSendersAndQueuedTasksDoNothing) {
    UiThreadTarget target;
    target.Enable(kCommand);
    target.Hold();
    auto server = std::make_unique<CommandServer>(target, m_streams);
    ASSERT_TRUE(server->Start()) << server->ErrorText();
    auto sender = std::async(std::launch::async, [this] { return CallOnce(Request(kCommand)); });
    auto poster = std::async(std::launch::async,
                             [this] { return CallOnce(Request(kCommand, COMMAND_POST)); });
    EXPECT_EQ(poster.get(), 0);
    for (int waited = 0; target.QueuedCount() < 2 && waited < 5000; ++waited)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(target.QueuedCount(), 2u);
    EXPECT_EQ(sender.wait_for(50ms), std::future_status::timeout) << "its command has not run";

    server->Stop();
    ASSERT_EQ(sender.wait_for(2s), std::future_status::ready);
    const int64_t answer = sender.get();
    EXPECT_TRUE(answer == -1 || answer == -100 - static_cast<int>(CommandCallResult::Disconnected))
        << answer;
    EXPECT_FALSE(FileExists(m_path));
    EXPECT_EQ(CallOnce(Request(kCommand)), -100) << "nobody serves the path any more";

    server.reset();
    EXPECT_EQ(target.RunHeld(), 2u);
    EXPECT_TRUE(target.Executed().empty());
}

TEST_F(CommandServerStopTest, ACommandMayStopTheServerThatRunsIt) {
    UiThreadTarget target;
    target.Enable(kCommand);
    CommandServer server(target, m_streams);
    ASSERT_TRUE(server.Start()) << server.ErrorText();
    std::promise<void> stopped;
    target.onExecute = [&](uint16_t) {
        server.Stop();
        stopped.set_value();
    };
    auto sender = std::async(std::launch::async, [this] { return CallOnce(Request(kCommand)); });
    ASSERT_EQ(stopped.get_future().wait_for(5s), std::future_status::ready)
        << "Stop inside a command deadlocked";
    ASSERT_EQ(sender.wait_for(2s), std::future_status::ready);
    EXPECT_NE(sender.get(), 0) << "a stopped server dispatches nothing";
    EXPECT_FALSE(server.IsRunning());
}

TEST_F(CommandServerStopTest, AServerCanStartAgainAfterStop) {
    UiThreadTarget target;
    target.Enable(kCommand);
    CommandServer server(target, m_streams);
    ASSERT_TRUE(server.Start());
    EXPECT_FALSE(server.Start()) << "already running";
    server.Stop();
    server.Stop();
    ASSERT_TRUE(server.Start()) << server.ErrorText();
    EXPECT_EQ(CallOnce(Request(kCommand)), 0);
}

TEST_F(CommandServerStopTest, StopWithOpenIdleConnectionsEndsThem) {
    UiThreadTarget target;
    CommandServer server(target, m_streams);
    ASSERT_TRUE(server.Start());
    std::vector<std::unique_ptr<CommandSocketClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<CommandSocketClient>());
        ASSERT_EQ(clients.back()->Connect(m_path, 2000), CommandCallResult::Replied);
    }
    server.Stop();
    for (auto& client : clients) {
        int64_t reply = 0;
        EXPECT_EQ(client->ReadReply(2000, reply), CommandCallResult::Disconnected);
    }
}

}  // namespace
}  // namespace velomark::testing
