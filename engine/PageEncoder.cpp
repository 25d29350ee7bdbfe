#include "engine/PageEncoder.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <png.h>
#include <setjmp.h>

#include <cstdio>
#include <cstring>
// After cstdio: jpeglib.h uses FILE and size_t without including their headers.
#include <jpeglib.h>

namespace velomark {

namespace {

// libjpeg ends the process on an error unless told otherwise: return here instead.
struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf back;
};

void JpegFailed(j_common_ptr info) { longjmp(reinterpret_cast<JpegError*>(info->err)->back, 1); }

// The weights of the sources' own grey: 0.30 R + 0.59 G + 0.11 B, of a stored
// blue-green-red pixel.
unsigned char GreyOf(const unsigned char* bgr) {
    return static_cast<unsigned char>((bgr[2] * 77 + bgr[1] * 151 + bgr[0] * 28 + 128) >> 8);
}

cairo_status_t AppendToString(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

PageEncoder::PageEncoder(const std::vector<unsigned char>& packed) {
    m_valid = ReadPackedDib(packed.data(), packed.size(), &m_dib) && m_dib.header.biBitCount == 24;
}

void PageEncoder::ConvertRow(int y, bool gray, unsigned char* out) const {
    const unsigned char* in = m_dib.Row(y);
    if (gray) {
        for (int x = 0; x < m_dib.width; ++x, in += 3) *out++ = GreyOf(in);
        return;
    }
    for (int x = 0; x < m_dib.width; ++x, in += 3) {
        *out++ = in[2];
        *out++ = in[1];
        *out++ = in[0];
    }
}

std::vector<unsigned char> PageEncoder::Rows(bool gray) const {
    const size_t rowBytes = size_t(m_dib.width) * (gray ? 1 : 3);
    std::vector<unsigned char> rows(rowBytes * size_t(m_dib.height));
    for (int y = 0; y < m_dib.height; ++y) ConvertRow(y, gray, rows.data() + size_t(y) * rowBytes);
    return rows;
}

bool PageEncoder::Encode(PageFormat format, bool gray, int dpi, std::string* out) const {
    if (!m_valid) return false;
    out->clear();
    switch (format) {
        case PageFormat::Png: return EncodePng(gray, dpi, out);
        case PageFormat::Pdf: return EncodePdf(gray, dpi, out);
        case PageFormat::Jpeg: break;
    }
    return EncodeJpeg(gray, out);
}

namespace {

uint32_t Crc32(const unsigned char* bytes, size_t size) {
    uint32_t crc = 0xffffffffu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBigEndian(uint32_t value, unsigned char* at) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

// libpng's simplified writer has no resolution; a web page sizes the PDF pages it
// makes from this chunk, so it goes in right after IHDR (signature 8 + IHDR 25).
void AddPngResolution(int dpi, std::string* png) {
    constexpr size_t kAfterHeader = 33;
    if (png->size() < kAfterHeader) return;
    unsigned char chunk[21] = {0, 0, 0, 9, 'p', 'H', 'Y', 's'};
    const auto perMetre = static_cast<uint32_t>(dpi / 0.0254 + 0.5);
    PutBigEndian(perMetre, chunk + 8);
    PutBigEndian(perMetre, chunk + 12);
    chunk[16] = 1;  // the unit is the metre
    PutBigEndian(Crc32(chunk + 4, 13), chunk + 17);
    png->insert(kAfterHeader, reinterpret_cast<const char*>(chunk), sizeof chunk);
}

}  // namespace

bool PageEncoder::EncodePng(bool gray, int dpi, std::string* out) const {
    const std::vector<unsigned char> rows = Rows(gray);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(m_dib.width);
    image.height = static_cast<png_uint_32>(m_dib.height);
    image.format = gray ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    image.flags = PNG_IMAGE_FLAG_FAST;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, rows.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    out->resize(size);
    const bool written =
        png_image_write_to_memory(&image, out->data(), &size, 0, rows.data(), 0, nullptr) != 0;
    png_image_free(&image);
    out->resize(written ? size : 0);
    if (written && dpi > 0) AddPngResolution(dpi, out);
    return written;
}

bool PageEncoder::EncodeJpeg(bool gray, std::string* out) const {
    // One row at a time: libjpeg takes rows, so no whole-page copy is needed.
    std::vector<unsigned char> row(size_t(m_dib.width) * (gray ? 1 : 3));
    jpeg_compress_struct info{};
    JpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = JpegFailed;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    // Only plain data lives across the jump: the vector was made before it.
    if (setjmp(error.back)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(m_dib.width);
    info.image_height = static_cast<JDIMENSION>(m_dib.height);
    info.input_components = gray ? 1 : 3;
    info.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        ConvertRow(static_cast<int>(info.next_scanline), gray, row.data());
        JSAMPROW rows = row.data();
        jpeg_write_scanlines(&info, &rows, 1);
    }
    jpeg_finish_compress(&info);
    out->assign(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return true;
}

bool PageEncoder::EncodePdf(bool gray, int dpi, std::string* out) const {
    const double pointsPerPixel = 72.0 / (dpi > 0 ? dpi : 72);
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, m_dib.width, m_dib.height);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return false;
    }
    cairo_surface_flush(image);
    // Straight from the stored rows into cairo's, without a converted copy between.
    unsigned char* pixels = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    for (int y = 0; y < m_dib.height; ++y) {
        const unsigned char* in = m_dib.Row(y);
        uint32_t* row = reinterpret_cast<uint32_t*>(pixels + size_t(y) * size_t(stride));
        for (int x = 0; x < m_dib.width; ++x, in += 3) {
            const uint32_t grey = gray ? GreyOf(in) : 0;
            row[x] = gray ? grey << 16 | grey << 8 | grey
                          : uint32_t(in[2]) << 16 | uint32_t(in[1]) << 8 | in[0];
        }
    }
    cairo_surface_mark_dirty(image);
    cairo_surface_t* pdf = cairo_pdf_surface_create_for_stream(
        AppendToString, out, m_dib.width * pointsPerPixel, m_dib.height * pointsPerPixel);
    cairo_t* cr = cairo_create(pdf);
    cairo_scale(cr, pointsPerPixel, pointsPerPixel);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_paint(cr);
    cairo_show_page(cr);
    const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_finish(pdf);
    const bool finished = cairo_surface_status(pdf) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(pdf);
    cairo_surface_destroy(image);
    return drawn && finished && !out->empty();
}

}  // namespace velomark
