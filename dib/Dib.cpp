// CDIB storage: construction, copying, sizes and packing.
#include "dib/Dib.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "dib/DibHeader.h"
#include "dib/DibLayout.h"
#include "dib/PackedDib.h"

CDIB::CDIB(HGLOBAL hDib, int nBits)
    : m_pBits(nullptr),
      m_pInfo(nullptr),
      m_pColors(nullptr),
      m_pBlock(nullptr),
      m_ppRows(nullptr),
      m_nHeight(0),
      m_nStride(0),
      m_nWidth(0),
      m_bGamma(FALSE),
      m_fGamma(1.0f),
      m_MatchColor(),
      m_MatchValid() {
    for (int i = 0; i < 256; ++i) m_GammaTable[i] = static_cast<BYTE>(i);
    if (hDib) CreateFromHandle(hDib, nBits);
}

CDIB::~CDIB() { Destroy(); }

void CDIB::Destroy() {
    if (m_blockKind == BlockKind::Heap)
        std::free(m_pBlock);
    else if (m_blockKind == BlockKind::Mapped && m_pBlock)
        munmap(m_pBlock, m_mappedBytes);
    std::free(m_ppRows);
    m_pBlock = nullptr;
    m_ppRows = nullptr;
    m_blockKind = BlockKind::Heap;
    m_mappedBytes = 0;
}

void CDIB::PlaceNextIn(void* block, size_t bytes) {
    m_placement = block;
    m_placementBytes = block ? bytes : 0;
}

BOOL CDIB::CreateFromHeader(const BITMAPINFOHEADER* pHeader) {
    Destroy();
    if (!pHeader) return FALSE;
    m_nWidth = pHeader->biWidth;
    m_nHeight = pHeader->biHeight;
    DibLayout layout;
    // Negative sizes and byte counts past 32 bits are refused before anything is allocated.
    if (!ComputeDibLayout(m_nWidth, m_nHeight, pHeader->biBitCount, &layout)) return FALSE;
    m_nStride = layout.stride;

    const auto bytes = static_cast<size_t>(layout.packedBytes);
    BYTE* block = nullptr;
    const bool placed = m_placement && m_placementBytes >= bytes;
    if (placed) block = static_cast<BYTE*>(m_placement);
    m_placement = nullptr;  // for the next image only
    m_placementBytes = 0;
    if (placed) {
        m_blockKind = BlockKind::Placed;
    } else {
        block = static_cast<BYTE*>(std::malloc(bytes));
        if (!block) return FALSE;
    }
    m_pBlock = block;
    std::memcpy(block, pHeader, sizeof(BITMAPINFOHEADER));
    // The block holds 40 header bytes and the table right after them; a larger biSize
    // would send every reader of the block to the wrong table.
    reinterpret_cast<BITMAPINFOHEADER*>(block)->biSize = sizeof(BITMAPINFOHEADER);
    return AttachBlock(block, layout.colors);
}

BOOL CDIB::AttachBlock(BYTE* block, int colors) {
    m_pInfo = reinterpret_cast<BITMAPINFOHEADER*>(block);
    m_pColors = reinterpret_cast<RGBQUAD*>(block + sizeof(BITMAPINFOHEADER));
    m_pBits = block + sizeof(BITMAPINFOHEADER) + 4 * colors;
    // One entry at least, so that an image of height 0 still holds a row table.
    m_ppRows = static_cast<BYTE**>(std::malloc(sizeof(BYTE*) * (m_nHeight > 0 ? m_nHeight : 1)));
    if (!m_ppRows) return FALSE;
    for (int y = 0; y < m_nHeight; ++y) {
        m_ppRows[y] = m_pBits + static_cast<size_t>(m_nHeight - 1 - y) * m_nStride;
    }
    return TRUE;
}

BOOL CDIB::AdoptMapping(void* mapping, size_t bytes) {
    if (!mapping) return FALSE;
    BITMAPINFOHEADER header{};
    if (bytes >= sizeof header) std::memcpy(&header, mapping, sizeof header);
    DibLayout layout;
    if (header.biSize != sizeof header || header.biCompression != BI_RGB ||
        !ComputeDibLayout(header.biWidth, header.biHeight, header.biBitCount, &layout) ||
        static_cast<size_t>(layout.packedBytes) != bytes ||
        header.biClrUsed > static_cast<DWORD>(layout.colors)) {
        munmap(mapping, bytes);
        return FALSE;
    }
    Destroy();
    m_nWidth = header.biWidth;
    m_nHeight = header.biHeight;
    m_nStride = layout.stride;
    m_pBlock = mapping;
    m_blockKind = BlockKind::Mapped;
    m_mappedBytes = bytes;
    if (AttachBlock(static_cast<BYTE*>(mapping), layout.colors)) return TRUE;
    Destroy();
    return FALSE;
}

