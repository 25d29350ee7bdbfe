// Requests by status word and by command text, and the two exported functions.
#include <dlfcn.h>

#include <cstring>
#include <string>
#include <thread>

#include "bridge/ChannelLayout.h"
#include "bridge/ChannelRequests.h"
#include "bridge/ImageHandoff.h"
#include "bridge/SharedMemExports.h"
#include "tests/bridge/ChannelImages.h"
#include "tests/bridge/ChannelTestSupport.h"

namespace velomark {
namespace {

class ChannelRequestsTest : public ChannelTest {
protected:
    void SetUp() override {
        ChannelTest::SetUp();
        Channel().Open();
        ASSERT_NE(Channel().DataBlock(), nullptr);
        ASSERT_NE(Channel().StatusBlock(), nullptr);
    }
    // Writes raw bytes at the start of the data block, as a client does.
    void WriteData(const void* bytes, size_t n) { std::memcpy(Channel().DataBlock(), bytes, n); }
    std::string DataText() const {
        return reinterpret_cast<const char*>(SharedChannel::Instance().DataBlock());
    }
    CountingActions actions;
};

TEST_F(ChannelRequestsTest, StatusRequestsAreResetThenCarriedOut) {
    Channel().StoreStatus(CHANNEL_SELECT_SOURCE);
    PollChannel(Channel(), actions);
    EXPECT_EQ(actions.selects, 1);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);

    Channel().StoreStatus(CHANNEL_ACQUIRE);
    PollChannel(Channel(), actions);
    EXPECT_EQ(actions.acquires, 1);
    EXPECT_EQ(actions.lastImages, -1);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);

    for (int i = 0; i < 5; ++i) PollChannel(Channel(), actions);
    EXPECT_EQ(actions.selects, 1);
    EXPECT_EQ(actions.acquires, 1);
}

TEST_F(ChannelRequestsTest, ImageReadyStaysThroughAnyNumberOfPolls) {
    Channel().StoreStatus(CHANNEL_IMAGE_READY);
    for (int i = 0; i < 1000; ++i) PollChannel(actions);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IMAGE_READY);
    EXPECT_EQ(actions.selects + actions.acquires, 0);
}

TEST_F(ChannelRequestsTest, OtherValuesAreResetWithoutAction) {
    for (int32_t value : {3, 4, 6, 7, -1, 0x7FFFFFFF, 0x102}) {
        Channel().StoreStatus(value);
        PollChannel(Channel(), actions);
        EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE) << value;
    }
    EXPECT_EQ(actions.selects + actions.acquires, 0);
}

TEST_F(ChannelRequestsTest, CommandTextsGetTheirExactReplyThenTheirAction) {
    SetSharedMem("OnSelectDataSource");
    HandleCommandText(Channel(), actions);
    EXPECT_EQ(DataText(), "Wait For OnFileSelectsource");
    EXPECT_EQ(actions.selects, 1);

    SetSharedMem("OnFileAcquire");
    HandleCommandText(Channel(), actions);
    EXPECT_EQ(DataText(), "Wait For OnFileAcquire");
    EXPECT_EQ(actions.acquires, 1);
    EXPECT_EQ(actions.lastImages, -1);

    // The reply itself is no command.
    HandleCommandText(Channel(), actions);
    EXPECT_EQ(actions.selects + actions.acquires, 2);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);  // the command path leaves the word
}

TEST_F(ChannelRequestsTest, TheReplyStaysReadableBeforeTheFirstImageTakesItsPlace) {
    SetSharedMem("OnFileAcquire");
    HandleCommandText(Channel(), actions);
    TW_IMAGEINFO info;
    HGLOBAL image = MakeChannelImage(1, 8, 8, &info);
    TestDocuments documents;
    EXPECT_EQ(PublishImage(image, 24, info, documents, Channel()),
              PublishResult::Queued);
    GlobalFree(image);
    PollChannel(Channel(), actions);
    EXPECT_EQ(DataText(), "Wait For OnFileAcquire");
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IDLE);

    std::this_thread::sleep_for(SharedChannel::kReplyHold + std::chrono::milliseconds(50));
    PollChannel(Channel(), actions);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IMAGE_READY);
    EXPECT_EQ(Channel().DataBlock()[0], 40);
}

