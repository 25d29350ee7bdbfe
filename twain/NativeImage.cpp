#include "twain/NativeImage.h"

#include <cstdint>
#include <cstring>

#include "twain/TiffDibReader.h"

namespace {

// Row bytes of `bits` per pixel, DWORD-aligned; 0 when it does not fit.
uint64_t Stride(uint64_t width, uint64_t bits) { return ((width * bits + 31) / 32) * 4; }

}  // namespace

size_t NativeImage::DibExtent(const void* p, const TW_IMAGEINFO& info) {
    BITMAPINFOHEADER bih;
    std::memcpy(&bih, p, sizeof bih);
    const DWORD headerSizes[] = {40, 52, 56, 108, 124};
    bool knownHeader = false;
    for (DWORD s : headerSizes) knownHeader = knownHeader || bih.biSize == s;
    if (!knownHeader || bih.biCompression != 0) return 0;
    const int bits = bih.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return 0;
    const int64_t height = bih.biHeight < 0 ? -int64_t(bih.biHeight) : int64_t(bih.biHeight);
    if (bih.biWidth <= 0 || height == 0 || bih.biWidth != info.ImageWidth ||
        height != info.ImageLength)
        return 0;
    const uint64_t fullTable = bits == 24 ? 0 : (uint64_t(1) << bits);
    const uint64_t colours = bih.biClrUsed != 0 ? bih.biClrUsed : fullTable;
    if (colours > 256) return 0;
    const uint64_t pixels = Stride(uint64_t(bih.biWidth), uint64_t(bits)) * uint64_t(height);
    const uint64_t extent = bih.biSize + colours * sizeof(RGBQUAD) + pixels;
    if (uint64_t(bih.biWidth) * uint64_t(height) > TiffDibReader::kMaxPixels) return 0;
    return static_cast<size_t>(extent);
}

size_t NativeImage::TiffBound(const TW_IMAGEINFO& info) {
    if (info.ImageWidth <= 0 || info.ImageLength <= 0) return 0;
    const uint64_t pixels = uint64_t(info.ImageWidth) * uint64_t(info.ImageLength);
    if (pixels > TiffDibReader::kMaxPixels) return 0;
    const uint64_t bits = info.BitsPerPixel > 0 ? uint64_t(info.BitsPerPixel) : 24;
    const uint64_t rowBytes = (uint64_t(info.ImageWidth) * bits + 7) / 8;
    return static_cast<size_t>(rowBytes * uint64_t(info.ImageLength) + kTiffStructureRoom);
}

HGLOBAL NativeImage::ToPackedDib(TW_HANDLE handle, const TwainMemory& memory, TW_IMAGEINFO* info,
                                 std::string* whyNot) {
    const size_t knownSize = TwainMemory::KnownSize(handle);
    const auto* p = static_cast<const unsigned char*>(memory.Lock(handle));
    if (!p) {
        *whyNot = "the image's memory cannot be locked";
        return nullptr;
    }
    HGLOBAL dib = nullptr;
    if ((knownSize == 0 || knownSize >= 8) && TiffDibReader::IsTiff(p)) {
        const size_t size = knownSize != 0 ? knownSize : TiffBound(*info);
        if (size == 0)
            *whyNot = "the image's description gives no size";
        else
            dib = TiffDibReader::ToPackedDib(p, size, info, whyNot);
    } else if (knownSize != 0 && knownSize < sizeof(BITMAPINFOHEADER)) {
        *whyNot = "the image is shorter than a bitmap header";
    } else {
        size_t extent = DibExtent(p, *info);
        if (knownSize != 0 && extent > knownSize) extent = 0;
        if (extent == 0) {
            *whyNot = "the image is neither a TIFF nor a bitmap that matches its description";
        } else if ((dib = GlobalAlloc(GMEM_MOVEABLE, extent)) != nullptr) {
            std::memcpy(GlobalLock(dib), p, extent);
            GlobalUnlock(dib);
        } else {
            *whyNot = "out of memory";
        }
    }
    memory.Unlock(handle);
    return dib;
}
