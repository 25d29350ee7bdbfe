// The command socket end to end in one process: send and post, refusals, bad
// requests, several clients, and the socket file left by an earlier server.
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <future>
#include <memory>

#include "bridge/CommandSocketWire.h"
#include "tests/bridge/CommandServerTestSupport.h"

namespace velomark::testing {
namespace {

using namespace std::chrono_literals;

constexpr uint16_t kCommand = 32783;
constexpr uint16_t kOtherCommand = 57600;

class CommandServerTest : public CommandSocketTest {
protected:
    void SetUp() override {
        CommandSocketTest::SetUp();
        m_target.Enable(kCommand);
        m_target.Enable(kOtherCommand);
    }
    void StartServer() { ASSERT_TRUE(m_server.Start()) << m_server.ErrorText(); }

    UiThreadTarget m_target;
    CommandServer m_server{m_target, m_streams};
};

TEST(CommandSocketWireTest, RequestAndReplyAreLittleEndianInTheirFixedPlaces) {
    CommandRequest request;
    request.message = 0x0111;
    request.mode = COMMAND_POST;
    request.wParam = 0x0102030405068010ull;
    request.lParam = 0;
    unsigned char bytes[kCommandRequestSize];
    CommandSocketWire::EncodeRequest(request, bytes);
    const unsigned char expected[kCommandRequestSize] = {0x11, 0x01, 0, 0, 1, 0, 0, 0,
                                                         0x10, 0x80, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(std::memcmp(bytes, expected, sizeof(bytes)), 0);
    CommandRequest decoded = CommandSocketWire::DecodeRequest(bytes);
    EXPECT_EQ(decoded.wParam, request.wParam);
    EXPECT_EQ(CommandSocketWire::CommandId(decoded), 0x8010);

    unsigned char reply[kCommandReplySize];
    CommandSocketWire::EncodeReply(-1, reply);
    for (unsigned char byte : reply) EXPECT_EQ(byte, 0xFF);
    EXPECT_EQ(CommandSocketWire::DecodeReply(reply), -1);
}

TEST_F(CommandServerTest, SendRepliesOnlyAfterTheCommandHasRun) {
    StartServer();
    std::atomic<bool> finished{false};
    m_target.onExecute = [&](uint16_t) {
        std::this_thread::sleep_for(100ms);
        finished = true;
    };
    EXPECT_EQ(CallOnce(Request(kCommand)), 0);
    EXPECT_TRUE(finished);
    EXPECT_EQ(m_target.Executed(), std::vector<uint16_t>{kCommand});
    struct stat info {};
    ASSERT_EQ(stat(m_path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(CommandServerTest, PostRepliesAtOnceAndTheCommandRunsLater) {
    StartServer();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    m_target.onExecute = [released](uint16_t) { released.wait(); };
    EXPECT_EQ(CallOnce(Request(kCommand, COMMAND_POST), 2000), 0);
    EXPECT_TRUE(m_target.Executed().empty()) << "the handler is still held";
    release.set_value();
    EXPECT_TRUE(m_target.WaitExecuted(1));
}

TEST_F(CommandServerTest, DisabledCommandsAreRefusedToSendersOnly) {
    StartServer();
    EXPECT_EQ(CallOnce(Request(1234)), -1);
    EXPECT_EQ(CallOnce(Request(1234, COMMAND_POST)), 0);
    EXPECT_TRUE(m_target.WaitExecuted(2));
    // Only the low 16 bits of wParam name the command.
    EXPECT_EQ(CallOnce(Request(kCommand)), 0);
    CommandRequest high = Request(kCommand);
    high.wParam |= 0x10000;
    EXPECT_EQ(CallOnce(high), 0);
}

TEST_F(CommandServerTest, AnotherMessageIsRefusedAndTheConnectionStays) {
    StartServer();
    CommandSocketClient client;
    ASSERT_EQ(client.Connect(m_path, 2000), CommandCallResult::Replied);
    CommandRequest other = Request(kCommand);
    other.message = 0x0112;  // WM_SYSCOMMAND
    int64_t reply = 0;
    ASSERT_EQ(client.Call(other, 2000, reply), CommandCallResult::Replied);
    EXPECT_EQ(reply, -1);
    ASSERT_EQ(client.Call(Request(kCommand), 2000, reply), CommandCallResult::Replied);
    EXPECT_EQ(reply, 0);
    ASSERT_EQ(client.Call(Request(kOtherCommand), 2000, reply), CommandCallResult::Replied);
    EXPECT_EQ(reply, 0);
    EXPECT_EQ(m_target.Executed(), (std::vector<uint16_t>{kCommand, kOtherCommand}));
}

TEST_F(CommandServerTest, MalformedRequestsCloseTheConnectionWithoutRunningAnything) {
    StartServer();
    CommandRequest badMode = Request(kCommand, 2);
    CommandRequest withLParam = Request(kCommand);
    withLParam.lParam = 1;
    for (const CommandRequest& bad : {badMode, withLParam}) {
        CommandSocketClient client;
        ASSERT_EQ(client.Connect(m_path, 2000), CommandCallResult::Replied);
        int64_t reply = 0;
        EXPECT_EQ(client.Call(bad, 2000, reply), CommandCallResult::Disconnected);
    }
    {
        // Part of a request, then the end: the server waits for the rest, then gives up.
        CommandSocketClient client;
        ASSERT_EQ(client.Connect(m_path, 2000), CommandCallResult::Replied);
        unsigned char bytes[kCommandRequestSize];
        CommandSocketWire::EncodeRequest(Request(kCommand), bytes);
        ASSERT_EQ(client.SendRaw(bytes, 10, 2000), CommandCallResult::Replied);
        int64_t reply = 0;
        EXPECT_EQ(client.ReadReply(100, reply), CommandCallResult::TimedOut);
    }
    EXPECT_EQ(CallOnce(Request(kCommand)), 0) << "the server goes on serving others";
    EXPECT_EQ(m_target.Executed(), std::vector<uint16_t>{kCommand});
}

TEST_F(CommandServerTest, AStreamWithUnknownFlagsIsRefusedAndTheConnectionStays) {
    m_target.acceptStreams = true;
    StartServer();
    CommandSocketClient client;
    ASSERT_EQ(client.Connect(m_path, 2000), CommandCallResult::Replied);
    CommandRequest stream;
    stream.message = kStreamMessage;
    stream.mode = 2;
    int64_t reply = 0;
    ASSERT_EQ(client.Call(stream, 2000, reply), CommandCallResult::Replied);
    EXPECT_EQ(reply, -1);
    ASSERT_EQ(client.Call(Request(kCommand), 2000, reply), CommandCallResult::Replied);
    EXPECT_EQ(reply, 0);
}

TEST_F(CommandServerTest, ClientsAreServedSideBySide) {
    StartServer();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> entered{false};
    m_target.onExecute = [released, &entered](uint16_t id) {
        if (id != kCommand) return;
        entered = true;
        released.wait();
    };
    // The first sender waits for its command, which waits for the test...
    auto first = std::async(std::launch::async, [this] { return CallOnce(Request(kCommand)); });
    for (int waited = 0; !entered && waited < 5000; ++waited) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(entered);
    // ...while a second client is still answered at once.
    EXPECT_EQ(CallOnce(Request(kOtherCommand, COMMAND_POST), 2000), 0);
    EXPECT_EQ(first.wait_for(50ms), std::future_status::timeout);
    release.set_value();
    EXPECT_EQ(first.get(), 0);

    m_target.onExecute = nullptr;
    std::vector<std::future<int>> senders;
    for (int client = 0; client < 4; ++client) {
        senders.push_back(std::async(std::launch::async, [this] {
            CommandSocketClient connection;
            if (connection.Connect(m_path, 2000) != CommandCallResult::Replied) return -1;
            int answered = 0;
            for (int i = 0; i < 50; ++i) {
                int64_t reply = -1;
                if (connection.Call(Request(kCommand), 5000, reply) == CommandCallResult::Replied &&
                    reply == 0)
                    ++answered;
            }
            return answered;
        }));
    }
    for (auto& sender : senders) EXPECT_EQ(sender.get(), 50);
    EXPECT_TRUE(m_target.WaitExecuted(2 + 200));
}

TEST_F(CommandServerTest, ConnectionsBeyondTheLimitAreClosedUntilOthersEnd) {
    StartServer();
    std::vector<std::unique_ptr<CommandSocketClient>> idle;
    for (int i = 0; i < 64; ++i) {
        idle.push_back(std::make_unique<CommandSocketClient>());
        ASSERT_EQ(idle.back()->Connect(m_path, 2000), CommandCallResult::Replied);
    }
    int64_t reply = 0;
    ASSERT_EQ(idle.back()->Call(Request(kCommand), 2000, reply), CommandCallResult::Replied)
        << "the 64th is served";
    CommandSocketClient extra;
    ASSERT_EQ(extra.Connect(m_path, 2000), CommandCallResult::Replied);
    EXPECT_EQ(extra.Call(Request(kCommand), 2000, reply), CommandCallResult::Disconnected);
    idle.front()->Close();
    // The ended connection is counted out when the next one comes in.
    bool served = false;
    for (int attempt = 0; attempt < 100 && !served; ++attempt) {
        served = CallOnce(Request(kCommand), 2000) == 0;
        if (!served) std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(served);
}

TEST_F(CommandServerTest, ALeftoverSocketFileIsReplaced) {
    LeaveStaleSocketFile();
    StartServer();
    EXPECT_EQ(CallOnce(Request(kCommand)), 0);
}

TEST_F(CommandServerTest, ARunningInstanceIsNotTakenOver) {
    StartServer();
    UiThreadTarget otherTarget;
    {
        StreamHub otherStreams;
        CommandServer second(otherTarget, otherStreams);
        EXPECT_FALSE(second.Start());
        EXPECT_NE(second.ErrorText().find("already running"), std::string::npos)
            << second.ErrorText();
        EXPECT_NE(second.ErrorText().find(m_path), std::string::npos);
        EXPECT_FALSE(second.IsRunning());
    }
    EXPECT_EQ(CallOnce(Request(kCommand)), 0) << "the first still serves its socket";
    EXPECT_TRUE(otherTarget.Executed().empty());
}

TEST_F(CommandServerTest, AFileThatIsNoSocketIsLeftAlone) {
    std::ofstream(m_path) << "someone's file";
    EXPECT_FALSE(m_server.Start());
    EXPECT_NE(m_server.ErrorText().find("not a socket"), std::string::npos);
    std::ifstream in(m_path);
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "someone's file");
}

}  // namespace
}  // namespace velomark::testing
