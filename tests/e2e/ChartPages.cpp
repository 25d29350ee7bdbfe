#include "tests/e2e/ChartPages.h"

#include "dib/Dib.h"
#include "platform/GlobalMemory.h"
#include "sources/testchart/TestChartPage.h"

namespace velomark::e2e {

bool LoadChartPage(const TestChartSettings& settings, int pageNumber, CDIB& page) {
    HGLOBAL block = MakeTestChartPage(settings, pageNumber);
    if (!block) return false;
    const bool loaded = page.CreateFromHandle(block, 8) != FALSE;
    GlobalFree(block);
    return loaded;
}

int CountDifferentPixels(const CDIB& a, const CDIB& b) {
    if (a.m_nWidth != b.m_nWidth || a.m_nHeight != b.m_nHeight) return -1;
    int differences = 0;
    for (int y = 0; y < a.m_nHeight; ++y)
        for (int x = 0; x < a.m_nWidth; ++x) differences += ColourAt(a, x, y) != ColourAt(b, x, y);
    return differences;
}

}  // namespace velomark::e2e
