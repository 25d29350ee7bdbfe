// The pages whose images wait in the channel's outbox for the client, oldest first.
// The outbox hands its images on in order, and a client's new request removes the
// ones still waiting; its two running counts tell which pages reached the client:
// those no longer count as unsaved. A page closed meanwhile is simply skipped.
#pragma once

#include <cstddef>
#include <deque>
#include <type_traits>  // wx/weakref.h uses std::is_base_of without including it

#include <wx/weakref.h>

#include "docview/VelomarkDoc.h"

namespace velomark {

class WaitingPages {
public:
    // `page`'s image went into the outbox, behind every other waiting one.
    void Add(CVelomarkDoc* page);
    // The outbox's running counts of images handed on to the client and of images
    // removed without reaching it. Between two calls, hand-ons come from the front
    // before any removal: a removal empties what waits.
    void Update(size_t delivered, size_t removed);

private:
    std::deque<wxWeakRef<CVelomarkDoc>> m_pages;
    size_t m_nDelivered = 0;
    size_t m_nRemoved = 0;
};

}  // namespace velomark
