#include "dsm/SourceListing.h"

#include <mutex>
#include <system_error>

#include "dsm/SourceCatalog.h"

namespace {

std::mutex& OneListingAtATime() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

SourceListing::SourceListing(SourceCatalog& catalog, std::vector<std::filesystem::path> folders,
                             NextId nextId) {
    try {
        // Copies: the arguments stay for the fallback below.
        m_thread = std::thread([this, &catalog, folders, nextId] {
            ListNow(catalog, folders, nextId);
            m_done.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        // No thread to spare: the session waits for its sources here instead.
        ListNow(catalog, folders, nextId);
        m_done.store(true, std::memory_order_release);
    }
}

SourceListing::~SourceListing() { Finish(); }

void SourceListing::Finish() {
    if (m_thread.joinable()) m_thread.join();
}

void SourceListing::ListNow(SourceCatalog& catalog,
                            const std::vector<std::filesystem::path>& folders,
                            const NextId& nextId) {
    std::lock_guard lock(OneListingAtATime());
    catalog.Scan(folders, nextId);
}
