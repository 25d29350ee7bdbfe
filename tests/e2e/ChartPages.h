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

// Pixels whose colours differ; -1 when the sizes differ.
int CountDifferentPixels(const CDIB& a, const CDIB& b);

}  // namespace velomark::e2e
