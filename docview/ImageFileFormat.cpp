#include "docview/ImageFileFormat.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace velomark {
namespace {

struct FormatEntry {
    ImageFileFormat format;
    const char* name;
    const char* extensions[2];
};

constexpr FormatEntry kFormats[] = {
    {ImageFileFormat::Bmp, "BMP", {"bmp", nullptr}},
    {ImageFileFormat::Png, "PNG", {"png", nullptr}},
    {ImageFileFormat::Tiff, "TIFF", {"tif", "tiff"}},
    {ImageFileFormat::Jpeg, "JPEG", {"jpg", "jpeg"}},
};

bool StartsWith(const unsigned char* bytes, size_t count, const char* signature, size_t length) {
    return count >= length && std::memcmp(bytes, signature, length) == 0;
}

}  // namespace

std::string LowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

std::optional<ImageFileFormat> FormatOfExtension(const std::string& path) {
    const std::string extension = LowerExtension(path);
    if (extension.empty()) return {};
    for (const FormatEntry& entry : kFormats)
        for (const char* known : entry.extensions)
            if (known && extension == known) return entry.format;
    return {};
}

std::optional<ImageFileFormat> FormatOfSignature(const unsigned char* bytes, size_t count) {
    if (StartsWith(bytes, count, "BM", 2)) return ImageFileFormat::Bmp;
    if (StartsWith(bytes, count, "\x89PNG\r\n\x1a\n", 8)) return ImageFileFormat::Png;
    if (StartsWith(bytes, count, "II*\0", 4) || StartsWith(bytes, count, "MM\0*", 4))
        return ImageFileFormat::Tiff;
    if (StartsWith(bytes, count, "\xFF\xD8\xFF", 3)) return ImageFileFormat::Jpeg;
    return {};
}

const char* FormatName(ImageFileFormat format) {
    for (const FormatEntry& entry : kFormats)
        if (entry.format == format) return entry.name;
    return "BMP";
}

const char* SaveAsWildcard() {
    return "BMP image (*.bmp)|*.bmp|PNG image (*.png)|*.png|TIFF image (*.tif;*.tiff)|*.tif;*.tiff|"
           "JPEG image (*.jpg;*.jpeg)|*.jpg;*.jpeg";
}

ImageFileFormat FormatOfFilterIndex(int index) {
    constexpr int count = int(sizeof kFormats / sizeof kFormats[0]);
    return index >= 0 && index < count ? kFormats[index].format : ImageFileFormat::Bmp;
}

}  // namespace velomark
