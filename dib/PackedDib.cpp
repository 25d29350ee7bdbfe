#include "dib/PackedDib.h"

#include "dib/DibHeader.h"
#include "dib/DibLayout.h"

namespace {

// Where a packed DIB's colour table and rows lie after its header.
struct PackedPlacement {
    uint64_t tableBytes = 0;  // bytes of colour table present in the block
    uint64_t rowsOffset = 0;  // bytes between the end of the header and the rows
};

// Where the rows start depends on how many table entries the block really holds: the
// full table if it fits, else the biClrUsed entries of a short table; for 24 bits an
// optional table of biClrUsed entries is skipped when the block holds one. False when
// the block is too short for any of these.
bool PlaceTableAndRows(const DibHeaderInfo& info, const DibLayout& layout, size_t blockSize,
                       PackedPlacement* out) {
    const BITMAPINFOHEADER& h = info.header;
    const uint64_t rows = static_cast<uint64_t>(layout.pixelBytes);
    const uint64_t fullTable = 4ull * layout.colors;
    const uint64_t usedTable = 4ull * h.biClrUsed;
    const uint64_t available = blockSize - info.storedSize;  // the header fits the block
    if (h.biBitCount == 24) {
        if (available < rows) return false;
        const bool optionalTable = h.biClrUsed > 0 && h.biClrUsed <= 256;
        out->rowsOffset = optionalTable && available >= usedTable + rows ? usedTable : 0;
        return true;
    }
    if (available >= fullTable + rows) {
        out->tableBytes = out->rowsOffset = fullTable;
        return true;
    }
    if (h.biClrUsed > 0 && usedTable < fullTable && available >= usedTable + rows) {
        out->tableBytes = out->rowsOffset = usedTable;
        return true;
    }
    return false;
}

}  // namespace

bool ReadPackedDib(const BYTE* p, size_t size, PackedDib* out) {
    DibHeaderInfo info;
    if (!p || !ReadDibHeader(p, size, DibHeaderSource::kPackedDib, &info)) return false;
    const BITMAPINFOHEADER& h = info.header;
    const bool takenFormat = h.biCompression == BI_RGB && (h.biBitCount == 1 || h.biBitCount == 4 ||
                                                           h.biBitCount == 8 || h.biBitCount == 24);
    DibLayout layout;
    PackedPlacement placement;
    if (!takenFormat || h.biWidth <= 0 || h.biHeight <= 0 ||
        !ComputeDibLayout(h.biWidth, h.biHeight, h.biBitCount, &layout) ||
        !PlaceTableAndRows(info, layout, size, &placement))
        return false;
    out->header = h;
    out->width = h.biWidth;
    out->height = h.biHeight;
    out->stride = layout.stride;
    out->colors = layout.colors;
    out->table = p + info.storedSize;
    out->tableEntries = static_cast<int>(placement.tableBytes / 4);
    out->rows = out->table + placement.rowsOffset;
    out->topDown = info.topDown;
    return true;
}
