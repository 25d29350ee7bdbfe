// The pages whose images wait in the channel's outbox for the client, oldest first.
// The outbox hands its images on in order and drops its oldest when it is full, so
// what left it tells which pages reached the client: those no longer count as
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
    // `page`'s image went into the outbox, where `dropped` older images made room.
    void Add(CVelomarkDoc* page, size_t dropped);
    // The outbox holds `waiting` images now: the pages of those that left it were
    // taken by the client.
    void Update(size_t waiting);

private:
    std::deque<wxWeakRef<CVelomarkDoc>> m_pages;
};

}  // namespace velomark
