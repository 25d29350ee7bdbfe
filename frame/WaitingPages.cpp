#include "frame/WaitingPages.h"

namespace velomark {

void WaitingPages::Add(CVelomarkDoc* page) { m_pages.emplace_back(page); }

void WaitingPages::Update(size_t delivered, size_t removed) {
    for (; m_nDelivered < delivered && !m_pages.empty(); ++m_nDelivered) {
        if (CVelomarkDoc* page = m_pages.front().get()) page->MarkSentToClient();
        m_pages.pop_front();
    }
    m_nDelivered = delivered;
    // Removed images never reach the client: their pages stay unsaved.
    for (; m_nRemoved < removed && !m_pages.empty(); ++m_nRemoved) m_pages.pop_front();
    m_nRemoved = removed;
}

}  // namespace velomark
