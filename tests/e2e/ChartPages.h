// What the test chart's pages look like, for comparing the program's output with
// the generator's: colours of DIB pixels at any bit depth, and whole-image compares.
#pragma once

#include <cstdint>
#include <string>

#include "sources/testchart/TestChartSettings.h"
#include "tests/sources/TestChartPages.h"

class CDIB;

namespace velomark::e2e {

// Page pageNumber (from 1) as the generator makes it.
bool LoadChartPage(const TestChartSettings& settings, int pageNumber, CDIB& page);

// The colour of a pixel of a 1, 4, 8 or 24-bit image (y from the top), decoded here
// on its own, as a COLORREF (red in the low byte).
uint32_t ColourAt(const CDIB& image, int x, int y);

// Pixels whose colours differ; -1 when the sizes differ.
int CountDifferentPixels(const CDIB& a, const CDIB& b);

}  // namespace velomark::e2e
