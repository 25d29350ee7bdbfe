#include "twain/TwainMemory.h"

#include "platform/GlobalMemory.h"

namespace {

TW_HANDLE GlobalAllocate(TW_UINT32 size) { return GlobalAlloc(GHND, size); }
void GlobalRelease(TW_HANDLE handle) { GlobalFree(static_cast<HGLOBAL>(handle)); }
TW_MEMREF GlobalLockHandle(TW_HANDLE handle) { return GlobalLock(static_cast<HGLOBAL>(handle)); }
void GlobalUnlockHandle(TW_HANDLE handle) { GlobalUnlock(static_cast<HGLOBAL>(handle)); }

}  // namespace

TwainMemory::TwainMemory()
    : m_allocate(GlobalAllocate),
      m_free(GlobalRelease),
      m_lock(GlobalLockHandle),
      m_unlock(GlobalUnlockHandle),
      m_fromDsm(false) {}

TwainMemory::TwainMemory(const TW_ENTRYPOINT& entryPoint) : TwainMemory() {
    if (entryPoint.Size < sizeof(TW_ENTRYPOINT) || !entryPoint.DSM_MemAllocate ||
        !entryPoint.DSM_MemFree || !entryPoint.DSM_MemLock || !entryPoint.DSM_MemUnlock)
        return;
    m_allocate = entryPoint.DSM_MemAllocate;
    m_free = entryPoint.DSM_MemFree;
    m_lock = entryPoint.DSM_MemLock;
    m_unlock = entryPoint.DSM_MemUnlock;
    m_fromDsm = true;
}

TW_HANDLE TwainMemory::Allocate(size_t bytes) const {
    if (bytes > 0xffffffffu) return nullptr;
    return m_allocate(static_cast<TW_UINT32>(bytes));
}

void TwainMemory::Free(TW_HANDLE handle) const {
    if (handle) m_free(handle);
}

void* TwainMemory::Lock(TW_HANDLE handle) const { return handle ? m_lock(handle) : nullptr; }

void TwainMemory::Unlock(TW_HANDLE handle) const {
    if (handle) m_unlock(handle);
}

size_t TwainMemory::KnownSize(TW_HANDLE handle) {
    // Looked up in the registry of live blocks: a foreign pointer is not read.
    return GlobalSize(static_cast<HGLOBAL>(handle));
}

TW_ENTRYPOINT TwainMemory::GlobalEntryPoint(DSMENTRYPROC_T dsmEntry) {
    TW_ENTRYPOINT entry{};
    entry.Size = sizeof(TW_ENTRYPOINT);
    entry.DSM_Entry = dsmEntry;
    entry.DSM_MemAllocate = GlobalAllocate;
    entry.DSM_MemFree = GlobalRelease;
    entry.DSM_MemLock = GlobalLockHandle;
    entry.DSM_MemUnlock = GlobalUnlockHandle;
    return entry;
}
