// One page as a file: BMP through CDIB's own reader and writer, PNG, TIFF and JPEG
// through the toolkit's image handlers (Debian's libpng, libtiff and libjpeg). The
// page's resolution travels with it.
#pragma once

#include <string>

#include "docview/ImageFileFormat.h"

class CDIB;

namespace velomark {

// Dots per inch across and down; 0 when unknown.
struct PageResolution {
    double x = 0;
    double y = 0;
};

// A resolution read back from a file's whole units (pixels per metre, per
// centimetre) is taken as the whole number of dots per inch that gives those units.
double SnapDpi(double dpi);

// Writes `dib` into the existing file `path` (the temporary file of a save). False with
// a reason for people.
bool WriteImageFile(const CDIB& dib, PageResolution dpi, ImageFileFormat format,
                    const std::string& path, std::string& reason);

// Reads the image of `path`, whatever its name says, by its first bytes. `tried` is the
// format the file was taken for (by its bytes, else its name, else BMP). On failure the
// image may be empty and `reason` says why when the file could not be read at all.
bool ReadImageFile(const std::string& path, CDIB& dib, PageResolution& dpi, ImageFileFormat& tried,
                   std::string& reason);

}  // namespace velomark
