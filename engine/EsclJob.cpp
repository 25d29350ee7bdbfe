#include "engine/EsclJob.h"

#include <utility>

namespace velomark {

EsclJob::EsclJob(std::string id, std::string uri, int scanner, EsclSettings settings)
    : m_id(std::move(id)),
      m_uri(std::move(uri)),
      m_scanner(scanner),
      m_settings(std::move(settings)),
      m_created(Clock::now()),
      m_lastAsked(m_created) {}

bool EsclJob::Open() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state != State::Canceled && m_state != State::Aborted;
}

void EsclJob::Started() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state == State::Pending) m_state = State::Processing;
}

void EsclJob::TakePage(const void* packed, size_t size, const TW_IMAGEINFO& info) {
    Page page;
    const auto* bytes = static_cast<const unsigned char*>(packed);
    page.packed.assign(bytes, bytes + size);
    page.info = info;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != State::Processing && m_state != State::Pending) return;
    m_pages.push_back(std::move(page));
    m_changed.notify_all();
}

void EsclJob::End() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sourceDone = true;
    if (m_pages.empty()) EndLocked(State::Completed);
    m_changed.notify_all();
}

void EsclJob::Fail(const std::string& sentence) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sourceDone = true;
    m_failure = sentence;
    m_pages.clear();
    EndLocked(State::Aborted);
    m_changed.notify_all();
}

void EsclJob::Cancel() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pages.clear();
    EndLocked(State::Canceled);
    m_changed.notify_all();
}

void EsclJob::EndLocked(State state) {
    if (m_state == State::Completed || m_state == State::Canceled || m_state == State::Aborted)
        return;
    m_state = state;
    m_ended = Clock::now();
}

EsclJob::Next EsclJob::WaitForPage(Page* page, std::string* sentence) {
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_waiters;
    m_changed.wait(lock, [this] {
        return !m_pages.empty() || m_sourceDone || m_state == State::Canceled ||
               m_state == State::Aborted;
    });
    --m_waiters;
    m_lastAsked = Clock::now();
    if (m_state == State::Canceled) return Next::Canceled;
    if (m_state == State::Aborted) {
        *sentence = m_failure;
        return Next::Failed;
    }
    if (m_pages.empty()) {
        EndLocked(State::Completed);
        return Next::NoMore;
    }
    *page = std::move(m_pages.front());
    m_pages.pop_front();
    ++m_imagesCompleted;
    if (m_sourceDone && m_pages.empty()) EndLocked(State::Completed);
    return Next::Page;
}

EsclJob::State EsclJob::CurrentState() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

int EsclJob::ImagesCompleted() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_imagesCompleted;
}

bool EsclJob::EndedByFeeder() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sourceDone && m_failure.empty() && m_state != State::Canceled &&
           m_settings.ticket.input != ScanTicket::Input::Flatbed;
}

bool EsclJob::IdleSince(Clock::time_point since) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waiters == 0 && m_lastAsked < since;
}

EsclJob::Clock::time_point EsclJob::EndedAt() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ended;
}

bool EsclJob::LastPageSize(int* width, int* height, int* bytesPerLine) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    *width = m_lastWidth;
    *height = m_lastHeight;
    *bytesPerLine = m_lastBytesPerLine;
    return m_lastWidth > 0;
}

void EsclJob::SetLastPageSize(int width, int height, int bytesPerLine) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastWidth = width;
    m_lastHeight = height;
    m_lastBytesPerLine = bytesPerLine;
}

}  // namespace velomark
