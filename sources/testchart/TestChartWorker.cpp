#include "sources/testchart/TestChartWorker.h"

TestChartWorker::TestChartWorker(const TestChartBatch& batch, std::function<void()> firstPageReady)
    : m_batch(batch),
      m_firstPageReady(std::move(firstPageReady)),
      m_thread(&TestChartWorker::Run, this) {}

TestChartWorker::~TestChartWorker() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
    for (HGLOBAL page : m_ready) GlobalFree(page);
}

HGLOBAL TestChartWorker::TakePage() {
    std::unique_lock lock(m_mutex);
    if (m_taken >= m_batch.Pages()) return nullptr;
    m_changed.wait(lock, [this] { return !m_ready.empty() || m_finished; });
    if (m_ready.empty()) return nullptr;
    HGLOBAL page = m_ready.front();
    m_ready.pop_front();
    ++m_taken;
    lock.unlock();
    m_changed.notify_all();  // room for the next page
    return page;
}

void TestChartWorker::Run() {
    try {
        MakePages();
    } catch (...) {
        // Only a failed allocation of the queue itself gets here; TakePage then answers
        // null for the pages that were never made.
    }
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_changed.notify_all();
}

void TestChartWorker::MakePages() {
    for (int pageNumber = 1; pageNumber <= m_batch.Pages(); ++pageNumber) {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || m_ready.size() < kPagesAhead; });
            if (m_stop) return;
        }
        // MakePage catches its own allocation failures: null is a page that the
        // transfer reports as out of memory.
        HGLOBAL page = m_batch.MakePage(pageNumber);
        {
            std::lock_guard lock(m_mutex);
            if (m_stop) {
                GlobalFree(page);
                return;
            }
            m_ready.push_back(page);
        }
        ++m_made;
        m_changed.notify_all();
        if (pageNumber == 1) {
            m_firstReady = true;
            if (m_firstPageReady) m_firstPageReady();
        }
    }
}
