#include "client/cli/PageFileWriter.h"

#include <png.h>
#include <tiffio.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bridge/LittleEndian.h"
#include "platform/FileAside.h"

namespace velomark {

namespace {

struct Layout {
    uint32_t width;
    uint32_t height;
    bool bottomUp;
    size_t stride;
    const unsigned char* pixels;
    // Row y counted from the top of the picture.
    const unsigned char* Row(uint32_t y) const {
        return pixels + stride * (bottomUp ? height - 1 - y : y);
    }
};

Layout LayoutOf(const unsigned char* dib) {
    Layout layout{};
    layout.width = GetU32(dib + 4);
    const int32_t height = static_cast<int32_t>(GetU32(dib + 8));
    layout.bottomUp = height > 0;
    layout.height = static_cast<uint32_t>(height > 0 ? height : -height);
    layout.stride = ((static_cast<size_t>(layout.width) * 24 + 31) / 32) * 4;
    layout.pixels = dib + 40 + 4 * static_cast<size_t>(GetU32(dib + 32));
    return layout;
}

bool WriteBmp(FILE* file, const unsigned char* dib, size_t size) {
    unsigned char header[14] = {'B', 'M'};
    PutLittleEndian(header + 2, sizeof(header) + size, 4);
    PutLittleEndian(header + 10, sizeof(header) + 40 + 4 * GetU32(dib + 32), 4);
    return std::fwrite(header, 1, sizeof(header), file) == sizeof(header) &&
           std::fwrite(dib, 1, size, file) == size;
}

bool WritePng(FILE* file, const Layout& layout, double xDpi, double yDpi, std::string* error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        *error = "libpng could not start";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        *error = "libpng failed";
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, layout.width, layout.height, 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 1);
    if (xDpi > 0 && yDpi > 0)
        png_set_pHYs(png, info, static_cast<png_uint_32>(xDpi / 0.0254 + 0.5),
                     static_cast<png_uint_32>(yDpi / 0.0254 + 0.5), PNG_RESOLUTION_METER);
    png_write_info(png, info);
    png_set_bgr(png);  // the DIB's rows are blue-green-red
    for (uint32_t y = 0; y < layout.height; ++y)
        png_write_row(png, const_cast<png_bytep>(layout.Row(y)));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool WriteTiff(const std::string& path, const Layout& layout, double xDpi, double yDpi,
               std::string* error) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (!tiff) {
        *error = "libtiff cannot create " + path;
        return false;
    }
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, layout.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, layout.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    if (xDpi > 0 && yDpi > 0) {
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<float>(xDpi));
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<float>(yDpi));
    }
    std::vector<unsigned char> rgb(static_cast<size_t>(layout.width) * 3);
    bool written = true;
    for (uint32_t y = 0; y < layout.height && written; ++y) {
        const unsigned char* bgr = layout.Row(y);
        for (size_t x = 0; x < layout.width; ++x) {
            rgb[3 * x] = bgr[3 * x + 2];
            rgb[3 * x + 1] = bgr[3 * x + 1];
            rgb[3 * x + 2] = bgr[3 * x];
        }
        written = TIFFWriteScanline(tiff, rgb.data(), y, 0) >= 0;
    }
    TIFFClose(tiff);
    if (!written) *error = "libtiff could not write " + path;
    return written;
}

}  // namespace

bool PageFileWriter::ParseFormat(const std::string& name, PageFormat* format) {
    if (name == "bmp") *format = PageFormat::Bmp;
    else if (name == "png") *format = PageFormat::Png;
    else if (name == "tiff") *format = PageFormat::Tiff;
    else return false;
    return true;
}

const char* PageFileWriter::Extension(PageFormat format) {
    switch (format) {
        case PageFormat::Bmp: return "bmp";
        case PageFormat::Png: return "png";
        case PageFormat::Tiff: return "tiff";
    }
    return "";
}

bool PageFileWriter::Write(const std::string& path, PageFormat format, const unsigned char* dib,
                           size_t size, double xDpi, double yDpi, std::string* error) {
    const Layout layout = LayoutOf(dib);
    std::string reason;
    const bool written = WriteFileAside(
        path,
        [&](const std::string& temporary, std::string& why) {
            if (format == PageFormat::Tiff) return WriteTiff(temporary, layout, xDpi, yDpi, &why);
            FILE* file = std::fopen(temporary.c_str(), "wb");
            if (!file) return false;
            bool ok = format == PageFormat::Bmp ? WriteBmp(file, dib, size)
                                                : WritePng(file, layout, xDpi, yDpi, &why);
            ok = !std::ferror(file) && ok;
            ok = std::fclose(file) == 0 && ok;
            if (!ok && why.empty()) why = ReasonOfErrno(errno, "write failed");
            return ok;
        },
        reason);
    if (!written) *error = "cannot save " + path + ": " + reason;
    return written;
}

}  // namespace velomark
