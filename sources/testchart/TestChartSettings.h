// What a test-chart page looks like: pixel type, resolution, page size and the
// number of pages in a batch. Plain data, shared by the page generator, the
// source's state machine and its window.
#pragma once

#include <cstdint>
#include <string>

enum class ChartPixelType { BlackWhite, Gray4, Gray8, Palette, Rgb };
enum class ChartPageSize { Letter, A4, Legal, Custom };

// Bits per pixel of a page's DIB in each pixel type.
int ChartBitsPerPixel(ChartPixelType type);

struct TestChartSettings {
    static constexpr int kMinDpi = 25;
    static constexpr int kMaxDpi = 1200;
    static constexpr int kMaxPages = 999;
    static constexpr int kMaxCustomSide = 20000;

    ChartPixelType pixelType = ChartPixelType::Rgb;
    int dpi = 100;
    ChartPageSize pageSize = ChartPageSize::Letter;
    int customWidth = 0;  // pixels, for ChartPageSize::Custom only
    int customHeight = 0;
    int pages = 1;
    // Pages in turn black-and-white, 8-bit grey and colour (pixelType is ignored),
    // so that one batch mixes bit depths.
    bool mixedTypes = false;

    // The page in pixels: a paper size at the resolution, rounded to the nearest pixel.
    int PixelWidth() const;
    int PixelHeight() const;
    int BitsPerPixel() const;
    // The settings page pageNumber (from 1) is made with: the pixel type of its turn
    // when the types are mixed, else these settings.
    TestChartSettings ForPage(int pageNumber) const;
    // The TWAIN pixel type (TWPT_*).
    int16_t TwainPixelType() const;
    // The names written on the page and read from the environment.
    const char* PixelTypeName() const;
    std::string PageSizeName() const;

    bool operator==(const TestChartSettings&) const = default;

    // Parsers for the words of VELOMARK_TESTCHART_*; false leaves the target untouched.
    static bool ParsePixelType(const std::string& text, ChartPixelType* type);
    static bool ParsePageSize(const std::string& text, TestChartSettings* settings);
    static bool ParseNumber(const std::string& text, int low, int high, int* value);
};
