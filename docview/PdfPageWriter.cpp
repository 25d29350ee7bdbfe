// PDF pages through cairo: each page an image surface drawn at 72 / dpi, which cairo
// embeds with lossless (Flate) compression.
#include <cairo-pdf.h>
#include <cairo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "dib/Dib.h"
#include "platform/FileAside.h"
#include "docview/PageSetWriter.h"
#include "platform/DibRowDecoder.h"

namespace velomark {
namespace {

double DpiOrAssumed(double dpi) { return dpi > 0 ? dpi : kAssumedDpi; }

struct StreamTarget {
    int fd = -1;
    int error = 0;
};

cairo_status_t WriteToFd(void* closure, const unsigned char* data, unsigned int length) {
    auto* target = static_cast<StreamTarget*>(closure);
    while (length > 0) {
        const ssize_t put = ::write(target->fd, data, length);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            target->error = put < 0 ? errno : ENOSPC;
            return CAIRO_STATUS_WRITE_ERROR;
        }
        data += put, length -= static_cast<unsigned>(put);
    }
    return CAIRO_STATUS_SUCCESS;
}

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;

// The page's pixels as cairo's 32-bit x-red-green-blue words; null when out of memory.
Surface PagePixels(const CDIB& dib) {
    DibRowDecoder decoder(reinterpret_cast<const BITMAPINFO*>(dib.m_pInfo));
    if (!decoder.Valid()) return nullptr;
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, dib.m_nWidth, dib.m_nHeight));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    unsigned char* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int y = 0; y < dib.m_nHeight; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
        decoder.Decode(dib.GetRowPtr(y), 0, dib.m_nWidth, row);
        for (int x = 0; x < dib.m_nWidth; ++x) {  // 0x00BBGGRR to 0x00RRGGBB
            const uint32_t c = row[x];
            row[x] = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

}  // namespace

void PdfPageSize(const PageToWrite& page, double& widthPt, double& heightPt) {
    widthPt = page.image->m_nWidth * 72.0 / DpiOrAssumed(page.dpi.x);
    heightPt = page.image->m_nHeight * 72.0 / DpiOrAssumed(page.dpi.y);
}

bool WritePdfPages(const std::vector<PageToWrite>& pages, const std::string& path,
                   std::string& reason) {
    if (pages.empty()) {
        reason = "there is no page to save";
        return false;
    }
    StreamTarget target;
    target.fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (target.fd < 0) {
        reason = ReasonOfErrno(errno, "cannot open it");
        return false;
    }
    double width = 0, height = 0;
    PdfPageSize(pages.front(), width, height);
    Surface pdf(cairo_pdf_surface_create_for_stream(WriteToFd, &target, width, height));
    bool ok = cairo_surface_status(pdf.get()) == CAIRO_STATUS_SUCCESS;
    for (size_t i = 0; ok && i < pages.size(); ++i) {
        const PageToWrite& page = pages[i];
        PdfPageSize(page, width, height);
        cairo_pdf_surface_set_size(pdf.get(), width, height);
        Surface pixels = PagePixels(*page.image);
        if (!pixels) {
            reason = "not enough memory for page " + std::to_string(i + 1);
            ok = false;
            break;
        }
        Context cr(cairo_create(pdf.get()));
        cairo_scale(cr.get(), 72.0 / DpiOrAssumed(page.dpi.x), 72.0 / DpiOrAssumed(page.dpi.y));
        cairo_set_source_surface(cr.get(), pixels.get(), 0, 0);
        cairo_paint(cr.get());
        cairo_show_page(cr.get());
        ok = cairo_status(cr.get()) == CAIRO_STATUS_SUCCESS;
    }
    cairo_surface_finish(pdf.get());
    ok = ok && cairo_surface_status(pdf.get()) == CAIRO_STATUS_SUCCESS;
    const bool closed = ::close(target.fd) == 0;
    if (ok && !closed) target.error = errno;
    if (!ok || !closed) {
        if (reason.empty())
            reason = "the PDF could not be written (" +
                     (target.error
                          ? ReasonOfErrno(target.error, "")
                          : std::string(cairo_status_to_string(cairo_surface_status(pdf.get())))) +
                     ")";
        return false;
    }
    return true;
}

}  // namespace velomark
