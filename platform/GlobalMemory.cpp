#include "platform/GlobalMemory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

struct GlobalBlock {
    size_t size;
    int lockCount;
    alignas(16) unsigned char data[1];
};

namespace {

// Live blocks, so that a freed or foreign handle is refused without reading through it
// (its memory may already be back with the heap). Never destroyed: any library's static
// destructors may still free blocks at exit.
struct BlockRegistry {
    std::mutex mutex;
    std::unordered_set<HGLOBAL> blocks;
};

BlockRegistry& Registry() {
    static auto* registry = new BlockRegistry;
    return *registry;
}

bool IsLive(HGLOBAL h) {
    if (h == nullptr) return false;
    BlockRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.blocks.count(h) != 0;
}

}  // namespace

extern "C" HGLOBAL GlobalAlloc(UINT flags, size_t bytes) {
    const size_t header = offsetof(GlobalBlock, data);
    if (bytes > SIZE_MAX - header) return nullptr;
    void* raw = (flags & GMEM_ZEROINIT) ? std::calloc(1, header + bytes)
                                        : std::malloc(header + (bytes ? bytes : 1));
    if (!raw) return nullptr;
    auto* block = static_cast<GlobalBlock*>(raw);
    block->size = bytes;
    block->lockCount = 0;
    try {
        BlockRegistry& r = Registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.blocks.insert(block);
    } catch (const std::bad_alloc&) {
        std::free(raw);
        return nullptr;
    }
    return block;
}

extern "C" void* GlobalLock(HGLOBAL hMem) {
    if (!IsLive(hMem)) return nullptr;
    ++hMem->lockCount;
    return hMem->data;
}

extern "C" BOOL GlobalUnlock(HGLOBAL hMem) {
    if (!IsLive(hMem) || hMem->lockCount == 0) return FALSE;
    --hMem->lockCount;
    return hMem->lockCount > 0 ? TRUE : FALSE;
}

extern "C" HGLOBAL GlobalFree(HGLOBAL hMem) {
    if (hMem == nullptr) return nullptr;
    {
        BlockRegistry& r = Registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (r.blocks.erase(hMem) == 0) return hMem;
    }
    std::free(hMem);
    return nullptr;
}

extern "C" size_t GlobalSize(HGLOBAL hMem) { return IsLive(hMem) ? hMem->size : 0; }

extern "C" size_t GlobalLiveBlockCount() {
    BlockRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.blocks.size();
}
