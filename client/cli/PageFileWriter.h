// Saves a packed 24-bit DIB (bottom-up blue-green-red rows) as a BMP, PNG or TIFF
// file, written aside and renamed into place (platform/FileAside), so a failed page
// leaves nothing.
#pragma once

#include <cstddef>
#include <string>

namespace velomark {

enum class PageFormat { Bmp, Png, Tiff };

class PageFileWriter {
public:
    // The format named "bmp", "png" or "tiff"; false for any other name.
    static bool ParseFormat(const std::string& name, PageFormat* format);
    static const char* Extension(PageFormat format);

    // The DIB must hold a 40-byte header and its rows (the stream's checks did that).
    static bool Write(const std::string& path, PageFormat format, const unsigned char* dib,
                      size_t size, double xDpi, double yDpi, std::string* error);
};

}  // namespace velomark
