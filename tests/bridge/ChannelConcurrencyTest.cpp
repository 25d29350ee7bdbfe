// The status word between two real processes: no request lost or run twice, and
// no image seen before it is complete.
#include <chrono>
#include <thread>

#include "bridge/ChannelLayout.h"
#include "bridge/ChannelRequests.h"
#include "bridge/ImageHandoff.h"
#include "tests/ProgramRun.h"
#include "tests/bridge/ChannelImages.h"
#include "tests/bridge/ChannelTestSupport.h"

namespace velomark {
namespace {

using testing::ChildProcess;

using ChannelConcurrencyTest = ChannelTest;

TEST_F(ChannelConcurrencyTest, EveryRequestWrittenAtRandomMomentsIsCarriedOutExactlyOnce) {
    Channel().Open();
    ASSERT_TRUE(Channel().HasStatusWord());
    constexpr int kRequests = 3000;
    ChildProcess writer({PeerPath(), "requests", std::to_string(kRequests), "12345"});
    ASSERT_TRUE(writer.Started());

    CountingActions actions;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (actions.acquires < kRequests && std::chrono::steady_clock::now() < deadline)
        PollChannel(Channel(), actions);
    EXPECT_EQ(writer.ReadLine(), "done " + std::to_string(kRequests));
    EXPECT_EQ(writer.Wait(), 0);
    for (int i = 0; i < 100; ++i) PollChannel(Channel(), actions);
    EXPECT_EQ(actions.acquires, kRequests);
    EXPECT_EQ(actions.selects, 0);
}

TEST_F(ChannelConcurrencyTest, AReaderNeverSeesReadyBeforeTheImageIsComplete) {
    Channel().Open();
    constexpr int kImages = 100;
    ChildProcess reader({PeerPath(), "reader", std::to_string(kImages)});
    ASSERT_EQ(reader.ReadLine(), "ready");

    // Images come as a source delivers them, without waiting for the reader; the
    // poll places each waiting one once the reader has taken the previous one. The
    // loop polls whenever a few are waiting, as the program's loop would.
    TestDocuments documents;
    CountingActions actions;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int serial = 1; serial <= kImages; ++serial) {
        TW_IMAGEINFO info;
        HGLOBAL image = MakeChannelImage(serial, 600 + serial % 50, 400 + serial % 40, &info);
        const PublishResult result = PublishImage(image, 24, info, documents, Channel());
        GlobalFree(image);
        ASSERT_TRUE(result == PublishResult::Published || result == PublishResult::Queued);
        documents.documents.clear();
        while (Channel().Outbox().Count() >= 3 && std::chrono::steady_clock::now() < deadline)
            PollChannel(Channel(), actions);
    }
    while (!Channel().Outbox().Empty() && std::chrono::steady_clock::now() < deadline)
        PollChannel(Channel(), actions);
    EXPECT_EQ(reader.ReadLine(), "ok " + std::to_string(kImages));
    EXPECT_EQ(reader.Wait(), 0);
}

}  // namespace
}  // namespace velomark
