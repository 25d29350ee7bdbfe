#include "twain/TiffDibReader.h"

#include <tiffio.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The memory the TIFF lies in, read as a file of `size` bytes.
struct MemoryStream {
    const unsigned char* data;
    size_t size;
    size_t position;
    std::string error;
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t count) {
    auto* stream = static_cast<MemoryStream*>(handle);
    if (count <= 0 || stream->position >= stream->size) return 0;
    const size_t n = std::min(static_cast<size_t>(count), stream->size - stream->position);
    std::memcpy(buffer, stream->data + stream->position, n);
    stream->position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* stream = static_cast<MemoryStream*>(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR) base = stream->position;
    if (whence == SEEK_END) base = stream->size;
    if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
    const uint64_t target = base + offset;
    // A position past the end reads nothing; it is not an error until something is read.
    stream->position = target > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(target);
    return target;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<MemoryStream*>(handle)->size; }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

int ErrorHandler(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* stream = static_cast<MemoryStream*>(user);
    if (stream->error.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        stream->error = text;
    }
    return 1;
}

int WarningHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

// libtiff's tag extender is one per process, and a source's own image library may
// have set one (FreeImage's, in the sample source, merges hundreds of tags at every
// directory, for seconds). A native image needs the baseline tags only, so the
// extender is put aside while one is read, on the one thread that reads them.
class ExtenderAside {
public:
    ExtenderAside() : m_previous(TIFFSetTagExtender(nullptr)) {}
    ~ExtenderAside() { TIFFSetTagExtender(m_previous); }
    ExtenderAside(const ExtenderAside&) = delete;
    ExtenderAside& operator=(const ExtenderAside&) = delete;

private:
    TIFFExtendProc m_previous;
};

// Dots per inch to pixels per metre, as the DIB header keeps them.
LONG PerMetre(const TW_FIX32& dpi) {
    const double value = Fix32ToDouble(dpi) / 0.0254;
    return value > 0 && value < 1e9 ? static_cast<LONG>(std::lround(value)) : 0;
}

}  // namespace

bool TiffDibReader::IsTiff(const void* data) {
    const auto* b = static_cast<const unsigned char*>(data);
    return (b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
           (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42);
}

HGLOBAL TiffDibReader::ToPackedDib(const void* data, size_t size, TW_IMAGEINFO* info,
                                   std::string* whyNot) {
    MemoryStream stream{static_cast<const unsigned char*>(data), size, 0, {}};
    if (size < 8 || !IsTiff(data)) {
        *whyNot = "not a TIFF";
        return nullptr;
    }
    const ExtenderAside extenderAside;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        *whyNot = "out of memory";
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, ErrorHandler, &stream);
    TIFFOpenOptionsSetWarningHandlerExtR(options, WarningHandler, &stream);
    // "m": no memory mapping, every byte goes through ReadProc and its bound.
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpenExt("native transfer", "rm", &stream,
                                                             ReadProc, WriteProc, SeekProc,
                                                             CloseProc, SizeProc, MapProc,
                                                             UnmapProc, options));
    TIFFOpenOptionsFree(options);
    auto refuse = [&](const char* reason) -> HGLOBAL {
        *whyNot = stream.error.empty() ? reason : reason + std::string(": ") + stream.error;
        return nullptr;
    };
    if (!tiff) return refuse("the TIFF cannot be opened");

    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 1, photometric = PHOTOMETRIC_MINISBLACK;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    if (width == 0 || height == 0) return refuse("the TIFF has no pixels");
    if (static_cast<int64_t>(width) != info->ImageWidth ||
        static_cast<int64_t>(height) != info->ImageLength)
        return refuse("the TIFF's size differs from the image's description");
    if (static_cast<uint64_t>(width) * height > kMaxPixels) return refuse("the TIFF is too large");

    std::vector<uint32_t> raster;
    try {
        raster.resize(static_cast<size_t>(width) * height);
    } catch (const std::bad_alloc&) {
        return refuse("out of memory");
    }
    // Stops at the first strip or tile that cannot be read in full.
    if (!TIFFReadRGBAImageOriented(tiff.get(), width, height, raster.data(), ORIENTATION_TOPLEFT,
                                   1))
        return refuse("the TIFF's pixels cannot be read");

    const bool grey = samples == 1 && (photometric == PHOTOMETRIC_MINISBLACK ||
                                       photometric == PHOTOMETRIC_MINISWHITE);
    const int dibBits = grey ? (bits == 1 ? 1 : 8) : 24;
    const size_t stride = ((static_cast<size_t>(width) * dibBits + 31) / 32) * 4;
    const size_t colours = dibBits == 24 ? 0 : (size_t(1) << dibBits);
    const size_t header = sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD);
    HGLOBAL block = GlobalAlloc(GHND, header + stride * height);
    auto* p = static_cast<unsigned char*>(GlobalLock(block));
    if (!p) {
        GlobalFree(block);
        return refuse("out of memory");
    }
    BITMAPINFOHEADER bih{};
    bih.biSize = sizeof(BITMAPINFOHEADER);
    bih.biWidth = static_cast<LONG>(width);
    bih.biHeight = static_cast<LONG>(height);
    bih.biPlanes = 1;
    bih.biBitCount = static_cast<WORD>(dibBits);
    bih.biSizeImage = static_cast<DWORD>(stride * height);
    bih.biXPelsPerMeter = PerMetre(info->XResolution);
    bih.biYPelsPerMeter = PerMetre(info->YResolution);
    bih.biClrUsed = static_cast<DWORD>(colours);
    std::memcpy(p, &bih, sizeof bih);
    for (size_t i = 0; i < colours; ++i) {
        const auto level = static_cast<BYTE>(colours == 2 ? i * 255 : i);
        const RGBQUAD entry{level, level, level, 0};
        std::memcpy(p + sizeof bih + i * sizeof(RGBQUAD), &entry, sizeof entry);
    }
    // DIB rows run bottom-up.
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t* from = raster.data() + static_cast<size_t>(y) * width;
        unsigned char* row = p + header + stride * (height - 1 - y);
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t rgba = from[x];
            if (dibBits == 24) {
                row[3 * x] = static_cast<unsigned char>(TIFFGetB(rgba));
                row[3 * x + 1] = static_cast<unsigned char>(TIFFGetG(rgba));
                row[3 * x + 2] = static_cast<unsigned char>(TIFFGetR(rgba));
            } else if (dibBits == 8) {
                row[x] = static_cast<unsigned char>(TIFFGetR(rgba));
            } else if (TIFFGetR(rgba) >= 128) {
                row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
            }
        }
    }
    GlobalUnlock(block);
    info->BitsPerPixel = static_cast<TW_INT16>(dibBits);
    info->SamplesPerPixel = static_cast<TW_INT16>(dibBits == 24 ? 3 : 1);
    for (int i = 0; i < 8; ++i) info->BitsPerSample[i] = 0;
    for (int i = 0; i < info->SamplesPerPixel; ++i)
        info->BitsPerSample[i] = static_cast<TW_INT16>(dibBits == 1 ? 1 : 8);
    info->PixelType = dibBits == 24 ? TWPT_RGB : (dibBits == 8 ? TWPT_GRAY : TWPT_BW);
    info->Compression = TWCP_NONE;
    info->Planar = FALSE;
    return block;
}
