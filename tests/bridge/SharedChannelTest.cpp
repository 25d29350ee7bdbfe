// The two sections between real processes: who creates them, what is zeroed, how
// long they live, and a section that a client made too small.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bridge/ChannelLayout.h"
#include "bridge/ChannelRequests.h"
#include "bridge/ImageHandoff.h"
#include "bridge/SharedMemExports.h"
#include "platform/SectionGuard.h"
#include "tests/ProgramRun.h"
#include "tests/bridge/ChannelImages.h"
#include "tests/bridge/ChannelTestSupport.h"

namespace velomark {
namespace {

using testing::ChildProcess;

using SharedChannelTest = ChannelTest;

bool AllZero(const unsigned char* p, size_t n) {
    return std::all_of(p, p + n, [](unsigned char b) { return b == 0; });
}

TEST_F(SharedChannelTest, VelomarkFirstCreatesZeroedSectionsAndNeverTouchesStatusTail) {
    Channel().Open();
    ASSERT_NE(Channel().DataBlock(), nullptr);
    ASSERT_NE(Channel().StatusBlock(), nullptr);
    EXPECT_TRUE(Channel().CreatedDataBlock());
    EXPECT_TRUE(Channel().CreatedStatusBlock());
    EXPECT_EQ(Channel().DataBlockSize(), kChannelBlockSize);
    EXPECT_EQ(Channel().StatusBlockSize(), kChannelBlockSize);
    EXPECT_TRUE(AllZero(Channel().DataBlock(), kChannelBlockSize));
    EXPECT_TRUE(AllZero(Channel().StatusBlock(), kStatusZeroedBytes));

    // A client marks the tail; nothing Velomark does afterwards may touch it.
    ChildProcess peer({PeerPath(), "hold"});
    ASSERT_EQ(peer.ReadLine(), "existed existed");
    unsigned char* status = Channel().StatusBlock();
    std::memset(status + kStatusZeroedBytes, 0xA5, 4096);
    TW_IMAGEINFO info;
    HGLOBAL image = MakeChannelImage(3, 17, 9, &info);
    TestDocuments documents;
    CountingActions actions;
    EXPECT_EQ(PublishImage(image, 24, info, documents, Channel()),
              PublishResult::Published);
    GlobalFree(image);
    Channel().StoreStatus(2);
    PollChannel(Channel(), actions);
    SetSharedMem("OnFileAcquire");
    HandleCommandText(Channel(), actions);
    EXPECT_TRUE(std::all_of(status + kStatusZeroedBytes, status + kStatusZeroedBytes + 4096,
                            [](unsigned char b) { return b == 0xA5; }));
    peer.WriteLine("bye");
    EXPECT_EQ(peer.Wait(), 0);
}

TEST_F(SharedChannelTest, ClientFirstKeepsEverythingAndItsRequestIsTakenAtFirstPoll) {
    ChildProcess peer({PeerPath(), "hold", "2"});
    ASSERT_EQ(peer.ReadLine(), "created created");

    Channel().Open();
    EXPECT_FALSE(Channel().CreatedDataBlock());
    EXPECT_FALSE(Channel().CreatedStatusBlock());
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_ACQUIRE);

