#include "platform/Gdi.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include "platform/DibRowDecoder.h"
#include "platform/DrawingSurface.h"

struct DeviceBitmap {
    BITMAP desc;
    std::vector<BYTE> bits;
};

namespace {

// Live device bitmaps, so that a stale or foreign handle is refused instead of used.
std::mutex g_objectsMutex;
std::unordered_set<DeviceBitmap*> g_objects;

DeviceBitmap* Lookup(HGDIOBJ h) {
    std::lock_guard<std::mutex> lock(g_objectsMutex);
    auto it = g_objects.find(static_cast<DeviceBitmap*>(h));
    return it == g_objects.end() ? nullptr : *it;
}

HBITMAP Register(DeviceBitmap* bm) {
    std::lock_guard<std::mutex> lock(g_objectsMutex);
    g_objects.insert(bm);
    return bm;
}

struct Span {
    int begin;
    int end;  // exclusive
};

Span Intersect(Span a, Span b) { return {std::max(a.begin, b.begin), std::min(a.end, b.end)}; }

// Clamps a 64-bit coordinate into int range so that spans never overflow.
int ClampInt(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN / 2, INT32_MAX / 2));
}

// Address of the row stored `bottomUpRow` rows above the bottom of the picture.
const BYTE* RowAt(const DibRowDecoder& dib, const BYTE* bits, int bottomUpRow) {
    const int stored = dib.TopDown() ? dib.Height() - 1 - bottomUpRow : bottomUpRow;
    return bits + static_cast<size_t>(stored) * dib.Stride();
}

}  // namespace

