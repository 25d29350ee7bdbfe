// One test-chart page as a packed DIB: a 40-byte BITMAPINFOHEADER, the colour table
// (2, 16 or 256 entries, none for 24-bit colour) and the rows bottom-up, each padded
// to 4 bytes. The same settings and page number give the same bytes on every run.
// A page is the settings' area (ImageRect) of the whole-bed page: exactly the pixels
// the whole page has there, in the same pixel type.
#pragma once

#include <cstddef>

#include "platform/GlobalMemory.h"
#include "sources/testchart/TestChartSettings.h"
#include "twain/TwainTypes.h"

// Bytes of the packed DIB; 0 when the page's size cannot be held (over 2 GB).
size_t TestChartPageBytes(const TestChartSettings& settings);

// Writes page pageNumber (from 1) of a batch of settings.pages pages into `dib`, which
// holds `bytes` bytes; false, writing nothing, when that is fewer than the page needs.
bool PaintTestChartPage(const TestChartSettings& settings, int pageNumber, void* dib, size_t bytes,
                        ChartSide side = ChartSide::Front);

// The page in a new block from GlobalAlloc, which the caller frees; null when memory
// is short.
HGLOBAL MakeTestChartPage(const TestChartSettings& settings, int pageNumber,
                          ChartSide side = ChartSide::Front);

// What DAT_IMAGEINFO reports for every page made with these settings.
TW_IMAGEINFO TestChartImageInfo(const TestChartSettings& settings);
