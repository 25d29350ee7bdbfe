// What a test-chart page looks like: pixel type, resolution, page size (the bed of
// the pretend scanner), the area scanned from it, and where the sheets come from.
// Plain data, shared by the page generator, the source's state machine and its window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class ChartPixelType { BlackWhite, Gray4, Gray8, Palette, Rgb };
enum class ChartPageSize { Letter, A4, Legal, Custom };
// The side of a sheet a page shows; a back is marked as one.
enum class ChartSide { Front, Back };

// A rectangle of the bed in 1/65536 inch (a TW_FIX32's steps) from its top-left
// corner; right and bottom are exclusive.
struct ChartFrame {
    static constexpr int64_t kUnitsPerInch = 65536;
    int64_t left = 0;
    int64_t top = 0;
    int64_t right = 0;
    int64_t bottom = 0;
    bool operator==(const ChartFrame&) const = default;
};

// A rectangle of the whole-bed page in pixels.
struct ChartPixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ChartPixelRect&) const = default;
};

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
    // Batches come from the feeder, which holds `pages` sheets at the start of each,
    // or from the flatbed, one page a batch unless the transfer count asks more.
    bool feederEnabled = true;
    // Each sheet from the feeder gives its front, then its back.
    bool duplexEnabled = false;
    // The area scanned; none is the whole bed.
    std::optional<ChartFrame> area;

    // The whole bed in pixels: a paper size at the resolution, rounded to the nearest
    // pixel, or the custom size.
    int PixelWidth() const;
    int PixelHeight() const;
    // The whole bed in 1/65536 inch; a custom bed is its pixels at the resolution.
    int64_t BedWidthUnits() const;
    int64_t BedHeightUnits() const;
    // The pixels of the whole-bed page a page is made of: the area, its corner and
    // sides each rounded to the nearest pixel (at least one), kept within the bed.
    ChartPixelRect ImageRect() const;
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
