// Scans one batch on its own thread, so that the thread answering the application
// never waits in sane_read: sets the batch's options, then sane_start, the frames of
// each page through sane_read into a SaneImageConverter, and the page as a packed DIB
// into a queue. A feeder is asked for pages until SANE_STATUS_NO_DOCS or the batch's
// count; any other source gives one page. An error ends the batch, keeping the pages
// already scanned. Cancel interrupts with sane_cancel; the destructor waits for the
// interrupted read to end, so nothing else reaches the device before.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/GlobalMemory.h"
#include "sources/sane/SaneSettings.h"
#include "twain/TwainTypes.h"

class SaneDevice;

// How a batch ended, or that it is still running.
enum class SaneBatchEnd { Running, Done, FeederEmpty, Cancelled, Failed };

struct SaneScanProgress {
    bool running = false;
    int pagesScanned = 0;
    size_t pageBytesRead = 0;
    size_t pageBytesExpected = 0;  // 0 while unknown (lines == -1)
    SaneBatchEnd end = SaneBatchEnd::Running;
    std::string message;  // the reason of a failure, or options the device refused
    std::string failure;  // the reason of a failure alone
};

class SaneScanWorker {
public:
    // How the batch ended, and the failure's reason or the options the device refused.
    using FinishedCallback = std::function<void(SaneBatchEnd end, const std::string& message)>;

    // Starts at once. maxPages is -1 for every page the feeder holds. pageReady runs on
    // the worker thread after each page is queued, finished once after the batch.
    // Throws std::system_error when no thread can be started.
    SaneScanWorker(SaneDevice& device, SaneSettings settings, int maxPages,
                   std::function<void()> pageReady, FinishedCallback finished);
    // Cancels, waits for the thread and frees every page not taken.
    ~SaneScanWorker();
    SaneScanWorker(const SaneScanWorker&) = delete;
    SaneScanWorker& operator=(const SaneScanWorker&) = delete;

    // Asks the device to stop (sane_cancel) and returns at once; the page being read is
    // dropped.
    void Cancel();

    size_t PagesReady();
    // Waits until a page is ready or the batch has ended; the pages ready then.
    size_t WaitForPageOrEnd();
    // The description of the next page; false when none is ready.
    bool PeekInfo(TW_IMAGEINFO* info);
    // Hands the next page over (the caller frees it); null when none is ready.
    HGLOBAL TakePage();
    bool Finished() const { return m_finished.load(); }
    SaneScanProgress Progress();

    // Bytes asked of sane_read at a time.
    static constexpr int kReadChunk = 256 * 1024;
    static constexpr std::chrono::milliseconds kReaderStartGrace{100};

private:
    struct Page {
        HGLOBAL dib;
        TW_IMAGEINFO info;
    };
    enum class PageEnd { Scanned, NoDocs, Cancelled, Failed };

    void Run();
    PageEnd ScanPage(double dpi, std::string* error);
    void LetReaderStart();
    void End(SaneBatchEnd end, const std::string& message);

    SaneDevice& m_device;
    const SaneSettings m_settings;
    const int m_maxPages;
    std::function<void()> m_pageReady;
    FinishedCallback m_finishedCallback;

    std::mutex m_mutex;
    std::condition_variable m_changed;  // a page queued, or the batch ended
    std::deque<Page> m_ready;
    SaneBatchEnd m_end = SaneBatchEnd::Running;
    std::string m_message;
    std::string m_failure;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_finished{false};
    std::atomic<int> m_pagesScanned{0};
    std::atomic<size_t> m_pageBytesRead{0};
    std::atomic<size_t> m_pageBytesExpected{0};
    std::thread m_thread;  // last, so that it starts after everything it uses
};
