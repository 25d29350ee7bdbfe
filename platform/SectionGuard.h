// Access to a shared mapping that another process may shrink at any moment. A
// shared-memory object cut below a mapped page makes the next touch of that page
// raise SIGBUS; while a guard is armed on the calling thread, such a fault inside
// the guarded view maps zero-filled private pages over the whole view, so the
// interrupted copy runs to its end harmlessly (writes land nowhere, reads see
// zeros). The owner then asks Faulted() and maps the object afresh before its next
// use: the view no longer reaches the shared object.
//
// Faults outside the armed view go to the handler that was there before (or end
// the process as an unguarded SIGBUS would).
#pragma once

#include <cstddef>

namespace velomark {

class SectionGuard {
public:
    // Arms the guard for [view, view + size) on the calling thread. Guards nest;
    // the innermost one covers its own view only.
    SectionGuard(void* view, size_t size);
    ~SectionGuard();
    SectionGuard(const SectionGuard&) = delete;
    SectionGuard& operator=(const SectionGuard&) = delete;

    // Whether a fault inside the view was caught since the guard was armed.
    bool Faulted() const;

    struct State {
        unsigned char* base;
        size_t size;
        volatile bool faulted;
        State* outer;
    };

private:
    State m_state;
};

}  // namespace velomark
