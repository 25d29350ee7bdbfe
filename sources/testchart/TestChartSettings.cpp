#include "sources/testchart/TestChartSettings.h"

#include <algorithm>
#include <cctype>

#include "twain/TwainTypes.h"

namespace {

// A paper side in tenths of a millimetre at dpi, rounded: exact integer arithmetic, so
// that a page has the same size on every machine.
int TenthsOfMillimetreToPixels(int tenthsMm, int dpi) {
    const int64_t scaled = static_cast<int64_t>(tenthsMm) * dpi;
    return static_cast<int>((scaled + 127) / 254);
}

// A side in hundredths of an inch at dpi, rounded.
int HundredthsOfInchToPixels(int hundredths, int dpi) {
    return static_cast<int>((static_cast<int64_t>(hundredths) * dpi + 50) / 100);
}

// A length in 1/65536 inch at dpi, rounded; lengths here are never negative.
int64_t UnitsToPixels(int64_t units, int dpi) {
    return (units * dpi + ChartFrame::kUnitsPerInch / 2) / ChartFrame::kUnitsPerInch;
}

int64_t Rounded(int64_t numerator, int64_t denominator) {
    return (numerator + denominator / 2) / denominator;
}

std::string Lowercase(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

}  // namespace

int TestChartSettings::PixelWidth() const {
    switch (pageSize) {
        case ChartPageSize::Letter: return HundredthsOfInchToPixels(850, dpi);
        case ChartPageSize::Legal: return HundredthsOfInchToPixels(850, dpi);
        case ChartPageSize::A4: return TenthsOfMillimetreToPixels(2100, dpi);
        case ChartPageSize::Custom: return customWidth;
    }
    return 0;
}

int TestChartSettings::PixelHeight() const {
    switch (pageSize) {
        case ChartPageSize::Letter: return HundredthsOfInchToPixels(1100, dpi);
        case ChartPageSize::Legal: return HundredthsOfInchToPixels(1400, dpi);
        case ChartPageSize::A4: return TenthsOfMillimetreToPixels(2970, dpi);
        case ChartPageSize::Custom: return customHeight;
    }
    return 0;
}

int64_t TestChartSettings::BedWidthUnits() const {
    constexpr int64_t unit = ChartFrame::kUnitsPerInch;
    switch (pageSize) {
        case ChartPageSize::Letter:
        case ChartPageSize::Legal: return Rounded(850 * unit, 100);
        case ChartPageSize::A4: return Rounded(2100 * unit, 254);
        case ChartPageSize::Custom: return Rounded(int64_t(customWidth) * unit, std::max(dpi, 1));
    }
    return 0;
}

int64_t TestChartSettings::BedHeightUnits() const {
    constexpr int64_t unit = ChartFrame::kUnitsPerInch;
    switch (pageSize) {
        case ChartPageSize::Letter: return Rounded(1100 * unit, 100);
        case ChartPageSize::Legal: return Rounded(1400 * unit, 100);
        case ChartPageSize::A4: return Rounded(2970 * unit, 254);
        case ChartPageSize::Custom: return Rounded(int64_t(customHeight) * unit, std::max(dpi, 1));
    }
    return 0;
}

ChartPixelRect TestChartSettings::ImageRect() const {
    const int bedWidth = PixelWidth();
    const int bedHeight = PixelHeight();
    if (!area || bedWidth <= 0 || bedHeight <= 0) return ChartPixelRect{0, 0, bedWidth, bedHeight};
    // The same area on another bed or at another resolution may reach past the bed:
    // what lies beyond it is cut off, and at least one pixel remains.
    const auto side = [this](int64_t from, int64_t to, int bedPixels, int* start, int* length) {
        const int64_t first =
            std::min<int64_t>(UnitsToPixels(std::max<int64_t>(from, 0), dpi), bedPixels - 1);
        const int64_t pixels =
            std::max<int64_t>(UnitsToPixels(std::max<int64_t>(to - from, 0), dpi), 1);
        *start = int(first);
        *length = int(std::min<int64_t>(pixels, bedPixels - first));
    };
    ChartPixelRect rect;
    side(area->left, area->right, bedWidth, &rect.left, &rect.width);
    side(area->top, area->bottom, bedHeight, &rect.top, &rect.height);
    return rect;
}

int TestChartSettings::BitsPerPixel() const { return ChartBitsPerPixel(pixelType); }

TestChartSettings TestChartSettings::ForPage(int pageNumber) const {
    static constexpr ChartPixelType kTurns[] = {ChartPixelType::BlackWhite,
                                                ChartPixelType::Gray8, ChartPixelType::Rgb};
    TestChartSettings page = *this;
    if (mixedTypes) page.pixelType = kTurns[(std::max(pageNumber, 1) - 1) % 3];
    return page;
}

int ChartBitsPerPixel(ChartPixelType type) {
    switch (type) {
        case ChartPixelType::BlackWhite: return 1;
        case ChartPixelType::Gray4: return 4;
        case ChartPixelType::Gray8: return 8;
        case ChartPixelType::Palette: return 8;
        case ChartPixelType::Rgb: return 24;
    }
    return 24;
}

int16_t TestChartSettings::TwainPixelType() const {
    switch (pixelType) {
        case ChartPixelType::BlackWhite: return TWPT_BW;
        case ChartPixelType::Gray4: return TWPT_GRAY;
        case ChartPixelType::Gray8: return TWPT_GRAY;
        case ChartPixelType::Palette: return TWPT_PALETTE;
        case ChartPixelType::Rgb: return TWPT_RGB;
    }
    return TWPT_RGB;
}

const char* TestChartSettings::PixelTypeName() const {
    switch (pixelType) {
        case ChartPixelType::BlackWhite: return "BW";
        case ChartPixelType::Gray4: return "GRAY4";
        case ChartPixelType::Gray8: return "GRAY";
        case ChartPixelType::Palette: return "PALETTE";
        case ChartPixelType::Rgb: return "RGB";
    }
    return "RGB";
}

std::string TestChartSettings::PageSizeName() const {
    switch (pageSize) {
        case ChartPageSize::Letter: return "LETTER";
        case ChartPageSize::A4: return "A4";
        case ChartPageSize::Legal: return "LEGAL";
        case ChartPageSize::Custom:
            return std::to_string(customWidth) + "X" + std::to_string(customHeight);
    }
    return "";
}

bool TestChartSettings::ParsePixelType(const std::string& text, ChartPixelType* type) {
    const std::string word = Lowercase(text);
    if (word == "bw")
        *type = ChartPixelType::BlackWhite;
    else if (word == "gray4")
        *type = ChartPixelType::Gray4;
    else if (word == "gray")
        *type = ChartPixelType::Gray8;
    else if (word == "palette")
        *type = ChartPixelType::Palette;
    else if (word == "rgb")
        *type = ChartPixelType::Rgb;
    else
        return false;
    return true;
}

bool TestChartSettings::ParsePageSize(const std::string& text, TestChartSettings* settings) {
    const std::string word = Lowercase(text);
    if (word == "letter") {
        settings->pageSize = ChartPageSize::Letter;
        return true;
    }
    if (word == "a4") {
        settings->pageSize = ChartPageSize::A4;
        return true;
    }
    if (word == "legal") {
        settings->pageSize = ChartPageSize::Legal;
        return true;
    }
    const size_t cross = word.find('x');
    if (cross == std::string::npos) return false;
    int width = 0;
    int height = 0;
    if (!ParseNumber(word.substr(0, cross), 1, kMaxCustomSide, &width) ||
        !ParseNumber(word.substr(cross + 1), 1, kMaxCustomSide, &height))
        return false;
    settings->pageSize = ChartPageSize::Custom;
    settings->customWidth = width;
    settings->customHeight = height;
    return true;
}

bool TestChartSettings::ParseNumber(const std::string& text, int low, int high, int* value) {
    // Digits only, at most 9 of them, so that the sum below cannot overflow.
    if (text.empty() || text.size() > 9) return false;
    int number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    if (number < low || number > high) return false;
    *value = number;
    return true;
}
