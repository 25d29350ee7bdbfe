// The pages whose images went to the client's channel and that the client has not
// taken yet: placed in the data block, or waiting in the channel's outbox, oldest
// first. The outbox hands its images on in order and a client's new request removes
// the ones still waiting; the client takes placed images in order. The channel's
// running counts tell which pages reached the client: those no longer count as
// unsaved. A page closed meanwhile is simply skipped.
#pragma once

#include <cstddef>
#include <deque>
#include <type_traits>  // wx/weakref.h uses std::is_base_of without including it

#include <wx/weakref.h>

#include "docview/VelomarkDoc.h"

namespace velomark {

class WaitingPages {
public:
    // `page`'s image was placed in the data block at once.
    void AddPlaced(CVelomarkDoc* page);
    // `page`'s image went into the outbox, behind every other waiting one.
    void AddQueued(CVelomarkDoc* page);
    // The running counts: images the outbox handed on (placed), images removed from
    // it without reaching the client, and placed images the client took. Between two
    // calls, hand-ons come from the front before any removal: a removal empties what
    // waits. Every image placed or queued is added, if only after the count of it.
    void Update(size_t delivered, size_t removed, size_t taken);

private:
    using Pages = std::deque<wxWeakRef<CVelomarkDoc>>;
    Pages m_queued;
    Pages m_placed;
    size_t m_nDelivered = 0;
    size_t m_nRemoved = 0;
    size_t m_nTaken = 0;
};

}  // namespace velomark
