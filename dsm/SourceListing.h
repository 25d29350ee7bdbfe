// One session's sources listed on a thread of its own, started when an application
// with a window opens the DSM, so that asking a scanner library for its devices
// (seconds, for SANE) overlaps the program's start-up instead of the user's first
// Select Source or Acquire. The catalog is the thread's alone until Finish returns.
//
// One listing runs at a time in the process, on whatever thread: a source library
// (SANE) is never asked for its devices from two threads at once.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "twain/TwainTypes.h"

class SourceCatalog;

class SourceListing {
public:
    using NextId = std::function<TW_UINT32()>;

    // Starts listing `folders` into `catalog` at once; `nextId` is called on the
    // listing thread. Lists on the calling thread when no thread can be started.
    SourceListing(SourceCatalog& catalog, std::vector<std::filesystem::path> folders,
                  NextId nextId);
    // Finishes the listing.
    ~SourceListing();
    SourceListing(const SourceListing&) = delete;
    SourceListing& operator=(const SourceListing&) = delete;

    // True once the catalog is complete; Finish will not wait then.
    bool Done() const { return m_done.load(std::memory_order_acquire); }
    // Waits for the listing to end; the catalog is the caller's afterwards. Call it
    // from one thread; a second call returns at once.
    void Finish();

    // Lists on the calling thread, one listing at a time as the thread does.
    static void ListNow(SourceCatalog& catalog, const std::vector<std::filesystem::path>& folders,
                        const NextId& nextId);

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};
