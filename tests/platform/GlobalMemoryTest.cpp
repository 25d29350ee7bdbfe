// Global memory blocks: sizes, zeroing, lock counts and handles that name no block.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/GlobalMemory.h"

namespace {

TEST(GlobalMemory, ZeroInitBlockIsZeroAndKnowsItsSize) {
    const size_t live = GlobalLiveBlockCount();
    // Dirty the heap first so that zeroing is not a matter of luck.
    HGLOBAL dirty = GlobalAlloc(GMEM_MOVEABLE, 4096);
    std::memset(GlobalLock(dirty), 0xA5, 4096);
    GlobalUnlock(dirty);
    EXPECT_EQ(GlobalFree(dirty), nullptr);

    HGLOBAL h = GlobalAlloc(GHND, 4096);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLiveBlockCount(), live + 1);
    EXPECT_EQ(GlobalSize(h), 4096u);
    const auto* p = static_cast<const BYTE*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    size_t nonZero = 0;
    for (size_t i = 0; i < 4096; ++i) nonZero += p[i] != 0;
    EXPECT_EQ(nonZero, 0u);
    GlobalUnlock(h);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalLiveBlockCount(), live);
}

TEST(GlobalMemory, LocksAreCounted) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
    void* first = GlobalLock(h);
    ASSERT_NE(first, nullptr);
    std::memset(first, 7, 16);
    EXPECT_EQ(GlobalLock(h), first);
    EXPECT_TRUE(GlobalUnlock(h));   // one lock left
    EXPECT_FALSE(GlobalUnlock(h));  // now unlocked
    EXPECT_FALSE(GlobalUnlock(h));  // not locked at all
    EXPECT_EQ(static_cast<BYTE*>(GlobalLock(h))[15], 7);
    EXPECT_FALSE(GlobalUnlock(h));
    GlobalFree(h);
}

TEST(GlobalMemory, HandlesThatNameNoBlockAreRefused) {
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
    EXPECT_FALSE(GlobalUnlock(nullptr));
    EXPECT_EQ(GlobalSize(nullptr), 0u);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);

    const size_t live = GlobalLiveBlockCount();
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 32);
    ASSERT_EQ(GlobalFree(h), nullptr);
    // A freed handle: every call must refuse it without touching the freed memory.
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GlobalFree(h), h);
    EXPECT_EQ(GlobalLiveBlockCount(), live);
}

}  // namespace
