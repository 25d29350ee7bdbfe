#include "frame/WaitingPages.h"

namespace velomark {

void WaitingPages::AddPlaced(CVelomarkDoc* page) { m_placed.emplace_back(page); }

void WaitingPages::AddQueued(CVelomarkDoc* page) { m_queued.emplace_back(page); }

// A count may run ahead of the pages listed: the client can take a page before the
// frame has listed it (the channel has it before its window is made). What the
// count says of it waits for the page.
void WaitingPages::Update(size_t delivered, size_t removed, size_t taken) {
    for (; m_nDelivered < delivered && !m_queued.empty(); ++m_nDelivered) {
        m_placed.push_back(m_queued.front());
        m_queued.pop_front();
    }
    // Removed images never reach the client: their pages stay unsaved.
    for (; m_nRemoved < removed && !m_queued.empty(); ++m_nRemoved) m_queued.pop_front();
    for (; m_nTaken < taken && !m_placed.empty(); ++m_nTaken) {
        if (CVelomarkDoc* page = m_placed.front().get()) page->MarkSentToClient();
        m_placed.pop_front();
    }
}

}  // namespace velomark
