// CDIB: one raster image held as a packed device-independent bitmap (40-byte
// header, colour table, bottom-up rows padded to 4 bytes) in one allocation, plus
// a table of row addresses indexed from the top.
#pragma once

#include <cstddef>

#include "platform/Gdi.h"
#include "platform/GlobalMemory.h"
#include "platform/WinTypes.h"

class CBitmap;
class CDC;
struct PackedDib;

class CDIB {
public:
    explicit CDIB(HGLOBAL hDib = nullptr, int nBits = 8);
    CDIB(const CDIB&) = delete;
    CDIB& operator=(const CDIB&) = delete;
    virtual ~CDIB();

    // Storage and construction (Dib.cpp).
    void Destroy();
    BOOL CreateFromHeader(const BITMAPINFOHEADER* pHeader);
    BOOL Create(int width, int height, int bitCount);
    // Copies a packed DIB, reading only within GlobalSize(hDib). Takes uncompressed 1, 4,
    // 8 and 24-bit DIBs with headers of 40, 52, 56, 108 or 124 bytes (the colour table
    // follows the whole header; the copy holds a 40-byte header). Top-down DIBs are held
    // bottom-up. A block too short for the full colour table but long enough for
    // biClrUsed entries is taken with the missing entries black. A colour count the held
    // table cannot back (24 bits, or past 2, 16 or 256) is held as 0. On refusal the
    // object is empty.
    BOOL CreateFromHandle(HGLOBAL hDib, int nBits);
    // The same from a packed DIB read where it lies (ReadPackedDib).
    BOOL CreateFromPacked(const PackedDib& packed);
    CDIB& Assign(const CDIB& other);
    // Hands this object's image to `other` and takes the other's (dimensions too):
    // no pixel is copied.
    void SwapImage(CDIB& other);
    // The next image made here (CreateFromHeader and everything built on it) goes
    // into the caller's `block` of `bytes` when it fits there, else into the heap.
    // The caller keeps the block: it must outlive that image, which never frees it.
    void PlaceNextIn(void* block, size_t bytes);
    // Takes over the packed DIB (40-byte header) that `mapping`, a private mapping of
    // `bytes` made with mmap, holds; it is unmapped when the image goes. The mapping
    // is taken even when refused (and unmapped then): False, leaving the image as it
    // was, when the header does not describe exactly `bytes` bytes; False, leaving it
    // empty, when there is no memory for the row table.
    BOOL AdoptMapping(void* mapping, size_t bytes);
    // Whether the image lies in a block of the caller's (PlaceNextIn).
    bool InPlacedBlock() const { return m_blockKind == BlockKind::Placed; }
    BOOL CopyFrom(const CDIB& other);
    int GetColorCount() const;
    static int ColorCountOf(const BITMAPINFOHEADER* pHeader);
    int GetDIBSize() const;
    HGLOBAL PackToGlobal() const;
    // Mode -1 re-packs an 8-bit image under a fresh header; for any other image it
    // gives null. Every other mode is PackToGlobal.
    HGLOBAL CopyToHandle(int mode, int reserved1, int reserved2, int reserved3) const;

    // Rows, colours and pixels (DibPixels.cpp).
    BYTE* GetRowPtr(int y) const;
    void SetColorTable(const RGBQUAD* pColors);
    COLORREF GetPaletteColor(int index) const;
    COLORREF GetPixelRGB(int x, int y) const;
    void GetPixelIndex(int x, int y, int* pIndex) const;
    void PasteDIB(int x, int y, int w, int h, const CDIB& source, int sx, int sy,
                  const BYTE* pMask);
    void Fill(COLORREF value);
    void CopyRow(int from, int to);
    int CountColors() const;
    int CountColors(BYTE* pPresent) const;
    void EnlargeCopy(int x, int y, int fx, int fy, const CDIB& source, int sx, int sy, int sw,
                     int sh);
    void EnlargeRect(int x, int y, int fx, int fy, const CDIB& source, int sx, int sy, int sw,
                     int sh);
    void ReplaceIndex(BYTE from, BYTE to);
    void SetPixelIndex(int x, int y, BYTE index);
    void SetPixelRGB(int x, int y, COLORREF color);

    // Drawing and device bitmaps (DibRender.cpp).
    int Draw(HDC hdc, int xDest, int yDest, int width, int height, int xSrc, int ySrc) const;
    int StretchDraw(HDC hdc, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc,
                    int wSrc, int hSrc) const;
    CBitmap* MakeBitmap(CDC* pDC) const;
    CBitmap* GetDeviceBitmap(CDC* pDC) const;

    // Gamma and colour matching (DibConvert.cpp).
    void SetGamma(float gamma, BOOL on);
    void BuildGammaTable();
    static int ColorDistance(const BYTE* bgr1, const BYTE* bgr2);
    // -1 for an image without a colour table.
    int FindClosestColor(RGBQUAD color);
    // Fails, changing nothing, unless this is an 8-bit image no larger than the source.
    BOOL ConvertFrom(const CDIB* pSource);
    void SetPaletteFromRGB(const BYTE* pTriples);
    void StretchCopy(int dx, int dy, int dw, int dh, const CDIB* pSource, int sx, int sy, int sw,
                     int sh);

    // BMP files (DibFile.cpp).
    BOOL LoadBmp(const char* path);
    BOOL ReadBmp(const char* path);
    BOOL SaveBmp(const char* path, BOOL flag);
    BOOL WriteBmp(const char* path) const;

    BYTE* m_pBits;
    BITMAPINFOHEADER* m_pInfo;
    RGBQUAD* m_pColors;
    void* m_pBlock;
    BYTE** m_ppRows;
    int m_nHeight;
    int m_nStride;
    int m_nWidth;
    BOOL m_bGamma;
    float m_fGamma;
    BYTE m_GammaTable[256];
    DWORD m_MatchColor[256];
    BYTE m_MatchValid[256];

private:
    enum class BlockKind : unsigned char { Heap, Placed, Mapped };
    // Points the header, table, bits and row table into `block`, which holds a
    // 40-byte header and `colors` table entries.
    BOOL AttachBlock(BYTE* block, int colors);
    BlockKind m_blockKind = BlockKind::Heap;
    size_t m_mappedBytes = 0;
    void* m_placement = nullptr;
    size_t m_placementBytes = 0;
    // Bytes of a row that hold whole pixels when each byte is taken as one pixel:
    // the width, but never past the stored row (1- and 4-bit rows are shorter).
    int ByteColumns() const { return m_nWidth < m_nStride ? m_nWidth : m_nStride; }
    // SetColorTable from another image, taking only the entries both tables have.
    void CopyColorsFrom(const CDIB& source);
};
