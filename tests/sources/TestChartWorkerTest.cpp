// The worker that makes a batch's pages: all of them, in order, no further ahead of
// the transfers than it may, and stopped cleanly with pages still to make.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sources/testchart/TestChartPage.h"
#include "sources/testchart/TestChartWorker.h"
#include "tests/sources/TestChartPages.h"

namespace {

TestChartBatch SmallBatch(int pages) {
    return TestChartBatch(SmallChart(ChartPixelType::Rgb, 40, 30, pages));
}

// Waits up to 20 s for the condition; false when it never held.
template <typename Condition>
bool WaitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST(TestChartWorker, HandsOverEveryPageInOrderThenNull) {
    const size_t live = GlobalLiveBlockCount();
    const TestChartSettings settings = SmallChart(ChartPixelType::Rgb, 40, 30, 4);
    std::atomic<int> announcements{0};
    {
        TestChartWorker worker(TestChartBatch(settings), [&] { ++announcements; });
        for (int page = 1; page <= 4; ++page) {
            HGLOBAL block = worker.TakePage();
            ASSERT_NE(block, nullptr) << page;
            EXPECT_TRUE(BlockBytes(block) == GeneratorBytes(settings, page)) << "page " << page;
            GlobalFree(block);
        }
        EXPECT_EQ(worker.TakePage(), nullptr);
        EXPECT_EQ(worker.PagesMade(), 4);
        EXPECT_TRUE(worker.FirstPageReady());
    }
    EXPECT_EQ(announcements.load(), 1);
    EXPECT_EQ(GlobalLiveBlockCount(), live);
}

TEST(TestChartWorker, StaysAFewPagesAhead) {
    TestChartWorker worker(SmallBatch(10), nullptr);
    ASSERT_TRUE(WaitFor([&] { return worker.PagesMade() == int(TestChartWorker::kPagesAhead); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(worker.PagesMade(), int(TestChartWorker::kPagesAhead));
    GlobalFree(worker.TakePage());
    EXPECT_TRUE(
        WaitFor([&] { return worker.PagesMade() == int(TestChartWorker::kPagesAhead) + 1; }));
}

TEST(TestChartWorker, DestroyedMidBatchFreesItsPages) {
    const size_t live = GlobalLiveBlockCount();
    {
        TestChartWorker worker(SmallBatch(50), nullptr);
        ASSERT_TRUE(WaitFor([&] { return worker.FirstPageReady(); }));
        GlobalFree(worker.TakePage());
    }
    EXPECT_EQ(GlobalLiveBlockCount(), live);
    {
        // Before it made anything.
        TestChartWorker worker(SmallBatch(50), nullptr);
    }
    EXPECT_EQ(GlobalLiveBlockCount(), live);
}

}  // namespace
