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

constexpr size_t kInfoHeaderSize = 40;

uint32_t ReadU32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t ReadU16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

// libjpeg ends the process on an error unless told otherwise: return here instead.
struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf back;
};

void JpegFailed(j_common_ptr info) { longjmp(reinterpret_cast<JpegError*>(info->err)->back, 1); }

cairo_status_t AppendToString(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

PageEncoder::PageEncoder(const std::vector<unsigned char>& packed) : m_packed(packed) {
    if (packed.size() < kInfoHeaderSize) return;
    const unsigned char* header = packed.data();
    const uint32_t headerSize = ReadU32(header);
    const int32_t width = static_cast<int32_t>(ReadU32(header + 4));
    const int32_t height = static_cast<int32_t>(ReadU32(header + 8));
    const uint16_t bits = ReadU16(header + 14);
    const uint32_t compression = ReadU32(header + 16);
    const uint32_t colours = ReadU32(header + 32);
    if (headerSize < kInfoHeaderSize || headerSize > packed.size() || bits != 24 ||
        compression != 0 || width <= 0 || height == 0 || height == INT32_MIN || colours > 256)
        return;
    m_width = width;
    m_height = height < 0 ? -height : height;
    m_bottomUp = height > 0;
    m_stride = (static_cast<size_t>(m_width) * 3 + 3) & ~size_t(3);
    m_bitsOffset = headerSize + size_t(colours) * 4;
    // Widths and heights are below 2^31, so the product fits in 64 bits.
    const uint64_t bytes = uint64_t(m_stride) * uint64_t(m_height);
    m_valid = m_bitsOffset <= packed.size() && bytes <= packed.size() - m_bitsOffset;
}

std::vector<unsigned char> PageEncoder::Rows(bool gray) const {
    const size_t channels = gray ? 1 : 3;
    std::vector<unsigned char> rows(size_t(m_width) * channels * size_t(m_height));
    unsigned char* out = rows.data();
    for (int y = 0; y < m_height; ++y) {
        const size_t stored = m_bottomUp ? size_t(m_height - 1 - y) : size_t(y);
        const unsigned char* in = m_packed.data() + m_bitsOffset + stored * m_stride;
        if (gray) {
            // The weights of the sources' own grey: 0.30 R + 0.59 G + 0.11 B.
            for (int x = 0; x < m_width; ++x, in += 3)
                *out++ = static_cast<unsigned char>((in[2] * 77 + in[1] * 151 + in[0] * 28 + 128) >> 8);
        } else {
            for (int x = 0; x < m_width; ++x, in += 3) {
                *out++ = in[2];
                *out++ = in[1];
                *out++ = in[0];
            }
        }
    }
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
    image.width = static_cast<png_uint_32>(m_width);
    image.height = static_cast<png_uint_32>(m_height);
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
    const std::vector<unsigned char> rows = Rows(gray);
    const size_t rowBytes = size_t(m_width) * (gray ? 1 : 3);
    jpeg_compress_struct info{};
    JpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = JpegFailed;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    // Only plain data lives across the jump: the vectors were made before it.
    if (setjmp(error.back)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(m_width);
    info.image_height = static_cast<JDIMENSION>(m_height);
    info.input_components = gray ? 1 : 3;
    info.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(rows.data() + info.next_scanline * rowBytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    out->assign(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return true;
}

bool PageEncoder::EncodePdf(bool gray, int dpi, std::string* out) const {
    const double pointsPerPixel = 72.0 / (dpi > 0 ? dpi : 72);
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, m_width, m_height);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return false;
    }
    cairo_surface_flush(image);
    const std::vector<unsigned char> rows = Rows(gray);
    unsigned char* pixels = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    const size_t channels = gray ? 1 : 3;
    for (int y = 0; y < m_height; ++y) {
        const unsigned char* in = rows.data() + size_t(y) * size_t(m_width) * channels;
        uint32_t* row = reinterpret_cast<uint32_t*>(pixels + size_t(y) * size_t(stride));
        for (int x = 0; x < m_width; ++x, in += channels)
            row[x] = gray ? uint32_t(in[0]) << 16 | uint32_t(in[0]) << 8 | in[0]
                          : uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
    }
    cairo_surface_mark_dirty(image);
    cairo_surface_t* pdf = cairo_pdf_surface_create_for_stream(
        AppendToString, out, m_width * pointsPerPixel, m_height * pointsPerPixel);
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