extern "C" int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc,
                                 int ySrc, UINT startScan, UINT cLines, const void* bits,
                                 const BITMAPINFO* bmi, UINT colorUse) {
    if (!hdc || !bits || colorUse != DIB_RGB_COLORS) return 0;
    DibRowDecoder dib(bmi);
    if (!dib.Valid()) return 0;
    // A top-down DIB is only taken whole: its scan lines are not numbered from the bottom.
    if (dib.TopDown() && (startScan != 0 || cLines < UINT(dib.Height()))) return 0;
    const SurfaceRect clip = hdc->ClipBox();

    // Columns: destination x maps to source column xSrc + (x - xDest).
    Span cols = Intersect({xDest, ClampInt(int64_t(xDest) + w)}, {clip.left, clip.right});
    cols = Intersect(
        cols, {ClampInt(int64_t(xDest) - xSrc), ClampInt(int64_t(xDest) - xSrc + dib.Width())});
    // Rows: destination y shows bottom-up source row ySrc + h - 1 - (y - yDest), which must
    // be a row of the picture and one of the scan lines handed over.
    const int64_t top = int64_t(yDest) + ySrc + h - 1;  // y of bottom-up row 0
    const int64_t firstRow = std::max<int64_t>(0, startScan);
    const int64_t endRow = std::min<int64_t>(dib.Height(), int64_t(startScan) + cLines);
    Span rows = Intersect({yDest, ClampInt(int64_t(yDest) + h)}, {clip.top, clip.bottom});
    rows = Intersect(rows, {ClampInt(top - endRow + 1), ClampInt(top - firstRow + 1)});
    if (cols.begin >= cols.end || rows.begin >= rows.end) return static_cast<int>(cLines);

    const int outW = cols.end - cols.begin;
    const int outH = rows.end - rows.begin;
    std::vector<uint32_t> out;
    try {
        out.resize(static_cast<size_t>(outW) * outH);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    const auto* base = static_cast<const BYTE*>(bits);
    const int firstCol = static_cast<int>(int64_t(xSrc) + (cols.begin - xDest));
    for (int y = rows.begin; y < rows.end; ++y) {
        const int bottomUp = static_cast<int>(top - y);
        // Only the handed-over scan lines are in `bits`, starting with startScan.
        const BYTE* row = dib.TopDown()
                              ? RowAt(dib, base, bottomUp)
                              : base + static_cast<size_t>(bottomUp - startScan) * dib.Stride();
        dib.Decode(row, firstCol, outW, &out[static_cast<size_t>(y - rows.begin) * outW]);
    }
    hdc->PutPixels(cols.begin, rows.begin, outW, outH, out.data(), outW);
    return static_cast<int>(cLines);
}

extern "C" int StretchDIBits(HDC hdc, int xDest, int yDest, int wDest, int hDest, int xSrc,
                             int ySrc, int wSrc, int hSrc, const void* bits, const BITMAPINFO* bmi,
                             UINT colorUse, DWORD rop) {
    if (!hdc || !bits || colorUse != DIB_RGB_COLORS || rop != SRCCOPY) return 0;
    if (wDest <= 0 || hDest <= 0 || wSrc <= 0 || hSrc <= 0) return 0;
    DibRowDecoder dib(bmi);
    if (!dib.Valid()) return 0;
    const SurfaceRect clip = hdc->ClipBox();
    const Span cols = Intersect({xDest, ClampInt(int64_t(xDest) + wDest)}, {clip.left, clip.right});
    const Span rows = Intersect({yDest, ClampInt(int64_t(yDest) + hDest)}, {clip.top, clip.bottom});
    if (cols.begin >= cols.end || rows.begin >= rows.end) return hSrc;

    const int outW = cols.end - cols.begin;
    const int outH = rows.end - rows.begin;
    std::vector<uint32_t> out, decoded;
    std::vector<int> srcCol;
    try {
        out.resize(static_cast<size_t>(outW) * outH);
        srcCol.resize(outW);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    // Nearest source column for each destination column; -1 where it lies off the DIB.
    int colMin = INT32_MAX, colMax = -1;
    for (int i = 0; i < outW; ++i) {
        const int64_t col = int64_t(xSrc) + int64_t(cols.begin - xDest + i) * wSrc / wDest;
        srcCol[i] = (col >= 0 && col < dib.Width()) ? static_cast<int>(col) : -1;
        if (srcCol[i] >= 0)
            colMin = std::min(colMin, srcCol[i]), colMax = std::max(colMax, srcCol[i]);
    }
    if (colMax >= 0) {
        try {
            decoded.resize(static_cast<size_t>(colMax - colMin + 1));
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    const auto* base = static_cast<const BYTE*>(bits);
    int64_t decodedRow = -1;
    for (int y = rows.begin; y < rows.end; ++y) {
        uint32_t* dst = &out[static_cast<size_t>(y - rows.begin) * outW];
        // Destination row 0 of the rectangle shows the top source row, ySrc + hSrc - 1.
        const int64_t bottomUp = int64_t(ySrc) + hSrc - 1 - int64_t(y - yDest) * hSrc / hDest;
        if (colMax < 0 || bottomUp < 0 || bottomUp >= dib.Height()) {
            std::fill(dst, dst + outW, 0u);
            continue;
        }
        if (bottomUp != decodedRow) {  // enlarged rows reuse the decoded source row
            dib.Decode(RowAt(dib, base, static_cast<int>(bottomUp)), colMin, colMax - colMin + 1,
                       decoded.data());
            decodedRow = bottomUp;
        }
        for (int i = 0; i < outW; ++i) dst[i] = srcCol[i] < 0 ? 0 : decoded[srcCol[i] - colMin];
    }
    hdc->PutPixels(cols.begin, rows.begin, outW, outH, out.data(), outW);
    return hSrc;
}

extern "C" HBITMAP CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* header, DWORD init,
                                  const void* bits, const BITMAPINFO* bmi, UINT colorUse) {
    if (!hdc || !header || colorUse != DIB_RGB_COLORS) return nullptr;
    const int64_t width = header->biWidth;
    const int64_t height = header->biHeight < 0 ? -int64_t(header->biHeight) : header->biHeight;
    if (width <= 0 || height <= 0 || width * 4 * height > INT32_MAX) return nullptr;
    auto* bm = new (std::nothrow) DeviceBitmap{};
    if (!bm) return nullptr;
    bm->desc = {0, LONG(width), LONG(height), LONG(width * 4), 1, 32, nullptr};
    try {
        bm->bits.assign(static_cast<size_t>(width * 4 * height), 0);
    } catch (const std::bad_alloc&) {
        delete bm;
        return nullptr;
    }
    if (init & CBM_INIT) {
        DibRowDecoder dib(bmi);
        if (!dib.Valid() || !bits || dib.Width() != width || dib.Height() != height) {
            delete bm;
            return nullptr;
        }
        std::vector<uint32_t> row(static_cast<size_t>(width));
        for (int y = 0; y < dib.Height(); ++y) {
            dib.Decode(RowAt(dib, static_cast<const BYTE*>(bits), dib.Height() - 1 - y), 0,
                       dib.Width(), row.data());
            BYTE* dst = &bm->bits[static_cast<size_t>(y) * bm->desc.bmWidthBytes];
            for (int x = 0; x < dib.Width(); ++x) {
                dst[4 * x] = GetBValue(row[x]);
                dst[4 * x + 1] = GetGValue(row[x]);
                dst[4 * x + 2] = GetRValue(row[x]);
                dst[4 * x + 3] = 0;
            }
        }
    }
    return Register(bm);
}

extern "C" HBITMAP CreateBitmapIndirect(const BITMAP* desc) {
    if (!desc || desc->bmWidth <= 0 || desc->bmHeight <= 0 || desc->bmWidthBytes <= 0) {
        return nullptr;
    }
    const int64_t bytes = int64_t(desc->bmWidthBytes) * desc->bmHeight;
    const int64_t rowBits = int64_t(desc->bmWidth) * desc->bmBitsPixel * desc->bmPlanes;
    if (bytes > INT32_MAX || rowBits > int64_t(desc->bmWidthBytes) * 8) return nullptr;
    auto* bm = new (std::nothrow) DeviceBitmap{};
    if (!bm) return nullptr;
    bm->desc = *desc;
    bm->desc.bmBits = nullptr;
    try {
        bm->bits.assign(static_cast<size_t>(bytes), 0);
    } catch (const std::bad_alloc&) {
        delete bm;
        return nullptr;
    }
    if (desc->bmBits) std::memcpy(bm->bits.data(), desc->bmBits, bm->bits.size());
    return Register(bm);
}

extern "C" int GetObjectA(HGDIOBJ h, int cb, void* out) {
    DeviceBitmap* bm = Lookup(h);
    if (!bm) return 0;
    if (!out) return sizeof(BITMAP);
    const int n = std::clamp<int>(cb, 0, sizeof(BITMAP));
    std::memcpy(out, &bm->desc, n);
    return n;
}

extern "C" LONG GetBitmapBits(HBITMAP hbm, LONG cb, void* out) {
    DeviceBitmap* bm = Lookup(hbm);
    if (!bm || !out || cb <= 0) return 0;
    const size_t n = std::min(static_cast<size_t>(cb), bm->bits.size());
    std::memcpy(out, bm->bits.data(), n);
    return static_cast<LONG>(n);
}

extern "C" LONG SetBitmapBits(HBITMAP hbm, DWORD cb, const void* in) {
    DeviceBitmap* bm = Lookup(hbm);
    if (!bm || !in) return 0;
    const size_t n = std::min(static_cast<size_t>(cb), bm->bits.size());
    std::memcpy(bm->bits.data(), in, n);
    return static_cast<LONG>(n);
}

extern "C" BOOL DeleteObject(HGDIOBJ h) {
    DeviceBitmap* bm = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_objectsMutex);
        auto it = g_objects.find(static_cast<DeviceBitmap*>(h));
        if (it == g_objects.end()) return FALSE;
        bm = *it;
        g_objects.erase(it);
    }
    delete bm;
    return TRUE;
}

extern "C" size_t GdiLiveObjectCount() {
    std::lock_guard<std::mutex> lock(g_objectsMutex);
    return g_objects.size();
}
