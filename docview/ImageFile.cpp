#include "docview/ImageFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <wx/image.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include <cerrno>
#include <cmath>
#include <vector>

#include "dib/Dib.h"
#include "platform/FileAside.h"
#include "platform/DibRowDecoder.h"

namespace velomark {
namespace {

constexpr double kMetresPerInch = 0.0254;
constexpr int kJpegQuality = 90;

void AddImageHandlers() {
    static const bool added = [] {
        if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
        if (!wxImage::FindHandler(wxBITMAP_TYPE_TIFF)) wxImage::AddHandler(new wxTIFFHandler);
        if (!wxImage::FindHandler(wxBITMAP_TYPE_JPEG)) wxImage::AddHandler(new wxJPEGHandler);
        return true;
    }();
    static_cast<void>(added);
}

wxBitmapType ToolkitType(ImageFileFormat format) {
    switch (format) {
        case ImageFileFormat::Png: return wxBITMAP_TYPE_PNG;
        case ImageFileFormat::Tiff: return wxBITMAP_TYPE_TIFF;
        case ImageFileFormat::Jpeg: return wxBITMAP_TYPE_JPEG;
        case ImageFileFormat::Bmp: break;
    }
    return wxBITMAP_TYPE_BMP;
}

bool ToToolkitImage(const CDIB& dib, wxImage& image) {
    DibRowDecoder decoder(reinterpret_cast<const BITMAPINFO*>(dib.m_pInfo));
    if (!decoder.Valid() || !image.Create(dib.m_nWidth, dib.m_nHeight, false)) return false;
    std::vector<uint32_t> row(static_cast<size_t>(dib.m_nWidth));
    unsigned char* rgb = image.GetData();
    for (int y = 0; y < dib.m_nHeight; ++y) {
        decoder.Decode(dib.GetRowPtr(y), 0, dib.m_nWidth, row.data());
        for (uint32_t color : row) {  // 0x00BBGGRR
            *rgb++ = static_cast<unsigned char>(color);
            *rgb++ = static_cast<unsigned char>(color >> 8);
            *rgb++ = static_cast<unsigned char>(color >> 16);
        }
    }
    return true;
}

// A page has no transparency: pixels with alpha are shown over white paper.
bool FromToolkitImage(const wxImage& image, CDIB& dib) {
    const int width = image.GetWidth(), height = image.GetHeight();
    if (!dib.Create(width, height, 24)) return false;
    const unsigned char* rgb = image.GetData();
    const unsigned char* alpha = image.HasAlpha() ? image.GetAlpha() : nullptr;
    for (int y = 0; y < height; ++y) {
        BYTE* out = dib.GetRowPtr(y);
        for (int x = 0; x < width; ++x, rgb += 3, out += 3) {
            const unsigned a = alpha ? *alpha++ : 255u;
            for (int c = 0; c < 3; ++c)
                out[2 - c] = static_cast<BYTE>((rgb[c] * a + 255u * (255u - a) + 127u) / 255u);
        }
    }
    return true;
}

double OptionDpi(const wxImage& image, const char* option) {
    if (!image.HasOption(option) || !image.HasOption(wxIMAGE_OPTION_RESOLUTIONUNIT)) return 0;
    double value = 0;
    if (!image.GetOption(option).ToCDouble(&value) || !(value > 0)) return 0;
    switch (image.GetOptionInt(wxIMAGE_OPTION_RESOLUTIONUNIT)) {
        case wxIMAGE_RESOLUTION_INCHES: return SnapDpi(value);
        case wxIMAGE_RESOLUTION_CM: return SnapDpi(value * 2.54);
        default: return 0;  // an aspect ratio only
    }
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    errno = 0;
    while (size > 0) {
        const ssize_t put = ::write(fd, p, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put, size -= size_t(put);
    }
    return true;
}

LONG PelsPerMetre(double dpi) { return dpi > 0 ? LONG(std::lround(dpi / kMetresPerInch)) : 0; }

bool WriteBmpFile(const CDIB& dib, PageResolution dpi, const std::string& path,
                  std::string& reason) {
    // The header carries the resolution into the file.
    dib.m_pInfo->biXPelsPerMeter = PelsPerMetre(dpi.x);
    dib.m_pInfo->biYPelsPerMeter = PelsPerMetre(dpi.y);
    errno = 0;
    if (dib.WriteBmp(path.c_str())) return true;
    reason = "the image could not be written (" + ReasonOfErrno(errno, "write failed") + ")";
    return false;
}

}  // namespace

double SnapDpi(double dpi) {
    // Pixels per metre are whole numbers, rounded or cut off: 300 dpi is kept as 11811,
    // which reads back as 299.9994. One unit of the file is 0.0254 dpi.
    const double whole = std::round(dpi);
    return std::fabs(dpi - whole) < 0.03 ? whole : dpi;
}

bool WriteImageFile(const CDIB& dib, PageResolution dpi, ImageFileFormat format,
                    const std::string& path, std::string& reason) {
    if (!dib.m_pBlock) return true;  // an empty document saves an empty file
    if (format == ImageFileFormat::Bmp) return WriteBmpFile(dib, dpi, path, reason);
    AddImageHandlers();
    wxImage image;
    if (!ToToolkitImage(dib, image)) {
        reason = "the image cannot be converted";
        return false;
    }
    if (dpi.x > 0 && dpi.y > 0) {
        image.SetOption(wxIMAGE_OPTION_RESOLUTIONUNIT, wxIMAGE_RESOLUTION_INCHES);
        image.SetOption(wxIMAGE_OPTION_RESOLUTIONX, int(std::lround(dpi.x)));
        image.SetOption(wxIMAGE_OPTION_RESOLUTIONY, int(std::lround(dpi.y)));
    }
    if (format == ImageFileFormat::Jpeg) image.SetOption(wxIMAGE_OPTION_QUALITY, kJpegQuality);
    // The handlers do not all notice a failed write: they encode into memory, and the
    // bytes go to the file here, every write checked.
    wxMemoryOutputStream encoded;
    bool made = false;
    {
        wxLogNull quiet;  // the caller reports the failure, with the file's name
        made = image.SaveFile(encoded, ToolkitType(format));
    }
    if (!made) {
        reason = std::string("the ") + FormatName(format) + " image could not be made";
        return false;
    }
    const wxStreamBuffer* buffer = encoded.GetOutputStreamBuffer();
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    bool written = fd >= 0 && WriteAll(fd, buffer->GetBufferStart(), size_t(encoded.GetLength()));
    const int error = errno;
    if (fd >= 0 && ::close(fd) != 0) written = false;
    if (!written)
        reason = std::string("the ") + FormatName(format) + " image could not be written (" +
                 ReasonOfErrno(error, "write failed") + ")";
    return written;
}

bool ReadImageFile(const std::string& path, CDIB& dib, PageResolution& dpi, ImageFileFormat& tried,
                   std::string& reason) {
    unsigned char head[8] = {};
    ssize_t got = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = ReasonOfErrno(errno, "cannot open it");
        tried = FormatOfExtension(path).value_or(ImageFileFormat::Bmp);
        return false;
    }
    do {
        got = ::pread(fd, head, sizeof head, 0);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    const std::optional<ImageFileFormat> format =
        FormatOfSignature(head, got > 0 ? size_t(got) : 0);
    tried = format.value_or(FormatOfExtension(path).value_or(ImageFileFormat::Bmp));
    if (!format) return false;

    if (*format == ImageFileFormat::Bmp) {
        if (!dib.ReadBmp(path.c_str())) return false;
        dpi = {SnapDpi(dib.m_pInfo->biXPelsPerMeter * kMetresPerInch),
               SnapDpi(dib.m_pInfo->biYPelsPerMeter * kMetresPerInch)};
        if (!(dpi.x > 0 && dpi.y > 0)) dpi = {};
        return true;
    }
    AddImageHandlers();
    wxImage image;
    {
        wxLogNull quiet;  // a damaged file is reported once, by the caller
        if (!image.LoadFile(wxString::FromUTF8(path), ToolkitType(*format)) || !image.IsOk())
            return false;
    }
    if (!FromToolkitImage(image, dib)) {
        reason = "not enough memory for its image";
        return false;
    }
    dpi = {OptionDpi(image, wxIMAGE_OPTION_RESOLUTIONX),
           OptionDpi(image, wxIMAGE_OPTION_RESOLUTIONY)};
    if (!(dpi.x > 0 && dpi.y > 0)) dpi = {};
    return true;
}

}  // namespace velomark