TEST_F(ChannelRequestsTest, NearMissesDoNothingAndLeaveTheBlock) {
    const std::string longCommand = "OnFileAcquire" + std::string(287, 'A');
    for (const std::string text : {"onfileacquire", "OnFileAcquire ", "OnFileAcquireX",
                                   " OnFileAcquire", "OnSelectDataSourc", "", longCommand.c_str()}) {
        SetSharedMem(text.c_str());
        HandleCommandText(Channel(), actions);
        EXPECT_EQ(DataText(), text);
    }
    EXPECT_EQ(actions.selects + actions.acquires, 0);
}

TEST_F(ChannelRequestsTest, CommandEndsAtItsZeroByteAndTheReplyKeepsWhatFollows) {
    const char bytes[] = "OnFileAcquire\0and more text behind the command, 40 bytes..";
    WriteData(bytes, sizeof bytes);
    HandleCommandText(Channel(), actions);
    EXPECT_EQ(actions.acquires, 1);
    EXPECT_EQ(DataText(), "Wait For OnFileAcquire");
    EXPECT_EQ(std::memcmp(Channel().DataBlock() + 23, bytes + 23, sizeof bytes - 23), 0);
}

TEST_F(ChannelRequestsTest, GetSharedMemCopiesAtMostCapacityMinusOne) {
    SetSharedMem("OnFileAcquire");
    char buffer[16];
    std::memset(buffer, 'z', sizeof buffer);
    GetSharedMem(buffer, 6);
    EXPECT_STREQ(buffer, "OnFil");
    EXPECT_EQ(buffer[6], 'z');
    GetSharedMem(buffer, 1);
    EXPECT_STREQ(buffer, "");
    buffer[0] = 'q';
    GetSharedMem(buffer, 0);
    GetSharedMem(buffer, -5);
    EXPECT_EQ(buffer[0], 'q');
    GetSharedMem(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "OnFileAcquire");
}

TEST_F(ChannelRequestsTest, TheTextFunctionsAreExportedUnderTheirPlainNames) {
    void* bridge = dlopen("libvelomark-bridge.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(bridge, nullptr) << dlerror();
    using GetFunction = void (*)(char*, int);
    using SetFunction = void (*)(const char*);
    auto get = reinterpret_cast<GetFunction>(dlsym(bridge, "GetSharedMem"));
    auto set = reinterpret_cast<SetFunction>(dlsym(bridge, "SetSharedMem"));
    ASSERT_NE(get, nullptr);
    ASSERT_NE(set, nullptr);
    set("through the export");
    char text[32];
    get(text, sizeof text);
    EXPECT_STREQ(text, "through the export");
    dlclose(bridge);
}

TEST_F(ChannelRequestsTest, SetSharedMemWithEmptyTextStoresOneZeroByte) {
    SetSharedMem("OnSelectDataSource");
    SetSharedMem("");
    EXPECT_EQ(Channel().DataBlock()[0], 0);
    EXPECT_EQ(std::memcmp(Channel().DataBlock() + 1, "nSelectDataSource", 17), 0);
}

TEST_F(ChannelRequestsTest, AfterAnImageTheDataBlockReadsAsOneCharacterText) {
    TW_IMAGEINFO info;
    HGLOBAL image = MakeChannelImage(2, 8, 8, &info);
    TestDocuments documents;
    ASSERT_EQ(PublishImage(image, 24, info, documents, Channel()),
              PublishResult::Published);
    GlobalFree(image);
    char text[8];
    GetSharedMem(text, sizeof text);
    EXPECT_EQ(std::strlen(text), 1u);
    EXPECT_EQ(text[0], 40);
    // No command either: a client must write its text again.
    HandleCommandText(Channel(), actions);
    EXPECT_EQ(actions.selects + actions.acquires, 0);
    EXPECT_EQ(Channel().LoadStatus(), CHANNEL_IMAGE_READY);
}

}  // namespace
}  // namespace velomark
