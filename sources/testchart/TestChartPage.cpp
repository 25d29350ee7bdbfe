#include "sources/testchart/TestChartPage.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "sources/common/PackedDibHeader.h"
#include "sources/testchart/TestChartPainter.h"
#include "sources/testchart/TestChartRowPacker.h"

namespace {

constexpr uint64_t kLargestPage = 0x7fffffff;

}  // namespace

size_t TestChartPageBytes(const TestChartSettings& settings) {
    const ChartPixelRect rect = settings.ImageRect();
    const int width = rect.width;
    const int height = rect.height;
    if (width <= 0 || height <= 0) return 0;
    const TestChartRowPacker packer(settings.pixelType);
    const uint64_t bytes = PackedDibHeaderBytes(size_t(packer.TableSize())) +
                           PackedDibStride(size_t(width), packer.BitsPerPixel()) * uint64_t(height);
    return bytes <= kLargestPage ? size_t(bytes) : 0;
}

bool PaintTestChartPage(const TestChartSettings& settings, int pageNumber, void* dib, size_t bytes,
                        ChartSide side) {
    const size_t needed = TestChartPageBytes(settings);
    if (needed == 0 || bytes < needed) return false;

    // The whole bed is painted row by row; the area's rows and columns are kept.
    const TestChartPainter painter(settings, pageNumber, side);
    const TestChartRowPacker packer(settings.pixelType);
    const ChartPixelRect rect = settings.ImageRect();
    const int width = rect.width;
    const int height = rect.height;
    const size_t stride = PackedDibStride(size_t(width), packer.BitsPerPixel());
    std::vector<RGBQUAD> table(static_cast<size_t>(packer.TableSize()));
    packer.FillColourTable(table.data());
    auto* out = static_cast<uint8_t*>(dib);
    WritePackedDibHeader(out, size_t(width), height, packer.BitsPerPixel(), settings.dpi,
                         table.data(), table.size());

    uint8_t* pixels = out + PackedDibHeaderBytes(table.size());
    const size_t packedBytes = (size_t(width) * size_t(packer.BitsPerPixel()) + 7) / 8;
    std::vector<uint8_t> painted(size_t(painter.Width()) * 3);
    const uint8_t* areaStart = painted.data() + size_t(rect.left) * 3;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = pixels + size_t(height - 1 - y) * stride;
        painter.PaintRow(rect.top + y, painted.data());
        packer.PackRow(areaStart, width, rect.left, rect.top + y, row);
        std::memset(row + packedBytes, 0, stride - packedBytes);
    }
    return true;
}

HGLOBAL MakeTestChartPage(const TestChartSettings& settings, int pageNumber, ChartSide side) {
    const size_t bytes = TestChartPageBytes(settings);
    if (bytes == 0) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!block) return nullptr;
    bool painted = false;
    try {
        painted = PaintTestChartPage(settings, pageNumber, GlobalLock(block), bytes, side);
    } catch (const std::bad_alloc&) {
        painted = false;
    }
    GlobalUnlock(block);
    if (!painted) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}

TW_IMAGEINFO TestChartImageInfo(const TestChartSettings& settings) {
    TW_IMAGEINFO info{};
    info.XResolution = TW_FIX32{static_cast<TW_INT16>(settings.dpi), 0};
    info.YResolution = info.XResolution;
    const ChartPixelRect rect = settings.ImageRect();
    info.ImageWidth = rect.width;
    info.ImageLength = rect.height;
    const bool colour = settings.pixelType == ChartPixelType::Rgb;
    info.SamplesPerPixel = colour ? 3 : 1;
    const int bits = settings.BitsPerPixel();
    for (int sample = 0; sample < info.SamplesPerPixel; ++sample)
        info.BitsPerSample[sample] = static_cast<TW_INT16>(colour ? 8 : bits);
    info.BitsPerPixel = static_cast<TW_INT16>(bits);
    info.Planar = FALSE;
    info.PixelType = settings.TwainPixelType();
    info.Compression = TWCP_NONE;
    return info;
}