BOOL CDIB::Create(int width, int height, int bitCount) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bitCount);
    header.biCompression = BI_RGB;
    if (bitCount < 0 || bitCount > 0xFFFF) {
        Destroy();
        m_nWidth = width;
        m_nHeight = height;
        return FALSE;
    }
    return CreateFromHeader(&header);
}

BOOL CDIB::CreateFromHandle(HGLOBAL hDib, int /*nBits*/) {
    Destroy();
    const size_t blockSize = GlobalSize(hDib);
    const auto* p = static_cast<const BYTE*>(GlobalLock(hDib));
    if (!p) return FALSE;
    PackedDib packed;
    const BOOL ok = ReadPackedDib(p, blockSize, &packed) && CreateFromPacked(packed);
    if (!ok) Destroy();
    GlobalUnlock(hDib);
    return ok;
}

BOOL CDIB::CreateFromPacked(const PackedDib& packed) {
    if (!CreateFromHeader(&packed.header)) {
        Destroy();
        return FALSE;
    }
    // A colour count the held table cannot back (a skipped 24-bit table, a count past
    // 2, 16 or 256) would send a reader of the packed copy to the wrong place for the rows.
    if (packed.header.biBitCount == 24 || packed.header.biClrUsed > DWORD(packed.colors)) {
        m_pInfo->biClrUsed = 0;
        m_pInfo->biClrImportant = 0;
    }
    std::memset(m_pColors, 0, 4 * size_t(packed.colors));
    std::memcpy(m_pColors, packed.table, 4 * size_t(packed.tableEntries));
    if (!packed.topDown) {
        std::memcpy(m_pBits, packed.rows, static_cast<size_t>(m_nStride) * m_nHeight);
        return TRUE;
    }
    for (int y = 0; y < m_nHeight; ++y) std::memcpy(m_ppRows[y], packed.Row(y), m_nStride);
    return TRUE;
}

CDIB& CDIB::Assign(const CDIB& other) {
    CopyFrom(other);
    return *this;
}

BOOL CDIB::CopyFrom(const CDIB& other) {
    if (&other == this) return m_pBlock != nullptr;  // copying onto itself keeps the image
    if (!other.m_pBlock) {
        Destroy();
        return FALSE;
    }
    if (!CreateFromHeader(other.m_pInfo)) return FALSE;
    SetColorTable(other.m_pColors);
    std::memcpy(m_pBits, other.m_pBits, static_cast<size_t>(m_nStride) * m_nHeight);
    return TRUE;
}

int CDIB::GetColorCount() const { return m_pBlock ? ColorCountOf(m_pInfo) : 0; }

int CDIB::ColorCountOf(const BITMAPINFOHEADER* pHeader) {
    return pHeader ? ColorCountForBits(pHeader->biBitCount) : 0;
}

int CDIB::GetDIBSize() const {
    if (!m_pBlock) return 0;
    return static_cast<int>(sizeof(BITMAPINFOHEADER)) + 4 * GetColorCount() + m_nStride * m_nHeight;
}

HGLOBAL CDIB::PackToGlobal() const {
    if (!m_pBlock) return nullptr;
    const size_t size = static_cast<size_t>(GetDIBSize());
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size);
    if (!h) return nullptr;
    // Header, colour table and rows already lie back to back in the block.
    std::memcpy(GlobalLock(h), m_pBlock, size);
    GlobalUnlock(h);
    return h;
}

HGLOBAL CDIB::CopyToHandle(int mode, int, int, int) const {
    if (mode != -1) return PackToGlobal();
    // The 8-bit re-pack only has a meaning for 8-bit images; others get no block.
    if (!m_pBlock || m_pInfo->biBitCount != 8) return nullptr;
    CDIB repacked;
    if (!repacked.Create(m_nWidth, m_nHeight, 8)) return nullptr;
    // The block goes to another party: no row padding left as stale heap bytes.
    std::memset(repacked.m_pBits, 0, static_cast<size_t>(repacked.m_nStride) * m_nHeight);
    repacked.PasteDIB(0, 0, m_nWidth, m_nHeight, *this, 0, 0, nullptr);
    repacked.SetColorTable(m_pColors);
    return repacked.PackToGlobal();
}

void CDIB::SwapImage(CDIB& other) {
    std::swap(m_pBits, other.m_pBits);
    std::swap(m_pInfo, other.m_pInfo);
    std::swap(m_pColors, other.m_pColors);
    std::swap(m_pBlock, other.m_pBlock);
    std::swap(m_ppRows, other.m_ppRows);
    std::swap(m_nHeight, other.m_nHeight);
    std::swap(m_nStride, other.m_nStride);
    std::swap(m_nWidth, other.m_nWidth);
    std::swap(m_blockKind, other.m_blockKind);
    std::swap(m_mappedBytes, other.m_mappedBytes);
}
