// A TIFF in memory, as TWAIN sources on Linux hand over a native transfer, read
// with libtiff into a packed DIB: bilevel images as 1 bit, grey as 8 bits, every
// other kind as 24 bits. Strips or tiles, either byte order, any compression
// libtiff reads. Nothing past `size` bytes is read.
#pragma once

#include <cstddef>
#include <string>

#include "platform/GlobalMemory.h"
#include "twain/TwainTypes.h"

class TiffDibReader {
public:
    // The TIFF byte-order marks, "II*\0" or "MM\0*"; `data` holds at least 4 bytes.
    static bool IsTiff(const void* data);

    // The packed DIB in a new global memory block, and *info corrected to what it
    // holds (bits per pixel, samples, pixel type). The image must have the size the
    // description gives. Null, with the reason in *whyNot, when the TIFF is refused.
    static HGLOBAL ToPackedDib(const void* data, size_t size, TW_IMAGEINFO* info,
                               std::string* whyNot);

    // Larger images are refused before any pixel memory is taken.
    static constexpr size_t kMaxPixels = size_t(1) << 27;
};
