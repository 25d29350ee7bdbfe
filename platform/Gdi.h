// The graphics operations the bitmap class calls, over DrawingSurface (device
// contexts) and in-memory device bitmaps. Device bitmaps are 32 bits per pixel,
// rows top-down, each pixel the bytes blue, green, red, 0.
#pragma once

#include <cstddef>

#include "platform/WinTypes.h"

class DrawingSurface;
struct DeviceBitmap;

typedef DrawingSurface* HDC;
typedef DeviceBitmap* HBITMAP;
typedef void* HGDIOBJ;

constexpr UINT DIB_RGB_COLORS = 0;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD CBM_INIT = 0x04;

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};

extern "C" {
// Copies a rectangle of DIB pixels to the device, one pixel per device unit. ySrc and
// the scan lines count from the bottom of the DIB. Returns cLines, or 0 when nothing
// could be drawn (bad arguments, unsupported pixel format).
int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc,
                      UINT startScan, UINT cLines, const void* bits, const BITMAPINFO* bmi,
                      UINT colorUse);
// Copies a DIB rectangle scaled to the destination rectangle (nearest pixel). ySrc
// counts from the bottom. Returns the number of source scan lines, 0 on failure.
int StretchDIBits(HDC hdc, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc, int wSrc,
                  int hSrc, const void* bits, const BITMAPINFO* bmi, UINT colorUse, DWORD rop);

HBITMAP CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                       const BITMAPINFO* bmi, UINT colorUse);
HBITMAP CreateBitmapIndirect(const BITMAP* bm);
int GetObjectA(HGDIOBJ h, int cb, void* out);
LONG GetBitmapBits(HBITMAP hbm, LONG cb, void* out);
LONG SetBitmapBits(HBITMAP hbm, DWORD cb, const void* in);
BOOL DeleteObject(HGDIOBJ h);
// Number of device bitmaps created and not yet deleted (for leak checks).
size_t GdiLiveObjectCount();
}