    CountingActions actions;
    PollChannel(Channel(), actions);
    EXPECT_EQ(actions.acquires, 1);
    EXPECT_EQ(actions.lastImages, -1);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
    PollChannel(Channel(), actions);
    EXPECT_EQ(actions.acquires, 1);
    peer.WriteLine("bye");
    EXPECT_EQ(peer.Wait(), 0);
}

TEST_F(SharedChannelTest, ExistingContentIsNotZeroedOnOpen) {
    Channel().Open();
    SetSharedMem("left by the first user");
    Channel().StatusBlock()[60] = 0x5A;
    ChildProcess peer({PeerPath(), "hold"});
    ASSERT_EQ(peer.ReadLine(), "existed existed");
    Channel().Close();

    Channel().Open();  // the peer kept them alive
    EXPECT_FALSE(Channel().CreatedDataBlock());
    char text[64];
    GetSharedMem(text, sizeof text);
    EXPECT_STREQ(text, "left by the first user");
    EXPECT_EQ(Channel().StatusBlock()[60], 0x5A);
    peer.WriteLine("bye");
    EXPECT_EQ(peer.Wait(), 0);
}

TEST_F(SharedChannelTest, AfterEveryUserClosedANewOpenStartsFresh) {
    Channel().Open();
    SetSharedMem("old text");
    Channel().StoreStatus(CHANNEL_IMAGE_READY);
    {
        ChildProcess peer({PeerPath(), "hold"});
        ASSERT_EQ(peer.ReadLine(), "existed existed");
        Channel().Close();
        peer.WriteLine("bye");
        EXPECT_EQ(peer.Wait(), 0);
    }
    Channel().Open();
    EXPECT_TRUE(Channel().CreatedDataBlock());
    EXPECT_TRUE(Channel().CreatedStatusBlock());
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
    EXPECT_EQ(Channel().DataBlock()[0], 0);
}

TEST_F(SharedChannelTest, SectionsSurviveVelomarksCloseWhileAClientHoldsThem) {
    Channel().Open();
    SetSharedMem("for the client");
    Channel().StoreStatus(CHANNEL_IMAGE_READY);
    ChildProcess peer({PeerPath(), "hold"});
    ASSERT_EQ(peer.ReadLine(), "existed existed");
    Channel().Close();

    // A second client sees what Velomark left.
    ChildProcess second({PeerPath(), "hold"});
    EXPECT_EQ(second.ReadLine(), "existed existed");
    Channel().Open();
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IMAGE_READY);
    EXPECT_STREQ(reinterpret_cast<const char*>(Channel().DataBlock()), "for the client");
    peer.WriteLine("bye");
    second.WriteLine("bye");
    EXPECT_EQ(peer.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
}

TEST_F(SharedChannelTest, SectionsThatAClientMadeSmallAreNeverWrittenPastTheirEnd) {
    ChildProcess peer({PeerPath(), "shrink", "4096"});
    ASSERT_EQ(peer.ReadLine(), "ready 4096 4096");
    Channel().Open();
    ASSERT_EQ(Channel().DataBlockSize(), 4096u);
    ASSERT_EQ(Channel().StatusBlockSize(), 4096u);

    const std::string longText(10000, 'x');
    SetSharedMem(longText.c_str());
    EXPECT_EQ(Channel().DataBlock()[4095], 0);
    EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(Channel().DataBlock())), 4095u);

    // 40 + 64 * 30 * 3 bytes do not fit: the image is shown but not sent.
    TW_IMAGEINFO info;
    HGLOBAL image = MakeChannelImage(1, 64, 30, &info);
    TestDocuments documents;
    EXPECT_EQ(PublishImage(image, 24, info, documents, Channel()),
              PublishResult::TooLarge);
    GlobalFree(image);
    ASSERT_EQ(documents.documents.size(), 1u);
    EXPECT_EQ(documents.documents[0]->image.m_nWidth, 64);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
    peer.WriteLine("bye");
    EXPECT_EQ(peer.Wait(), 0);
}

TEST_F(SharedChannelTest, AClientCuttingTheSectionsUnderVelomarkIsReportedNotFatal) {
    Channel().Open();
    std::vector<std::string> notices;
    Channel().SetNoticeHandler([&](const std::string& text) { notices.push_back(text); });
    auto resize = [](const char* base, off_t size) {
        const int fd = shm_open(("/" + ChannelSectionName(base)).c_str(), O_RDWR, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, size), 0);
        close(fd);
    };
    resize(kDataSectionName, 4096);
    resize(kStatusSectionName, 0);

    const std::vector<unsigned char> image(100000, 7);
    EXPECT_FALSE(Channel().WriteData(0, image.data(), image.size()));  // cut short
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);
    EXPECT_FALSE(Channel().ExchangeStatus(CHANNEL_IDLE, CHANNEL_IMAGE_READY));
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[0].find("to 4096 bytes"), std::string::npos) << notices[0];

    // Mapped afresh at the new size before the next use: what fits goes through.
    EXPECT_TRUE(Channel().WriteData(0, image.data(), 4096));
    EXPECT_EQ(Channel().DataBlockSize(), 4096u);
    resize(kDataSectionName, kChannelBlockSize);  // the client puts it right
    resize(kStatusSectionName, kChannelBlockSize);
    Channel().RefreshDataBlock();
    EXPECT_TRUE(Channel().WriteData(0, image.data(), image.size()));
    Channel().StoreStatus(CHANNEL_ACQUIRE);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_ACQUIRE);
    Channel().SetNoticeHandler(nullptr);
}

TEST(SectionGuardTest, AFaultOutsideAnyGuardStillEndsTheProcess) {
    EXPECT_DEATH(
        {
            const int fd = shm_open("/velomark-guard-death", O_RDWR | O_CREAT, 0600);
            shm_unlink("/velomark-guard-death");
            if (ftruncate(fd, 8192) != 0) return;
            auto* view = static_cast<volatile char*>(
                mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
            { SectionGuard armed(const_cast<char*>(view), 4096); }
            if (ftruncate(fd, 0) != 0) return;
            view[0] = 1;
        },
        "");
}

TEST_F(SharedChannelTest, ClosedChannelLeavesEveryOperationHarmless) {
    CountingActions actions;
    PollChannel(Channel(), actions);
    HandleCommandText(Channel(), actions);
    char text[8] = "abc";
    GetSharedMem(text, sizeof text);
    EXPECT_STREQ(text, "");
    SetSharedMem("ignored");
    TW_IMAGEINFO info;
    HGLOBAL image = MakeChannelImage(1, 4, 4, &info);
    TestDocuments documents;
    EXPECT_EQ(PublishImage(image, 24, info, documents, Channel()),
              PublishResult::ChannelClosed);
    GlobalFree(image);
    EXPECT_EQ(documents.documents.size(), 1u);
    EXPECT_EQ(actions.selects + actions.acquires, 0);
}

}  // namespace
}  // namespace velomark
