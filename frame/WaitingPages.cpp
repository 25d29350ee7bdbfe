#include "frame/WaitingPages.h"

namespace velomark {

void WaitingPages::Add(CVelomarkDoc* page, size_t dropped) {
    // Dropped images never reach the client: their pages stay unsaved.
    for (; dropped > 0 && !m_pages.empty(); --dropped) m_pages.pop_front();
    m_pages.emplace_back(page);
}

void WaitingPages::Update(size_t waiting) {
    while (m_pages.size() > waiting) {
        if (CVelomarkDoc* page = m_pages.front().get()) page->MarkSentToClient();
        m_pages.pop_front();
    }
}

}  // namespace velomark
