// Waiting images beyond the memory budget go to the spool and come back in order;
// a full disk costs only the image it could not take.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "bridge/ChannelOutbox.h"

namespace velomark {
namespace {

constexpr size_t kImageBytes = 100000;

HGLOBAL Image(unsigned char fill) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, kImageBytes);
    std::memset(GlobalLock(h), fill, kImageBytes);
    GlobalUnlock(h);
    return h;
}

// Pops the oldest image and tells its fill byte (0 when lost).
unsigned char PopFill(ChannelOutbox& outbox) {
    ChannelOutbox::Image image{};
    std::string error;
    if (!outbox.Pop(&image, &error)) return 0;
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(image.packed));
    const bool uniform = image.size == kImageBytes &&
                         bytes[0] == bytes[kImageBytes - 1] && bytes[0] == bytes[kImageBytes / 2];
    const unsigned char fill = uniform ? bytes[0] : 0;
    GlobalUnlock(image.packed);
    GlobalFree(image.packed);
    return fill;
}

class ChannelOutboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_cache = std::filesystem::temp_directory_path() /
                  ("velomark-outbox-" + std::to_string(getpid()));
        setenv("XDG_CACHE_HOME", m_cache.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_CACHE_HOME");
        std::filesystem::remove_all(m_cache);
    }
    std::filesystem::path m_cache;
};

TEST_F(ChannelOutboxTest, ImagesBeyondTheBudgetAreSpooledAndComeBackInOrder) {
    ChannelOutbox outbox(2 * kImageBytes);
    std::string error;
    for (unsigned char fill = 1; fill <= 5; ++fill)
        ASSERT_TRUE(outbox.Push(Image(fill), kImageBytes, TW_IMAGEINFO{}, &error)) << error;
    EXPECT_EQ(outbox.SpooledCount(), 3u);
    EXPECT_EQ(outbox.MemoryBytes(), 2 * kImageBytes);
    // The spool is unlinked: nothing of it shows in the cache folder.
    EXPECT_TRUE(std::filesystem::is_empty(m_cache / "velomark"));
    for (unsigned char fill = 1; fill <= 5; ++fill) EXPECT_EQ(PopFill(outbox), fill);
    EXPECT_TRUE(outbox.Empty());
}

TEST_F(ChannelOutboxTest, AFullDiskRefusesOnlyTheImageItCannotTake) {
    ChannelOutbox outbox(kImageBytes);
    std::string error;
    ASSERT_TRUE(outbox.Push(Image(1), kImageBytes, TW_IMAGEINFO{}, &error));
    ASSERT_TRUE(outbox.Push(Image(2), kImageBytes, TW_IMAGEINFO{}, &error));  // spooled
    // A file-size limit stands in for a full disk.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = kImageBytes + kImageBytes / 2;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool third = outbox.Push(Image(3), kImageBytes, TW_IMAGEINFO{}, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_FALSE(third);
    EXPECT_NE(error.find("spool"), std::string::npos) << error;
    ASSERT_TRUE(outbox.Push(Image(4), kImageBytes, TW_IMAGEINFO{}, &error)) << error;
    EXPECT_EQ(PopFill(outbox), 1);
    EXPECT_EQ(PopFill(outbox), 2);
    EXPECT_EQ(PopFill(outbox), 4);
}

TEST_F(ChannelOutboxTest, AnImagePutBackKeepsMemoryWithinTheBudget) {
    ChannelOutbox outbox(kImageBytes);
    std::string error;
    ASSERT_TRUE(outbox.Push(Image(1), kImageBytes, TW_IMAGEINFO{}, &error));
    ASSERT_TRUE(outbox.Push(Image(2), kImageBytes, TW_IMAGEINFO{}, &error));  // spooled
    EXPECT_EQ(PopFill(outbox), 1);
    ChannelOutbox::Image second{};
    ASSERT_TRUE(outbox.Pop(&second, &error)) << error;  // read back from the spool
    ASSERT_TRUE(outbox.Push(Image(3), kImageBytes, TW_IMAGEINFO{}, &error));  // in memory
    outbox.PushFront(second);  // not handed on after all
    EXPECT_LE(outbox.MemoryBytes(), kImageBytes);
    EXPECT_EQ(outbox.SpooledCount(), 1u);
    EXPECT_EQ(PopFill(outbox), 2);
    EXPECT_EQ(PopFill(outbox), 3);
}

}  // namespace
}  // namespace velomark
