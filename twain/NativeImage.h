// What a native transfer (DAT_IMAGENATIVEXFER) hands over, made into the packed
// DIB in a global memory block that the rest of the road takes: a packed DIB as
// TWAIN sources give it on Windows, or a TIFF as they give it on Linux.
//
// A handle of Velomark's global memory knows its size. A handle of another DSM's
// memory does not: then the size is the one the image's own header gives, checked
// against the image's description before anything past the header is read (a DIB),
// or bounded by the description (a TIFF: its pixels plus kTiffStructureRoom).
#pragma once

#include <cstddef>
#include <string>

#include "platform/GlobalMemory.h"
#include "twain/TwainMemory.h"
#include "twain/TwainTypes.h"

class NativeImage {
public:
    // A new block holding the image as a packed DIB, *info corrected to what it holds;
    // the handle itself stays the caller's. Null, with the reason in *whyNot, when the
    // image is refused.
    static HGLOBAL ToPackedDib(TW_HANDLE handle, const TwainMemory& memory, TW_IMAGEINFO* info,
                               std::string* whyNot);

    // The bytes a packed DIB at `p` spans by its own header, when the header is one
    // Velomark reads and agrees with the description; else 0. Reads the first 40 bytes.
    static size_t DibExtent(const void* p, const TW_IMAGEINFO& info);
    // The most bytes a TIFF of the described image is read from, when its size is unknown.
    static size_t TiffBound(const TW_IMAGEINFO& info);

    static constexpr size_t kTiffStructureRoom = 64 * 1024;
};
