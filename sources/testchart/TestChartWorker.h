// Makes one batch of test-chart pages on its own thread, a few pages ahead of the
// transfers, so that the thread answering the application never paints a page.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/GlobalMemory.h"
#include "sources/testchart/TestChartBatch.h"

class TestChartWorker {
public:
    // Pages made and not yet taken, at most; bounds the memory a large batch holds.
    static constexpr size_t kPagesAhead = 2;

    // Starts making the batch's pages at once. firstPageReady runs once on the
    // worker thread, after the first page is ready to be taken. Throws
    // std::system_error when no thread can be started.
    TestChartWorker(const TestChartBatch& batch, std::function<void()> firstPageReady);
    // Stops the batch, waits for the thread and frees every page not taken.
    ~TestChartWorker();
    TestChartWorker(const TestChartWorker&) = delete;
    TestChartWorker& operator=(const TestChartWorker&) = delete;

    // Waits for the next page and hands it over: the caller frees it. Null when that
    // page could not be made (memory was short) or the batch has no more pages.
    HGLOBAL TakePage();

    int PagesAsked() const { return m_batch.Pages(); }
    int PagesMade() const { return m_made.load(); }
    // True once the first page is ready, before firstPageReady runs.
    bool FirstPageReady() const { return m_firstReady.load(); }

private:
    void Run();
    void MakePages();

    const TestChartBatch m_batch;
    std::function<void()> m_firstPageReady;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<HGLOBAL> m_ready;  // null entries stand for pages that could not be made
    int m_taken = 0;
    bool m_stop = false;
    bool m_finished = false;  // the thread has made its last page or given up
    std::atomic<int> m_made{0};
    std::atomic<bool> m_firstReady{false};
    std::thread m_thread;  // last, so that it starts after everything it uses
};
