// A multi-page TIFF through libtiff: each page 24-bit RGB, LZW with the horizontal
// predictor (lossless), its resolution in dots per inch.
#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "dib/Dib.h"
#include "platform/FileAside.h"
#include "docview/PageSetWriter.h"
#include "platform/DibRowDecoder.h"

namespace velomark {
namespace {

// libtiff reports through one process-wide handler; this writer runs on the
// user-interface thread only and keeps the last message while it runs.
std::string g_lastTiffError;

void KeepTiffError(const char*, const char* format, va_list args) {
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    g_lastTiffError = text;
}

class ErrorHandlerScope {
public:
    ErrorHandlerScope() : m_previous(TIFFSetErrorHandler(KeepTiffError)) {
        g_lastTiffError.clear();
    }
    ~ErrorHandlerScope() { TIFFSetErrorHandler(m_previous); }

private:
    TIFFErrorHandler m_previous;
};

bool WritePage(TIFF* tif, const PageToWrite& page, int number, int count) {
    const CDIB& dib = *page.image;
    DibRowDecoder decoder(reinterpret_cast<const BITMAPINFO*>(dib.m_pInfo));
    if (!decoder.Valid()) return false;
    const double xDpi = page.dpi.x > 0 ? page.dpi.x : kAssumedDpi;
    const double yDpi = page.dpi.y > 0 ? page.dpi.y : kAssumedDpi;
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, uint16_t(number), uint16_t(count));
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(dib.m_nWidth));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(dib.m_nHeight));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(xDpi));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(yDpi));

    std::vector<uint32_t> colors(static_cast<size_t>(dib.m_nWidth));
    std::vector<unsigned char> rgb(static_cast<size_t>(dib.m_nWidth) * 3);
    for (int y = 0; y < dib.m_nHeight; ++y) {
        decoder.Decode(dib.GetRowPtr(y), 0, dib.m_nWidth, colors.data());
        unsigned char* out = rgb.data();
        for (uint32_t c : colors) {  // 0x00BBGGRR
            *out++ = static_cast<unsigned char>(c);
            *out++ = static_cast<unsigned char>(c >> 8);
            *out++ = static_cast<unsigned char>(c >> 16);
        }
        if (TIFFWriteScanline(tif, rgb.data(), uint32_t(y), 0) < 0) return false;
    }
    return TIFFWriteDirectory(tif) != 0;
}

}  // namespace

bool WriteTiffPages(const std::vector<PageToWrite>& pages, const std::string& path,
                    std::string& reason) {
    if (pages.empty()) {
        reason = "there is no page to save";
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        reason = ReasonOfErrno(errno, "cannot open it");
        return false;
    }
    ErrorHandlerScope errors;
    TIFF* tif = TIFFFdOpen(fd, path.c_str(), "w");
    if (!tif) {
        ::close(fd);
        reason = "the TIFF could not be started (" + g_lastTiffError + ")";
        return false;
    }
    bool ok = true;
    errno = 0;
    for (size_t i = 0; ok && i < pages.size(); ++i)
        ok = WritePage(tif, pages[i], int(i), int(pages.size()));
    const int error = errno;
    TIFFClose(tif);  // closes the descriptor too
    ok = ok && g_lastTiffError.empty();
    if (!ok) {
        reason = "the TIFF could not be written (" +
                 (error ? ReasonOfErrno(error, "") : g_lastTiffError) + ")";
    }
    return ok;
}

}  // namespace velomark
