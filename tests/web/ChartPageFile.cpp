// Writes one page of the test chart, as the generator makes it, as raw 8-bit grey
// samples (row 0 at the top), for the browser tests to compare the page's images
// with: chart-page-file DPI PAGES PAGE OUT. The chart is Letter, fed from the feeder.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/sources/TestChartPages.h"
#include "tests/sources/sane/SaneTestImages.h"

int main(int argc, char** argv) {
    if (argc != 5) return std::fprintf(stderr, "usage: chart-page-file DPI PAGES PAGE OUT\n"), 2;
    TestChartSettings settings;
    settings.pixelType = ChartPixelType::Gray8;
    settings.dpi = std::atoi(argv[1]);
    settings.pages = std::atoi(argv[2]);
    DecodedImage page;
    std::string error;
    if (!DecodeDib(GeneratorBytes(settings, std::atoi(argv[3])), &page, &error)) {
        std::fprintf(stderr, "chart-page-file: %s\n", error.c_str());
        return 1;
    }
    std::string samples;
    for (const uint32_t pixel : page.pixels) samples += static_cast<char>(pixel & 0xff);
    std::ofstream(argv[4], std::ios::binary) << samples;
    std::printf("%d %d\n", page.width, page.height);
    return 0;
}
