#include "dib/DibHeader.h"

#include <climits>

namespace {

bool IsKnownSize(uint32_t size, DibHeaderSource source) {
    switch (size) {
        case 40:
        case 52:
        case 56:
        case 108:
        case 124: return true;
        case 12:
        case 16:
        case 64: return source == DibHeaderSource::kBmpFile;
        default: return false;
    }
}

}  // namespace

bool ReadDibHeader(const BYTE* p, size_t available, DibHeaderSource source, DibHeaderInfo* out) {
    if (available < 4) return false;
    const uint32_t size = ReadLe32(p);
    if (!IsKnownSize(size, source) || available < size) return false;

    DibHeaderInfo info;
    info.storedSize = size;
    BITMAPINFOHEADER& h = info.header;
    int64_t height;
    if (size == 12) {  // OS/2 1.x core header: 16-bit unsigned sizes, 3-byte table entries
        h.biWidth = ReadLe16(p + 4);
        height = ReadLe16(p + 6);
        h.biPlanes = ReadLe16(p + 8);
        h.biBitCount = ReadLe16(p + 10);
        info.entryBytes = 3;
    } else {
        h.biWidth = static_cast<LONG>(ReadLe32(p + 4));
        height = static_cast<LONG>(ReadLe32(p + 8));
        h.biPlanes = ReadLe16(p + 12);
        h.biBitCount = ReadLe16(p + 14);
        if (size >= 40) {
            h.biCompression = ReadLe32(p + 16);
            h.biSizeImage = ReadLe32(p + 20);
            h.biXPelsPerMeter = static_cast<LONG>(ReadLe32(p + 24));
            h.biYPelsPerMeter = static_cast<LONG>(ReadLe32(p + 28));
            h.biClrUsed = ReadLe32(p + 32);
            h.biClrImportant = ReadLe32(p + 36);
        }
        // OS/2 2.x: 3 is Huffman 1D and 4 is RLE24, not the Windows meanings.
        if (size == 64 && h.biCompression > BI_RLE4) h.biCompression = kUnsupportedCompression;
        if (size >= 52) {
            info.hasMasks = true;
            for (int i = 0; i < 3; ++i) info.masks[i] = ReadLe32(p + 40 + 4 * i);
        }
    }
    if (height < 0) {
        if (height == INT_MIN) return false;
        info.topDown = true;
        height = -height;
    }
    h.biHeight = static_cast<LONG>(height);
    h.biSize = 40;
    *out = info;
    return true;
}
