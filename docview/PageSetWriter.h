// Several pages in one file: a PDF document (cairo's PDF surface) or a multi-page
// TIFF image (libtiff). Each page keeps its pixels losslessly and its resolution; a
// PDF page has the scan's physical size, pixels divided by dots per inch. A page of
// unknown resolution is taken as 72 dpi: one pixel per point.
#pragma once

#include <string>
#include <vector>

#include "docview/ImageFile.h"

class CDIB;

namespace velomark {

constexpr double kAssumedDpi = 72.0;

struct PageToWrite {
    const CDIB* image;
    PageResolution dpi;
};

// The size of a PDF page for `page`, in points (1/72 inch).
void PdfPageSize(const PageToWrite& page, double& widthPt, double& heightPt);

// Write every page, in order, into the existing file `path` (the temporary file of a
// save). False with a reason for people.
bool WritePdfPages(const std::vector<PageToWrite>& pages, const std::string& path,
                   std::string& reason);
bool WriteTiffPages(const std::vector<PageToWrite>& pages, const std::string& path,
                    std::string& reason);

}  // namespace velomark
