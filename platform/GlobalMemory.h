// Movable global memory blocks: an opaque handle of a heap block that knows its
// size. Blocks pass between the program, the DSM and the sources, so all of them
// allocate and free through this one shared library.
#pragma once

#include <cstddef>

#include "platform/WinTypes.h"

struct GlobalBlock;
typedef GlobalBlock* HGLOBAL;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GMEM_DDESHARE = 0x2000;

extern "C" {
// New block of `bytes` bytes (zeroed with GMEM_ZEROINIT); null when out of memory.
HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
// Address of the block's first byte; null for a null or unknown handle.
void* GlobalLock(HGLOBAL hMem);
// TRUE while the block is still locked by another GlobalLock.
BOOL GlobalUnlock(HGLOBAL hMem);
// Null on success, the handle itself when it names no block.
HGLOBAL GlobalFree(HGLOBAL hMem);
// The size asked of GlobalAlloc; 0 for a null or unknown handle.
size_t GlobalSize(HGLOBAL hMem);
// Number of blocks allocated and not yet freed in this process (for leak checks).
size_t GlobalLiveBlockCount();
}
