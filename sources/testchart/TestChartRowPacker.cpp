#include "sources/testchart/TestChartRowPacker.h"

#include <cstdlib>
#include <cstring>

namespace {

// The 4x4 ordered-dither matrix: a grey of value v comes out as about v/255 white dots.
constexpr uint8_t kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

constexpr int kExtraGreys = 256 - TestChartRowPacker::kCubeColours;

uint8_t CubeLevelValue(int level) { return static_cast<uint8_t>(level * 51); }

RGBQUAD Quad(uint8_t red, uint8_t green, uint8_t blue) { return RGBQUAD{blue, green, red, 0}; }

}  // namespace

TestChartRowPacker::TestChartRowPacker(ChartPixelType type) : m_type(type) {
    for (int v = 0; v < 256; ++v) {
        m_cubeLevel[v] = static_cast<uint8_t>((v * 5 + 127) / 255);
        // Nearest grey entry; on a tie the cube's own grey, which comes first.
        int best = 0;
        int bestDistance = 256;
        for (int level = 0; level < 6; ++level) {
            const int distance = std::abs(v - CubeLevelValue(level));
            if (distance < bestDistance) {
                best = level * 43;  // level * (36 + 6 + 1): the cube's grey diagonal
                bestDistance = distance;
            }
        }
        for (int extra = 0; extra < kExtraGreys; ++extra) {
            const int distance = std::abs(v - ExtraGrey(extra));
            if (distance < bestDistance) {
                best = kCubeColours + extra;
                bestDistance = distance;
            }
        }
        m_greyToPalette[v] = static_cast<uint8_t>(best);
    }
}

uint8_t TestChartRowPacker::ExtraGrey(int extra) {
    // Evenly between black and white, none of them on a cube level.
    return static_cast<uint8_t>(((extra + 1) * 255 * 2 + kExtraGreys + 1) /
                                (2 * (kExtraGreys + 1)));
}

int TestChartRowPacker::BitsPerPixel() const { return ChartBitsPerPixel(m_type); }

int TestChartRowPacker::TableSize() const {
    const int bits = BitsPerPixel();
    return bits <= 8 ? 1 << bits : 0;
}

void TestChartRowPacker::FillColourTable(RGBQUAD* table) const {
    switch (m_type) {
        case ChartPixelType::BlackWhite:
            table[0] = Quad(0, 0, 0);
            table[1] = Quad(255, 255, 255);
            break;
        case ChartPixelType::Gray4:
            for (int i = 0; i < 16; ++i) table[i] = Quad(i * 17, i * 17, i * 17);
            break;
        case ChartPixelType::Gray8:
            for (int i = 0; i < 256; ++i) table[i] = Quad(i, i, i);
            break;
        case ChartPixelType::Palette:
            for (int i = 0; i < kCubeColours; ++i)
                table[i] =
                    Quad(CubeLevelValue(i / 36), CubeLevelValue(i / 6 % 6), CubeLevelValue(i % 6));
            for (int extra = 0; extra < kExtraGreys; ++extra) {
                const uint8_t grey = ExtraGrey(extra);
                table[kCubeColours + extra] = Quad(grey, grey, grey);
            }
            break;
        case ChartPixelType::Rgb: break;
    }
}

uint8_t TestChartRowPacker::Luminance(uint8_t red, uint8_t green, uint8_t blue) {
    // Weights sum to 256, so a grey keeps its value exactly.
    return static_cast<uint8_t>((77 * red + 150 * green + 29 * blue + 128) >> 8);
}

uint8_t TestChartRowPacker::PaletteIndex(uint8_t red, uint8_t green, uint8_t blue) const {
    if (red == green && green == blue) return m_greyToPalette[red];
    return static_cast<uint8_t>(m_cubeLevel[red] * 36 + m_cubeLevel[green] * 6 + m_cubeLevel[blue]);
}

void TestChartRowPacker::PackRow(const uint8_t* bgr, int width, int left, int y,
                                 uint8_t* out) const {
    switch (m_type) {
        case ChartPixelType::BlackWhite: PackBlackWhite(bgr, width, left, y, out); break;
        case ChartPixelType::Gray4: PackGray4(bgr, width, out); break;
        case ChartPixelType::Gray8:
            for (int x = 0; x < width; ++x, bgr += 3) out[x] = Luminance(bgr[2], bgr[1], bgr[0]);
            break;
        case ChartPixelType::Palette:
            for (int x = 0; x < width; ++x, bgr += 3) out[x] = PaletteIndex(bgr[2], bgr[1], bgr[0]);
            break;
        case ChartPixelType::Rgb: std::memcpy(out, bgr, size_t(width) * 3); break;
    }
}

void TestChartRowPacker::PackBlackWhite(const uint8_t* bgr, int width, int left, int y,
                                        uint8_t* out) const {
    const uint8_t* thresholds = kBayer[y & 3];
    std::memset(out, 0, (size_t(width) + 7) / 8);
    for (int x = 0; x < width; ++x, bgr += 3) {
        // Entry 1 of the table is white; the leftmost pixel is the byte's top bit.
        const int threshold = thresholds[(left + x) & 3] * 16 + 8;
        if (Luminance(bgr[2], bgr[1], bgr[0]) >= threshold)
            out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
}

void TestChartRowPacker::PackGray4(const uint8_t* bgr, int width, uint8_t* out) const {
    std::memset(out, 0, (size_t(width) + 1) / 2);
    for (int x = 0; x < width; ++x, bgr += 3) {
        const int level = (Luminance(bgr[2], bgr[1], bgr[0]) * 15 + 127) / 255;
        out[x >> 1] |= static_cast<uint8_t>((x & 1) ? level : level << 4);
    }
}
