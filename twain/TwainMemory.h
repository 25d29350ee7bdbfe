// The memory road of capability containers and native images. A TWAIN 2 DSM
// (DF_DSM2) hands out its memory functions with DAT_ENTRYPOINT, and its handles are
// whatever those functions make: with the standard Linux DSM a plain pointer that
// carries no size. Without them, containers and images are global memory blocks.
#pragma once

#include <cstddef>

#include "twain/TwainTypes.h"

class TwainMemory {
public:
    // Global memory blocks, the road of a TWAIN 1.x DSM.
    TwainMemory();
    // The DSM's functions; global memory when the entry point lacks any of them.
    explicit TwainMemory(const TW_ENTRYPOINT& entryPoint);

    TW_HANDLE Allocate(size_t bytes) const;
    void Free(TW_HANDLE handle) const;
    void* Lock(TW_HANDLE handle) const;
    void Unlock(TW_HANDLE handle) const;
    bool UsesDsmFunctions() const { return m_fromDsm; }

    // The size of a handle that is one of Velomark's global memory blocks (whichever
    // DSM made it), else 0: then the size must come from the contents.
    static size_t KnownSize(TW_HANDLE handle);
    // An entry point whose memory functions are global memory blocks, as Velomark's
    // DSM gives it to applications and sources.
    static TW_ENTRYPOINT GlobalEntryPoint(DSMENTRYPROC_T dsmEntry);

private:
    DSM_MEMALLOCATE m_allocate;
    DSM_MEMFREE m_free;
    DSM_MEMLOCK m_lock;
    DSM_MEMUNLOCK m_unlock;
    bool m_fromDsm;
};
